// The result grid: column chips, header cells that sort, rows as text.

function renderTable() {
  empty(reswrap);
  empty(cols);
  (lastData.columns || []).forEach(function(column) {
    cols.appendChild(make('span', 'chip', text(column.name) + '  ' + text(column.decl)));
  });
  var rows = lastData.rows || [];
  if (!rows.length && !filterRow([])) {
    placeholder(reswrap, '0 rows.');
    return;
  }
  drawGrid(rows);
  // A filter that keeps nothing still shows its boxes, to change it.
  if (!rows.length) reswrap.appendChild(make('div', 'empty', '0 rows.'));
}

function cellValue(value) {
  if (value === null || value === undefined) return {text: 'NULL', className: 'null'};
  if (typeof value === 'object')
    return {text: '[blob ' + value.blob_bytes + ']', className: 'null'};
  if (typeof value === 'number') return {text: String(value), className: 'num'};
  return {text: String(value), className: ''};
}

function headerCell(column, index) {
  var th = make('th');
  th.appendChild(document.createTextNode(text(column.name)));
  if (index === sortCol) th.appendChild(make('span', 'dir', sortDir === 1 ? ' \u25b2' : ' \u25bc'));
  th.title = text(column.decl);
  th.addEventListener('click', function() { sortBy(index); });
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
  linkForeignKeys(table, rows, columns);
}

function isMissing(value) { return value === null || value === undefined; }

// Nulls go last in both directions; two nulls tie, so the stable sort
// keeps them in their previous order.
function compareCells(x, y, direction) {
  if (isMissing(x)) return isMissing(y) ? 0 : 1;
  if (isMissing(y)) return -1;
  if (typeof x === 'number' && typeof y === 'number') return (x - y) * direction;
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
  drawGrid(sorted);
}
