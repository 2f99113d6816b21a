// The cell viewer: a click on a cell shows its whole value in the panel,
// text with its line breaks, JSON text indented, a blob's size and bytes.

var JSON_INDENT = '  ';

// Re-indents JSON text token by token, so that numbers keep their exact
// digits (parsing would round integers beyond 2^53).
function indentJson(source) {
  var out = '';
  var depth = 0;
  var i = 0;
  function newline() { out += '\n' + JSON_INDENT.repeat(depth); }
  while (i < source.length) {
    var ch = source[i];
    if (ch === '"') {
      var end = i + 1;
      while (source[end] !== '"') end += source[end] === '\\' ? 2 : 1;
      out += source.slice(i, end + 1);
      i = end + 1;
      continue;
    }
    if (ch === '{' || ch === '[') {
      var close = ch === '{' ? '}' : ']';
      var next = source.slice(i + 1).trimStart()[0];
      if (next === close) {
        out += ch + close;
        i = source.indexOf(close, i) + 1;
        continue;
      }
      out += ch;
      depth++;
      newline();
    } else if (ch === '}' || ch === ']') {
      depth--;
      newline();
      out += ch;
    } else if (ch === ',') {
      out += ',';
      newline();
    } else if (ch === ':') {
      out += ': ';
    } else if (!/\s/.test(ch)) {
      out += ch;
    }
    i++;
  }
  return out;
}

/// The JSON text indented, or null when the text is not a JSON object or
/// array.
function prettyJson(value) {
  var trimmed = value.trim();
  if (!/^[{[]/.test(trimmed)) return null;
  try {
    JSON.parse(trimmed);
  } catch (e) {
    return null;
  }
  return indentJson(trimmed);
}

function hexRows(hex) {
  var pairs = hex.replace(/\.+$/, '').match(/../g) || [];
  var lines = [];
  for (var i = 0; i < pairs.length; i += 16) lines.push(pairs.slice(i, i + 16).join(' '));
  return lines.join('\n') + (/\.\.\.$/.test(hex) ? '\n...' : '');
}

/// What the viewer shows for a cell: {kind, shown, copied}.
function cellContent(value) {
  if (value === null || value === undefined) return {kind: 'NULL', shown: 'NULL', copied: ''};
  if (isBlob(value)) {
    var size = value.blob_bytes + (value.blob_bytes === 1 ? ' byte' : ' bytes');
    var part = /\.\.\.$/.test(text(value.hex)) ? ', first ' + text(value.hex).replace(/\.+$/, '').length / 2 + ' shown' : '';
    return {kind: 'blob, ' + size + part, shown: hexRows(text(value.hex)), copied: text(value.hex)};
  }
  if (isBigText(value)) {
    return {kind: 'text, ' + plural(value.text_bytes, 'byte') + ', the first ' +
                plural(utf8Length(value.text), 'byte') + ' shown',
            shown: showInvisible(value.text), copied: value.text};
  }
  if (isNumeric(value)) return {kind: 'number', shown: String(value), copied: String(value)};
  if (typeof value !== 'string')
    return {kind: 'value', shown: stringifyExact(value), copied: stringifyExact(value)};
  var pretty = prettyJson(value);
  if (pretty !== null) return {kind: 'JSON text', shown: showInvisible(pretty), copied: value};
  return {kind: 'text, ' + plural(value.length, 'character'), shown: showInvisible(value), copied: value};
}

function utf8Length(value) { return new TextEncoder().encode(value).length; }

/// The statement that gives the value of `row` (an array of the grid's
/// answer) at column `index` alone, or null when the result cannot be
/// asked again (a statement that runs as typed): by its key in a table
/// opened from the panel, else by its place in the result.
function cellStatement(row, index) {
  var v = view;
  var at = lastData && lastData.rows ? lastData.rows.indexOf(row) : -1;
  if (!isPaged(v) || at < 0) return null;
  var column = (lastData.columns || [])[index];
  if (isKeyed(v) && v.keys && v.keys[at] !== undefined && column) {
    return 'SELECT ' + quotedName(column.name) + ' FROM ' + quotedName(v.table.name) + ' WHERE ' +
        v.key + ' = ' + v.keys[at];
  }
  return 'SELECT * FROM (\n' + resultBody(v) + '\n)' + orderClause(v) + ' LIMIT 1 OFFSET ' +
      (v.page * v.size + at);
}

/// The column of the cell within the answer to `cellStatement`'s `sql`: a
/// statement by key asks for that one column.
function cellColumnIn(sql, index) { return /^SELECT "/.test(sql) ? 0 : index; }

/// POSTs `sql` to the query action for its values in the exact form.
function postExactQuery(sql, signal) {
  var url = apiUrl('query', 'db=' + encodeURIComponent(currentDb) + '&exact=1');
  var headers = withPassword({'Content-Type': 'application/x-www-form-urlencoded'});
  return fetch(url, {method: 'POST', headers: headers, body: 'sql=' + encodeURIComponent(sql), signal: signal});
}

// An exact answer, with every number as the text the program wrote when
// `numbersAsText` is set. A text too long for the page's reader of exact
// numbers goes to the browser's own, whose numbers are no longer exact.
function readExactAnswer(response, numbersAsText) {
  return response.text().then(function(body) {
    try {
      return parseJsonExact(body, numbersAsText);
    } catch (e) {
      try {
        return JSON.parse(body);
      } catch (e2) {
        throw new Error(notJsonText(response.status, body));
      }
    }
  });
}

/// Asks the program for the value again in the exact form (reals with all
/// their digits, blobs whole, every control byte kept, text up to 16 MiB)
/// and shows it in place of the grid's, through `show`.
function showExactValue(row, index, show) {
  var sql = cellStatement(row, index);
  if (sql === null) return;
  abandonRequest('cell');
  var controller = new AbortController();
  latestRequest.cell = {seq: ++requestSeq, controller: controller};
  postExactQuery(sql, controller.signal)
      .then(function(response) { return readExactAnswer(response, false); })
      .then(function(answer) {
        var current = latestRequest.cell && latestRequest.cell.controller === controller;
        if (!current || panelOwner !== 'cell' || !isEnvelope(answer) || answer.ok !== true ||
            answer.error || !answer.rows || !answer.rows.length) {
          return;
        }
        show(answer.rows[0][cellColumnIn(sql, index)], true);
      }, function() {});
}

function showCell(value, column, row, index) {
  var body = openPanel('cell', 'Value of ' + text(column.name));
  var hint = make('div', 'hint');
  var block = textBlock('');
  var content = null;
  function show(shown, exact) {
    content = cellContent(shown);
    hint.textContent = content.kind + (exact ? DOT + 'exact' : '');
    block.textContent = content.shown;
    var bytes = isBlob(shown) ? wholeBlob(shown) : null;
    if (bytes) blobImage(bytes, block);
  }
  show(value, false);
  body.appendChild(hint);
  body.appendChild(block);
  var buttons = make('div', 'row');
  var button = make('button', 'ghost', 'Copy value');
  button.type = 'button';
  button.addEventListener('click', function() { copy(content.copied, 'Value'); });
  buttons.appendChild(button);
  var saved = make('div', 'hint');
  saved.setAttribute('role', 'status');
  if (row && value !== null && value !== undefined) saveValueButton(buttons, saved, column, row, index);
  rowButtons(buttons, row, lastData.columns || []);
  body.appendChild(buttons);
  body.appendChild(saved);
  if (row && value !== null && value !== undefined) showExactValue(row, index, show);
}
