// The node password page: what a browser gets when it opens the Explorer
// without the node password. The password is tried by asking for the
// Explorer page again with it in the X-Zindo-Password header; when the page
// comes, it takes this document's place (same address, same tab), and the
// password stays in this tab's session storage for the page's own requests.
// It never goes into a URL.
(function () {
  // Shared with the Explorer's script, which reads it (page_url.js).
  var SESSION_KEY = 'sqlite_pwd_';
  var form = document.getElementById('pwform');
  var field = document.getElementById('pwfield');
  var button = document.getElementById('pwbtn');
  var message = document.getElementById('pwerror');
  var params = new URLSearchParams(location.search);
  var node = params.get('node') || '';

  // The address without its pwd field: the program has refused that one,
  // and a password never stays in the address bar.
  function addressWithoutPassword() {
    var url = new URL(location.href);
    url.searchParams.delete('pwd');
    return url.pathname + url.search + url.hash;
  }
  if (params.has('pwd')) {
    try {
      history.replaceState(history.state, '', addressWithoutPassword());
    } catch (e) {}
  }

  function read(storage, key) {
    try {
      return window[storage].getItem(key) || '';
    } catch (e) {
      return '';
    }
  }

  // Resolves to the Explorer page's text; rejects with "invalid node
  // password" when the program refuses the password, or with what failed.
  function fetchPage(password) {
    return fetch(addressWithoutPassword(), {
      headers: {'X-Zindo-Password': password, 'Accept': 'text/html'},
      cache: 'no-store',
      credentials: 'same-origin',
    }).then(function (response) {
      if (response.status === 401) throw new Error('invalid node password');
      var type = response.headers.get('Content-Type') || '';
      if (!response.ok || type.indexOf('text/html') !== 0) {
        throw new Error('Request failed: HTTP ' + response.status);
      }
      return response.text();
    });
  }

  function openExplorer(password, page) {
    try {
      sessionStorage.setItem(SESSION_KEY + node, password);
    } catch (e) {}
    document.open();
    document.write(page);
    document.close();
  }

  function attempt(password) {
    button.disabled = true;
    return fetchPage(password).then(function (page) { openExplorer(password, page); },
                                    function (error) {
                                      button.disabled = false;
                                      throw error;
                                    });
  }

  form.addEventListener('submit', function (event) {
    event.preventDefault();
    message.textContent = '';
    attempt(field.value).catch(function (error) {
      message.textContent = error && error.message ? error.message : String(error);
      field.focus();
      field.select();
    });
  });

  // A password this tab entered before (a reload comes back here: the
  // address alone carries none), or one the host stored for the node, is
  // tried once without asking; a refused one leaves the form as it is.
  var known = read('sessionStorage', SESSION_KEY + node) ||
      (node ? read('localStorage', 'zindo_pwd_' + node) : '') || read('localStorage', 'zindo_active_pwd');
  if (known) attempt(known).catch(function () {});
})();
