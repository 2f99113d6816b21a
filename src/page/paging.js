// Paging: every page of a result is one more bounded query. A SELECT, WITH
// or VALUES statement pages as a subquery with LIMIT/OFFSET; a table opened
// from the tables panel pages by rowid (keyset), so late pages cost what
// early ones do; any other statement runs as typed, in one answer.

var MAX_PAGE_ROWS = 500;    // the query action's row cap
var TABLE_PAGE_ROWS = 100;  // the LIMIT of a table's own statement
var ROWID_NAMES = ['rowid', '_rowid_', 'oid'];

// The result the grid pages through: null until a statement runs.
//   kind      'table', 'wrapped' or 'plain'
//   text      the statement box text that made it
//   table     the table entry of the schema answer (kind 'table')
//   filters   column name -> typed filter text (kind 'table')
//   key       the rowid name used for keyset paging, or '' for OFFSET
//   body      the typed statement without its semicolon (kind 'wrapped')
//   size      rows per page
//   sort      {index, dir} when the database sorts, else null
//   page      index of the page on screen; starts[p]: key before page p
//   more      true when rows follow the page on screen
var view = null;
var pager = byId('pager');
var rangeText = byId('range');
var prevbtn = byId('prevbtn');
var nextbtn = byId('nextbtn');

function rowidName(table) {
  if (table.type === 'view') return '';
  var taken = (table.columns || []).map(function(c) { return text(c.name).toLowerCase(); });
  return ROWID_NAMES.find(function(name) { return taken.indexOf(name) < 0; }) || '';
}

function tableView(table, filters) {
  return {
    kind: 'table',
    table: table,
    filters: filters || {},
    key: rowidName(table),
    size: TABLE_PAGE_ROWS,
    sort: null,
    page: 0,
    starts: [null],
    more: false,
    text: tableStatement(table, filters || {})
  };
}

function viewForStatement(sql) {
  if (view && view.kind === 'table' && view.text === sql)
    return tableView(view.table, view.filters);
  var shape = sqlShape(sql);
  return {
    kind: shape.wrappable ? 'wrapped' : 'plain',
    text: sql,
    body: shape.body,
    size: MAX_PAGE_ROWS,
    sort: null,
    page: 0,
    starts: [null],
    more: false
  };
}

function isPaged(v) { return v !== null && v.kind !== 'plain'; }

function orderClause(v) {
  if (!v.sort) return '';
  return ' ORDER BY ' + (v.sort.index + 1) + (v.sort.dir === 1 ? ' ASC' : ' DESC') + ' NULLS LAST';
}

// The statement of page `page`, asking for one row more than `size` to
// learn whether more follow. A keyed table view asks for the rowid as one
// more column at the end: the key after which the next page starts.
function pageStatement(v, page, size) {
  var limit = ' LIMIT ' + (size + 1);
  if (v.kind === 'wrapped')
    return 'SELECT * FROM (\n' + v.body + '\n)' + orderClause(v) + limit + ' OFFSET ' + page * size;
  var where = filterConditions(v.table, v.filters);
  if (v.key && !v.sort) {
    if (v.starts[page] !== null) where.push(v.key + ' > ' + v.starts[page]);
    return 'SELECT *, ' + v.key + ' FROM ' + quotedName(v.table.name) + whereClause(where) +
        ' ORDER BY ' + v.key + limit;
  }
  return 'SELECT * FROM ' + quotedName(v.table.name) + whereClause(where) + orderClause(v) + limit +
      ' OFFSET ' + page * size;
}

/// The statement of the key of row `offset` (from 0) of a keyed table view,
/// after which the page that starts at row offset + 1 begins.
function keyBeforeStatement(v, offset) {
  return 'SELECT ' + v.key + ' FROM ' + quotedName(v.table.name) +
      whereClause(filterConditions(v.table, v.filters)) + ' ORDER BY ' + v.key + ' LIMIT 1 OFFSET ' +
      (offset - 1);
}

function isKeyed(v) { return v.kind === 'table' && v.key !== '' && !v.sort; }

/// One page of `v` as an answer the grid can show: at most `size` rows,
/// the key column taken off, `truncated` true when more rows follow.
/// `more` and the next page's key are kept on `v`.
function pageAnswer(v, page, size, answer) {
  var rows = answer.rows || [];
  var columns = answer.columns || [];
  var more = rows.length > size || (answer.truncated === true && answer.aborted !== true);
  rows = rows.slice(0, size);
  if (isKeyed(v)) {
    if (rows.length) v.starts[page + 1] = String(rows[rows.length - 1][columns.length - 1]);
    // The key of each row on screen, for the cell viewer's exact value.
    v.keys = rows.map(function(row) { return String(row[columns.length - 1]); });
    columns = columns.slice(0, -1);
    rows = rows.map(function(row) { return row.slice(0, columns.length); });
  }
  v.more = more;
  var shown = Object.assign({}, answer);
  shown.columns = columns;
  shown.rows = rows;
  shown.row_count = rows.length;
  shown.truncated = more || answer.truncated === true;
  if (answer.types) shown.types = answer.types.slice(0, columns.length);
  return shown;
}

// A table without a rowid (WITHOUT ROWID) refuses the keyed statement; it
// pages by OFFSET instead. `kind` names the request stream (see send).
function fetchPage(kind, v, page, size) {
  if (isKeyed(v) && v.starts[page] === undefined) {
    return postQuery(kind, keyBeforeStatement(v, page * size)).then(function(answer) {
      var row = isEnvelope(answer) && answer.ok === true && answer.rows && answer.rows[0];
      if (!row) return answer;
      v.starts[page] = String(row[0]);
      return fetchPage(kind, v, page, size);
    });
  }
  return postQuery(kind, pageStatement(v, page, size)).then(function(answer) {
    if (isEnvelope(answer) && answer.ok === false && isKeyed(v) && page === 0) {
      v.key = '';
      return postQuery(kind, pageStatement(v, page, size));
    }
    return answer;
  });
}

function isPageResult(v, answer) {
  return isPaged(v) && isEnvelope(answer) && answer.ok === true && isQueryResult(answer) &&
      !failedPartWay(answer);
}

/// Runs the statement of `v` (a plain one as typed) and shows page `page`.
/// It replaces any statement or page in flight.
function showPage(v, page) {
  closeResultPanel(v !== view);
  view = v;
  runningQuery = {db: currentDb, sql: v.text};
  runbtn.disabled = true;
  stopbtn.hidden = false;
  announce('');
  qmeta.textContent = 'Running...';
  var request = isPaged(v) ? fetchPage('query', v, page, v.size) : postQuery('query', v.text);
  request.then(
      function(answer) {
        runningQuery = null;
        v.page = page;
        var paged = isPageResult(v, answer);
        showAnswer(paged ? pageAnswer(v, page, v.size, answer) : answer);
        if (paged && v.sort) qmeta.textContent += DOT + sortNote(v);
        showPager(paged);
        keepSortedColumn(v);
        if (paged) focusAskedRow(v);
        refreshFacets();
      },
      function(error) {
        runningQuery = null;
        runbtn.disabled = false;
        stopbtn.hidden = true;
        queryFailed('Request failed: ' + failureText(error));
        showPager(false);
      });
}

function sortNote(v) {
  var column = (lastData.columns || [])[v.sort.index] || {};
  return 'sorted by ' + text(column.name) + (v.sort.dir === 1 ? ' ascending' : ' descending') +
      ' in the database';
}

/// Shows the pager under a page of rows (`paged`); hides it otherwise.
function showPager(paged) {
  var rows = paged ? (lastData.rows || []).length : 0;
  pager.hidden = rows === 0;
  if (!rows) return;
  showRange();
  countRows(view);
  prevbtn.disabled = view.page === 0;
  nextbtn.disabled = !view.more;
}

/// True when the grid holds the whole result, so that a sort on screen
/// sorts all of it.
function resultComplete() {
  return !isPaged(view) || (view.page === 0 && !view.more && lastData && lastData.aborted !== true);
}

/// Sorts a result that is not all on screen in the database, first
/// ascending then descending. Returns false when the grid holds the whole
/// result and the page sorts it itself.
function sortInDatabase(index) {
  if (resultComplete()) return false;
  var dir = view.sort && view.sort.index === index ? -view.sort.dir : 1;
  view.sort = {index: index, dir: dir};
  view.page = 0;
  view.starts = [null];
  sortCol = index;
  sortDir = dir;
  writeHash(view);
  // Like a sort on screen, the sorted rows keep the column in view and the
  // keyboard focus on its header.
  view.afterSort = {
    index: index,
    left: reswrap.scrollLeft,
    focus: reswrap.contains(document.activeElement)
  };
  showPage(view, 0);
  return true;
}

function keepSortedColumn(v) {
  var kept = v.afterSort;
  v.afterSort = null;
  if (!kept) return;
  reswrap.scrollLeft = kept.left;
  var header = reswrap.querySelector('th[data-col="' + kept.index + '"] button');
  if (kept.focus && header) header.focus();
}

function nextPage() {
  if (view && view.more) showPage(view, view.page + 1);
}

function previousPage() {
  if (view && view.page > 0) showPage(view, view.page - 1);
}

prevbtn.addEventListener('click', previousPage);
nextbtn.addEventListener('click', nextPage);
