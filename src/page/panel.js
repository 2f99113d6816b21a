// The detail panel between the statement and the results: one at a time of
// a cell's value, a table's structure, a plan or the history.

var panel = byId('panel');
var panelTitle = byId('paneltitle');
var panelBody = byId('panelbody');
var panelOwner = '';  // which feature fills the panel now
var panelRelease = null;  // what stops the drawing the panel holds, if any

function releasePanel() {
  if (panelRelease) panelRelease();
  panelRelease = null;
}

/// Empties the panel, titles it and shows it; returns its body.
function openPanel(owner, title) {
  releasePanel();
  panelOwner = owner;
  panelTitle.textContent = title;
  empty(panelBody);
  panel.hidden = false;
  panel.scrollIntoView({block: 'nearest'});
  return panelBody;
}

function closePanel() {
  releasePanel();
  panelOwner = '';
  panel.hidden = true;
  empty(panelBody);
}

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

byId('panelclose').addEventListener('click', closePanel);
