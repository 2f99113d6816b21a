// "Download CSV" and "Download JSON": the whole result as a file, with a
// progress bar and a Cancel button. The program writes the file's lines
// itself, every value exact (format=csv or format=jsonl). The result is
// asked for in ranges of DOWNLOAD_RANGE_ROWS rows (LIMIT and OFFSET), two
// requests at a time, so that the program writes one range while the page
// takes in the other; an answer that its time slice cut short is followed
// by a request for the rest of its range. Each answer's lines become a Blob
// at once, so the page holds no text of the file while it grows. A request
// stopped by the time budget stops the download.

var DOWNLOAD_RANGE_ROWS = 100000;  // the most rows one answer of the program gives
var DOWNLOAD_LANES = 2;            // requests in flight at once
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

/// The statement of `v` for `count` rows from its row `offset` on, in the
/// order on screen. A statement that runs as typed runs once, as typed.
function downloadStatement(v, offset, count) {
  if (!isPaged(v)) return v.text;
  return 'SELECT * FROM (\n' + resultBody(v) + '\n)' + orderClause(v) + ' LIMIT ' + count + ' OFFSET ' +
      offset;
}

var LINES_KEY = new TextEncoder().encode('"lines":"');
var JSON_ESCAPES = {98: 8, 102: 12, 110: 10, 114: 13, 116: 9};  // b f n r t

/// Writes code point `c` as UTF-8 into `bytes` at `at`; returns the end.
function putUtf8(bytes, at, c) {
  if (c < 0x80) {
    bytes[at++] = c;
  } else if (c < 0x800) {
    bytes[at++] = 0xc0 | (c >> 6);
    bytes[at++] = 0x80 | (c & 0x3f);
  } else if (c < 0x10000) {
    bytes[at++] = 0xe0 | (c >> 12);
    bytes[at++] = 0x80 | ((c >> 6) & 0x3f);
    bytes[at++] = 0x80 | (c & 0x3f);
  } else {
    bytes[at++] = 0xf0 | (c >> 18);
    bytes[at++] = 0x80 | ((c >> 12) & 0x3f);
    bytes[at++] = 0x80 | ((c >> 6) & 0x3f);
    bytes[at++] = 0x80 | (c & 0x3f);
  }
  return at;
}

/// Turns the JSON string whose content starts at `from` in `bytes` into
/// its UTF-8 bytes in place (escapes only ever shrink). Returns {end: the
/// end of the bytes written, after: the index past the closing quote}, or
/// null when the string is not well formed.
function unescapeInPlace(bytes, from) {
  var w = from;
  var n = bytes.length;
  var hex = function(at) {
    var text = String.fromCharCode(bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]);
    return /^[0-9a-fA-F]{4}$/.test(text) ? parseInt(text, 16) : -1;
  };
  for (var i = from; i < n; i++) {
    var c = bytes[i];
    if (c === 34) return {end: w, after: i + 1};
    if (c !== 92) {
      bytes[w++] = c;
      continue;
    }
    var e = bytes[++i];
    if (e === 117) {
      var unit = hex(i + 1);
      if (unit < 0) return null;
      i += 4;
      if (unit >= 0xd800 && unit < 0xdc00 && bytes[i + 1] === 92 && bytes[i + 2] === 117) {
        var low = hex(i + 3);
        if (low >= 0xdc00 && low < 0xe000) {
          unit = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
          i += 6;
        }
      }
      w = putUtf8(bytes, w, unit);
    } else if (e === 34 || e === 92 || e === 47) {
      bytes[w++] = e;
    } else if (JSON_ESCAPES[e] !== undefined) {
      bytes[w++] = JSON_ESCAPES[e];
    } else {
      return null;
    }
  }
  return null;
}

/// Where the member "lines":" starts in `bytes`, or -1. Inside a JSON string
/// a quote is always escaped, so these bytes can only be the member's key.
function linesKeyAt(bytes) {
  var first = LINES_KEY[0];
  for (var at = bytes.indexOf(first); at >= 0; at = bytes.indexOf(first, at + 1)) {
    var k = 1;
    while (k < LINES_KEY.length && bytes[at + k] === LINES_KEY[k]) k++;
    if (k === LINES_KEY.length) return at;
  }
  return -1;
}

/// The answer in `buffer` (an ArrayBuffer) with its lines taken out as a
/// Blob (`answer.linesBlob`, their bytes unescaped where they arrived),
/// `answer.lines` left empty: the page never holds the file's text as a
/// string. Any other answer is read whole.
function readLinesAnswer(buffer, status) {
  var bytes = new Uint8Array(buffer);
  var key = linesKeyAt(bytes);
  var lines = key >= 0 ? unescapeInPlace(bytes, key + LINES_KEY.length) : null;
  var decoder = new TextDecoder();
  var text = lines ? decoder.decode(bytes.subarray(0, key + LINES_KEY.length)) + '"' +
          decoder.decode(bytes.subarray(lines.after)) :
                     decoder.decode(bytes);
  var answer;
  try {
    answer = JSON.parse(text);
  } catch (e) {
    throw new Error(notJsonText(status, text));
  }
  if (lines && isEnvelope(answer)) {
    answer.linesBlob = new Blob([bytes.subarray(key + LINES_KEY.length, lines.end)]);
  }
  return answer;
}

// One request for the lines of the file. The answer's other members hold
// no integer beyond 2^53: the browser's own JSON reader reads them.
function fetchLines(job, sql, format) {
  var url = apiUrl('query', 'db=' + encodeURIComponent(currentDb) + '&format=' + format);
  var headers = withPassword({'Content-Type': 'application/x-www-form-urlencoded'});
  return fetch(url, {method: 'POST', headers: headers, body: 'sql=' + encodeURIComponent(sql),
                     signal: job.controller.signal})
      .then(function(response) {
        return response.arrayBuffer().then(function(buffer) {
          return readLinesAnswer(buffer, response.status);
        });
      });
}

function isLinesAnswer(answer) {
  return isEnvelope(answer) && answer.ok === true && typeof answer.lines === 'string' &&
      Array.isArray(answer.columns) && !answer.error && typeof answer.row_count === 'number';
}

/// Ends the download `job` once, with `message`: the request still in flight
/// is aborted and no file is saved.
function stopDownload(job, message) {
  if (job.cancelled) return;
  job.cancelled = true;
  job.controller.abort();
  finishDownload(message);
}

/// Fetches the lines of `range` ({offset, rows, parts}) of `v` into its
/// parts, request after request until the range is whole or the result
/// ends inside it (then `job.end` is where it ends).
function fetchRange(job, v, format, range) {
  var offset = range.offset + range.rows;
  var wanted = DOWNLOAD_RANGE_ROWS - range.rows;
  return fetchLines(job, downloadStatement(v, offset, wanted), format).then(function(answer) {
    if (job.cancelled) return;
    if (!isLinesAnswer(answer)) {
      var message = !isEnvelope(answer) ? 'the answer is not a query result' :
          answer.ok === true && answer.error ? answer.error :
                                               withDetail(errorOf(answer, 'error'), answer);
      stopDownload(job, 'Download stopped: ' + message + '; no file saved');
      return;
    }
    if (answer.aborted === true) {
      stopDownload(job, 'Download stopped: the rows from ' + (offset + 1) +
                            ' on reached the time budget; no file saved');
      return;
    }
    job.columns = answer.columns;
    if (answer.linesBlob && answer.linesBlob.size > 0) range.parts.push(answer.linesBlob);
    range.rows += answer.row_count;
    job.rows += answer.row_count;
    showProgress(job.rows, expectedRows(v));
    var cut = answer.truncated === true && answer.row_count > 0;
    if (!isPaged(v)) {
      // A statement that runs as typed has one answer: the file holds it.
      job.cut = cut;
      job.end = 0;
    } else if (cut && answer.row_count < wanted) {
      return fetchRange(job, v, format, range);
    } else if (answer.row_count < wanted) {
      job.end = Math.min(job.end, offset + answer.row_count);
    }
  });
}

/// One lane of requests: takes the next range of the result while the
/// result may go on.
function downloadLane(job, v, format) {
  if (job.cancelled || job.next >= job.end) return Promise.resolve();
  var range = {offset: job.next, rows: 0, parts: []};
  job.ranges.push(range);
  job.next += DOWNLOAD_RANGE_ROWS;
  return fetchRange(job, v, format, range).then(function() { return downloadLane(job, v, format); });
}

// The file from the parts of every answer, in the order of their rows: CSV
// after a line of the column names; JSON as one array of the row objects.
function fileParts(format, columns, ranges) {
  var parts = [];
  ranges.forEach(function(range) { Array.prototype.push.apply(parts, range.parts); });
  if (format === 'csv') {
    var names = columns.map(function(column) { return csvField(column.name); }).join(',');
    return [names + '\n'].concat(parts);
  }
  var file = ['[\n'];
  parts.forEach(function(part, i) {
    if (i > 0) file.push(',\n');
    file.push(part);
  });
  file.push('\n]\n');
  return file;
}

function startDownload(format) {
  if (download) return;
  if (!view || !lastData || lastData.ok !== true) {
    qmeta.textContent = 'nothing to download';
    return;
  }
  var job = download = {cancelled: false, controller: new AbortController(), ranges: [], next: 0,
                        end: Infinity, rows: 0, columns: null, cut: false};
  var v = Object.assign({}, view);
  var extension = format === 'csv' ? 'csv' : 'json';
  var lines = format === 'csv' ? 'csv' : 'jsonl';
  dlbar.hidden = false;
  showProgress(0, expectedRows(v));
  var lanes = [];
  for (var i = 0; i < (isPaged(v) ? DOWNLOAD_LANES : 1); i++) lanes.push(downloadLane(job, v, lines));
  Promise.all(lanes).then(
      function() {
        if (job.cancelled) return;
        saveFile(fileName(v, extension), fileParts(format, job.columns || [], job.ranges),
                 format === 'csv' ? 'text/csv' : 'application/json');
        finishDownload('Downloaded ' + plural(job.rows, 'row') + ' as ' + fileName(v, extension));
        if (job.cut) qmeta.textContent += DOT + 'this statement runs without paging';
      },
      function(error) { stopDownload(job, 'Download failed: ' + failureText(error)); });
}

byId('dlcsvbtn').addEventListener('click', function() { startDownload('csv'); });
byId('dljsonbtn').addEventListener('click', function() { startDownload('json'); });
byId('dlcancel').addEventListener('click', function() {
  if (download) stopDownload(download, 'Download cancelled');
});
