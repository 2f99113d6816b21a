// The Theme button: switches between the light and the dark palette and
// says which one is on, whoever set it (this button, the host page, the
// theme bootstrap).

function applyTheme(theme) {
  document.documentElement.setAttribute('data-theme', theme);
  try {
    localStorage.setItem('sqlite_theme', theme);
  } catch (e) {
  }
}

function systemTheme() {
  try {
    if (window.matchMedia && window.matchMedia('(prefers-color-scheme: light)').matches)
      return 'light';
  } catch (e) {
  }
  return 'dark';
}

function toggleTheme() {
  applyTheme(document.documentElement.getAttribute('data-theme') === 'light' ? 'dark' : 'light');
}

/// The theme in effect: the root element's choice, or the system's when
/// that choice is neither light nor dark.
function themeInEffect() {
  var theme = document.documentElement.getAttribute('data-theme');
  return theme === 'light' || theme === 'dark' ? theme : systemTheme();
}

function showThemeName() { themebtn.textContent = 'Theme: ' + themeInEffect(); }

function followThemeChanges() {
  showThemeName();
  new MutationObserver(showThemeName)
      .observe(document.documentElement, {attributes: true, attributeFilter: ['data-theme']});
}
