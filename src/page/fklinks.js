// Foreign keys as links: in a table's grid, a value of a foreign-key column
// opens the referenced table filtered to the referenced row.

var foreignKeyCache = {};  // database + table -> promise of its key groups

/// The foreign keys of `table` as groups {table, from: [...], to: [...]};
/// a missing `to` name means the referenced table's primary key.
function foreignKeys(table) {
  var cacheKey = currentDb + '\n' + table.name;
  if (!foreignKeyCache[cacheKey]) {
    foreignKeyCache[cacheKey] =
        queryRows(
            'foreign keys ' + cacheKey, 'PRAGMA foreign_key_list(' + quotedName(table.name) + ')')
            .then(groupForeignKeys, function() {
              delete foreignKeyCache[cacheKey];
              return [];
            });
  }
  return foreignKeyCache[cacheKey];
}

// Rows of the PRAGMA: id, seq, table, from, to, on_update, on_delete, match.
function groupForeignKeys(rows) {
  var groups = {};
  rows.forEach(function(row) {
    var group = groups[row[0]] || (groups[row[0]] = {table: text(row[2]), from: [], to: []});
    group.from[row[1]] = text(row[3]);
    group.to[row[1]] = row[4] === null ? '' : text(row[4]);
  });
  return Object.keys(groups).map(function(id) { return groups[id]; });
}

function schemaTable(name) {
  var known = schemaTables.concat(foundTables);
  return known.find(function(t) { return text(t.name) === name; }) ||
      known.find(function(t) { return text(t.name).toLowerCase() === name.toLowerCase(); });
}

function primaryKeyNames(table) {
  return (table.columns || [])
      .filter(function(c) { return c.pk > 0; })
      .sort(function(a, b) { return a.pk - b.pk; })
      .map(function(c) { return text(c.name); });
}

function exactFilter(value) { return '=' + String(value); }

/// Opens the table that `group` references, filtered to the row that the
/// values of `row` (in the grid's `columns`) point to.
function followForeignKey(group, row, columns) {
  var target = schemaTable(group.table);
  if (!target) return;
  var keys = primaryKeyNames(target);
  var filters = {};
  group.from.forEach(function(from, i) {
    var index = columns.findIndex(function(c) { return text(c.name) === from; });
    var to = group.to[i] || keys[i];
    if (index >= 0 && to) filters[to] = exactFilter(row[index]);
  });
  markTable(target);
  openTable(target, filters);
}

function linkCell(td, group, row, columns) {
  td.classList.add('fk');
  td.title = td.title + ' \u2192 ' + group.table;
  var link = make('button', 'fklink', td.textContent);
  link.type = 'button';
  // Named for where it leads; reached through its cell, so the grid stays
  // one tab stop.
  link.setAttribute('aria-label', text(group.from[0]).replace(/_?id$/i, '') + ' ' + td.textContent + ' in ' + group.table);
  link.tabIndex = -1;
  link.addEventListener('click', function(event) {
    event.stopPropagation();
    followForeignKey(group, row, columns);
  });
  empty(td);
  td.appendChild(link);
}

/// Turns the foreign-key values of `g`, the grid on screen, into links once
/// the table's keys are known: the drawn cells now, and the grid's later
/// windows as they are drawn. Null values link nowhere.
function linkForeignKeys(g) {
  if (!view || view.kind !== 'table') return;
  var shownView = view;
  foreignKeys(view.table).then(function(groups) {
    if (view !== shownView || grid !== g || !groups.length) return;
    var links = {};
    groups.forEach(function(group) {
      group.from.forEach(function(from) {
        var index = g.columns.findIndex(function(c) { return text(c.name) === from; });
        if (index >= 0) links[index] = group;
      });
    });
    g.links = links;
    for (var r = g.top; r < g.bottom; r++) {
      for (var c = g.first; c < g.last; c++) {
        var index = g.shown[c];
        var value = g.rows[r][index];
        if (links[index] && !isMissing(value) && !isBlob(value))
          linkCell(drawnCell(g, r, c), links[index], g.rows[r], g.columns);
      }
    }
  });
}
