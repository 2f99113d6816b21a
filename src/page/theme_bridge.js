// Theme bridge: lets a framing host page set the theme, by message or by
// calling qvApplyTheme, and asks that host for its theme once at load.
(function () {
  var root = document.documentElement;

  function apply(theme) {
    if (theme !== 'light' && theme !== 'dark') return;
    if (root.getAttribute('data-theme') === theme) return;
    root.setAttribute('data-theme', theme);
    try {
      localStorage.setItem('zindo_theme', theme);
    } catch (e) {}
    try {
      window.dispatchEvent(new CustomEvent('zindo-theme', {detail: theme}));
    } catch (e) {}
  }

  window.qvApplyTheme = apply;
  window.qvTheme = function () {
    var theme = root.getAttribute('data-theme');
    return theme === 'light' || theme === 'dark' ? theme : 'dark';
  };

  // Any window may send the theme; the message carries nothing else.
  window.addEventListener('message', function (event) {
    var data = event.data;
    if (data && typeof data === 'object' && data.type === 'qv-theme') apply(data.theme);
  });

  try {
    if (window.parent && window.parent !== window) {
      window.parent.postMessage({type: 'qv-theme-request'}, '*');
    }
  } catch (e) {}
})();
