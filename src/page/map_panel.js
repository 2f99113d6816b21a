// "Map": shown when a column of the result holds geometries (GeoPackage,
// SpatiaLite or WKB blobs, WKT or GeoJSON text). The map draws the whole
// result (up to WHOLE_RESULT_MAX rows) in the geometries' own coordinates;
// a click on a feature shows its row. The map library is loaded when the
// first map opens.

var mapbtn = byId('mapbtn');
var GEOMETRY_DECL =
    /^(GEOMETRY|POINT|LINESTRING|POLYGON|MULTIPOINT|MULTILINESTRING|MULTIPOLYGON|GEOMETRYCOLLECTION|CURVE|SURFACE)$/i;
var GEOMETRY_TEXT =
    /^\s*(SRID=\d+;\s*)?(POINT|LINESTRING|POLYGON|MULTIPOINT|MULTILINESTRING|MULTIPOLYGON|GEOMETRYCOLLECTION)\b/i;
var GEOJSON_TEXT =
    /^\s*\{\s*"type"\s*:\s*"(Point|LineString|Polygon|MultiPoint|MultiLineString|MultiPolygon|GeometryCollection|Feature)"/;
var SPATIALITE_MBR_END_HEX = 76;  // hex offset of the byte that closes a SpatiaLite blob's bounds
var geometryColumnsByDb = {};      // database -> promise of {folded table name: column name}

// A WKB type code: 1 to 7, ISO's 1001.. 3007, or EWKB's flag bits.
function isWkbType(code) {
  if (code & 0xe0000000) return (code & 0x0fffffff) >= 1 && (code & 0x0fffffff) <= 7;
  return code < 4000 && code % 1000 >= 1 && code % 1000 <= 7;
}

/// Whether a value of a result looks like a geometry: from a blob's
/// leading bytes or a text's first words. The map reads it in full.
function looksLikeGeometry(value) {
  if (typeof value === 'string') return GEOMETRY_TEXT.test(value) || GEOJSON_TEXT.test(value);
  if (!isBlob(value) || typeof value.hex !== 'string') return false;
  var hex = value.hex;
  if (hex.slice(0, 6) === '475000') return true;
  if (/^000[01]/.test(hex) && hex.substr(SPATIALITE_MBR_END_HEX, 2) === '7c') return true;
  if (!/^0[01][0-9a-f]{8}/.test(hex)) return false;
  var bytes = hex.slice(2, 10).match(/../g);
  if (hex[1] === '1') bytes.reverse();
  return isWkbType(parseInt(bytes.join(''), 16) >>> 0);
}

/// The registered geometry columns of the database's tables: GeoPackage's
/// features (gpkg_contents with gpkg_geometry_columns) and SpatiaLite's
/// geometry_columns. Names are folded to lower case.
function registeredGeometryColumns() {
  var db = currentDb;
  if (geometryColumnsByDb[db]) return geometryColumnsByDb[db];
  var has = function(name) { return !!schemaTable(name); };
  var statements = [];
  if (has('gpkg_geometry_columns') && has('gpkg_contents')) {
    statements.push(
        'SELECT g.table_name, g.column_name FROM gpkg_geometry_columns g JOIN gpkg_contents c ' +
        'ON c.table_name = g.table_name WHERE c.data_type = \'features\'');
  }
  if (has('geometry_columns') && !has('gpkg_geometry_columns')) {
    statements.push('SELECT f_table_name, f_geometry_column FROM geometry_columns');
  }
  geometryColumnsByDb[db] =
      Promise
          .all(statements.map(function(sql) {
            return queryRows('geometry columns ' + sql, sql).catch(function() { return []; });
          }))
          .then(function(lists) {
            var found = {};
            lists.forEach(function(rows) {
              rows.forEach(function(row) { found[text(row[0]).toLowerCase()] = text(row[1]); });
            });
            return found;
          });
  return geometryColumnsByDb[db];
}

/// The indexes of the result's columns that hold geometries: declared as
/// a geometry type, or most of their values on screen look like one.
function geometryColumns(answer) {
  var rows = answer.rows || [];
  var found = [];
  (answer.columns || []).forEach(function(column, i) {
    var seen = 0;
    var like = 0;
    rows.forEach(function(row) {
      if (row[i] === null || row[i] === undefined) return;
      seen++;
      if (looksLikeGeometry(row[i])) like++;
    });
    if (GEOMETRY_DECL.test(text(column.decl)) || (like > 0 && like * 2 >= seen)) found.push(i);
  });
  return found;
}

/// The geometry columns of the result on screen, the registered one of an
/// opened table first. Resolves to a list of column indexes.
function mapColumns(v, answer) {
  var found = geometryColumns(answer);
  if (!v || v.kind !== 'table') return Promise.resolve(found);
  return registeredGeometryColumns().then(function(registered) {
    var name = registered[text(v.table.name).toLowerCase()];
    var index = (answer.columns || []).findIndex(function(c) { return text(c.name) === name; });
    if (index < 0) return found;
    return [index].concat(found.filter(function(i) { return i !== index; }));
  });
}

/// Shows the Map button when the answer just shown has a geometry column.
function offerMap() {
  var answer = lastData;
  var v = view;
  mapbtn.hidden = true;
  if (!answer || answer.ok !== true || failedPartWay(answer)) return;
  mapColumns(v, answer).then(function(columns) {
    if (lastData === answer) mapbtn.hidden = columns.length === 0;
  });
}

/// The values the map reads, one per row: {hex} for a blob (its whole
/// bytes, from the extra last column), the value itself otherwise.
function mapValues(rows, column, hexColumn) {
  return rows.map(function(row) {
    if (hexColumn >= 0 && typeof row[hexColumn] === 'string') return {hex: row[hexColumn]};
    var value = row[column];
    // A blob's preview is its whole value when it is short.
    if (isBlob(value) && typeof value.hex === 'string' && !/\.\.\.$/.test(value.hex)) {
      return {hex: value.hex};
    }
    return isBlob(value) ? {hex: ''} : value;
  });
}

function featureRow(into, columns, row) {
  empty(into);
  if (!row) return;
  into.appendChild(make('h3', 'facttitle', 'The row of this feature'));
  var region = make('div', 'factwrap');
  region.setAttribute('role', 'region');
  region.setAttribute('aria-label', 'The row of this feature');
  region.tabIndex = 0;
  region.appendChild(textTable(['column', 'value'], columns.map(function(c, i) {
    return [text(c.name), cellValue(row[i]).text];
  })));
  into.appendChild(region);
}

function countLine(drawing) {
  var parts = [plural(drawing.features, 'feature')];
  if (drawing.notGeometry) {
    parts.push(drawing.notGeometry + (drawing.notGeometry === 1 ? ' value was' : ' values were') +
               ' not a geometry');
  }
  if (drawing.empty) parts.push(drawing.empty + ' empty');
  return parts.join(DOT);
}

function smallButton(label, action) {
  var button = make('button', 'ghost', label);
  button.type = 'button';
  button.addEventListener('click', action);
  return button;
}

function drawMapPanel(body, map, result, column, hexColumn) {
  var columns = result.columns.slice(0, hexColumn >= 0 ? hexColumn : result.columns.length);
  var name = text(columns[column].name);
  var box = make('div', 'mapbox');
  box.setAttribute('role', 'img');
  var counts = make('div', 'hint mapcount');
  counts.setAttribute('role', 'status');
  var picked = make('div', 'maprow');
  var start = performance.now();
  var drawing = map.drawMap(box, mapValues(result.rows, column, hexColumn), function(row) {
    featureRow(picked, columns, row === null ? null : result.rows[row]);
  });
  var controls = make('div', 'row mapctl');
  controls.appendChild(smallButton('Zoom in', function() { drawing.zoomBy(2); }));
  controls.appendChild(smallButton('Zoom out', function() { drawing.zoomBy(0.5); }));
  controls.appendChild(smallButton('Fit', function() { drawing.fit(); }));
  controls.appendChild(make('span', 'hint', 'Drag to pan, wheel to zoom, click a feature for its row.'));
  body.appendChild(controls);
  counts.textContent = countLine(drawing);
  body.appendChild(counts);
  var note = partNote(result);
  if (note) body.appendChild(make('div', 'hint', note));
  box.setAttribute('aria-label', 'Map of ' + name + ': ' + plural(drawing.features, 'feature'));
  var figure = make('figure', 'visual');
  figure.appendChild(box);
  body.appendChild(figure);
  body.appendChild(picked);
  requestAnimationFrame(function() { performance.measure('map draw', {start: start}); });
  return drawing.destroy;
}

function showMap() {
  var body = openPanel('map', 'Map');
  var data = lastData;
  var v = view;
  if (!v || !data || data.ok !== true) {
    body.appendChild(make('div', 'empty', 'Run a statement first.'));
    return;
  }
  mapColumns(v, data).then(function(columns) {
    if (panelOwner !== 'map' || lastData !== data) return;
    if (!columns.length) {
      body.appendChild(make('div', 'empty', 'No column of this result holds geometries.'));
      return;
    }
    var column = columns[0];
    var source = v;
    var hexColumn = -1;
    var base = resultBody(v);
    if (base) {
      // Blobs arrive as a short preview; the extra column has them whole.
      var quoted = quotedName(data.columns[column].name);
      source = wrappedView(v, 'SELECT *, CASE typeof(' + quoted + ') WHEN \'blob\' THEN hex(' +
                                  quoted + ') END FROM (\n' + base + '\n)');
      hexColumn = data.columns.length;
    }
    var ui = fetchBar(body, 'Map data progress');
    rowsAndLibrary(wholeResult('map', source, ui), 'map')
        .then(
            function(loaded) {
              if (panelOwner !== 'map' || lastData !== data) return;
              panelRelease = drawMapPanel(body, loaded.library, loaded.result, column, hexColumn);
            },
            function(error) {
              if (panelOwner === 'map') body.appendChild(make('div', 'err', failureText(error)));
            });
  });
}

mapbtn.addEventListener('click', showMap);
