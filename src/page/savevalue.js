// "Save value": the whole value of a cell as a file. A blob is saved as its
// bytes, text as its UTF-8 bytes, a number as the exact text the program
// writes for it ("0.30000000000000004", "100.0"). The value is asked for
// again in the exact form, which holds values up to 16 MiB whole; the page
// never saves the grid's form of a value (a blob's first bytes, a real's 15
// digits, text without its control bytes). Text whose bytes are not UTF-8
// reaches the page with U+FFFD in their place, so it is asked for once more
// as a blob, which keeps them.

/// The request that gives the cell again: {sql, row, column}, the row and
/// column of the cell in its answer. A statement that runs as typed is run
/// again as typed.
function valueSource(row, index) {
  var sql = cellStatement(row, index);
  if (sql !== null) return {sql: sql, row: 0, column: cellColumnIn(sql, index), typed: false};
  var at = lastData && lastData.rows ? lastData.rows.indexOf(row) : -1;
  return view && at >= 0 ? {sql: view.text, row: at, column: index, typed: true} : null;
}

/// The request for the same cell as a blob, its text's bytes unchanged;
/// `width` is the number of columns of `source`'s answer. Null for a
/// statement that runs as typed: it cannot be wrapped.
function bytesSource(source, width) {
  if (source.typed) return null;
  var names = [];
  for (var i = 0; i < width; i++) names.push('c' + i);
  return {sql: 'WITH r(' + names.join(', ') + ') AS (\n' + source.sql + '\n) SELECT CAST(c' + source.column +
              ' AS BLOB) FROM r',
          row: 0, column: 0, typed: false};
}

/// The cell of `source` in the exact form and the width of its answer:
/// {value, width}; rejects with an Error that says what went wrong. A
/// number read by the browser's own reader is no longer exact text, and is
/// not saved.
function fetchExactValue(source) {
  return postExactQuery(source.sql)
      .then(function(response) { return readExactAnswer(response, true); })
      .then(function(answer) {
        if (!isEnvelope(answer)) throw new Error('the answer is not a query answer');
        if (answer.ok !== true) throw new Error(withDetail(errorOf(answer, 'error'), answer));
        if (answer.error) throw new Error(text(answer.error));
        var row = (answer.rows || [])[source.row];
        if (!row) throw new Error('the row is no longer in the result');
        return {value: withPlainSizes(row[source.column]), width: (answer.columns || []).length};
      });
}

// A blob or long text object's sizes as numbers again.
function withPlainSizes(value) {
  if (!isRecord(value) || value instanceof JsonNumber) return value;
  var plain = {};
  Object.keys(value).forEach(function(key) {
    plain[key] = value[key] instanceof JsonNumber ? Number(value[key].text) : value[key];
  });
  return plain;
}

function tooLarge(size) {
  return 'the value is ' + grouped(size) + ' bytes, more than the 16 MiB that can be saved whole';
}

/// The file of the exact `value`: {parts, type, extension}, or a text that
/// says why it cannot be saved. With `isText` a blob is a text's bytes.
function valueFile(value, isText) {
  if (value instanceof JsonNumber) return {parts: [value.text], type: 'text/plain', extension: 'txt'};
  if (typeof value === 'string') {
    return {parts: [new TextEncoder().encode(value)], type: 'text/plain;charset=utf-8', extension: 'txt'};
  }
  if (isBlob(value)) {
    var bytes = wholeBlob(value);
    if (!bytes) return tooLarge(value.blob_bytes);
    if (isText) return {parts: [bytes], type: 'text/plain', extension: 'txt'};
    var kind = imageKind(bytes);
    return kind ? {parts: [bytes], type: kind.type, extension: kind.type.slice(6).replace('jpeg', 'jpg')} :
                  {parts: [bytes], type: 'application/octet-stream', extension: 'bin'};
  }
  if (isBigText(value)) return tooLarge(value.text_bytes);
  if (value === null) return 'the value is NULL now';
  return 'the value could not be read exactly';
}

function valueFileName(column, extension) {
  return (text(column.name).replace(/[^A-Za-z0-9_.-]+/g, '_') || 'value') + '.' + extension;
}

/// Adds the "Save value" button of the cell `row`[`index`] to `bar`; what
/// it did is told in `status`.
function saveValueButton(bar, status, column, row, index) {
  var button = make('button', 'ghost', 'Save value');
  button.type = 'button';
  button.addEventListener('click', function() {
    var source = valueSource(row, index);
    if (!source) {
      status.textContent = 'Save value: this result cannot be asked for again';
      return;
    }
    button.disabled = true;
    status.textContent = 'Saving...';
    fetchExactValue(source).then(function(exact) {
      if (typeof exact.value !== 'string' || exact.value.indexOf('\uFFFD') < 0) return valueFile(exact.value, false);
      var again = bytesSource(source, exact.width);
      if (!again) return 'the text is not UTF-8, and this result cannot be asked for its bytes';
      return fetchExactValue(again).then(function(bytes) { return valueFile(bytes.value, true); });
    }).then(function(file) {
      if (typeof file === 'string') throw new Error(file);
      var name = valueFileName(column, file.extension);
      saveFile(name, file.parts, file.type);
      status.textContent = 'Saved ' + name;
    }).catch(function(error) {
      status.textContent = 'Save value: ' + failureText(error);
    }).finally(function() {
      button.disabled = false;
    });
  });
  bar.appendChild(button);
}
