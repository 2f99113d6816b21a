// "Download CSV" and "Download JSON": the whole result as a file, with a
// progress bar and a Cancel button. The program writes the file's lines
// itself, every value exact (format=csv or format=jsonl), as many as one
// request gives in about a second; the next request goes on from the row
// where the last one stopped (OFFSET). The page keeps only the text of the
// lines, never a value of its own. A request stopped by the time budget
// stops the download.

var dlbar = byId('dlbar');
var dlprogress = byId('dlprogress');
var dlstatus = byId('dlstatus');
var download = null;  // the download under way: {cancelled}

function fileName(v, extension) {
  var base = v.kind === 'table' ? text(v.table.name).replace(/[^A-Za-z0-9_.-]+/g, '_') : 'query';
  return (base || 'table') + '-' + new Date().toISOString().slice(0, 10) + '.' + extension;
}

function saveFile(name, parts, type) {
  var url = URL.createObjectURL(new Blob(parts, {type: type}));
  var link = make('a');
  link.href = url;
  link.download = name;
  document.body.appendChild(link);
  link.click();
  document.body.removeChild(link);
  setTimeout(function() { URL.revokeObjectURL(url); }, 0);
}

// The table's row count from the schema, when it counts the whole result.
function expectedRows(v) {
  if (v.kind !== 'table' || Object.keys(v.filters).length) return null;
  return typeof v.table.rows === 'number' ? v.table.rows : null;
}

function showProgress(fetched, expected) {
  if (expected) {
    dlprogress.max = expected;
    dlprogress.value = Math.min(fetched, expected);
  } else {
    dlprogress.removeAttribute('value');
  }
  dlstatus.textContent = plural(fetched, 'row') + ' fetched';
}

function finishDownload(message) {
  download = null;
  dlbar.hidden = true;
  qmeta.textContent = message;
}

/// The statement of `v` from its row `offset` on, in the order on screen.
/// A statement that runs as typed runs once, as typed.
function downloadStatement(v, offset) {
  if (!isPaged(v)) return v.text;
  return 'SELECT * FROM (\n' + resultBody(v) + '\n)' + orderClause(v) + ' LIMIT -1 OFFSET ' + offset;
}

// One request for the lines of the file. The answer is read with the
// browser's own JSON reader: its lines are one long string, and its other
// members hold no integer beyond 2^53.
function fetchLines(job, sql, format) {
  var url = apiUrl('query', 'db=' + encodeURIComponent(currentDb) + '&format=' + format);
  var headers = withPassword({'Content-Type': 'application/x-www-form-urlencoded'});
  return fetch(url, {method: 'POST', headers: headers, body: 'sql=' + encodeURIComponent(sql),
                     signal: job.controller.signal})
      .then(function(response) {
        return response.text().then(function(body) {
          try {
            return JSON.parse(body);
          } catch (e) {
            throw new Error(notJsonText(response.status, body));
          }
        });
      });
}

function isLinesAnswer(answer) {
  return isEnvelope(answer) && answer.ok === true && typeof answer.lines === 'string' &&
      Array.isArray(answer.columns) && !answer.error && typeof answer.row_count === 'number';
}

/// Fetches the lines of `v` from row `offset` on into `job.parts`;
/// resolves to the columns, or to null once the download stops (the reason
/// is shown).
function fetchAll(job, v, format, offset) {
  return fetchLines(job, downloadStatement(v, offset), format).then(function(answer) {
    if (job.cancelled) return null;
    if (!isLinesAnswer(answer)) {
      var message = !isEnvelope(answer) ? 'the answer is not a query result' :
          answer.ok === true && answer.error ? answer.error :
                                               withDetail(errorOf(answer, 'error'), answer);
      finishDownload('Download stopped: ' + message + '; no file saved');
      return null;
    }
    if (answer.aborted === true) {
      finishDownload('Download stopped: the rows from ' + (offset + 1) +
                     ' on reached the time budget; no file saved');
      return null;
    }
    if (answer.lines) job.parts.push(answer.lines);
    job.rows = offset + answer.row_count;
    showProgress(job.rows, expectedRows(v));
    var more = answer.truncated === true && isPaged(v) && answer.row_count > 0;
    if (answer.truncated === true && !more) job.cut = true;
    return more ? fetchAll(job, v, format, job.rows) : answer.columns;
  });
}

// The file from the lines of every answer: CSV after a line of the column
// names; JSON as one array of the row objects.
function fileParts(format, columns, parts) {
  if (format === 'csv') {
    var names = columns.map(function(column) { return csvField(column.name); }).join(',');
    return [names + '\n'].concat(parts);
  }
  var file = ['[\n'];
  parts.forEach(function(part, i) { file.push(i > 0 ? ',\n' + part : part); });
  file.push('\n]\n');
  return file;
}

function startDownload(format) {
  if (download) return;
  if (!view || !lastData || lastData.ok !== true) {
    qmeta.textContent = 'nothing to download';
    return;
  }
  var job = download = {cancelled: false, controller: new AbortController(), parts: [], rows: 0,
                        cut: false};
  var v = Object.assign({}, view);
  var extension = format === 'csv' ? 'csv' : 'json';
  dlbar.hidden = false;
  showProgress(0, expectedRows(v));
  fetchAll(job, v, format === 'csv' ? 'csv' : 'jsonl', 0)
      .then(
          function(columns) {
            if (!columns || job.cancelled) return;
            saveFile(fileName(v, extension), fileParts(format, columns, job.parts),
                     format === 'csv' ? 'text/csv' : 'application/json');
            finishDownload('Downloaded ' + plural(job.rows, 'row') + ' as ' + fileName(v, extension));
            // A statement that runs as typed has one answer: the file holds it.
            if (job.cut) qmeta.textContent += DOT + 'this statement runs without paging';
          },
          function(error) {
            if (!job.cancelled) finishDownload('Download failed: ' + failureText(error));
          });
}

byId('dlcsvbtn').addEventListener('click', function() { startDownload('csv'); });
byId('dljsonbtn').addEventListener('click', function() { startDownload('json'); });
byId('dlcancel').addEventListener('click', function() {
  if (!download) return;
  download.cancelled = true;
  download.controller.abort();
  finishDownload('Download cancelled');
});
