// Requests to the program's JSON actions through the host. Each kind of
// request ("dbs", "schema", "query", "info") has at most one current
// request: starting another of the same kind aborts the one before, and an
// answer that is not for the latest request of its kind never reaches the
// page, whatever order the answers arrive in.

var FAILURE_LINE_MAX = 200;  // characters of a host's text quoted in an error
var requestSeq = 0;
var latestRequest = {};  // kind -> {seq, controller} of the request in flight

/// The URL of `action` on the host's route, with the query fields `extra`.
/// It never holds the password: that goes in the X-Zindo-Password header
/// alone (withPassword), so it is not kept in the host's logs or history.
function apiUrl(action, extra) {
  var url = HUB ?
      '/plugins?plugin=' + encodeURIComponent(HUB) + '&action=' + encodeURIComponent(action) :
      '/plugin_sqlite?action=' + encodeURIComponent(action);
  if (extra) url += '&' + extra;
  if (node) url += '&node=' + encodeURIComponent(node);
  if (sid) url += '&id=' + encodeURIComponent(sid);
  return url;
}

function withPassword(headers) {
  if (pwd) headers['X-Zindo-Password'] = pwd;
  return headers;
}

// The first line of text in a host's answer; markup is dropped, so that an
// HTML error page gives its heading.
function firstTextLine(body) {
  var plain =
      body.replace(/<(head|script|style)\b[\s\S]*?<\/\1\s*>/gi, '\n').replace(/<[^>]*>/g, '\n');
  var lines = plain.split(/\r?\n/).map(function(line) { return line.replace(/\s+/g, ' ').trim(); });
  var line = lines.filter(Boolean)[0] || '';
  return line.length > FAILURE_LINE_MAX ? line.slice(0, FAILURE_LINE_MAX) + '...' : line;
}

/// What went wrong with an answer that is not JSON: the HTTP status and
/// the first line of the host's text.
function notJsonText(status, body) {
  var prefix = 'HTTP ' + status + ' ';
  if (!body.trim()) return prefix + 'with an empty answer';
  if (/^\s*[{[]/.test(body)) return prefix + 'with an incomplete or malformed JSON answer';
  return prefix + (firstTextLine(body) || 'with an answer that is not JSON');
}

// Every answer is read as JSON whatever its status: the program's 401
// refusal is JSON too. Anything else is the host's own failure.
function readJson(response) {
  return response.text().then(function(body) {
    try {
      return parseJsonExact(body);
    } catch (e) {
      throw new Error(notJsonText(response.status, body));
    }
  });
}

/// Aborts the request of `kind` in flight, if any; its answer is dropped.
function abandonRequest(kind) {
  var previous = latestRequest[kind];
  if (previous) previous.controller.abort();
  latestRequest[kind] = null;
}

/// Sends a request of `kind` in place of the one in flight. The promise
/// resolves to the parsed answer or rejects with an Error, and only while
/// no newer request of the same kind was started; otherwise it never
/// settles.
function send(kind, url, init) {
  abandonRequest(kind);
  var seq = ++requestSeq;
  var controller = new AbortController();
  latestRequest[kind] = {seq: seq, controller: controller};
  init.signal = controller.signal;
  function stillLatest() {
    var latest = latestRequest[kind];
    if (!latest || latest.seq !== seq) return false;
    latestRequest[kind] = null;
    return true;
  }
  return new Promise(function(resolve, reject) {
    fetch(url, init).then(readJson).then(
        function(answer) {
          if (stillLatest()) resolve(answer);
        },
        function(error) {
          if (stillLatest()) reject(error);
        });
  });
}

function api(action, extra) {
  return send(action, apiUrl(action, extra), {headers: withPassword({})});
}

function apiPost(action, extra, body) {
  var headers = withPassword({'Content-Type': 'application/x-www-form-urlencoded'});
  return send(action, apiUrl(action, extra), {method: 'POST', headers: headers, body: body});
}

function failureText(error) { return error && error.message ? error.message : String(error); }

// ---- the shape of an answer ----

function isRecord(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

/// Whether `value` is an array whose every element passes `test`.
function isListOf(value, test) { return Array.isArray(value) && value.every(test); }

/// Whether `answer` is a record with a boolean `ok`: the envelope every
/// answer of the program has.
function isEnvelope(answer) { return isRecord(answer) && typeof answer.ok === 'boolean'; }

/// The `error` of a refusal, or `fallback` when it has none.
function errorOf(answer, fallback) {
  return typeof answer.error === 'string' && answer.error ? answer.error : fallback;
}

/// `message`, then ": " and the answer's `detail` when it has one.
function withDetail(message, answer) {
  return typeof answer.detail === 'string' && answer.detail ? message + ': ' + answer.detail :
                                                              message;
}
