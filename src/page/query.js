// Running the statement box and showing its answer's status or error. One
// statement runs at a time: a run of another statement (Ctrl+Enter on an
// edited statement, a table button) replaces the one in flight, whose answer
// is then dropped; a run of the statement already in flight is ignored, so
// repeated key presses never pile up requests. The Run button is disabled
// while a statement runs.

var runningQuery = null;  // {db, sql} of the statement in flight
var stopbtn = byId('stopbtn');
var READ_KEYWORDS = ['select', 'with', 'values', 'pragma', 'explain'];
var BUDGET_HELP = 'A filter, or an index on the columns it searches or sorts by, helps.';

/// The first word of a statement as typed, or '' when it starts otherwise
/// (or a string or comment in it never closes).
function firstWord(sql) {
  var first = (sqlTokens(sql) || []).find(function(t) { return t.kind !== 'comment'; });
  return first && first.kind === 'word' ? sql.slice(first.start, first.end) : '';
}

/// Ends the statement in flight: its answer is no longer waited for.
function stopQuery() {
  abandonRequest('query');
  runningQuery = null;
  runbtn.disabled = false;
  stopbtn.hidden = true;
  qmeta.textContent = 'Stopped.';
}

/// The warning over a result that the time budget cut short.
function budgetWarning(answer) {
  var rows = (answer.rows || []).length;
  return make('div', 'warn', rows ?
      'Stopped at the time budget: only the rows found before it are shown. ' + BUDGET_HELP :
      'Stopped at the time budget before any row was found: this is not an empty result. ' + BUDGET_HELP);
}

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
  stopbtn.hidden = true;
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
  var word = firstWord(sql);
  if (word && READ_KEYWORDS.indexOf(word.toLowerCase()) < 0) {
    queryFailed('\'' + word + '\' is not a read statement: SELECT, WITH, VALUES, PRAGMA and EXPLAIN run here');
    empty(cols);
    return;
  }
  if (runningQuery && runningQuery.db === currentDb && runningQuery.sql === sql) return;
  sortCol = -1;
  sortDir = 1;
  showPage(viewForStatement(sql), 0);
  rememberRun(view);
}
