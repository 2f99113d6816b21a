// Facets: the most common values of one column of the result on screen,
// with their counts, by one bounded query (GROUP BY over the whole table or
// statement, filters included); a value is a button that filters by it.

var FACET_VALUES = 20;
var facetColumn = '';  // the column last chosen, kept while it exists

/// The statement counting the values of column `name` in the result `v`,
/// or null when the result is not one the page can ask again (a plain
/// statement: its values are counted on screen).
function facetStatement(v, name) {
  var tail = ' GROUP BY 1 ORDER BY 2 DESC, 1 LIMIT ' + FACET_VALUES;
  if (v.kind === 'table') {
    return 'SELECT ' + quotedName(name) + ', count(*) FROM ' + quotedName(v.table.name) +
        whereClause(filterConditions(v.table, v.filters)) + tail;
  }
  if (v.kind === 'wrapped') return 'SELECT ' + quotedName(name) + ', count(*) FROM (\n' + v.body + '\n)' + tail;
  return null;
}

/// The values of column `index` counted in the rows on screen, most common
/// first.
function countOnScreen(index) {
  var counts = new Map();
  (lastData.rows || []).forEach(function(row) {
    var key = stringifyExact(row[index] === undefined ? null : row[index]);
    var seen = counts.get(key) || {value: row[index], n: 0};
    seen.n++;
    counts.set(key, seen);
  });
  return Array.from(counts.values()).sort(function(a, b) { return b.n - a.n; })
      .slice(0, FACET_VALUES).map(function(c) { return [c.value, c.n]; });
}

/// What a facet value filters by, in the words of the filter boxes: text
/// quoted, so that it matches as the very same text.
function facetFilter(value) {
  if (value === null || value === undefined) return 'is null';
  if (typeof value === 'string') return '=\'' + value.replace(/'/g, '\'\'') + '\'';
  return '=' + stringifyExact(value);
}

/// Filters the result on screen to rows whose column `name` holds `value`.
function filterByFacet(name, value) {
  if (view.kind === 'table') {
    applyFilter(name, facetFilter(value));
    return;
  }
  var condition = filterCondition({columns: []}, name, facetFilter(value));
  var sql = 'SELECT * FROM (\n' + (view.body || sqlShape(view.text).body) + '\n) WHERE ' + condition + ';';
  setSqlText(sql);
  showPage(viewForStatement(sql), 0);
  rememberRun(view);
}

function facetButton(name, value, n) {
  var shown = cellValue(value).text + ' (' + grouped(n) + ')';
  var button = make('button', 'ghost facet', shown);
  button.type = 'button';
  if (isBlob(value)) {
    button.disabled = true;
  } else {
    button.addEventListener('click', function() { filterByFacet(name, value); });
  }
  return button;
}

function showFacetValues(list, name, rows) {
  empty(list);
  if (!rows.length) list.appendChild(make('div', 'empty', 'No values.'));
  rows.forEach(function(row) { list.appendChild(facetButton(name, row[0], row[1])); });
}

function countFacets(select, list) {
  var index = select.selectedIndex;
  facetColumn = select.value;
  var sql = facetStatement(view, facetColumn);
  if (!sql) {
    showFacetValues(list, facetColumn, countOnScreen(index));
    return;
  }
  placeholder(list, 'Counting...');
  var name = facetColumn;
  queryRows('facets', sql).then(function(rows) {
    if (panelOwner === 'facets' && facetColumn === name) showFacetValues(list, name, rows);
  }, function(error) {
    if (panelOwner === 'facets') showError(list, failureText(error));
  });
}

/// Opens the Facets panel on the result on screen; `again` draws it anew
/// for a new result, leaving the focus where it is.
function showFacets(again) {
  var body = again ? panelBody : openPanel('facets', 'Facets');
  empty(body);
  var columns = lastData && lastData.ok === true ? lastData.columns || [] : [];
  if (!view || !columns.length) {
    body.appendChild(make('div', 'empty', 'Run a statement first.'));
    return;
  }
  var label = make('label', 'hint', 'Facet column ');
  var select = make('select');
  select.setAttribute('aria-label', 'Facet column');
  columns.forEach(function(column) { select.appendChild(option(text(column.name), text(column.name))); });
  if (columns.some(function(c) { return text(c.name) === facetColumn; })) select.value = facetColumn;
  label.appendChild(select);
  var list = make('div', 'row facetlist');
  body.appendChild(label);
  body.appendChild(list);
  select.addEventListener('change', function() { countFacets(select, list); });
  countFacets(select, list);
}

/// After a new result: an open Facets panel counts it.
function refreshFacets() {
  if (panelOwner === 'facets') showFacets(true);
}

byId('facetsbtn').addEventListener('click', function() { showFacets(false); });
