// "Download CSV" and "Download JSON": the whole result as a file, fetched
// page after page (each one more bounded query) with a progress bar and a
// Cancel button. A page stopped by the time budget stops the download.

var dlbar = byId('dlbar');
var dlprogress = byId('dlprogress');
var dlstatus = byId('dlstatus');
var download = null;  // the download under way: {cancelled}

// Object keys for the columns: a name that repeats gets ":2", ":3"...
function columnKeys(columns) {
  var seen = {};
  return columns.map(function(column) {
    var name = text(column.name);
    seen[name] = (seen[name] || 0) + 1;
    return seen[name] === 1 ? name : name + ':' + seen[name];
  });
}

function jsonFile(columns, rows) {
  var keys = columnKeys(columns).map(function(key) { return JSON.stringify(key) + ':'; });
  var lines = rows.map(function(row) {
    return '{' +
        keys.map(function(
                     key, i) { return key + stringifyExact(row[i] === undefined ? null : row[i]); })
            .join(',') +
        '}';
  });
  return '[\n' + lines.join(',\n') + '\n]\n';
}

function csvFile(columns, rows) { return toCsv({columns: columns, rows: rows}); }

function fileName(v, extension) {
  var base = v.kind === 'table' ? text(v.table.name).replace(/[^A-Za-z0-9_.-]+/g, '_') : 'query';
  return (base || 'table') + '-' + new Date().toISOString().slice(0, 10) + '.' + extension;
}

function saveFile(name, content, type) {
  var url = URL.createObjectURL(new Blob([content], {type: type}));
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

/// Fetches every page of `v` into `rows` from page `page` on; resolves to
/// the columns, or to null once the download stops (the reason is shown).
function fetchAll(job, v, page, rows) {
  return fetchPage('download', v, page, MAX_PAGE_ROWS).then(function(answer) {
    if (job.cancelled) return null;
    if (!isPageResult(v, answer)) {
      var message = !isEnvelope(answer) ? 'the answer is not a query result' :
          failedPartWay(answer)         ? answer.error :
                                          withDetail(errorOf(answer, 'error'), answer);
      finishDownload('Download stopped: ' + message);
      return null;
    }
    var shown = pageAnswer(v, page, MAX_PAGE_ROWS, answer);
    if (answer.aborted === true) {
      finishDownload(
          'Download stopped: page ' + (page + 1) + ' reached the time budget; no file saved');
      return null;
    }
    Array.prototype.push.apply(rows, shown.rows);
    showProgress(rows.length, expectedRows(v));
    return v.more ? fetchAll(job, v, page + 1, rows) : shown.columns;
  });
}

function startDownload(format) {
  if (download) return;
  if (!view || !lastData || lastData.ok !== true) {
    qmeta.textContent = 'nothing to download';
    return;
  }
  var job = download = {cancelled: false};
  var v = Object.assign({}, view, {page: 0, starts: [null], more: false});
  var extension = format === 'csv' ? 'csv' : 'json';
  var write = function(columns, rows) {
    saveFile(
        fileName(v, extension), format === 'csv' ? csvFile(columns, rows) : jsonFile(columns, rows),
        format === 'csv' ? 'text/csv' : 'application/json');
    finishDownload('Downloaded ' + plural(rows.length, 'row') + ' as ' + fileName(v, extension));
  };
  if (!isPaged(v)) {
    // A statement that runs as typed has one answer: the file holds it.
    write(lastData.columns || [], lastData.rows || []);
    if (lastData.truncated === true)
      qmeta.textContent += DOT + 'this statement runs without paging';
    return;
  }
  dlbar.hidden = false;
  showProgress(0, expectedRows(v));
  var rows = [];
  fetchAll(job, v, 0, rows)
      .then(
          function(columns) {
            if (columns && !job.cancelled) write(columns, rows);
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
  abandonRequest('download');
  finishDownload('Download cancelled');
});
