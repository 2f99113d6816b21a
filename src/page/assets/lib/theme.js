// What the drawings share with the page: its palette, read from the
// page's custom properties, and a call when the theme changes (the Theme
// button, the host's theme message or the system preference).

/// The colours of the page's current theme, as seen from `element`.
export function palette(element) {
  const style = getComputedStyle(element);
  const value = (name) => style.getPropertyValue(name).trim();
  return {
    accent: value('--accent'),
    accent2: value('--orange'),
    text: value('--text-2'),
    strong: value('--text'),
    grid: value('--line-2'),
    background: value('--bg-card'),
    font: value('--font') || 'sans-serif',
  };
}

/// Calls `redraw` after each change of theme; returns the function that
/// stops it.
export function onThemeChange(redraw) {
  const observer = new MutationObserver(redraw);
  observer.observe(document.documentElement, {attributes: true, attributeFilter: ['data-theme']});
  const media = matchMedia('(prefers-color-scheme: light)');
  media.addEventListener('change', redraw);
  return () => {
    observer.disconnect();
    media.removeEventListener('change', redraw);
  };
}

const added = new Set();

/// Adds the style sheet `css` to the page once, under `name`. A
/// constructed sheet, so that no inline style element is needed.
export function injectStyle(name, css) {
  if (added.has(name)) return;
  added.add(name);
  const sheet = new CSSStyleSheet();
  sheet.replaceSync(css);
  document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
}
