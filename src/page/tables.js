// The tables panel of the chosen database; a table button runs SELECT * on
// that table.

function quotedName(name) { return '"' + text(name).replace(/"/g, '""') + '"'; }

var schemaTables = [];  // the entries of the last schema answer

function chooseTable(table) {
  markTable(table);
  openTable(table, {});
}

function tableButton(table) {
  var button = make('button', 'titem');
  button.type = 'button';
  button.appendChild(document.createTextNode(text(table.name)));
  var rows = table.rows === null || table.rows === undefined ? '?' : table.rows;
  button.appendChild(make('span', 'n', '  ' + rows + (table.type === 'view' ? ' view' : '')));
  button.title = (table.columns || [])
                     .map(function(column) { return text(column.name) + ' ' + text(column.type); })
                     .join('\n');
  button.addEventListener('click', function() { chooseTable(table); });
  return button;
}

// A schema answer the page can show: every entry a record; the list may
// be missing (no tables).
function isTableList(answer) {
  return answer.tables === undefined || isListOf(answer.tables, function(table) {
           return isRecord(table) &&
               (table.columns === undefined || isListOf(table.columns, isRecord));
         });
}

function showSchema(path, answer) {
  if (!isEnvelope(answer) || (answer.ok === true && !isTableList(answer))) {
    showError(tables, 'Error: the answer is not a table list');
    return;
  }
  if (answer.ok !== true) {
    showError(tables, withDetail(errorOf(answer, 'error'), answer));
    return;
  }
  empty(tables);
  var list = answer.tables || [];
  schemaTables = list;
  resetTableSearch(answer, list);
  dbhint.textContent = path + DOT + plural(list.length, 'table') + DOT + 'read-only';
  if (!list.length) {
    placeholder(tables, 'No tables.');
    return;
  }
  list.forEach(function(table) { tables.appendChild(tableButton(table)); });
  if (editor) editor.setSchema(editorSchema(list));
}

/// Resolves to the schema answer once it is shown (null after a failure).
function selectDb(path) {
  currentDb = path;
  schemaTables = [];
  chosenTable = null;
  empty(tables);
  if (!path) {
    abandonRequest('schema');
    placeholder(tables, 'Select a database.');
    return Promise.resolve(null);
  }
  placeholder(tables, 'Loading schema...');
  return api('schema', 'db=' + encodeURIComponent(path))
      .then(
          function(answer) {
            showSchema(path, answer);
            return answer;
          },
          function(error) {
            showError(tables, 'Error: ' + failureText(error));
            return null;
          });
}
