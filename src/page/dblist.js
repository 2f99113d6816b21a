// The database list: sorted by path, each with its modification time and
// size, and a filter box once there are more than ten. The filter never
// takes away the open database: it stays listed and selected, and the box
// says "no match" when no other path holds the text.

var DB_FILTER_FROM = 11;
var dbfilter = byId('dbfilter');
var dbmatch = byId('dbmatch');
var listedDbs = [];

function byPath(a, b) {
  var x = text(a.path);
  var y = text(b.path);
  return x < y ? -1 : x > y ? 1 : 0;
}

// "2024-05-01T09:30:00Z" reads "2024-05-01 09:30 UTC".
function modifiedText(mtime) {
  var match = /^(\d{4}-\d\d-\d\d)T(\d\d:\d\d)/.exec(text(mtime));
  return match ? match[1] + ' ' + match[2] + ' UTC' : text(mtime);
}

function dbLabel(db) {
  return text(db.path) + DOT + modifiedText(db.mtime) + DOT + bytes(db.bytes);
}

function matchesDbFilter(db) {
  var wanted = dbfilter.value.toLowerCase();
  return !wanted || text(db.path).toLowerCase().indexOf(wanted) >= 0;
}

function keptByDbFilter(db) { return matchesDbFilter(db) || text(db.path) === currentDb; }

/// Adds the options of `list` that the filter box lets through, and the
/// open database, sorted by path; returns the list sorted.
function addDbOptions(list) {
  listedDbs = list.slice().sort(byPath);
  dbfilter.hidden = listedDbs.length < DB_FILTER_FROM;
  if (dbfilter.hidden) dbfilter.value = '';
  dbmatch.textContent = dbfilter.value && !listedDbs.some(matchesDbFilter) ? 'no match' : '';
  listedDbs.filter(keptByDbFilter)
      .forEach(function(db) { dbsel.appendChild(option(text(db.path), dbLabel(db))); });
  return listedDbs;
}

dbfilter.addEventListener('input', function() {
  var chosen = dbsel.value;
  while (dbsel.options.length > 1) dbsel.remove(1);
  addDbOptions(listedDbs);
  dbsel.value = chosen;
  // A database the arrow keys rested on, not yet loaded, may be filtered
  // out: the open one stays the choice.
  if (dbsel.value !== chosen) dbsel.value = currentDb;
});
