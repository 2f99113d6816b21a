// A row and its references, from the value panel: "Show row" lists every
// column of the cell's row with its value; "Referenced by" lists, for each
// foreign key of another table that points at the open table, that table
// and how many of its rows refer to this row, as a link that opens them.

/// The foreign keys of other tables that point at `table`, as groups
/// {table, from: [...], to: [...]} (an empty `to` name: the primary key).
function referencingKeys(table) {
  return queryRows('referenced by',
      'SELECT m.name, p.id, p.seq, p."from", p."to" FROM sqlite_master m, pragma_foreign_key_list(m.name) p ' +
      'WHERE m.type = \'table\' AND p."table" = ' + sqlString(table.name) + ' COLLATE NOCASE ORDER BY 1, 2, 3')
      .then(function(rows) {
        var groups = {};
        rows.forEach(function(r) {
          var key = text(r[0]) + '\n' + r[1];
          var group = groups[key] || (groups[key] = {table: text(r[0]), from: [], to: []});
          group.from[r[2]] = text(r[3]);
          group.to[r[2]] = r[4] === null ? '' : text(r[4]);
        });
        return Object.keys(groups).map(function(key) { return groups[key]; });
      });
}

/// The filters on the referencing table that keep the rows pointing at
/// `row` (in `columns`), or null when this row lacks a key column.
function referenceFilters(group, table, row, columns) {
  var keys = primaryKeyNames(table);
  var filters = {};
  for (var i = 0; i < group.from.length; i++) {
    var to = group.to[i] || keys[i];
    var index = columns.findIndex(function(c) { return text(c.name) === to; });
    if (index < 0 || row[index] === null || row[index] === undefined) return null;
    filters[group.from[i]] = facetFilter(row[index]);
  }
  return filters;
}

/// Opens `name` (listed, or found by name) filtered by `filters`.
function openReferencing(name, filters) {
  var listed = schemaTable(name);
  var found = listed ? Promise.resolve(listed) : foundTable(name, 'table');
  found.then(function(table) {
    if (!listed) foundTables.push(table);
    markTable(table);
    openTable(table, filters);
  }, function(error) { err(failureText(error)); });
}

function showReferences(row, columns) {
  var table = view.table;
  var body = openPanel('row', 'Referenced by: ' + text(table.name));
  var list = make('ul', 'refs');
  body.appendChild(list);
  placeholder(list, 'Looking...');
  referencingKeys(table).then(function(groups) {
    if (panelOwner !== 'row') return;
    empty(list);
    var wanted = groups.map(function(g) { return {group: g, filters: referenceFilters(g, table, row, columns)}; })
        .filter(function(w) { return w.filters; });
    if (!wanted.length) list.appendChild(make('li', 'empty', 'No foreign key points at this table.'));
    wanted.forEach(function(w) {
      var item = make('li');
      list.appendChild(item);
      var other = {name: w.group.table, columns: w.group.from.map(function(name) { return {name: name}; })};
      queryRows('referenced by ' + w.group.table + w.group.from.join(','),
                'SELECT count(*) FROM ' + quotedName(other.name) + whereClause(filterConditions(other, w.filters)))
          .then(function(rows) {
            var link = make('button', 'ghost', w.group.table + ' (' + grouped(rows[0][0]) + ')');
            link.type = 'button';
            link.addEventListener('click', function() { openReferencing(w.group.table, w.filters); });
            item.appendChild(link);
          }, function(error) { item.textContent = w.group.table + ': ' + failureText(error); });
    });
  }, function(error) { showError(list, failureText(error)); });
}

/// Adds "Referenced by" for `row` to `bar` when the row is a table's.
function referencesButton(bar, row, columns) {
  if (!view || view.kind !== 'table') return;
  var refs = make('button', 'ghost', 'Referenced by');
  refs.type = 'button';
  refs.addEventListener('click', function() { showReferences(row, columns); });
  bar.appendChild(refs);
}

// The row's page leads on to the rows that refer to it, as its cells do.
function showRow(row, columns) {
  var body = openPanel('row', view && view.kind === 'table' ? 'Row of ' + text(view.table.name) : 'Row');
  body.appendChild(textTable(['column', 'value'], columns.map(function(column, i) {
    return [text(column.name), cellContent(row[i]).shown];
  })));
  var bar = make('div', 'row');
  referencesButton(bar, row, columns);
  if (bar.firstChild) body.appendChild(bar);
}

/// The buttons under a cell's value: its row, and the rows that refer to it.
function rowButtons(bar, row, columns) {
  var show = make('button', 'ghost', 'Show row');
  show.type = 'button';
  show.addEventListener('click', function() { showRow(row, columns); });
  bar.appendChild(show);
  referencesButton(bar, row, columns);
}
