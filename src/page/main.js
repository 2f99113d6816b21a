// Start-up: the theme, the event handlers, the first requests.

var savedTheme = null;
try {
  savedTheme = localStorage.getItem('sqlite_theme');
} catch (e) {
}
// A theme named in the address (?theme=light or dark) comes first.
var askedTheme = param('theme');
applyTheme(askedTheme === 'light' || askedTheme === 'dark' ? askedTheme : savedTheme ? savedTheme : systemTheme());
followThemeChanges();

// Arrow keys on the closed list step through the databases: only the one
// they rest on is loaded.
var DB_STEP_WAIT_MS = 400;
var dbStepTimer = 0;
var dbStepping = false;
dbsel.addEventListener('keydown', function(event) { dbStepping = /^(Arrow|Page|Home|End)/.test(event.key); });
dbsel.addEventListener('mousedown', function() { dbStepping = false; });
dbsel.addEventListener('change', function() {
  clearTimeout(dbStepTimer);
  if (!dbStepping) {
    selectDb(dbsel.value);
    return;
  }
  dbStepTimer = setTimeout(function() { selectDb(dbsel.value); }, DB_STEP_WAIT_MS);
});
reloadbtn.addEventListener('click', function() {
  loadDbs();
  if (currentDb) selectDb(currentDb);
});
runbtn.addEventListener('click', runQuery);
stopbtn.addEventListener('click', stopQuery);
sqlBox.addEventListener('keydown', function(event) {
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
    event.preventDefault();
    runQuery();
  }
});
csvbtn.addEventListener('click', function() { exportAs('CSV', toCsv); });
jsonbtn.addEventListener('click', function() { exportAs('JSON', toJson); });
themebtn.addEventListener('click', toggleTheme);

startEditor();
loadDbs();
restoreFromHash();
api('info').then(showInfo, function() {});
