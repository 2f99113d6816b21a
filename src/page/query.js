// Running the statement box and showing its answer's status or error.

function statusLine(answer) {
  var line = answer.row_count + (answer.row_count === 1 ? ' row' : ' rows');
  if (answer.truncated === true) line += ' (truncated)';
  line += DOT + answer.ms + ' ms';
  if (answer.aborted === true) line += DOT + 'stopped at the time budget';
  return line;
}

function showAnswer(answer) {
  runbtn.disabled = false;
  lastData = answer;
  if (!answer || answer.ok !== true) {
    qmeta.textContent = '';
    var message = (answer && answer.error) || 'error';
    if (answer && answer.detail) message += ': ' + answer.detail;
    err(message);
    empty(cols);
    return;
  }
  if (answer.error) {
    // The statement failed part-way; the rows before it stay exportable.
    qmeta.textContent = '';
    err(text(answer.error));
    empty(cols);
    return;
  }
  qmeta.textContent = statusLine(answer);
  renderTable();
}

function runQuery() {
  var sql = sqlBox.value;
  if (!currentDb) {
    err('Select a database first.');
    return;
  }
  if (!sql.trim()) {
    err('Type a statement.');
    return;
  }
  sortCol = -1;
  sortDir = 1;
  showPage(viewForStatement(sql), 0);
  rememberRun(view);
}
