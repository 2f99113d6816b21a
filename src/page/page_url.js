// The page's own URL: the node and session it serves, the hub plug-in name
// and the node password (from the URL, the password page or the browser's
// storage).

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

// The node password travels only in the X-Zindo-Password header. One in the
// address is read once and leaves the address bar; it and the one typed on
// the password page (password.js) are kept in this tab's session storage,
// so that a reload, which comes back to that page, opens the Explorer again
// without asking. The host's stored passwords are only read.
var PWD_SESSION_KEY = 'sqlite_pwd_' + node;

function sessionStored(key) {
  try {
    return sessionStorage.getItem(key) || '';
  } catch (e) {
    return '';
  }
}

function forgetAddressPassword() {
  var address = new URL(location.href);
  address.searchParams.delete('pwd');
  try {
    history.replaceState(history.state, '', address.pathname + address.search + address.hash);
  } catch (e) {
  }
}

var pwd = param('pwd');
if (params.has('pwd')) forgetAddressPassword();
if (pwd) {
  try {
    sessionStorage.setItem(PWD_SESSION_KEY, pwd);
  } catch (e) {
  }
}
if (!pwd) pwd = sessionStored(PWD_SESSION_KEY);
if (!pwd && node) pwd = stored('zindo_pwd_' + node);
if (!pwd) pwd = stored('zindo_active_pwd');
