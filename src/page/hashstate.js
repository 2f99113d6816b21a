// State that lasts: the chosen database, table, filters and statement live
// in the page address's hash, so that a reload, a bookmark or Back brings
// the same view again.

var writtenHash = '';  // the hash this page wrote last
var restoringDb = '';  // the database a hash names, until the list is shown

/// The hash for view `v`: db, then table and filter for a table, sql, and
/// a sort made by the database as the column's position, negative when
/// descending.
function hashFor(v) {
  var fields = new URLSearchParams();
  fields.set('db', currentDb);
  if (v.kind === 'table') {
    fields.set('table', text(v.table.name));
    if (Object.keys(v.filters).length) fields.set('filter', JSON.stringify(v.filters));
  }
  fields.set('sql', v.text);
  if (v.sort) fields.set('sort', String((v.sort.index + 1) * v.sort.dir));
  return '#' + fields.toString();
}

function writeHash(v) {
  var hash = hashFor(v);
  if (location.hash === hash) return;
  writtenHash = hash;
  location.hash = hash;  // a new history entry, so Back returns to the view before
}

function hashFilters(fields) {
  try {
    var filters = JSON.parse(fields.get('filter') || '{}');
    return filters && typeof filters === 'object' && !Array.isArray(filters) ? filters : {};
  } catch (e) {
    return {};
  }
}

function hashSort(fields) {
  var position = parseInt(fields.get('sort') || '', 10);
  return position ? {index: Math.abs(position) - 1, dir: position > 0 ? 1 : -1} : null;
}

function markTable(table) {
  chosenTable = table;
  tables.querySelectorAll('.found').forEach(function(button) {
    button.classList.remove('on');
    button.removeAttribute('aria-current');
  });
  var buttons = tables.querySelectorAll('.titem:not(.found)');
  schemaTables.forEach(function(entry, i) {
    if (!buttons[i]) return;
    buttons[i].classList.toggle('on', entry === table);
    if (entry === table) {
      buttons[i].setAttribute('aria-current', 'true');
    } else {
      buttons[i].removeAttribute('aria-current');
    }
  });
}

// Shows again what the hash names once the database's tables are known: a
// table (filtered as it was) or a statement. A database that is gone shows
// the program's error in the tables panel and the results area.
function restoreView(fields, schema) {
  if (!isEnvelope(schema) || schema.ok !== true) {
    if (isEnvelope(schema)) err(withDetail(errorOf(schema, 'error'), schema));
    return;
  }
  var sql = fields.get('sql') || '';
  var sort = hashSort(fields);
  var table = fields.has('table') ? schemaTable(fields.get('table')) : null;
  if (table) {
    markTable(table);
    var filters = hashFilters(fields);
    if (!sql || sql === tableStatement(table, filters)) {
      openTable(table, filters, sort);
      return;
    }
  }
  if (!sql.trim()) return;
  setSqlText(sql);
  var v = viewForStatement(sql);
  if (sort && isPaged(v)) {
    v.sort = sort;
    sortCol = sort.index;
    sortDir = sort.dir;
  }
  showPage(v, 0);
}

/// Restores the view the address's hash names; false when it names none.
function restoreFromHash() {
  var fields = new URLSearchParams(location.hash.slice(1));
  var db = fields.get('db');
  if (!db) return false;
  writtenHash = location.hash;
  restoringDb = db;
  dbsel.value = db;
  selectDb(db).then(function(schema) { restoreView(fields, schema); });
  return true;
}

window.addEventListener('hashchange', function() {
  if (location.hash !== writtenHash) restoreFromHash();
});
