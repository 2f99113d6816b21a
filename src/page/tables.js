// The tables panel of the chosen database; a table button runs SELECT * on
// that table.

function quotedName(name) { return '"' + text(name).replace(/"/g, '""') + '"'; }

var schemaTables = [];  // the entries of the last schema answer

function chooseTable(table) {
  markTable(table);
  openTable(table, {});
}

// The count of a table whose count the schema left unknown (null: it did
// not finish in its share of the schema's time), asked on its own request,
// which has the whole budget. `count` is the span that shows it.
function countTable(table, count, countButton) {
  countButton.disabled = true;
  countButton.textContent = 'Counting...';
  queryRows('table count', 'SELECT count(*) FROM ' + quotedName(table.name)).then(function(rows) {
    var n = rows.length && rows[0].length ? rows[0][0] : null;
    if (!isNumeric(n)) throw new Error('stopped at the time budget');
    table.rows = n;
    count.textContent = '  ' + n + (table.type === 'view' ? ' view' : '');
    countButton.remove();
  }).catch(function(error) {
    countButton.disabled = false;
    countButton.textContent = 'Count rows';
    countButton.title = 'Could not count: ' + failureText(error);
  });
}

function tableButton(table) {
  var button = make('button', 'titem');
  button.type = 'button';
  button.appendChild(document.createTextNode(text(table.name)));
  var unknown = table.rows === null || table.rows === undefined;
  var count = make('span', 'n', '  ' + (unknown ? '?' : table.rows) + (table.type === 'view' ? ' view' : ''));
  button.appendChild(count);
  if (unknown) {
    count.title = 'not counted within the time the table list had';
    var countButton = make('button', 'ghost count', 'Count rows');
    countButton.type = 'button';
    countButton.setAttribute('aria-label', 'Count the rows of ' + text(table.name));
    countButton.addEventListener('click', function() { countTable(table, count, countButton); });
    button.countButton = countButton;
  }
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
  list.forEach(function(table) {
    var button = tableButton(table);
    tables.appendChild(button);
    if (button.countButton) tables.appendChild(button.countButton);
  });
  if (editor) editor.setSchema(editorSchema(list));
}

/// Resolves to the schema answer once it is shown (null after a failure).
function selectDb(path) {
  if (path !== currentDb) closeDatabasePanel();
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
