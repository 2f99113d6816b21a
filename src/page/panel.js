// The detail panel between the statement and the results: one at a time of
// a cell's value, a table's structure, a plan or the history.

var panel = byId('panel');
var panelTitle = byId('paneltitle');
var panelBody = byId('panelbody');
var panelOwner = '';       // which feature fills the panel now
var panelRelease = null;   // what stops the drawing the panel holds, if any
var panelOpener = null;    // the element that had the focus when it opened

function releasePanel() {
  if (panelRelease) panelRelease();
  panelRelease = null;
}

/// Empties the panel, titles it, shows it and gives its title the focus;
/// returns its body.
function openPanel(owner, title) {
  releasePanel();
  if (panel.hidden) panelOpener = document.activeElement;
  panelOwner = owner;
  panelTitle.textContent = title;
  empty(panelBody);
  panel.hidden = false;
  panel.scrollIntoView({block: 'nearest'});
  panelTitle.focus();
  return panelBody;
}

/// Hides the panel; with `refocus`, the focus goes back where it was when
/// the panel opened.
function closePanel(refocus) {
  releasePanel();
  panelOwner = '';
  panel.hidden = true;
  empty(panelBody);
  var opener = panelOpener;
  panelOpener = null;
  if (refocus !== true || !opener) return;
  if (document.contains(opener))
    opener.focus();
  else if (opener.tagName === 'TD' && grid)  // a grid cell drawn again since
    focusGridCell(grid.cursor.row, grid.cursor.column);
}

// The panels that describe the page on screen close when another page, or
// another result, replaces it; those drawn from every row of the result
// close only when another result does, since paging leaves their rows as
// they were. The placeholder that asks for a result goes once one comes.
var PAGE_PANELS = ['cell', 'structure', 'explain', 'row'];
var RESULT_PANELS = ['chart', 'map', 'visual'];
// Those that describe the open database close when another one opens.
var DATABASE_PANELS = ['diagram', 'history'];

/// Closes the panel that describes the page on screen; with `newResult`,
/// also one drawn from the whole result.
function closeResultPanel(newResult) {
  if (PAGE_PANELS.indexOf(panelOwner) >= 0 ||
      (newResult && RESULT_PANELS.indexOf(panelOwner) >= 0))
    closePanel();
}

function closeDatabasePanel() {
  if (DATABASE_PANELS.indexOf(panelOwner) >= 0) closePanel();
}

panel.addEventListener('keydown', function(event) {
  if (event.key !== 'Escape') return;
  event.preventDefault();
  closePanel(true);
});

/// A block of preformatted text; it scrolls when long, so the keyboard
/// can reach it.
function textBlock(content) {
  var pre = make('pre', 'cellvalue', content);
  pre.tabIndex = 0;
  return pre;
}

/// A table of texts with a header row, for the panel.
function textTable(headers, rows) {
  var table = make('table', 'facts');
  var headRow = make('tr');
  headers.forEach(function(header) { headRow.appendChild(make('th', '', header)); });
  var thead = make('thead');
  thead.appendChild(headRow);
  table.appendChild(thead);
  var tbody = make('tbody');
  rows.forEach(function(row) {
    var tr = make('tr');
    row.forEach(function(value) { tr.appendChild(make('td', '', text(value))); });
    tbody.appendChild(tr);
  });
  table.appendChild(tbody);
  return table;
}

/// Posts `sql` to the query action on the chosen database as a request of
/// `kind`: a newer request of the same kind replaces it (see send).
function postQuery(kind, sql) {
  var headers = withPassword({'Content-Type': 'application/x-www-form-urlencoded'});
  return send(
      kind, apiUrl('query', 'db=' + encodeURIComponent(currentDb)),
      {method: 'POST', headers: headers, body: 'sql=' + encodeURIComponent(sql)});
}

/// Runs one statement for the page's own use; resolves to the answer's
/// rows, rejects with the program's error text.
function queryRows(kind, sql) {
  return postQuery(kind, sql).then(function(answer) {
    if (!isEnvelope(answer) || answer.ok !== true || !isQueryResult(answer))
      throw new Error(isEnvelope(answer) ? withDetail(errorOf(answer, 'error'), answer) : 'error');
    if (failedPartWay(answer)) throw new Error(answer.error);
    return answer.rows || [];
  });
}

byId('panelclose').addEventListener('click', function() { closePanel(true); });
