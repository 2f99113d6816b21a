// The tables panel of the chosen database; a table button runs SELECT * on
// that table.

function quotedName(name) { return '"' + text(name).replace(/"/g, '""') + '"'; }

function chooseTable(button, name) {
  tables.querySelectorAll('button').forEach(function(other) { other.classList.remove('on'); });
  button.classList.add('on');
  sqlBox.value = 'SELECT * FROM ' + quotedName(name) + ' LIMIT 100;';
  runQuery();
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
  button.addEventListener('click', function() { chooseTable(button, table.name); });
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
  dbhint.textContent = path + DOT + plural(list.length, 'table') + DOT + 'read-only';
  if (!list.length) {
    placeholder(tables, 'No tables.');
    return;
  }
  list.forEach(function(table) { tables.appendChild(tableButton(table)); });
}

function selectDb(path) {
  currentDb = path;
  empty(tables);
  if (!path) {
    abandonRequest('schema');
    placeholder(tables, 'Select a database.');
    return;
  }
  placeholder(tables, 'Loading schema...');
  api('schema', 'db=' + encodeURIComponent(path))
      .then(
          function(answer) { showSchema(path, answer); },
          function(error) { showError(tables, 'Error: ' + failureText(error)); });
}
