// Running the statement box and showing its answer's status or error. One
// statement runs at a time: a run of another statement (Ctrl+Enter on an
// edited statement, a table button) replaces the one in flight, whose answer
// is then dropped; a run of the statement already in flight is ignored, so
// repeated key presses never pile up requests. The Run button is disabled
// while a statement runs.

var runningQuery = null;  // {db, sql} of the statement in flight

function statusLine(answer) {
  var line = answer.row_count + (answer.row_count === 1 ? ' row' : ' rows');
  if (answer.truncated === true) line += ' (truncated)';
  line += DOT + answer.ms + ' ms';
  if (answer.aborted === true) line += DOT + 'stopped at the time budget';
  return line;
}

function failedPartWay(answer) { return typeof answer.error === 'string' && answer.error !== ''; }

// A query answer the page can show and export: columns as records, rows as
// arrays, and the counts of the status line unless it failed part-way.
function isQueryResult(answer) {
  return (answer.columns === undefined || isListOf(answer.columns, isRecord)) &&
      (answer.rows === undefined || isListOf(answer.rows, Array.isArray)) &&
      (answer.error === undefined || typeof answer.error === 'string') &&
      (failedPartWay(answer) ||
       (typeof answer.row_count === 'number' && typeof answer.ms === 'number'));
}

function queryFailed(message) {
  qmeta.textContent = '';
  err(message);
}

function showAnswer(answer) {
  runbtn.disabled = false;
  if (!isEnvelope(answer) || (answer.ok === true && !isQueryResult(answer))) {
    // Not an answer of the program: nothing of it is kept for the copies.
    queryFailed('Request failed: the answer is not a query result');
    return;
  }
  lastData = answer;
  offerMap();
  if (answer.ok !== true) {
    queryFailed(withDetail(errorOf(answer, 'error'), answer));
    empty(cols);
    return;
  }
  if (failedPartWay(answer)) {
    // The statement failed part-way; the rows before it stay exportable.
    queryFailed(answer.error);
    empty(cols);
    return;
  }
  qmeta.textContent = statusLine(answer);
  renderTable();
}

function runQuery() {
  var sql = statementToRun();
  if (!currentDb) {
    err('Select a database first.');
    return;
  }
  if (!sql.trim()) {
    err('Type a statement.');
    return;
  }
  if (runningQuery && runningQuery.db === currentDb && runningQuery.sql === sql) return;
  sortCol = -1;
  sortDir = 1;
  showPage(viewForStatement(sql), 0);
  rememberRun(view);
}
