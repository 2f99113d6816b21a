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
    return {kind: 'blob, ' + size, shown: hexRows(text(value.hex)), copied: text(value.hex)};
  }
  if (isNumeric(value)) return {kind: 'number', shown: String(value), copied: String(value)};
  if (typeof value !== 'string')
    return {kind: 'value', shown: stringifyExact(value), copied: stringifyExact(value)};
  var pretty = prettyJson(value);
  if (pretty !== null) return {kind: 'JSON text', shown: pretty, copied: value};
  return {kind: 'text, ' + plural(value.length, 'character'), shown: value, copied: value};
}

function showCell(value, column) {
  var content = cellContent(value);
  var body = openPanel('cell', 'Value of ' + text(column.name));
  body.appendChild(make('div', 'hint', content.kind));
  body.appendChild(textBlock(content.shown));
  var row = make('div', 'row');
  var button = make('button', 'ghost', 'Copy value');
  button.type = 'button';
  button.addEventListener('click', function() { copy(content.copied, 'Value'); });
  row.appendChild(button);
  body.appendChild(row);
}

// The keyboard reaches the values too: the grid's first cell is one tab
// stop, the arrow keys move between cells, Enter or Space opens a value.
var CELL_MOVES = {ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, -1], ArrowRight: [0, 1]};

function moveCellFocus(td, rowStep, columnStep) {
  var tr = td.parentNode;
  var row = rowStep < 0 ? tr.previousElementSibling : rowStep > 0 ? tr.nextElementSibling : tr;
  var target = row && row.cells[td.cellIndex + columnStep];
  if (!target) return;
  td.tabIndex = -1;
  target.tabIndex = 0;
  target.focus();
}

/// Makes the body cells of the drawn `grid` reachable by keyboard.
function cellKeys(grid) {
  var body = grid.tBodies[0];
  if (!body.rows.length || !body.rows[0].cells.length) return;
  body.rows[0].cells[0].tabIndex = 0;
  body.addEventListener('keydown', function(event) {
    var td = event.target;
    if (td.tagName !== 'TD') return;  // a link inside a cell keeps its keys
    var move = CELL_MOVES[event.key];
    if (move)
      moveCellFocus(td, move[0], move[1]);
    else if (event.key === 'Enter' || event.key === ' ')
      td.click();
    else
      return;
    event.preventDefault();
  });
}
