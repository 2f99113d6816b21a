// The page's own URL: the node and session it serves, the hub plug-in name
// and the node password (from the URL or the browser's storage).

var params = new URLSearchParams(location.search);
function param(name) { return params.get(name) || ''; }
var node = param('node');
var sid = param('id');
var HUB = param('plugin');

// Storage that refuses access counts as holding nothing.
function stored(key) {
  try {
    return localStorage.getItem(key) || '';
  } catch (e) {
    return '';
  }
}
var pwd = param('pwd');
if (!pwd && node) pwd = stored('zindo_pwd_' + node);
if (!pwd) pwd = stored('zindo_active_pwd');
