// Explorer script: lists the databases, shows the tables of the chosen one,
// runs one statement at a time, sorts and copies the result, and shows the
// program's build and limits. Every answer comes from the program's own JSON
// actions through the host; all of it goes into the page as text (text
// nodes, option labels, tooltips), never as markup.
(function () {
  'use strict';

  var DOT = '  \u00b7  ';
  var BYTE_UNITS = ['B', 'KB', 'MB', 'GB', 'TB'];

  function byId(id) {
    return document.getElementById(id);
  }
  var dbcount = byId('dbcount');
  var themebtn = byId('themebtn');
  var dbsel = byId('dbsel');
  var reloadbtn = byId('reloadbtn');
  var dbhint = byId('dbhint');
  var rootline = byId('rootline');
  var tables = byId('tables');
  var sqlBox = byId('sql');
  var runbtn = byId('runbtn');
  var csvbtn = byId('csvbtn');
  var jsonbtn = byId('jsonbtn');
  var qmeta = byId('qmeta');
  var cols = byId('cols');
  var reswrap = byId('reswrap');
  var infocard = byId('infocard');
  var info = byId('info');

  // ---- page URL and node password ----

  var params = new URLSearchParams(location.search);
  function param(name) {
    return params.get(name) || '';
  }
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

  // ---- script state ----

  var currentDb = '';
  var lastData = null;
  var sortCol = -1;
  var sortDir = 1;
  var shownRows = [];  // the rows in the order the grid shows them

  // ---- requests ----

  function apiUrl(action, extra) {
    var url = HUB ? '/plugins?plugin=' + encodeURIComponent(HUB) + '&action=' + encodeURIComponent(action)
                  : '/plugin_sqlite?action=' + encodeURIComponent(action);
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
  function readJson(response) {
    return response.json();
  }

  function api(action, extra) {
    return fetch(apiUrl(action, extra), {headers: withPassword({})}).then(readJson);
  }

  function apiPost(action, extra, body) {
    var headers = withPassword({'Content-Type': 'application/x-www-form-urlencoded'});
    return fetch(apiUrl(action, extra), {method: 'POST', headers: headers, body: body}).then(readJson);
  }

  function failureText(error) {
    return error && error.message ? error.message : String(error);
  }

  // ---- small DOM helpers: text only ----

  function text(value) {
    return value === null || value === undefined ? '' : String(value);
  }

  function make(tag, className, content) {
    var element = document.createElement(tag);
    if (className) element.className = className;
    if (content !== undefined) element.textContent = content;
    return element;
  }

  function empty(element) {
    while (element.firstChild) element.removeChild(element.firstChild);
  }

  function placeholder(element, message) {
    empty(element);
    element.appendChild(make('div', 'empty', message));
  }

  function err(message) {
    empty(reswrap);
    reswrap.appendChild(make('div', 'err', message));
  }

  function plural(n, word) {
    return n + ' ' + word + (n === 1 ? '' : 's');
  }

  function bytes(n) {
    if (n === null || n === undefined) return '\u2014';
    var value = n;
    var unit = 0;
    while (value >= 1024 && unit < BYTE_UNITS.length - 1) {
      value /= 1024;
      unit++;
    }
    var digits = unit > 0 && value < 100 ? 1 : 0;
    return value.toFixed(digits) + ' ' + BYTE_UNITS[unit];
  }

  // ---- theme ----

  function applyTheme(theme) {
    document.documentElement.setAttribute('data-theme', theme);
    try {
      localStorage.setItem('sqlite_theme', theme);
    } catch (e) {}
  }

  function systemTheme() {
    try {
      if (window.matchMedia && window.matchMedia('(prefers-color-scheme: light)').matches) return 'light';
    } catch (e) {}
    return 'dark';
  }

  function toggleTheme() {
    applyTheme(document.documentElement.getAttribute('data-theme') === 'light' ? 'dark' : 'light');
  }

  // ---- database list ----

  function option(value, label) {
    var element = document.createElement('option');
    element.value = value;
    element.textContent = label;
    return element;
  }

  function labels(roots) {
    return roots
        .map(function (root) {
          return text(root.label);
        })
        .join(', ');
  }

  function rootsText(roots) {
    var present = roots.filter(function (root) {
      return root.exists === true;
    });
    if (!present.length) return 'no allowlisted root exists on this node';
    var cut = present.filter(function (root) {
      return root.truncated === true;
    });
    var line = 'roots: ' + labels(present);
    if (cut.length) line += DOT + 'scan cap reached in ' + labels(cut);
    return line;
  }

  function showDbs(answer) {
    empty(dbsel);
    if (!answer || answer.ok !== true) {
      err((answer && answer.error) || 'failed to list databases');
      return;
    }
    var list = answer.dbs || [];
    dbcount.textContent = plural(list.length, 'database');
    rootline.textContent = rootsText(answer.roots || []);
    if (!list.length) {
      dbsel.appendChild(option('', 'No .db / .sqlite files found'));
      placeholder(tables, 'No database selected.');
      return;
    }
    dbsel.appendChild(option('', 'Choose a database (' + list.length + ')'));
    list.forEach(function (db) {
      dbsel.appendChild(option(text(db.path), text(db.path) + DOT + bytes(db.bytes)));
    });
    // A value that no option holds leaves no option selected.
    if (currentDb) dbsel.value = currentDb;
    if (!dbsel.value && list.length === 1) {
      dbsel.value = text(list[0].path);
      selectDb(text(list[0].path));
    }
  }

  function loadDbs() {
    api('dbs').then(showDbs).catch(function (error) {
      err('Error: ' + failureText(error));
    });
  }

  // ---- tables panel ----

  function quotedName(name) {
    return '"' + text(name).replace(/"/g, '""') + '"';
  }

  function chooseTable(button, name) {
    tables.querySelectorAll('button').forEach(function (other) {
      other.classList.remove('on');
    });
    button.classList.add('on');
    sqlBox.value = 'SELECT * FROM ' + quotedName(name) + ' LIMIT 100;';
    runQuery();
  }

  function tableButton(table) {
    var button = make('button', 'titem');
    button.type = 'button';
    button.appendChild(document.createTextNode(text(table.name)));
    var rows = table.rows === null || table.rows === undefined ? '?' : table.rows;
    button.appendChild(make('span', 'n', '  ' + rows + (table.type === 'view' ? ' view' : '')));
    button.title = (table.columns || [])
                       .map(function (column) {
                         return text(column.name) + ' ' + text(column.type);
                       })
                       .join('\n');
    button.addEventListener('click', function () {
      chooseTable(button, table.name);
    });
    return button;
  }

  function showSchema(path, answer) {
    empty(tables);
    if (!answer || answer.ok !== true) {
      var message = (answer && answer.error) || 'error';
      if (answer && answer.detail) message += ': ' + answer.detail;
      tables.appendChild(make('div', 'err', message));
      return;
    }
    var list = answer.tables || [];
    dbhint.textContent = path + DOT + plural(list.length, 'table') + DOT + 'read-only';
    if (!list.length) {
      placeholder(tables, 'No tables.');
      return;
    }
    list.forEach(function (table) {
      tables.appendChild(tableButton(table));
    });
  }

  function selectDb(path) {
    currentDb = path;
    empty(tables);
    if (!path) {
      placeholder(tables, 'Select a database.');
      return;
    }
    placeholder(tables, 'Loading schema...');
    api('schema', 'db=' + encodeURIComponent(path))
        .then(function (answer) {
          showSchema(path, answer);
        })
        .catch(function (error) {
          empty(tables);
          tables.appendChild(make('div', 'err', 'Error: ' + failureText(error)));
        });
  }

  // ---- query and grid ----

  function statusLine(answer) {
    var line = answer.row_count + (answer.row_count === 1 ? ' row' : ' rows');
    if (answer.truncated === true) line += ' (truncated)';
    line += DOT + answer.ms + ' ms';
    if (answer.aborted === true) line += DOT + 'stopped at the time budget';
    return line;
  }

  function showAnswer(answer) {
    runbtn.disabled = false;
    lastData = answer;
    if (!answer || answer.ok !== true) {
      qmeta.textContent = '';
      var message = (answer && answer.error) || 'error';
      if (answer && answer.detail) message += ': ' + answer.detail;
      err(message);
      empty(cols);
      return;
    }
    if (answer.error) {
      // The statement failed part-way; the rows before it stay exportable.
      qmeta.textContent = '';
      err(text(answer.error));
      empty(cols);
      return;
    }
    qmeta.textContent = statusLine(answer);
    renderTable();
  }

  function runQuery() {
    var sql = sqlBox.value;
    if (!currentDb) {
      err('Select a database first.');
      return;
    }
    if (!sql.trim()) {
      err('Type a statement.');
      return;
    }
    runbtn.disabled = true;
    qmeta.textContent = 'Running...';
    sortCol = -1;
    sortDir = 1;
    apiPost('query', 'db=' + encodeURIComponent(currentDb), 'sql=' + encodeURIComponent(sql))
        .then(showAnswer, function (error) {
          runbtn.disabled = false;
          qmeta.textContent = '';
          err('Request failed: ' + failureText(error));
        });
  }

  function renderTable() {
    empty(reswrap);
    empty(cols);
    (lastData.columns || []).forEach(function (column) {
      cols.appendChild(make('span', 'chip', text(column.name) + '  ' + text(column.decl)));
    });
    var rows = lastData.rows || [];
    if (!rows.length) {
      placeholder(reswrap, '0 rows.');
      return;
    }
    drawGrid(rows);
  }

  function cellValue(value) {
    if (value === null || value === undefined) return {text: 'NULL', className: 'null'};
    if (typeof value === 'object') return {text: '[blob ' + value.blob_bytes + ']', className: 'null'};
    if (typeof value === 'number') return {text: String(value), className: 'num'};
    return {text: String(value), className: ''};
  }

  function headerCell(column, index) {
    var th = make('th');
    th.appendChild(document.createTextNode(text(column.name)));
    if (index === sortCol) th.appendChild(make('span', 'dir', sortDir === 1 ? ' \u25b2' : ' \u25bc'));
    th.title = text(column.decl);
    th.addEventListener('click', function () {
      sortBy(index);
    });
    return th;
  }

  function bodyRow(row, columnCount) {
    var tr = make('tr');
    for (var i = 0; i < columnCount; i++) {
      var cell = cellValue(row[i]);
      var td = make('td', cell.className, cell.text);
      td.title = cell.text;
      tr.appendChild(td);
    }
    return tr;
  }

  function drawGrid(rows) {
    var columns = lastData.columns || [];
    var table = make('table');
    var thead = make('thead');
    var headRow = make('tr');
    columns.forEach(function (column, index) {
      headRow.appendChild(headerCell(column, index));
    });
    thead.appendChild(headRow);
    var tbody = make('tbody');
    rows.forEach(function (row) {
      tbody.appendChild(bodyRow(row, columns.length));
    });
    table.appendChild(thead);
    table.appendChild(tbody);
    empty(reswrap);
    reswrap.appendChild(table);
    shownRows = rows;
  }

  function isMissing(value) {
    return value === null || value === undefined;
  }

  // Nulls go last in both directions; two nulls tie, so the stable sort
  // keeps them in their previous order.
  function compareCells(x, y, direction) {
    if (isMissing(x)) return isMissing(y) ? 0 : 1;
    if (isMissing(y)) return -1;
    if (typeof x === 'number' && typeof y === 'number') return (x - y) * direction;
    return String(x).localeCompare(String(y)) * direction;
  }

  function sortBy(index) {
    if (sortCol === index) {
      sortDir = -sortDir;
    } else {
      sortCol = index;
      sortDir = 1;
    }
    var direction = sortDir;
    var sorted = shownRows.slice().sort(function (a, b) {
      return compareCells(a[index], b[index], direction);
    });
    drawGrid(sorted);
  }

  // ---- export ----

  function csvField(value) {
    if (value === null || value === undefined) return '';
    if (typeof value === 'object') return 'blob:' + value.blob_bytes;
    var field = String(value);
    return /[",\r\n]/.test(field) ? '"' + field.replace(/"/g, '""') + '"' : field;
  }

  function toCsv(answer) {
    var lines = [(answer.columns || [])
                     .map(function (column) {
                       return csvField(column.name);
                     })
                     .join(',')];
    (answer.rows || []).forEach(function (row) {
      lines.push(row.map(csvField).join(','));
    });
    return lines.join('\n');
  }

  function toJson(answer) {
    return JSON.stringify(answer.rows || [], null, 0);
  }

  function copyFallback(content) {
    var area = document.createElement('textarea');
    area.value = content;
    document.body.appendChild(area);
    area.select();
    try {
      document.execCommand('copy');
    } catch (e) {}
    document.body.removeChild(area);
  }

  function copy(content, label) {
    function done() {
      qmeta.textContent = label + ' copied';
    }
    function fallback() {
      copyFallback(content);
      done();
    }
    if (navigator.clipboard && navigator.clipboard.writeText) {
      navigator.clipboard.writeText(content).then(done, fallback);
    } else {
      fallback();
    }
  }

  function exportAs(label, format) {
    if (!lastData || lastData.ok !== true) {
      qmeta.textContent = 'nothing to copy';
      return;
    }
    copy(format(lastData), label);
  }

  // ---- info ----

  function showInfo(answer) {
    if (!answer || answer.ok !== true) return;
    infocard.style.display = '';
    [['plugin', answer.plugin], ['version', answer.version], ['sqlite', answer.sqlite],
     ['platform', answer.platform], ['max rows', answer.max_rows], ['budget ms', answer.budget_ms]]
        .forEach(function (pair) {
          info.appendChild(make('span', 'chip', pair[0] + '  ' + text(pair[1])));
        });
  }

  // ---- start-up ----

  var savedTheme = null;
  try {
    savedTheme = localStorage.getItem('sqlite_theme');
  } catch (e) {}
  applyTheme(savedTheme ? savedTheme : systemTheme());

  dbsel.addEventListener('change', function () {
    selectDb(dbsel.value);
  });
  reloadbtn.addEventListener('click', function () {
    loadDbs();
    if (currentDb) selectDb(currentDb);
  });
  runbtn.addEventListener('click', runQuery);
  sqlBox.addEventListener('keydown', function (event) {
    if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
      event.preventDefault();
      runQuery();
    }
  });
  csvbtn.addEventListener('click', function () {
    exportAs('CSV', toCsv);
  });
  jsonbtn.addEventListener('click', function () {
    exportAs('JSON', toJson);
  });
  themebtn.addEventListener('click', toggleTheme);

  loadDbs();
  api('info').then(showInfo, function () {});
})();
