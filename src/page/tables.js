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

function showSchema(path, answer) {
  empty(tables);
  if (!answer || answer.ok !== true) {
    var message = (answer && answer.error) || 'error';
    if (answer && answer.detail) message += ': ' + answer.detail;
    tables.appendChild(make('div', 'err', message));
    return;
  }
  var list = answer.tables || [];
  schemaTables = list;
  dbhint.textContent = path + DOT + plural(list.length, 'table') + DOT + 'read-only';
  if (!list.length) {
    placeholder(tables, 'No tables.');
    return;
  }
  list.forEach(function(table) { tables.appendChild(tableButton(table)); });
}

/// Resolves to the schema answer once it is shown (null after a failure).
function selectDb(path) {
  currentDb = path;
  schemaTables = [];
  chosenTable = null;
  empty(tables);
  if (!path) {
    placeholder(tables, 'Select a database.');
    return Promise.resolve(null);
  }
  placeholder(tables, 'Loading schema...');
  return api('schema', 'db=' + encodeURIComponent(path))
      .then(function(answer) {
        showSchema(path, answer);
        return answer;
      })
      .catch(function(error) {
        empty(tables);
        tables.appendChild(make('div', 'err', 'Error: ' + failureText(error)));
        return null;
      });
}
