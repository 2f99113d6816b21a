// Reading and writing the program's JSON without losing digits. The
// browser's numbers hold integers exactly only up to 2^53 in magnitude, a
// database's go to 2^63: an integer written without fraction or exponent
// that lies outside that range is read as a BigInt. Every other value is
// read as JSON.parse reads it.

var JSON_MAX_DEPTH = 64;  // far deeper than any answer of the program
var JSON_SPACE = /[ \t\n\r]*/y;
var JSON_NUMBER = /-?(?:0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?/y;
var JSON_STRING = /"(?:[^"\\\u0000-\u001f]|\\["\\\/bfnrtu])*"/y;
var JSON_WORDS = {t: ['true', true], f: ['false', false], n: ['null', null]};

/// A number as the program wrote it ("100.0", "0.30000000000000004",
/// "1e+20"): what parseJsonExact reads for a number when asked to keep the
/// text.
function JsonNumber(text) { this.text = text; }

/// The value of the JSON text `source`. Throws a SyntaxError when the text
/// is not exactly one JSON value (surrounding white space aside). With
/// `keepNumberText` every number is read as a JsonNumber holding its text.
function parseJsonExact(source, keepNumberText) {
  var at = 0;

  function fail(what) { throw new SyntaxError(what + ' at offset ' + at); }
  function skipSpace() {
    JSON_SPACE.lastIndex = at;
    JSON_SPACE.exec(source);
    at = JSON_SPACE.lastIndex;
  }
  function token(pattern) {
    pattern.lastIndex = at;
    var found = pattern.exec(source);
    if (!found) fail('malformed value');
    at = pattern.lastIndex;
    return found;
  }
  function expect(character) {
    skipSpace();
    if (source.charAt(at) !== character)
      fail(at < source.length ? 'expected ' + character : 'unexpected end');
    at++;
  }
  function number() {
    var found = token(JSON_NUMBER);
    if (keepNumberText) return new JsonNumber(found[0]);
    var value = Number(found[0]);
    if (!found[1] && !found[2] && !Number.isSafeInteger(value)) return BigInt(found[0]);
    return value;
  }
  // JSON.parse checks the escapes of the string token.
  function string() { return JSON.parse(token(JSON_STRING)[0]); }
  function array(depth) {
    var list = [];
    expect('[');
    skipSpace();
    if (source.charAt(at) === ']') {
      at++;
      return list;
    }
    for (;;) {
      list.push(value(depth));
      skipSpace();
      if (source.charAt(at) === ']') break;
      expect(',');
    }
    at++;
    return list;
  }
  // Members are defined, not assigned, so that a "__proto__" key is an
  // ordinary member as with JSON.parse.
  function object(depth) {
    var record = {};
    expect('{');
    skipSpace();
    if (source.charAt(at) === '}') {
      at++;
      return record;
    }
    for (;;) {
      skipSpace();
      if (source.charAt(at) !== '"')
        fail(at < source.length ? 'expected a member name' : 'unexpected end');
      var key = string();
      expect(':');
      Object.defineProperty(
          record, key, {value: value(depth), writable: true, enumerable: true, configurable: true});
      skipSpace();
      if (source.charAt(at) === '}') break;
      expect(',');
    }
    at++;
    return record;
  }
  function value(depth) {
    if (depth >= JSON_MAX_DEPTH) fail('nesting too deep');
    skipSpace();
    var c = source.charAt(at);
    if (c === '{') return object(depth + 1);
    if (c === '[') return array(depth + 1);
    if (c === '"') return string();
    if (c === '-' || (c >= '0' && c <= '9')) return number();
    var word = JSON_WORDS[c];
    if (word && source.startsWith(word[0], at)) {
      at += word[0].length;
      return word[1];
    }
    fail(at < source.length ? 'unexpected character' : 'unexpected end');
  }

  var result = value(0);
  skipSpace();
  if (at < source.length) fail('text after the value');
  return result;
}

/// Compact JSON text of `value` (no spaces), as JSON.stringify writes it,
/// except that BigInt integers are written with all their digits.
function stringifyExact(value) {
  if (typeof value === 'bigint') return value.toString();
  if (Array.isArray(value)) return '[' + value.map(stringifyExact).join(',') + ']';
  if (value !== null && typeof value === 'object') {
    return '{' +
        Object.keys(value)
            .map(function(key) { return JSON.stringify(key) + ':' + stringifyExact(value[key]); })
            .join(',') +
        '}';
  }
  var text = JSON.stringify(value);
  return text === undefined ? 'null' : text;
}

/// Whether `value` is a number of either kind: a JavaScript number or an
/// integer read as a BigInt.
function isNumeric(value) { return typeof value === 'number' || typeof value === 'bigint'; }

/// Orders two numbers of either kind by their exact values (a BigInt
/// against a number compares the mathematical values).
function compareNumeric(x, y) { return x < y ? -1 : x > y ? 1 : 0; }
