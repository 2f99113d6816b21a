// Copy CSV and Copy JSON of the last answer, in the order on screen, with
// every value exactly as the answer carried it.

function csvField(value) {
  if (value === null || value === undefined) return '';
  if (isBlob(value)) return 'blob:' + value.blob_bytes;
  var field = typeof value === 'object' ? stringifyExact(value) : String(value);
  return /[",\r\n]/.test(field) ? '"' + field.replace(/"/g, '""') + '"' : field;
}

function toCsv(answer) {
  var lines =
      [(answer.columns || []).map(function(column) { return csvField(column.name); }).join(',')];
  (answer.rows || []).forEach(function(row) { lines.push(row.map(csvField).join(',')); });
  return lines.join('\n');
}

// Compact, with every integer's digits as the answer carried them.
function toJson(answer) { return stringifyExact(answer.rows || []); }

function copyFallback(content) {
  var area = document.createElement('textarea');
  area.value = content;
  document.body.appendChild(area);
  area.select();
  try {
    document.execCommand('copy');
  } catch (e) {
  }
  document.body.removeChild(area);
}

function copy(content, label) {
  function done() { qmeta.textContent = label + ' copied'; }
  function fallback() {
    copyFallback(content);
    done();
  }
  if (navigator.clipboard && navigator.clipboard.writeText) {
    navigator.clipboard.writeText(content).then(done, fallback);
  } else {
    fallback();
  }
}

function exportAs(label, format) {
  if (!lastData || lastData.ok !== true) {
    qmeta.textContent = 'nothing to copy';
    return;
  }
  // The rows as the grid shows them, in their order on screen.
  var shown = Object.assign({}, lastData);
  if (shownRows.length === (lastData.rows || []).length) shown.rows = shownRows;
  copy(format(shown), label);
}
