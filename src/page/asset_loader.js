// The browser libraries (ASSETS: name -> served file, written by the
// build). Each is fetched when first needed, through the host's route with
// the password in its header like every action, and imported from a Blob
// URL; the page reaches nothing but the node.

var assetLoads = {};  // name -> the promise of its module

/// The module of the library `name`, loaded once: every call gives the same
/// promise, which rejects with an Error when the library cannot be had.
function loadAsset(name) {
  if (!assetLoads[name]) assetLoads[name] = importAsset(name);
  return assetLoads[name];
}

function importAsset(name) {
  if (!Object.prototype.hasOwnProperty.call(ASSETS, name)) {
    return Promise.reject(new Error('no browser library named ' + name));
  }
  var url = apiUrl('asset', 'name=' + encodeURIComponent(ASSETS[name]));
  return fetch(url, {headers: withPassword({})}).then(function(response) {
    var type = response.headers.get('Content-Type') || '';
    if (!response.ok || type.indexOf('text/javascript') !== 0) {
      throw new Error('the library ' + name + ' did not load (HTTP ' + response.status + ')');
    }
    return response.blob();
  }).then(function(body) {
    var moduleUrl = URL.createObjectURL(new Blob([body], {type: 'text/javascript'}));
    return import(moduleUrl).finally(function() { URL.revokeObjectURL(moduleUrl); });
  });
}
