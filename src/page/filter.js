// Filtering a table without SQL: one box per column under the headers. The
// page writes the WHERE clause itself, every name quoted and every value a
// literal, and shows the statement it runs in the statement box.

var NUMBER = /^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$/;
var COMPARISON = /^\s*(<=|>=|<|>|!=|=)([\s\S]*)$/;
var IN_LIST = /^\s*in\s+([\s\S]+)$/i;
var IS_NULL = /^\s*is\s+null\s*$/i;
var NOT_NULL = /^\s*(is\s+)?not\s+null\s*$/i;
var NUMERIC_TYPE = /INT|REAL|FLOA|DOUB|NUM|DEC|BOOL/i;
var FILTER_HINT = 'text: contains it; =x, !=x, >x, >=x, <x, <=x (numbers as numbers, ' +
    'anything else as text, so dates work; =\'x\' is the text x); in a, b, c; is null; not null';

function likeContains(value) {
  return '\'%' + text(value).replace(/[\\%_]/g, '\\$&').replace(/'/g, '\'\'') + '%\' ESCAPE \'\\\'';
}

function isNumericColumn(table, name) {
  var column = (table.columns || []).find(function(c) { return c.name === name; });
  return column !== undefined && NUMERIC_TYPE.test(text(column.type));
}

/// A typed value as a SQL literal: a number as a number, anything else as
/// text.
function literal(value) { return NUMBER.test(value) ? value : sqlString(value); }

/// The value compared with: after "=" and "!=" exactly as typed (spaces
/// included), and text when it is in single quotes ('007' is not 7); an
/// order comparison ignores the spaces around it.
function operand(comparison) {
  var value = comparison[2];
  if (comparison[1] !== '=' && comparison[1] !== '!=') return literal(value.trim());
  if (/^'[\s\S]*'$/.test(value)) return sqlString(value.slice(1, -1).replace(/''/g, '\''));
  return NUMBER.test(value.trim()) ? value.trim() : sqlString(value);
}

/// The condition for one column's typed filter: "is null", "not null";
/// "=x", "!=x", "<x", "<=x", ">x", ">=x" compare with x (a number as a
/// number, anything else as text, so ISO dates compare as dates); "in a, b,
/// c" is one of the listed values; a number in a numeric column is equal;
/// anything else is contained in the value, as literal text (quotes,
/// percent signs, backslashes and NUL included).
function filterCondition(table, name, typed) {
  var column = quotedName(name);
  if (IS_NULL.test(typed)) return column + ' IS NULL';
  if (NOT_NULL.test(typed)) return column + ' IS NOT NULL';
  var list = IN_LIST.exec(typed);
  if (list) return column + ' IN (' + list[1].split(',').map(function(item) {
    return literal(item.trim());
  }).join(', ') + ')';
  var comparison = COMPARISON.exec(typed);
  if (comparison && comparison[2].trim() !== '') return column + ' ' + comparison[1] + ' ' + operand(comparison);
  if (NUMBER.test(typed.trim()) && isNumericColumn(table, name)) return column + ' = ' + typed.trim();
  // LIKE ends its pattern at a NUL; instr compares the whole value.
  if (typed.indexOf('\0') >= 0) return 'instr(' + column + ', ' + sqlString(typed) + ') > 0';
  return column + ' LIKE ' + likeContains(typed);
}

/// The names in `filters` that are not columns of `table` as the page read
/// it: such a filter cannot be written, and is refused.
function unknownFilterColumns(table, filters) {
  var known = (table.columns || []).map(function(c) { return text(c.name); });
  return Object.keys(filters).filter(function(name) {
    return text(filters[name]) !== '' && known.indexOf(name) < 0;
  });
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
  var unknown = unknownFilterColumns(table, filters);
  if (unknown.length) {
    err('The filter on ' + unknown.map(quotedName).join(', ') + ' is refused: the page could not read ' +
        'that column of ' + quotedName(table.name) + '.');
    return;
  }
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
  input.title = FILTER_HINT;
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

/// The filter boxes of the grid's columns at `indexes` when the grid shows
/// a table's rows, or null when it shows anything else.
function filterRow(columns, indexes) {
  if (!view || view.kind !== 'table') return null;
  return indexes.map(function(index) { return filterBox(text(columns[index].name)); });
}
