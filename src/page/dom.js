// The page's elements and the small helpers that put text into them: every
// value goes in as a text node, an option label or a tooltip, never as markup.

// The separator between the parts of one status line.
var DOT = '  \u00b7  ';
var BYTE_UNITS = ['B', 'KB', 'MB', 'GB', 'TB'];

function byId(id) { return document.getElementById(id); }
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
var colsbtn = byId('colsbtn');
var reswrap = byId('reswrap');
var infocard = byId('infocard');
var info = byId('info');
var alerts = byId('alerts');

// Text-only helpers: content always goes in through textContent.

function text(value) { return value === null || value === undefined ? '' : String(value); }

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

/// Reads `message` out at once to screen-reader users (the assertive live
/// region); an empty message clears it, so that a repeated error is read
/// again.
function announce(message) { alerts.textContent = message; }

/// Shows `message` as an error in `element` (emptied first) and announces it.
function showError(element, message) {
  empty(element);
  element.appendChild(make('div', 'err', message));
  announce(message);
}

function err(message) { showError(reswrap, message); }

function plural(n, word) { return n + ' ' + word + (n === 1 ? '' : 's'); }

function bytes(n) {
  if (typeof n !== 'number') return '\u2014';
  var value = n;
  var unit = 0;
  while (value >= 1024 && unit < BYTE_UNITS.length - 1) {
    value /= 1024;
    unit++;
  }
  var digits = unit > 0 && value < 100 ? 1 : 0;
  return value.toFixed(digits) + ' ' + BYTE_UNITS[unit];
}
