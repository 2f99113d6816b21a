// "History": the last statements run on each database, newest first, kept
// in the browser's storage.

var HISTORY_SIZE = 50;

function historyKey(db) { return 'sqlite_history:' + db; }

function readHistory(db) {
  try {
    var list = JSON.parse(localStorage.getItem(historyKey(db)) || '[]');
    return Array.isArray(list) ? list.filter(function(s) { return typeof s === 'string'; }) : [];
  } catch (e) {
    return [];
  }
}

/// Puts `sql` first in the database's history, once.
function recordHistory(db, sql) {
  var list = readHistory(db).filter(function(s) { return s !== sql; });
  list.unshift(sql);
  try {
    localStorage.setItem(historyKey(db), JSON.stringify(list.slice(0, HISTORY_SIZE)));
  } catch (e) {
  }
}

function showHistory() {
  var body = openPanel('history', 'History');
  var list = currentDb ? readHistory(currentDb) : [];
  if (!list.length) {
    body.appendChild(
        make('div', 'empty', currentDb ? 'No statements run yet.' : 'Select a database first.'));
    return;
  }
  var ol = make('ol', 'history');
  list.forEach(function(sql) {
    var li = make('li');
    var button = make('button', 'hitem', sql);
    button.type = 'button';
    button.addEventListener('click', function() {
      setSqlText(sql);
      focusSql();
    });
    li.appendChild(button);
    ol.appendChild(li);
  });
  body.appendChild(ol);
}

/// Remembers what runs now: in the history and in the page's address.
function rememberRun(v) {
  if (!currentDb) return;
  recordHistory(currentDb, v.text);
  writeHash(v);
}

byId('historybtn').addEventListener('click', showHistory);
