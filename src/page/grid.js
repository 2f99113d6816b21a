// The result grid: column chips, header cells that sort (buttons, so that
// the keyboard reaches them, with the sort state in aria-sort), rows as text.

function renderTable() {
  empty(reswrap);
  empty(cols);
  (lastData.columns || []).forEach(function(column) {
    cols.appendChild(make('span', 'chip', text(column.name) + '  ' + text(column.decl)));
  });
  var rows = lastData.rows || [];
  var cut = lastData.aborted === true;
  if (!rows.length && !filterRow([])) {
    if (cut) {
      empty(reswrap);
      reswrap.appendChild(budgetWarning(lastData));
    } else {
      placeholder(reswrap, '0 rows.');
    }
    return;
  }
  drawGrid(rows);
  if (cut) reswrap.insertBefore(budgetWarning(lastData), reswrap.firstChild);
  // A filter that keeps nothing still shows its boxes, to change it.
  if (!rows.length && !cut) reswrap.appendChild(make('div', 'empty', '0 rows.'));
  // A new result starts at its first row and first column.
  reswrap.scrollTop = 0;
  reswrap.scrollLeft = 0;
}

function isBlob(value) { return isRecord(value) && typeof value.blob_bytes === 'number'; }

// A cell shows on one line what a value holds that would not be seen there:
// a tab, a line break, and spaces at either end.
var TAB_MARK = '\u21e5';
var BREAK_MARK = '\u21b5';
var SPACE_MARK = '\u2423';

function visibleText(value) {
  var shown = value.replace(/\t/g, TAB_MARK).replace(/\r\n|\n|\r/g, BREAK_MARK);
  return shown.replace(/^ +| +$/g, function(spaces) { return SPACE_MARK.repeat(spaces.length); });
}

function cellValue(value) {
  if (value === null || value === undefined) return {text: 'NULL', className: 'null'};
  if (isBlob(value)) return {text: '[blob ' + value.blob_bytes + ']', className: 'null'};
  if (isNumeric(value)) return {text: String(value), className: 'num'};
  if (typeof value === 'object') return {text: stringifyExact(value), className: ''};
  return {text: visibleText(String(value)), className: ''};
}

function headerCell(column, index) {
  var th = make('th');
  th.scope = 'col';
  th.title = text(column.decl);
  var button = make('button', 'sort', text(column.name));
  button.type = 'button';
  if (index === sortCol) {
    th.setAttribute('aria-sort', sortDir === 1 ? 'ascending' : 'descending');
    var arrow = make('span', 'dir', sortDir === 1 ? ' \u25b2' : ' \u25bc');
    arrow.setAttribute('aria-hidden', 'true');
    button.appendChild(arrow);
  }
  button.addEventListener('click', function() { sortBy(index); });
  th.appendChild(button);
  return th;
}

function bodyRow(row, columns) {
  var tr = make('tr');
  for (var i = 0; i < columns.length; i++) {
    var cell = cellValue(row[i]);
    var td = make('td', cell.className, cell.text);
    td.title = cell.text;
    td.addEventListener('click', showCell.bind(null, row[i], columns[i]));
    tr.appendChild(td);
  }
  return tr;
}

function drawGrid(rows) {
  var columns = lastData.columns || [];
  var table = make('table');
  var thead = make('thead');
  var headRow = make('tr');
  columns.forEach(function(column, index) { headRow.appendChild(headerCell(column, index)); });
  thead.appendChild(headRow);
  var filters = filterRow(columns);
  if (filters) thead.appendChild(filters);
  var tbody = make('tbody');
  rows.forEach(function(row) { tbody.appendChild(bodyRow(row, columns)); });
  table.appendChild(thead);
  table.appendChild(tbody);
  empty(reswrap);
  reswrap.appendChild(table);
  shownRows = rows;
  stickFilterRow(table);
  cellKeys(table);
  linkForeignKeys(table, rows, columns);
}

function isMissing(value) { return value === null || value === undefined; }

// Nulls go last in both directions; two nulls tie, so the stable sort
// keeps them in their previous order. Numbers compare by exact value, also
// an integer read as a BigInt against a real.
function compareCells(x, y, direction) {
  if (isMissing(x)) return isMissing(y) ? 0 : 1;
  if (isMissing(y)) return -1;
  if (isNumeric(x) && isNumeric(y)) return compareNumeric(x, y) * direction;
  return String(x).localeCompare(String(y)) * direction;
}

function sortBy(index) {
  if (sortInDatabase(index)) return;
  if (sortCol === index) {
    sortDir = -sortDir;
  } else {
    sortCol = index;
    sortDir = 1;
  }
  var direction = sortDir;
  var sorted = shownRows.slice().sort(function(
      a, b) { return compareCells(a[index], b[index], direction); });
  var hadFocus = reswrap.contains(document.activeElement);
  drawGrid(sorted);
  // The sorted rows are read from the top; the column and the keyboard
  // focus stay where they were.
  reswrap.scrollTop = 0;
  if (hadFocus) reswrap.querySelectorAll('th button')[index].focus();
}
