// "Filter tables": narrows the tables panel by name. When the schema answer
// left tables out, the search also asks sqlite_master for the rest, and a
// table found there opens like a listed one; the panel then says how many
// of how many tables it lists.

var tablefilter = byId('tablefilter');
var tablecount = byId('tablecount');
var FOUND_MAX = 50;  // tables found beyond the list, shown at most
var schemaCut = false;
var foundTables = [];  // table entries found in sqlite_master, not listed

var NAMED_OBJECTS = 'FROM sqlite_master WHERE type IN (\'table\', \'view\') AND name NOT LIKE \'sqlite_%\'';

/// After a schema answer: empties the search, and when the list was cut,
/// counts every table and view to say "200 of 1,000 tables".
function resetTableSearch(answer, list) {
  tablefilter.value = '';
  foundTables = [];
  tablecount.textContent = '';
  schemaCut = answer.truncated === true;
  if (!schemaCut) return;
  var db = currentDb;
  queryRows('table count', 'SELECT count(*) ' + NAMED_OBJECTS).then(function(rows) {
    if (db !== currentDb || !rows[0]) return;
    tablecount.textContent = grouped(list.length) + ' of ' + grouped(rows[0][0]) + ' tables';
  }, function() {});
}

/// The entry of a table found by name, with its columns, for openTable.
function foundTable(name, type) {
  return queryRows('found table', 'PRAGMA table_info(' + quotedName(name) + ')').then(function(rows) {
    return {
      name: name,
      type: type,
      rows: null,
      columns: rows.map(function(r) { return {name: text(r[1]), type: text(r[2]), pk: r[5]}; })
    };
  });
}

function foundButton(name, type) {
  var button = make('button', 'titem found', name);
  button.type = 'button';
  if (type === 'view') button.appendChild(make('span', 'n', '  view'));
  button.addEventListener('click', function() {
    foundTable(name, type).then(function(table) {
      foundTables.push(table);
      markTable(table);
      button.classList.add('on');
      button.setAttribute('aria-current', 'true');
      openTable(table, {});
    }, function(error) { err(failureText(error)); });
  });
  return button;
}

function dropFound() {
  tables.querySelectorAll('.found, .empty').forEach(function(element) { element.remove(); });
}

function filterTables() {
  var wanted = tablefilter.value.toLowerCase();
  var shown = 0;
  tables.querySelectorAll('.titem:not(.found)').forEach(function(button) {
    button.hidden = wanted !== '' && button.firstChild.textContent.toLowerCase().indexOf(wanted) < 0;
    if (!button.hidden) shown++;
  });
  dropFound();
  if (!wanted || !schemaCut) {
    if (!shown && wanted) tables.appendChild(make('div', 'empty', 'No table matches.'));
    return;
  }
  var listed = schemaTables.map(function(t) { return text(t.name); });
  var typed = tablefilter.value;
  queryRows('table search', 'SELECT name, type ' + NAMED_OBJECTS + ' AND instr(lower(name), lower(' +
      sqlString(typed) + ')) > 0 ORDER BY name LIMIT ' + FOUND_MAX).then(function(rows) {
    if (tablefilter.value !== typed) return;
    dropFound();
    var found = rows.filter(function(row) { return listed.indexOf(text(row[0])) < 0; });
    found.forEach(function(row) { tables.appendChild(foundButton(text(row[0]), text(row[1]))); });
    if (!shown && !found.length) tables.appendChild(make('div', 'empty', 'No table matches.'));
  }, function(error) { showError(tables, failureText(error)); });
}

tablefilter.addEventListener('input', filterTables);
