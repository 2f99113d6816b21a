// The statement box: the page's plain text area, replaced by the editor
// library once it has loaded. When the library cannot be had, the text
// area stays and does everything but highlight and complete.

var editor = null;  // the editor's handle, once it has replaced the text area

function sqlText() { return editor ? editor.text() : sqlBox.value; }

function setSqlText(value) {
  if (editor) {
    editor.setText(value);
  } else {
    sqlBox.value = value;
  }
}

function focusSql() {
  if (editor) {
    editor.focus();
  } else {
    sqlBox.focus();
  }
}

function sqlSelection() {
  return editor ? editor.selection() : {from: sqlBox.selectionStart, to: sqlBox.selectionEnd};
}

/// What Run and Ctrl+Enter run: the selected text when there is one, else
/// the statement the cursor is in (the box may hold several, each ended by
/// a semicolon), else the whole text. A cursor on blank space after the
/// last statement takes the statement before it.
function statementToRun() {
  var sql = sqlText();
  var at = sqlSelection();
  if (at.to > at.from) return sql.slice(at.from, at.to);
  var tokens = sqlTokens(sql);
  if (!tokens) return sql;
  var statements = [];
  var current = {start: 0, end: sql.length, words: 0};
  tokens.forEach(function(token) {
    if (token.kind === ';') {
      current.end = token.end;
      statements.push(current);
      current = {start: token.end, end: sql.length, words: 0};
    } else if (token.kind !== 'comment') {
      current.words++;
    }
  });
  statements.push(current);
  var spoken = statements.filter(function(s) { return s.words > 0; });
  if (spoken.length < 2) return sql;
  var chosen = spoken[0];
  spoken.forEach(function(s) {
    if (s.start <= at.from) chosen = s;
  });
  return sql.slice(chosen.start, chosen.end).trim();
}

/// The names completion offers: every table of the schema answer `list`
/// with its columns.
function editorSchema(list) {
  var names = {};
  list.forEach(function(table) {
    names[text(table.name)] = (table.columns || []).map(function(column) { return text(column.name); });
  });
  return names;
}

function startEditor() {
  loadAsset('editor').then(function(module) {
    var hadFocus = document.activeElement === sqlBox;
    editor = module.createEditor(sqlBox, runQuery);
    editor.setSchema(editorSchema(schemaTables));
    if (hadFocus) editor.focus();
  }, function() {});
}
