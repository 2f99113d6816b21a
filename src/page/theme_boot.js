// Theme bootstrap: runs before the style sheet and the body are parsed, so
// the first paint already has the right palette. Every step that touches the
// URL, storage or media queries is guarded on its own: a failure skips that
// step and the rest still runs.
(function () {
  var root = document.documentElement;
  var choice = null;
  try {
    var asked = /[?&]theme=(light|dark)/.exec(location.search);
    if (asked) choice = asked[1];
  } catch (e) {}
  if (!choice) {
    try {
      var stored = localStorage.getItem('zindo_theme');
      if (stored === 'light' || stored === 'dark') choice = stored;
    } catch (e) {}
  }
  if (!choice) {
    choice = 'dark';
    try {
      if (window.matchMedia && window.matchMedia('(prefers-color-scheme: light)').matches) {
        choice = 'light';
      }
    } catch (e) {}
  }
  root.setAttribute('data-theme', choice);
  try {
    if (/[?&]embed=(1|true)(&|$)/.test(location.search)) root.classList.add('embedded');
  } catch (e) {}
  try {
    localStorage.setItem('zindo_theme', choice);
  } catch (e) {}
})();
