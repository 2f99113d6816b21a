// The whole result for a chart or a map: fetched page after page (each one
// more bounded query, as a download does) up to a cap, with a progress bar
// and a Cancel button in the panel. A query that the grid shows without
// paging (one with its own LIMIT, say) is paged here as a subquery; any
// other statement gives the rows of its one answer.

var WHOLE_RESULT_MAX = 50000;  // rows a chart or a map draws at most
var QUERY_KEYWORDS = ['select', 'with', 'values'];

/// The statement of `v` without paging: what a wrapping query selects
/// from. Empty for a statement that is not a query.
function resultBody(v) {
  if (!v) return '';
  if (v.kind === 'wrapped') return v.body;
  if (v.kind === 'table') {
    return 'SELECT * FROM ' + quotedName(v.table.name) + whereClause(filterConditions(v.table, v.filters));
  }
  var shape = sqlShape(v.text);
  return QUERY_KEYWORDS.indexOf(shape.keyword) >= 0 ? shape.body : '';
}

/// A view that pages through `body` (a statement) in the order of `v`.
function wrappedView(v, body) {
  return {kind: 'wrapped', text: body, body: body, size: MAX_PAGE_ROWS, sort: v.sort, page: 0,
          starts: [null], more: false};
}

/// A progress bar with its status and a Cancel button, added to `parent`.
/// `label` names the bar for screen readers.
function fetchBar(parent, label) {
  var bar = make('div', 'row fetchbar');
  var progress = make('progress');
  progress.setAttribute('aria-label', label);
  var status = make('span', 'hint');
  var cancel = make('button', 'ghost', 'Cancel');
  cancel.type = 'button';
  bar.appendChild(progress);
  bar.appendChild(status);
  bar.appendChild(cancel);
  parent.appendChild(bar);
  return {bar: bar, progress: progress, status: status, cancel: cancel};
}

/// Fetches up to WHOLE_RESULT_MAX rows of `v` as requests of `kind`,
/// showing the count in `ui` (a fetchBar). Resolves to {columns, rows,
/// more (rows beyond the cap or the cancel remain), cancelled}; rejects
/// with an Error when a page fails.
function fetchWhole(kind, v, expected, ui) {
  var job = {cancelled: false};
  var rows = [];
  var copy = Object.assign({}, v, {page: 0, starts: [null], more: false});
  var finish = null;
  ui.cancel.addEventListener('click', function() {
    job.cancelled = true;
    abandonRequest(kind);
    ui.bar.hidden = true;
    if (finish) finish();
  });
  function show() {
    if (expected) {
      ui.progress.max = Math.min(expected, WHOLE_RESULT_MAX);
      ui.progress.value = Math.min(rows.length, ui.progress.max);
    }
    ui.status.textContent = plural(rows.length, 'row') + ' fetched';
  }
  function step(page, resolve, reject, columns) {
    finish = function() {
      resolve({columns: columns.length ? columns : lastData.columns || [], rows: rows, more: true,
               cancelled: true});
    };
    fetchPage(kind, copy, page, MAX_PAGE_ROWS).then(function(answer) {
      if (job.cancelled) return;
      if (!isPageResult(copy, answer)) {
        reject(new Error(!isEnvelope(answer)      ? 'the answer is not a query result' :
                             failedPartWay(answer) ? answer.error :
                                                     withDetail(errorOf(answer, 'error'), answer)));
        return;
      }
      var shown = pageAnswer(copy, page, MAX_PAGE_ROWS, answer);
      Array.prototype.push.apply(rows, shown.rows.slice(0, WHOLE_RESULT_MAX - rows.length));
      show();
      var more = copy.more || answer.aborted === true;
      if (!copy.more || answer.aborted === true || rows.length >= WHOLE_RESULT_MAX) {
        ui.bar.hidden = true;
        resolve({columns: shown.columns, rows: rows, more: more, cancelled: false});
        return;
      }
      step(page + 1, resolve, reject, shown.columns);
    }, function(error) {
      if (!job.cancelled) reject(error);
    });
  }
  show();
  return new Promise(function(resolve, reject) { step(0, resolve, reject, []); });
}

/// The rows a chart or map draws: the whole result of the grid's view, or
/// the answer on screen for a statement that runs as typed.
function wholeResult(kind, v, ui) {
  if (!isPaged(v) && resultBody(v)) return fetchWhole(kind, wrappedView(v, resultBody(v)), null, ui);
  if (!isPaged(v)) {
    ui.bar.hidden = true;
    return Promise.resolve({columns: lastData.columns || [], rows: lastData.rows || [],
                            more: lastData.truncated === true, cancelled: false});
  }
  return fetchWhole(kind, v, expectedRows(v), ui);
}

/// A note on what part of the result a drawing shows; empty when all.
function partNote(result) {
  if (result.cancelled) return 'Cancelled: drawn from the first ' + plural(result.rows.length, 'row');
  if (result.more) return 'Drawn from the first ' + plural(result.rows.length, 'row') + ' of the result';
  return '';
}

/// Resolves to {library, result} once the rows of `rows` (a promise) and
/// the browser library `name` are both in hand; a library that cannot be
/// loaded rejects with a sentence that says so.
function rowsAndLibrary(rows, name) {
  var library = loadAsset(name);
  return rows.then(function(result) {
    return library.then(
        function(module) { return {library: module, result: result}; },
        function(error) {
          throw new Error('The ' + name + ' library could not be loaded: ' + failureText(error));
        });
  });
}
