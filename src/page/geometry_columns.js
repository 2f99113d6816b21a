// Which columns of a result hold geometries, for the Map button: a column
// declared as a geometry type, one whose values on screen mostly look like
// geometries (from a blob's first bytes or a text's first word), and for a
// table opened from the list, the column its database registers
// (GeoPackage's gpkg_contents with gpkg_geometry_columns, SpatiaLite's
// geometry_columns).

var mapbtn = byId('mapbtn');
var GEOMETRY_WORDS = 'POINT|LINESTRING|POLYGON|MULTIPOINT|MULTILINESTRING|MULTIPOLYGON|GEOMETRYCOLLECTION';
var GEOMETRY_DECL = new RegExp('^(GEOMETRY|CURVE|SURFACE|' + GEOMETRY_WORDS + ')$', 'i');
var GEOMETRY_TEXT = new RegExp('^\\s*(SRID=\\d+;\\s*)?(' + GEOMETRY_WORDS + ')\\b', 'i');
var GEOJSON_TEXT = /^\s*\{\s*"type"\s*:\s*"(Feature|Point|LineString|Polygon|Multi\w+|GeometryCollection)"/;
var registeredColumns = {};  // database -> promise of {lower-case table name: column name}

/// Whether a value looks like a geometry: GeoPackage's "GP" header, a
/// SpatiaLite blob (its bounds closed by 7C at byte 38), WKB's byte order
/// and a known type code, WKT or GeoJSON text.
function looksLikeGeometry(value) {
  if (typeof value === 'string') return GEOMETRY_TEXT.test(value) || GEOJSON_TEXT.test(value);
  if (!isBlob(value) || typeof value.hex !== 'string') return false;
  var hex = value.hex;
  if (/^475000/.test(hex) || (/^000[01]/.test(hex) && hex.substr(76, 2) === '7c')) return true;
  if (!/^0[01][0-9a-f]{8}/.test(hex)) return false;
  var bytes = hex.slice(2, 10).match(/../g);
  if (hex[1] === '1') bytes.reverse();
  var code = parseInt(bytes.join(''), 16);
  var kind = code >= 0x20000000 ? code % 0x10000000 : code < 4000 ? code % 1000 : 0;
  return kind >= 1 && kind <= 7;
}

function registered() {
  var db = currentDb;
  if (registeredColumns[db]) return registeredColumns[db];
  var statements = [];
  if (schemaTable('gpkg_geometry_columns') && schemaTable('gpkg_contents')) {
    statements.push('SELECT g.table_name, g.column_name FROM gpkg_geometry_columns g JOIN ' +
                    'gpkg_contents c USING (table_name) WHERE c.data_type = \'features\'');
  } else if (schemaTable('geometry_columns')) {
    statements.push('SELECT f_table_name, f_geometry_column FROM geometry_columns');
  }
  registeredColumns[db] = Promise.all(statements.map(function(sql) {
    return queryRows('geometry columns', sql).catch(function() { return []; });
  })).then(function(lists) {
    var found = {};
    lists.forEach(function(rows) {
      rows.forEach(function(row) { found[text(row[0]).toLowerCase()] = text(row[1]); });
    });
    return found;
  });
  return registeredColumns[db];
}

/// Resolves to the indexes of the columns of `answer` (the result of view
/// `v`) that hold geometries, the registered one first.
function mapColumns(v, answer) {
  var rows = answer.rows || [];
  var found = (answer.columns || []).map(function(column, i) {
    var values = rows.map(function(row) { return row[i]; }).filter(function(x) {
      return x !== null && x !== undefined;
    });
    var like = values.filter(looksLikeGeometry).length;
    return GEOMETRY_DECL.test(text(column.decl)) || (like > 0 && like * 2 >= values.length) ? i : -1;
  }).filter(function(i) { return i >= 0; });
  if (!v || v.kind !== 'table') return Promise.resolve(found);
  return registered().then(function(names) {
    var name = names[text(v.table.name).toLowerCase()];
    var index = (answer.columns || []).findIndex(function(c) { return text(c.name) === name; });
    return index < 0 ? found : [index].concat(found.filter(function(i) { return i !== index; }));
  });
}

/// Shows the Map button while the answer on screen has a geometry column.
function offerMap() {
  var answer = lastData;
  mapbtn.hidden = true;
  if (!answer || answer.ok !== true || failedPartWay(answer)) return;
  mapColumns(view, answer).then(function(columns) {
    if (lastData === answer) mapbtn.hidden = !columns.length;
  });
}
