// Filtering a table without SQL: one box per column under the headers. The
// page writes the WHERE clause itself, every name quoted and every value a
// literal, and shows the statement it runs in the statement box.

var NUMBER = /^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$/;
var COMPARISON = /^\s*(<=|>=|<|>)\s*(\S+)\s*$/;
var NUMERIC_TYPE = /INT|REAL|FLOA|DOUB|NUM|DEC|BOOL/i;

function likeContains(value) {
  return '\'%' + text(value).replace(/[\\%_]/g, '\\$&').replace(/'/g, '\'\'') + '%\' ESCAPE \'\\\'';
}

function isNumericColumn(table, name) {
  var column = (table.columns || []).find(function(c) { return c.name === name; });
  return column !== undefined && NUMERIC_TYPE.test(text(column.type));
}

/// The condition for one column's typed filter: "=value" matches the value
/// exactly; "<", "<=", ">", ">=" followed by a number compare; a number in
/// a numeric column is equal; anything else is contained in the value, as
/// literal text (quotes, percent signs and backslashes included).
function filterCondition(table, name, typed) {
  var column = quotedName(name);
  var comparison = COMPARISON.exec(typed);
  if (comparison && NUMBER.test(comparison[2]))
    return column + ' ' + comparison[1] + ' ' + comparison[2];
  if (typed.charAt(0) === '=') {
    var wanted = typed.slice(1);
    return column + ' = ' + (NUMBER.test(wanted) ? wanted : sqlString(wanted));
  }
  if (NUMBER.test(typed.trim()) && isNumericColumn(table, name))
    return column + ' = ' + typed.trim();
  return column + ' LIKE ' + likeContains(typed);
}

/// The conditions of every non-empty filter, in column order.
function filterConditions(table, filters) {
  return (table.columns || [])
      .filter(function(c) { return text(filters[c.name]) !== ''; })
      .map(function(c) { return filterCondition(table, c.name, filters[c.name]); });
}

function whereClause(conditions) {
  return conditions.length ? ' WHERE ' + conditions.join(' AND ') : '';
}

/// The statement a table shows in the statement box: its whole rows, first
/// page's worth, filtered.
function tableStatement(table, filters) {
  return 'SELECT * FROM ' + quotedName(table.name) + whereClause(filterConditions(table, filters)) +
      ' LIMIT ' + TABLE_PAGE_ROWS + ';';
}

/// Opens `table` with `filters` (column name -> typed text) from page one,
/// sorted by the database when `sort` ({index, dir}) is given.
function openTable(table, filters, sort) {
  var v = tableView(table, filters);
  v.sort = sort || null;
  setSqlText(v.text);
  sortCol = sort ? sort.index : -1;
  sortDir = sort ? sort.dir : 1;
  showPage(v, 0);
  rememberRun(v);
}

function applyFilter(name, typed) {
  if (!view || view.kind !== 'table' || text(view.filters[name]) === typed) return;
  var filters = Object.assign({}, view.filters);
  if (typed === '')
    delete filters[name];
  else
    filters[name] = typed;
  filterFocus = name;
  // A sort asked of the database stays; one made on screen belonged to
  // the rows before the filter.
  openTable(view.table, filters, view.sort);
}

var filterFocus = '';  // the column whose box keeps the focus after a redraw

function filterBox(name) {
  var td = make('td', 'filter');
  var input = make('input');
  input.type = 'search';
  input.value = text(view.filters[name]);
  input.placeholder = 'filter';
  input.setAttribute('aria-label', 'Filter ' + name);
  input.addEventListener('keydown', function(event) {
    if (event.key === 'Enter') applyFilter(name, input.value);
  });
  input.addEventListener('change', function() { applyFilter(name, input.value); });
  td.appendChild(input);
  if (filterFocus === name) {
    filterFocus = '';
    setTimeout(function() { input.focus(); }, 0);
  }
  return td;
}

/// Keeps the filter row of a drawn grid right under its sticky column names.
function stickFilterRow(table) {
  var head = table.tHead;
  if (!head || head.rows.length < 2) return;
  var top = head.rows[0].getBoundingClientRect().height + 'px';
  Array.prototype.forEach.call(head.rows[1].cells, function(cell) { cell.style.top = top; });
}

/// The row of filter boxes for a grid of a table's rows, or null when the
/// grid shows anything else.
function filterRow(columns) {
  if (!view || view.kind !== 'table') return null;
  var tr = make('tr', 'filters');
  columns.forEach(function(column) { tr.appendChild(filterBox(text(column.name))); });
  return tr;
}
