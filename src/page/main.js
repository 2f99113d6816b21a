// Start-up: the theme, the event handlers, the first requests.

var savedTheme = null;
try {
  savedTheme = localStorage.getItem('sqlite_theme');
} catch (e) {
}
applyTheme(savedTheme ? savedTheme : systemTheme());
followThemeChanges();

dbsel.addEventListener('change', function() { selectDb(dbsel.value); });
reloadbtn.addEventListener('click', function() {
  loadDbs();
  if (currentDb) selectDb(currentDb);
});
runbtn.addEventListener('click', runQuery);
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
