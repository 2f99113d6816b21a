// The Columns button: the result's columns as checkboxes, each hiding or
// showing its column in the grid. What is hidden holds while the columns
// stay the same (the pages, sorts and filters of one table) and is
// forgotten when they change. Copies and downloads keep every column.

var hiddenColumns = {signature: '', names: {}};

function columnsSignature(columns) {
  return columns.map(function(c) { return text(c.name) + '\u0000' + text(c.decl); }).join('\u0001');
}

/// The indexes of the columns the grid shows, in the answer's order.
function shownColumns(columns) {
  var hidden = hiddenColumns.signature === columnsSignature(columns) ? hiddenColumns.names : {};
  var shown = [];
  columns.forEach(function(column, index) {
    if (!hidden[index]) shown.push(index);
  });
  return shown;
}

function columnBox(column, index, hidden) {
  var label = make('label', 'chip');
  var box = make('input');
  box.type = 'checkbox';
  box.checked = !hidden[index];
  box.addEventListener('change', function() {
    if (box.checked)
      delete hidden[index];
    else
      hidden[index] = true;
    if (grid) {
      drawGrid(grid.rows);
      colsbtn.textContent = columnsButtonText(grid.columns);
    }
  });
  label.appendChild(box);
  label.appendChild(document.createTextNode(text(column.name) + '  ' + text(column.decl)));
  return label;
}

function columnsButtonText(columns) {
  var hidden = Object.keys(hiddenColumns.names).length;
  return hidden ? 'Columns (' + hidden + ' hidden)' : 'Columns';
}

/// Fills the Columns list for the result's `columns`.
function listColumns(columns) {
  var signature = columnsSignature(columns);
  if (hiddenColumns.signature !== signature) hiddenColumns = {signature: signature, names: {}};
  empty(cols);
  columns.forEach(function(column, index) { cols.appendChild(columnBox(column, index, hiddenColumns.names)); });
  colsbtn.disabled = !columns.length;
  colsbtn.textContent = columnsButtonText(columns);
  if (!columns.length) showColumnList(false);
}

function showColumnList(open) {
  cols.hidden = !open;
  colsbtn.setAttribute('aria-expanded', open ? 'true' : 'false');
}

colsbtn.addEventListener('click', function() { showColumnList(cols.hidden); });
