// "Diagram": the chosen database's tables and views as boxes with their
// columns, an arrow per foreign key, laid out by the diagram library
// (loaded when the diagram first opens); a box opens its table. The same
// tables and references are listed as text below it, which stays when the
// library cannot be loaded.

var FOREIGN_KEYS_SQL = 'SELECT m.name, f.id, f.seq, f."table", f."from", f."to" FROM sqlite_master m ' +
    'JOIN pragma_foreign_key_list(m.name) f WHERE m.type = \'table\' ORDER BY 1, 2, 3';

/// Every foreign key of the database as {table, references, from, to}, in
/// one statement paged like any other.
function allForeignKeys(ui) {
  var v = wrappedView({sort: null}, FOREIGN_KEYS_SQL);
  return fetchWhole('diagram', v, null, ui).then(function(result) {
    var keys = [];
    var last = null;
    result.rows.forEach(function(row) {
      var table = text(row[0]);
      if (!last || last.table !== table || last.id !== row[1]) {
        last = {table: table, id: row[1], references: text(row[3]), from: [], to: []};
        keys.push(last);
      }
      last.from.push(text(row[4]));
      last.to.push(row[5] === null ? '' : text(row[5]));
    });
    return keys;
  });
}

function keyText(key) {
  var to = key.to.some(Boolean) ? ' (' + key.to.join(', ') + ')' : ' (primary key)';
  return key.from.join(', ') + ' \u2192 ' + key.references + to;
}

/// The text alternative: each table and view with the references it
/// makes and receives.
function referenceList(tableList, keys) {
  var details = make('details', 'dlist');
  details.appendChild(make('summary', '', 'Tables and references as a list'));
  var list = make('ul');
  tableList.forEach(function(table) {
    var name = text(table.name);
    var folded = name.toLowerCase();
    var item = make('li', '', name + (table.type === 'view' ? ' (view)' : ''));
    var lines = [];
    keys.forEach(function(key) {
      if (key.table.toLowerCase() === folded) lines.push('references ' + keyText(key));
      if (key.references.toLowerCase() === folded && key.table.toLowerCase() !== folded) {
        lines.push('referenced by ' + key.table + ' (' + key.from.join(', ') + ')');
      }
    });
    if (lines.length) {
      var sub = make('ul');
      lines.forEach(function(line) { sub.appendChild(make('li', '', line)); });
      item.appendChild(sub);
    }
    list.appendChild(item);
  });
  details.appendChild(list);
  return details;
}

function openFromDiagram(name) {
  var table = schemaTable(name);
  if (!table) return;
  closePanel();
  chooseTable(table);
  reswrap.scrollIntoView({block: 'nearest'});
}

function drawDiagramPanel(body, diagram, tableList, keys) {
  var controls = make('div', 'row mapctl');
  var box = make('div', 'diagrambox');
  body.appendChild(controls);
  body.appendChild(box);
  var start = performance.now();
  var drawing = diagram.drawDiagram(box, tableList, keys, openFromDiagram);
  requestAnimationFrame(function() { performance.measure('diagram draw', {start: start}); });
  controls.appendChild(smallButton('Zoom in', function() { drawing.zoomBy(1.5); }));
  controls.appendChild(smallButton('Zoom out', function() { drawing.zoomBy(1 / 1.5); }));
  controls.appendChild(smallButton('Fit', function() { drawing.fit(); }));
  controls.appendChild(
      make('span', 'hint', 'Drag to pan, wheel to zoom; a box (or Enter on it) opens its table.'));
  return drawing.destroy;
}

function showDiagram() {
  var body = openPanel('diagram', 'Diagram');
  var db = currentDb;
  var tableList = schemaTables;
  if (!db || !tableList.length) {
    body.appendChild(make('div', 'empty', db ? 'No tables.' : 'Select a database first.'));
    return;
  }
  var ui = fetchBar(body, 'Diagram data progress');
  var library = loadAsset('diagram');
  allForeignKeys(ui).then(
      function(keys) {
        if (panelOwner !== 'diagram' || currentDb !== db) return;
        var summary = make('div', 'hint', plural(tableList.length, 'table') + DOT +
                                              plural(keys.length, 'reference'));
        body.appendChild(summary);
        var list = referenceList(tableList, keys);
        body.appendChild(list);
        library.then(
            function(diagram) {
              if (panelOwner !== 'diagram' || currentDb !== db) return;
              var holder = make('div');
              body.insertBefore(holder, list);
              panelRelease = drawDiagramPanel(holder, diagram, tableList, keys);
            },
            function(error) {
              if (panelOwner !== 'diagram') return;
              body.insertBefore(
                  make('div', 'err',
                       'The diagram library could not be loaded: ' + failureText(error)),
                  list);
            });
      },
      function(error) {
        if (panelOwner === 'diagram') body.appendChild(make('div', 'err', failureText(error)));
      });
}

byId('diagrambtn').addEventListener('click', showDiagram);
