// Reading a typed statement well enough to page it safely, and writing the
// names and values that the page puts into SQL.

var WRAPPABLE_KEYWORDS = ['select', 'with', 'values'];

/// The text as a SQL string literal, every inner single quote doubled. A
/// NUL, which would end the statement, is joined in as char(0).
function sqlString(value) {
  return text(value).split('\0').map(function(part) {
    return '\'' + part.replace(/'/g, '\'\'') + '\'';
  }).join(' || char(0) || ');
}

function isWordByte(ch) { return /[A-Za-z0-9_$]/.test(ch) || ch.charCodeAt(0) > 127; }

// The end of the quoted run that starts at i (closing quote included), or
// -1 when it never closes. A doubled closing quote stays inside the run.
function quotedEnd(sql, i, close) {
  for (var j = i + 1; j < sql.length; j++) {
    if (sql[j] !== close) continue;
    if (close !== ']' && sql[j + 1] === close) {
      j++;
      continue;
    }
    return j + 1;
  }
  return -1;
}

function commentEnd(sql, i) {
  if (sql[i + 1] === '-') {
    var eol = sql.indexOf('\n', i);
    return eol < 0 ? sql.length : eol;
  }
  var close = sql.indexOf('*/', i + 2);
  return close < 0 ? -1 : close + 2;
}

/// The tokens of a statement that matter for paging: words (lower case) and
/// parentheses with their nesting depth, semicolons, and comments. Strings
/// and quoted names are skipped whole. Returns null for a statement with an
/// unterminated string, name or comment.
function sqlTokens(sql) {
  var tokens = [];
  var depth = 0;
  var i = 0;
  while (i < sql.length) {
    var ch = sql[i];
    var next = i;
    if (/\s/.test(ch)) {
      i++;
      continue;
    }
    if ((ch === '-' && sql[i + 1] === '-') || (ch === '/' && sql[i + 1] === '*')) {
      next = commentEnd(sql, i);
      if (next < 0) return null;
      tokens.push({kind: 'comment', start: i, end: next, depth: depth});
    } else if (ch === '\'' || ch === '"' || ch === '`' || ch === '[') {
      next = quotedEnd(sql, i, ch === '[' ? ']' : ch);
      if (next < 0) return null;
      tokens.push({kind: 'quoted', start: i, end: next, depth: depth});
    } else if (isWordByte(ch)) {
      next = i;
      while (next < sql.length && isWordByte(sql[next])) next++;
      tokens.push({
        kind: 'word',
        word: sql.slice(i, next).toLowerCase(),
        start: i,
        end: next,
        depth: depth
      });
    } else {
      next = i + 1;
      if (ch === '(') depth++;
      tokens.push({kind: ch, start: i, end: next, depth: ch === ')' ? depth - 1 : depth});
      if (ch === ')') depth--;
    }
    i = next;
  }
  return tokens;
}

/// What the page may do with a typed statement: `keyword` (its first word,
/// lower case), `body` (the statement without its closing semicolon and
/// trailing space) and `wrappable` (true when it can run as a subquery
/// with the page's own LIMIT: a SELECT, WITH or VALUES statement with
/// nothing but comments after its semicolon and every string and comment
/// closed). The subquery keeps a LIMIT of the statement's own, and starts
/// a new line after it, which ends a trailing comment.
function sqlShape(sql) {
  var tokens = sqlTokens(sql);
  var shape = {keyword: '', body: sql.trim(), wrappable: false};
  if (!tokens || !tokens.length) return shape;
  shape.keyword = tokens[0].kind === 'word' ? tokens[0].word : '';
  var semicolon = tokens.findIndex(function(t) { return t.kind === ';'; });
  var own = semicolon < 0 ? tokens : tokens.slice(0, semicolon);
  if (semicolon >= 0) shape.body = sql.slice(0, tokens[semicolon].start).trim();
  var after = semicolon < 0 ? [] : tokens.slice(semicolon + 1);
  shape.wrappable = WRAPPABLE_KEYWORDS.indexOf(shape.keyword) >= 0 && own.length > 0 &&
      after.every(function(t) { return t.kind === 'comment'; });
  return shape;
}
