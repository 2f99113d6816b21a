// "Chart", "Map" and "Diagram": the page fetches the rows, then hands them
// to the panel's library, loaded when first opened.

var FOREIGN_KEYS_SQL = 'SELECT m.name, f.id, f.seq, f."table", f."from", f."to" FROM sqlite_master m ' +
    'JOIN pragma_foreign_key_list(m.name) f WHERE m.type = \'table\' ORDER BY 1, 2, 3';

/// Opens the panel `owner`; when `rows` (a function of the fetch bar)
/// and the library `owner` are in hand and the panel still shows, calls
/// `fill(library, result)`, which returns what stops its drawing. A
/// failure is said in the panel.
function openVisual(owner, title, rows, fill) {
  var body = openPanel(owner, title);
  var data = lastData;
  var db = currentDb;
  var stillShown = function() {
    return panelOwner === owner && lastData === data && currentDb === db;
  };
  rowsAndLibrary(rows(fetchBar(body, title + ' data progress')), owner).then(function(loaded) {
    if (!stillShown()) return;
    var note = partNote(loaded.result);
    if (note) body.appendChild(make('div', 'hint', note));
    panelRelease = fill(body, loaded.library, loaded.result);
  }, function(error) {
    if (stillShown()) body.appendChild(make('div', 'err', failureText(error)));
  });
}

function hasResult() {
  if (view && lastData && lastData.ok === true && !failedPartWay(lastData) &&
      (lastData.columns || []).length) return true;
  placeholder(openPanel('visual', 'Chart'), 'Run a statement first.');
  return false;
}

function showChart() {
  if (!hasResult()) return;
  var v = view;
  openVisual('chart', 'Chart', function(ui) { return wholeResult('chart', v, ui); },
             function(body, chart, result) { return chart.chartPanel(body, result); });
}

// Blobs arrive as a short preview: the map fetches each one whole in an
// extra last column of the paged statement.
function showMap() {
  var v = view;
  var answer = lastData;
  mapColumns(v, answer).then(function(columns) {
    if (lastData !== answer || !columns.length) return;
    var column = columns[0];
    var base = resultBody(v);
    var quoted = quotedName(answer.columns[column].name);
    var source = base ? wrappedView(v, 'SELECT *, CASE typeof(' + quoted + ') WHEN \'blob\' THEN hex(' +
                                           quoted + ') END FROM (\n' + base + '\n)') :
                        v;
    openVisual('map', 'Map', function(ui) { return wholeResult('map', source, ui); },
               function(body, map, result) {
                 return map.mapPanel(body, result, column, base ? answer.columns.length : -1,
                                     function(value) { return cellValue(value).text; });
               });
  });
}

/// Every foreign key of the database as {table, references, from, to},
/// read page by page from one statement.
function allForeignKeys(ui) {
  return fetchWhole('diagram', wrappedView({sort: null}, FOREIGN_KEYS_SQL), null, ui).then(function(result) {
    var keys = [];
    var last = null;
    result.rows.forEach(function(row) {
      if (!last || last.table !== text(row[0]) || last.id !== row[1]) {
        last = {table: text(row[0]), id: row[1], references: text(row[3]), from: [], to: []};
        keys.push(last);
      }
      last.from.push(text(row[4]));
      last.to.push(text(row[5]));
    });
    return {columns: [], rows: keys, more: result.more, cancelled: result.cancelled};
  });
}

function openFromDiagram(name) {
  var table = schemaTable(name);
  if (!table) return;
  closePanel();
  chooseTable(table);
  reswrap.scrollIntoView({block: 'nearest'});
}

function showDiagram() {
  if (!currentDb || !schemaTables.length) {
    placeholder(openPanel('diagram', 'Diagram'), currentDb ? 'No tables.' : 'Select a database first.');
    return;
  }
  var tableList = schemaTables;
  openVisual('diagram', 'Diagram', allForeignKeys, function(body, diagram, keys) {
    return diagram.diagramPanel(body, tableList, keys.rows, openFromDiagram);
  });
}

byId('chartbtn').addEventListener('click', showChart);
byId('mapbtn').addEventListener('click', showMap);
byId('diagrambtn').addEventListener('click', showDiagram);
