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

// A stored value over a million bytes comes as an object with its size
// and first bytes; a blob of that size carries more than its bytes shown.
var BIG_VALUE_BYTES = 1000000;

/// A text of the program too long to come whole: {text_bytes, text}.
function isBigText(value) {
  return isRecord(value) && typeof value.text_bytes === 'number' && typeof value.text === 'string';
}

// Control characters have no glyph of their own: each is shown as its
// symbol from the Control Pictures block (NUL as \u2400), DEL as \u2421, and
// the C1 controls and the invisible format characters as <U+XXXX>. Tab, line
// feed and carriage return are left to the cell's own look.
var INVISIBLE = /[\u0000-\u0008\u000b\u000c\u000e-\u001f\u007f-\u009f\u200b-\u200f\u2028-\u202e\u2060-\u2064\ufeff]/g;

function showInvisible(value) {
  return value.replace(INVISIBLE, function(c) {
    var code = c.charCodeAt(0);
    if (code < 0x20) return String.fromCharCode(0x2400 + code);
    if (code === 0x7f) return '\u2421';
    return '<U+' + code.toString(16).toUpperCase().padStart(4, '0') + '>';
  });
}

function cellValue(value) {
  if (value === null || value === undefined) return {text: 'NULL', className: 'null'};
  if (isBlob(value)) {
    var size = value.blob_bytes > BIG_VALUE_BYTES ? bytes(value.blob_bytes) + ' blob' : 'blob ' + value.blob_bytes;
    return {text: '[' + size + ']', className: 'null'};
  }
  if (isBigText(value))
    return {text: '[' + bytes(value.text_bytes) + ' text] ' + visibleText(showInvisible(value.text)), className: ''};
  if (isNumeric(value)) return {text: String(value), className: 'num'};
  if (typeof value === 'object') return {text: stringifyExact(value), className: ''};
  return {text: visibleText(showInvisible(String(value))), className: ''};
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
    td.addEventListener('click', showCell.bind(null, row[i], columns[i], row, i));
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
