// The result grid: header cells that sort (buttons, so that the keyboard
// reaches them, with the sort state in aria-sort), rows as text.

// How long a grid takes from the rows in hand to its painted frame, for
// the timing bench: the frame is painted before the task after it runs.
function measureDrawing(name, start) {
  requestAnimationFrame(function() {
    setTimeout(function() { performance.measure(name, {start: start}); }, 0);
  });
}

function renderTable() {
  var start = performance.now();
  measureDrawing('grid draw', start);
  empty(reswrap);
  listColumns(lastData.columns || []);
  grid = null;
  var rows = lastData.rows || [];
  var cut = lastData.aborted === true;
  if (!rows.length && !filterRow([], [])) {
    if (cut) {
      empty(reswrap);
      reswrap.appendChild(budgetWarning(lastData));
    } else {
      placeholder(reswrap, '0 rows.');
    }
    return;
  }
  if (cut) reswrap.appendChild(budgetWarning(lastData));
  // A new result starts at its first row and first column.
  reswrap.scrollTop = 0;
  reswrap.scrollLeft = 0;
  drawGrid(rows);
  // A filter that keeps nothing still shows its boxes, to change it.
  if (!rows.length && !cut) reswrap.appendChild(make('div', 'empty', '0 rows.'));
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

// Every column gets a width from the text it holds, so that the browser
// lays the grid out as a fixed table: measuring every cell of a wide result
// (500 rows of 130 columns) would cost it seconds.
var CHAR_PX = 7.6;       // one character of the grid's 12.5 px mono font
var CELL_PAD_PX = 20;    // a cell's padding and border
var MIN_CHARS = 4;
var MAX_CHARS = 42;      // about the 340 px a cell may take at most
var FILTER_MIN_PX = 84;  // a filter box's least width with its cell's padding
var WIDTH_SAMPLE_ROWS = 200;

// A grid of more cells than this is drawn a window at a time: the rows and
// columns in view and a margin around them, blank space standing in for
// the rest. The browser's work then follows the screen, not the result.
var FULL_GRID_CELLS = 6000;
var WINDOW_ROWS = 60;       // rows drawn at once
var ROW_MARGIN = 10;        // rows kept drawn past each edge of the view
var COLUMN_MARGIN_PX = 600; // width kept drawn past each side of the view
var ROW_PX_GUESS = 29;      // a row's height until one is measured

var grid = null;  // the grid on screen (see layoutGrid)

function columnWidth(column, index, rows) {
  var chars = text(column.name).length + 2;
  var step = Math.max(1, Math.floor(rows.length / WIDTH_SAMPLE_ROWS));
  for (var r = 0; r < rows.length && chars < MAX_CHARS; r += step)
    chars = Math.max(chars, cellValue(rows[r][index]).text.length);
  var px = Math.min(Math.max(chars, MIN_CHARS), MAX_CHARS) * CHAR_PX + CELL_PAD_PX;
  return Math.ceil(Math.max(px, FILTER_MIN_PX));
}

/// The grid of `rows` as drawn: the columns not hidden (`shown`, their
/// indexes in the answer), their widths and left edges, and the window of
/// rows [top, bottom) and shown columns [first, last) in the document.
function layoutGrid(rows, columns) {
  var shown = shownColumns(columns);
  var lefts = [0];
  var widths = shown.map(function(index, i) {
    var px = columnWidth(columns[index], index, rows);
    lefts.push(lefts[i] + px);
    return px;
  });
  return {
    rows: rows,
    columns: columns,
    shown: shown,
    widths: widths,
    lefts: lefts,
    windowed: rows.length * shown.length > FULL_GRID_CELLS,
    rowPx: 0,
    top: 0,
    bottom: 0,
    first: 0,
    last: 0,
    links: null,
    body: null,
    cursor: {row: 0, column: 0}  // the cell that holds the grid's one tab stop
  };
}

/// The rows and columns to draw for the view at `scrollTop`/`scrollLeft`.
function windowAt(g, scrollTop, scrollLeft, viewHeight, viewWidth) {
  if (!g.windowed) return {top: 0, bottom: g.rows.length, first: 0, last: g.shown.length};
  var rowPx = g.rowPx || ROW_PX_GUESS;
  var drawn = Math.max(WINDOW_ROWS, Math.ceil(viewHeight / rowPx) + 1 + 2 * ROW_MARGIN);
  var top = Math.max(0, Math.min(Math.floor(scrollTop / rowPx) - ROW_MARGIN, g.rows.length - drawn));
  var bottom = Math.min(g.rows.length, top + drawn);
  var from = scrollLeft - COLUMN_MARGIN_PX;
  var to = scrollLeft + viewWidth + COLUMN_MARGIN_PX;
  var first = 0;
  while (first < g.shown.length - 1 && g.lefts[first + 1] <= from) first++;
  var last = first;
  while (last < g.shown.length && g.lefts[last] < to) last++;
  return {top: top, bottom: bottom, first: first, last: Math.max(last, first + 1)};
}

/// Whether the drawn window still covers the view with a margin to spare.
function windowCovers(g, scrollTop, scrollLeft, viewHeight, viewWidth) {
  if (!g.windowed) return true;
  var rowPx = g.rowPx || ROW_PX_GUESS;
  var firstRow = Math.floor(scrollTop / rowPx);
  var lastRow = Math.ceil((scrollTop + viewHeight) / rowPx);
  var rowsCovered = (g.top === 0 || firstRow - g.top >= ROW_MARGIN / 2) &&
      (g.bottom === g.rows.length || g.bottom - lastRow >= ROW_MARGIN / 2);
  var columnsCovered = (g.first === 0 || g.lefts[g.first] <= scrollLeft - COLUMN_MARGIN_PX / 2) &&
      (g.last === g.shown.length || g.lefts[g.last] >= scrollLeft + viewWidth + COLUMN_MARGIN_PX / 2);
  return rowsCovered && columnsCovered;
}

function headerCell(column, index) {
  var th = make('th');
  th.scope = 'col';
  th.title = (text(column.name) + ' ' + text(column.decl)).trim();
  th.setAttribute('data-col', index);
  var button = make('button', 'sort', text(column.name));
  button.type = 'button';
  if (index === sortCol) {
    th.setAttribute('aria-sort', sortDir === 1 ? 'ascending' : 'descending');
    var arrow = make('span', 'dir', sortDir === 1 ? ' \u25b2' : ' \u25bc');
    arrow.setAttribute('aria-hidden', 'true');
    button.appendChild(arrow);
  }
  th.appendChild(button);
  return th;
}

// The blank cells that stand in for the columns left and right of the
// window; the table's column widths size them.
function padCell(tag) {
  var cell = make(tag, 'pad');
  cell.setAttribute('aria-hidden', 'true');
  return cell;
}

function withPads(g, tr, cells, tag) {
  if (g.first > 0) tr.appendChild(padCell(tag));
  cells.forEach(function(cell) { tr.appendChild(cell); });
  if (g.last < g.shown.length) tr.appendChild(padCell(tag));
  return tr;
}

function drawnColumns(g) { return g.shown.slice(g.first, g.last); }

function bodyRow(g, r) {
  var row = g.rows[r];
  var tr = make('tr');
  if (g.windowed) tr.setAttribute('aria-rowindex', r + 2);
  return withPads(g, tr, drawnColumns(g).map(function(index) {
    var cell = cellValue(row[index]);
    var td = make('td', cell.className, cell.text);
    td.title = cell.text;
    var value = row[index];
    if (g.links && g.links[index] && !isMissing(value) && !isBlob(value))
      linkCell(td, g.links[index], row, g.columns);
    return td;
  }), 'td');
}

function columnGroup(g) {
  var group = make('colgroup');
  function col(px) {
    var element = make('col');
    element.style.width = px + 'px';
    group.appendChild(element);
  }
  if (g.first > 0) col(g.lefts[g.first]);
  g.widths.slice(g.first, g.last).forEach(col);
  if (g.last < g.shown.length) col(g.lefts[g.shown.length] - g.lefts[g.last]);
  return group;
}

// The blank rows that stand in for the rows above and below the window.
function padRows(g, rows) {
  var body = make('tbody', 'pad');
  body.setAttribute('aria-hidden', 'true');
  var tr = make('tr');
  var td = make('td');
  td.colSpan = g.last - g.first + (g.first > 0) + (g.last < g.shown.length);
  td.style.height = rows * (g.rowPx || ROW_PX_GUESS) + 'px';
  tr.appendChild(td);
  body.appendChild(tr);
  return body;
}

/// Draws the window of `g` that the view needs into the results area, in
/// place of what was there, keeping the scroll position and the focus.
function drawWindow(g) {
  var focus = focusedGridPlace(g);
  var scrollTop = reswrap.scrollTop;
  var scrollLeft = reswrap.scrollLeft;
  Object.assign(g, windowAt(g, scrollTop, scrollLeft, reswrap.clientHeight, reswrap.clientWidth));
  var table = make('table');
  // A narrow result still fills the area: the spare width goes to its
  // columns.
  table.style.width = g.lefts[g.shown.length] + 'px';
  table.style.minWidth = '100%';
  if (g.windowed) {
    table.setAttribute('aria-rowcount', g.rows.length + 1);
    table.setAttribute('aria-colcount', g.shown.length);
  }
  table.appendChild(columnGroup(g));
  var thead = make('thead');
  var columns = drawnColumns(g);
  thead.appendChild(withPads(g, make('tr'), columns.map(function(index) {
    return headerCell(g.columns[index], index);
  }), 'th'));
  var filters = filterRow(g.columns, columns);
  if (filters) thead.appendChild(withPads(g, make('tr', 'filters'), filters, 'td'));
  table.appendChild(thead);
  if (g.top > 0) table.appendChild(padRows(g, g.top));
  var tbody = make('tbody');
  for (var r = g.top; r < g.bottom; r++) tbody.appendChild(bodyRow(g, r));
  table.appendChild(tbody);
  if (g.bottom < g.rows.length) table.appendChild(padRows(g, g.rows.length - g.bottom));
  g.body = tbody;
  // The warning over a cut result stays above the grid.
  var drawn = reswrap.querySelector('table');
  if (drawn)
    reswrap.replaceChild(table, drawn);
  else
    reswrap.appendChild(table);
  stickFilterRow(table);
  if (g.windowed && !g.rowPx && tbody.rows.length) {
    g.rowPx = tbody.rows[0].getBoundingClientRect().height || ROW_PX_GUESS;
    var pads = table.querySelectorAll('tbody.pad td');
    if (pads.length) pads[pads.length - 1].style.height = (g.rows.length - g.bottom) * g.rowPx + 'px';
  }
  reswrap.scrollTop = scrollTop;
  reswrap.scrollLeft = scrollLeft;
  placeTabStop(g);
  restoreGridFocus(g, focus);
}

/// Gives the grid's one tab stop to its cursor cell, or to the first drawn
/// cell while the cursor's is not drawn.
function placeTabStop(g) {
  var td = drawnCell(g, g.cursor.row, g.cursor.column) || drawnCell(g, g.top, g.first);
  if (td) td.tabIndex = 0;
}

/// Where the keyboard focus is in the grid, to find it again after a
/// redraw: a body cell by its row and column, a header or filter box by
/// its column.
function focusedGridPlace(g) {
  var element = document.activeElement;
  if (!element || !reswrap.contains(element)) return null;
  var td = element.closest('td');
  if (td && g.body && td.parentNode.parentNode === g.body) return cellPlace(g, td);
  var th = element.closest('th');
  if (th) return {header: Number(th.getAttribute('data-col'))};
  if (element.tagName === 'INPUT') return {filter: element.getAttribute('aria-label'), value: element.value};
  return null;
}

function restoreGridFocus(g, place) {
  if (!place) return;
  if (place.header !== undefined) {
    var button = reswrap.querySelector('th[data-col="' + place.header + '"] button');
    if (button) button.focus({preventScroll: true});
  } else if (place.filter !== undefined) {
    var input = Array.prototype.find.call(reswrap.querySelectorAll('tr.filters input'), function(box) {
      return box.getAttribute('aria-label') === place.filter;
    });
    if (input) {
      input.value = place.value;
      input.focus({preventScroll: true});
    }
  } else {
    var td = drawnCell(g, place.row, place.column);
    if (td) td.focus({preventScroll: true});
  }
}

/// The row (in the grid's rows) and the shown column of a drawn body cell.
function cellPlace(g, td) {
  return {row: g.top + td.parentNode.sectionRowIndex, column: g.first + td.cellIndex - (g.first > 0 ? 1 : 0)};
}

/// The drawn body cell of row `r` and shown column `c`, if drawn.
function drawnCell(g, r, c) {
  if (!g.body || r < g.top || r >= g.bottom || c < g.first || c >= g.last) return null;
  return g.body.rows[r - g.top].cells[c - g.first + (g.first > 0 ? 1 : 0)];
}

/// Brings row `r`, shown column `c` of the grid into view, drawing its
/// window when needed, and gives that cell the grid's one tab stop and the
/// focus.
function focusGridCell(r, c) {
  var g = grid;
  if (!g || r < 0 || r >= g.rows.length || c < 0 || c >= g.shown.length) return;
  if (!drawnCell(g, r, c)) {
    var rowPx = g.rowPx || ROW_PX_GUESS;
    if (r < g.top || r >= g.bottom) reswrap.scrollTop = Math.max(0, r * rowPx - reswrap.clientHeight / 2);
    if (c < g.first || c >= g.last) reswrap.scrollLeft = Math.max(0, g.lefts[c] - reswrap.clientWidth / 2);
    drawWindow(g);
  }
  var td = drawnCell(g, r, c);
  if (!td) return;
  reswrap.querySelectorAll('tbody td[tabindex="0"]').forEach(function(cell) { cell.tabIndex = -1; });
  g.cursor = {row: r, column: c};
  td.tabIndex = 0;
  td.focus();
}

function drawGrid(rows) {
  grid = layoutGrid(rows, lastData.columns || []);
  shownRows = rows;
  drawWindow(grid);
  linkForeignKeys(grid);
}

// A scroll that leaves the drawn window draws the next one, once a frame.
var windowFrame = 0;
reswrap.addEventListener('scroll', function() {
  if (!grid || !grid.windowed || windowFrame) return;
  windowFrame = requestAnimationFrame(function() {
    windowFrame = 0;
    if (grid && grid.body && reswrap.contains(grid.body) &&
        !windowCovers(grid, reswrap.scrollTop, reswrap.scrollLeft, reswrap.clientHeight, reswrap.clientWidth))
      drawWindow(grid);
  });
}, {passive: true});

// One listener serves every cell: a click on a value opens it, a click on
// a column name sorts by it.
reswrap.addEventListener('click', function(event) {
  var g = grid;
  var sort = event.target.closest('th button.sort');
  if (sort) {
    sortBy(Number(sort.parentNode.getAttribute('data-col')));
    return;
  }
  var td = event.target.closest('td');
  if (!g || !td || !g.body || td.parentNode.parentNode !== g.body || td.classList.contains('pad')) return;
  var place = cellPlace(g, td);
  reswrap.querySelectorAll('tbody td[tabindex="0"]').forEach(function(cell) { cell.tabIndex = -1; });
  g.cursor = place;
  td.tabIndex = 0;
  var index = g.shown[place.column];
  var row = g.rows[place.row];
  showCell(row[index], g.columns[index], row, index);
});

// The keyboard reaches the values too: the grid's first cell is one tab
// stop, the arrow keys move between cells, Enter or Space opens a value.
var CELL_MOVES = {ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, -1], ArrowRight: [0, 1]};

reswrap.addEventListener('keydown', function(event) {
  var g = grid;
  var td = event.target;
  if (!g || td.tagName !== 'TD' || !g.body || td.parentNode.parentNode !== g.body) return;
  var move = CELL_MOVES[event.key];
  if (move) {
    var place = cellPlace(g, td);
    focusGridCell(place.row + move[0], place.column + move[1]);
  } else if (event.key === 'Enter' || event.key === ' ') {
    (td.querySelector('.fklink') || td).click();
  } else {
    return;
  }
  event.preventDefault();
});

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
  measureDrawing('grid sort', performance.now());
  var direction = sortDir;
  var sorted = shownRows.slice().sort(function(
      a, b) { return compareCells(a[index], b[index], direction); });
  var hadFocus = reswrap.contains(document.activeElement);
  // The sorted rows are read from the top; the column and the keyboard
  // focus stay where they were.
  reswrap.scrollTop = 0;
  drawGrid(sorted);
  var header = reswrap.querySelector('th[data-col="' + index + '"] button');
  if (hadFocus && header) header.focus();
}
