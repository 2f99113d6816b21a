// Requests to the program's JSON actions through the host.

function apiUrl(action, extra) {
  var url = HUB ?
      '/plugins?plugin=' + encodeURIComponent(HUB) + '&action=' + encodeURIComponent(action) :
      '/plugin_sqlite?action=' + encodeURIComponent(action);
  if (extra) url += '&' + extra;
  if (node) url += '&node=' + encodeURIComponent(node);
  if (sid) url += '&id=' + encodeURIComponent(sid);
  if (pwd) url += '&pwd=' + encodeURIComponent(pwd);
  return url;
}

function withPassword(headers) {
  if (pwd) headers['X-Zindo-Password'] = pwd;
  return headers;
}

// Every answer is read as JSON whatever its status: the program's 401
// refusal is JSON too.
function readJson(response) { return response.json(); }

function api(action, extra) {
  return fetch(apiUrl(action, extra), {headers: withPassword({})}).then(readJson);
}

function apiPost(action, extra, body) {
  var headers = withPassword({'Content-Type': 'application/x-www-form-urlencoded'});
  return fetch(apiUrl(action, extra), {method: 'POST', headers: headers, body: body})
      .then(readJson);
}

function failureText(error) { return error && error.message ? error.message : String(error); }
