// The database list: the select, the count pill and the roots line.

function option(value, label) {
  var element = document.createElement('option');
  element.value = value;
  element.textContent = label;
  return element;
}

function labels(roots) {
  return roots.map(function(root) { return text(root.label); }).join(', ');
}

function rootsText(roots) {
  var present = roots.filter(function(root) { return root.exists === true; });
  if (!present.length) return 'no allowlisted root exists on this node';
  var cut = present.filter(function(root) { return root.truncated === true; });
  var line = 'roots: ' + labels(present);
  if (cut.length) line += DOT + 'scan cap reached in ' + labels(cut);
  return line;
}

// A dbs answer the page can show: every entry named by a path; the lists
// themselves may be missing (none found).
function isDbList(answer) {
  return (answer.dbs === undefined ||
          isListOf(
              answer.dbs, function(db) { return isRecord(db) && typeof db.path === 'string'; })) &&
      (answer.roots === undefined || isListOf(answer.roots, isRecord));
}

function showDbs(answer) {
  empty(dbsel);
  if (!isEnvelope(answer) || (answer.ok === true && !isDbList(answer))) {
    err('Error: the answer is not a database list');
    return;
  }
  if (answer.ok !== true) {
    err(errorOf(answer, 'failed to list databases'));
    return;
  }
  var list = answer.dbs || [];
  dbcount.textContent = plural(list.length, 'database');
  rootline.textContent = rootsText(answer.roots || []);
  if (!list.length) {
    dbsel.appendChild(option('', 'No .db / .sqlite files found'));
    placeholder(tables, 'No database selected.');
    return;
  }
  dbsel.appendChild(option('', 'Choose a database (' + list.length + ')'));
  list = addDbOptions(list);
  // A value that no option holds leaves no option selected.
  if (currentDb) dbsel.value = currentDb;
  var restoring = restoringDb;
  restoringDb = '';
  if (!dbsel.value && list.length === 1 && !restoring) {
    dbsel.value = list[0].path;
    selectDb(list[0].path);
  }
}

function loadDbs() {
  api('dbs').then(showDbs, function(error) { err('Error: ' + failureText(error)); });
}
