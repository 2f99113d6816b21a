// The Info card: the program's build and limits.

function showInfo(answer) {
  if (!answer || answer.ok !== true) return;
  infocard.style.display = '';
  [['plugin', answer.plugin], ['version', answer.version], ['sqlite', answer.sqlite],
   ['platform', answer.platform], ['max rows', answer.max_rows], ['budget ms', answer.budget_ms]]
      .forEach(function(
          pair) { info.appendChild(make('span', 'chip', pair[0] + '  ' + text(pair[1]))); });
}
