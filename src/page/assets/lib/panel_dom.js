// The panels' controls, built in the page's own classes. Every text goes
// in as text, never as markup.

/// A new element of `tag`, with `className` and text `content` if given.
export function el(tag, className, content) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  if (content !== undefined) element.textContent = content;
  return element;
}

/// A plain button that calls `action`.
export function button(label, action) {
  const element = el('button', 'ghost', label);
  element.type = 'button';
  element.addEventListener('click', action);
  return element;
}

/// A select with `options` ([value, label] pairs) inside its visible
/// label `name`; returns {label, select}.
export function labelledSelect(name, options) {
  const label = el('label', 'control');
  label.appendChild(document.createTextNode(name + ' '));
  const select = el('select');
  for (const [value, text] of options) {
    const option = el('option', '', text);
    option.value = String(value);
    select.appendChild(option);
  }
  label.appendChild(select);
  return {label, select};
}

/// A row of controls: each of `items` in order.
export function controlRow(className, items) {
  const row = el('div', 'row ' + className);
  for (const item of items) row.appendChild(item);
  return row;
}

/// Saves `blob` as a file called `name`, as a download of the browser.
export function saveBlob(name, blob) {
  const url = URL.createObjectURL(blob);
  const link = el('a');
  link.href = url;
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 0);
}
