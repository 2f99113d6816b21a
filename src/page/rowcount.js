// How many rows a paged result has, counted once per result by one bounded
// query, and "Go to row", which opens the page that holds a row.

var gotorow = byId('gotorow');

/// A count in the page's own digits: 3000 reads "3,000".
function grouped(n) { return Number(n).toLocaleString('en-US'); }

/// The statement that counts every row of `v`.
function countStatement(v) {
  if (v.kind === 'wrapped') return 'SELECT count(*) FROM (\n' + v.body + '\n)';
  return 'SELECT count(*) FROM ' + quotedName(v.table.name) +
      whereClause(filterConditions(v.table, v.filters));
}

/// Counts the rows of `v` unless that was asked already; the range line
/// gains " of <count>" when the answer comes. A count stopped at the time
/// budget says "of more than" the rows seen; one that failed, "of many".
function countRows(v) {
  if (v.total) return;
  v.total = {text: ''};
  postQuery('count', countStatement(v)).then(function(answer) {
    var ok = isEnvelope(answer) && answer.ok === true && isQueryResult(answer) && !failedPartWay(answer);
    var n = ok && answer.rows && answer.rows[0] ? Number(answer.rows[0][0]) : NaN;
    if (ok && answer.aborted !== true && n >= 0) {
      v.total = {text: grouped(n), rows: n};
    } else if (ok && answer.aborted === true) {
      v.total = {text: 'more than ' + grouped(v.page * v.size + (lastData.rows || []).length)};
    } else {
      v.total = {text: 'many'};
    }
    if (v === view) showRange();
  }, function() {});
}

/// The range line: "rows 1-100", then " of <count>" once it is known.
function showRange() {
  var rows = (lastData.rows || []).length;
  var first = view.page * view.size + 1;
  var line = 'rows ' + first + '-' + (first + rows - 1);
  if (view.total && view.total.text) line += ' of ' + view.total.text;
  rangeText.textContent = line;
}

/// Opens the page that holds row `n` (from 1) of the result on screen and
/// puts the focus on that row.
function goToRow(n) {
  if (!isPaged(view) || !(n >= 1)) return;
  if (view.total && view.total.rows !== undefined) n = Math.min(n, Math.max(view.total.rows, 1));
  view.focusRow = (n - 1) % view.size;
  showPage(view, Math.floor((n - 1) / view.size));
}

/// After a page is drawn: the row that Go to row asked for takes the focus.
function focusAskedRow(v) {
  var index = v.focusRow;
  v.focusRow = undefined;
  if (index === undefined) return;
  focusGridCell(index, 0);
}

gotorow.addEventListener('keydown', function(event) {
  if (event.key !== 'Enter') return;
  event.preventDefault();
  goToRow(Math.floor(Number(gotorow.value)));
});
