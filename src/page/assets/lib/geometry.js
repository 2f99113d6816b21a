// Geometry values as a database stores them, read into GeoJSON geometry
// objects: GeoPackage blobs ("GP" header, then WKB), SpatiaLite blobs,
// plain WKB (ISO and EWKB type codes), WKT text and GeoJSON text.
//
// Every reader is bounded: a count larger than the bytes left, a type code
// it does not know, a non-finite coordinate or bytes left over make the
// value "not a geometry" (null). Nothing here throws to its caller.
//
// An empty geometry (GeoPackage's empty flag, WKT's EMPTY, a WKB point of
// NaN) is a geometry with no coordinates: {type, coordinates: []}.

const MAX_DEPTH = 16;  // nesting of collections accepted in one value
const KINDS = [null, 'Point', 'LineString', 'Polygon', 'MultiPoint', 'MultiLineString',
  'MultiPolygon', 'GeometryCollection'];

class NotGeometry extends Error {}

function fail() { throw new NotGeometry(); }

/// A bounds-checked reader of a byte array; `little` is the byte order.
class Reader {
  constructor(bytes, at) {
    this.view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    this.at = at || 0;
    this.little = true;
  }
  left() { return this.view.byteLength - this.at; }
  need(n) {
    if (n > this.left()) fail();
  }
  byte() {
    this.need(1);
    return this.view.getUint8(this.at++);
  }
  uint32() {
    this.need(4);
    const value = this.view.getUint32(this.at, this.little);
    this.at += 4;
    return value;
  }
  int32() {
    this.need(4);
    const value = this.view.getInt32(this.at, this.little);
    this.at += 4;
    return value;
  }
  float64() {
    this.need(8);
    const value = this.view.getFloat64(this.at, this.little);
    this.at += 8;
    return value;
  }
  float32() {
    this.need(4);
    const value = this.view.getFloat32(this.at, this.little);
    this.at += 4;
    return value;
  }
  /// A count of items of at least `itemBytes` bytes each that must fit in
  /// what is left.
  count(itemBytes) {
    const n = this.uint32();
    if (n * itemBytes > this.left()) fail();
    return n;
  }
}

function finite(x) {
  if (!Number.isFinite(x)) fail();
  return x;
}

// ---- WKB ----

/// The kind (1..7) and the number of ordinates per point of a WKB type
/// code, ISO (1001 Z, 2001 M, 3001 ZM) or EWKB (high flag bits).
function wkbType(code, reader) {
  let dims = 2;
  let kind = code;
  if (code & 0xe0000000) {
    if (code & 0x80000000) dims++;
    if (code & 0x40000000) dims++;
    if (code & 0x20000000) reader.int32();  // the SRID
    kind = code & 0x0fffffff;
  } else if (code >= 1000 && code < 4000) {
    dims += code >= 3000 ? 2 : 1;
    kind = code % 1000;
  }
  if (kind < 1 || kind > 7) fail();
  return {kind: kind, dims: dims};
}

function wkbPoint(reader, dims) {
  const x = reader.float64();
  const y = reader.float64();
  for (let i = 2; i < dims; i++) reader.float64();
  if (Number.isNaN(x) && Number.isNaN(y)) return null;  // the empty point
  return [finite(x), finite(y)];
}

function wkbPoints(reader, dims) {
  const n = reader.count(8 * dims);
  const points = new Array(n);
  for (let i = 0; i < n; i++) {
    const point = wkbPoint(reader, dims);
    if (!point) fail();
    points[i] = point;
  }
  return points;
}

function wkbRings(reader, dims) {
  const n = reader.count(4);
  const rings = new Array(n);
  for (let i = 0; i < n; i++) rings[i] = wkbPoints(reader, dims);
  return rings;
}

function wkbGeometry(reader, depth) {
  if (depth > MAX_DEPTH) fail();
  const order = reader.byte();
  if (order > 1) fail();
  reader.little = order === 1;
  const {kind, dims} = wkbType(reader.uint32(), reader);
  const type = KINDS[kind];
  if (kind === 1) {
    const point = wkbPoint(reader, dims);
    return {type: type, coordinates: point || []};
  }
  if (kind === 2) return {type: type, coordinates: wkbPoints(reader, dims)};
  if (kind === 3) return {type: type, coordinates: wkbRings(reader, dims)};
  const n = reader.count(5);
  const parts = [];
  for (let i = 0; i < n; i++) {
    const part = wkbGeometry(reader, depth + 1);
    if (kind !== 7 && part.type !== KINDS[kind - 3]) fail();
    parts.push(part);
  }
  if (kind === 7) return {type: type, geometries: parts};
  return {type: type, coordinates: parts.map((p) => p.coordinates).filter((c) => c.length)};
}

/// The WKB geometry at `at` that ends exactly at the end of `bytes`.
function wholeWkb(bytes, at) {
  const reader = new Reader(bytes, at);
  const geometry = wkbGeometry(reader, 0);
  if (reader.left()) fail();
  return geometry;
}

// ---- GeoPackage ----

// Envelope sizes by the flags' indicator: none, xy, xyz, xym, xyzm.
const GP_ENVELOPE_BYTES = [0, 32, 48, 48, 64];

function isGeoPackage(bytes) {
  return bytes.length >= 8 && bytes[0] === 0x47 && bytes[1] === 0x50 && bytes[2] === 0;
}

function geoPackageGeometry(bytes) {
  const flags = bytes[3];
  const envelope = (flags >> 1) & 7;
  if (envelope >= GP_ENVELOPE_BYTES.length) fail();
  if (flags & 0x20) fail();  // an extended (non-standard) geometry type
  const start = 8 + GP_ENVELOPE_BYTES[envelope];
  if (start > bytes.length) fail();
  const geometry = wholeWkb(bytes, start);
  if (flags & 0x10) return {type: geometry.type, coordinates: []};
  return geometry;
}

// ---- SpatiaLite ----

const SL_START = 0x00;
const SL_MBR_END = 0x7c;
const SL_ENTITY = 0x69;
const SL_END = 0xfe;
const SL_HEADER_BYTES = 43;  // start, order, SRID, MBR, MBR end, class

function isSpatiaLite(bytes) {
  return bytes.length > SL_HEADER_BYTES && bytes[0] === SL_START && bytes[1] <= 1 &&
      bytes[38] === SL_MBR_END && bytes[bytes.length - 1] === SL_END;
}

/// Kind, ordinates per point and compression of a SpatiaLite class code:
/// 1..7, plus 1000 (Z), 2000 (M) or 3000 (ZM), plus 1000000 when the
/// lines and rings are compressed.
function spatiaLiteType(code) {
  const compressed = code >= 1000000 && code < 1004000;
  const base = compressed ? code - 1000000 : code;
  if (base < 1 || base >= 4000) fail();
  const kind = base % 1000;
  const variant = Math.floor(base / 1000);  // 0 xy, 1 xyz, 2 xym, 3 xyzm
  if (kind < 1 || kind > 7) fail();
  return {kind: kind, variant: variant, compressed: compressed};
}

const SL_DIMS = [2, 3, 3, 4];

// A compressed line keeps its first and last vertices whole; the others
// are float deltas of x and y (and z) from the vertex before, with m, when
// present, whole.
function spatiaLitePoints(reader, t) {
  const dims = SL_DIMS[t.variant];
  if (!t.compressed) return wkbPoints(reader, dims);
  const hasM = t.variant >= 2;
  const deltas = dims - (hasM ? 1 : 0);
  const middleBytes = 4 * deltas + (hasM ? 8 : 0);
  const n = reader.uint32();
  if (n && (n < 2 ? 8 * dims : 16 * dims + (n - 2) * middleBytes) > reader.left()) fail();
  const points = new Array(n);
  let x = 0;
  let y = 0;
  for (let i = 0; i < n; i++) {
    if (i === 0 || i === n - 1) {
      x = finite(reader.float64());
      y = finite(reader.float64());
      for (let d = 2; d < dims; d++) reader.float64();
    } else {
      x = finite(x + reader.float32());
      y = finite(y + reader.float32());
      for (let d = 2; d < deltas; d++) reader.float32();
      if (hasM) reader.float64();
    }
    points[i] = [x, y];
  }
  return points;
}

function spatiaLiteBody(reader, t, depth) {
  const type = KINDS[t.kind];
  const dims = SL_DIMS[t.variant];
  if (t.kind === 1) {
    if (t.compressed) fail();
    const point = wkbPoint(reader, dims);
    return {type: type, coordinates: point || []};
  }
  if (t.kind === 2) return {type: type, coordinates: spatiaLitePoints(reader, t)};
  if (t.kind === 3) {
    const n = reader.count(4);
    const rings = new Array(n);
    for (let i = 0; i < n; i++) rings[i] = spatiaLitePoints(reader, t);
    return {type: type, coordinates: rings};
  }
  if (depth > 0) fail();  // a SpatiaLite collection holds no collection
  const n = reader.count(5);
  const parts = [];
  for (let i = 0; i < n; i++) {
    if (reader.byte() !== SL_ENTITY) fail();
    const part = spatiaLiteType(reader.int32());
    if (part.kind > 3 || (t.kind !== 7 && part.kind !== t.kind - 3)) fail();
    parts.push(spatiaLiteBody(reader, part, depth + 1));
  }
  if (t.kind === 7) return {type: type, geometries: parts};
  return {type: type, coordinates: parts.map((p) => p.coordinates).filter((c) => c.length)};
}

function spatiaLiteGeometry(bytes) {
  const reader = new Reader(bytes.subarray(0, bytes.length - 1), 1);
  reader.little = reader.byte() === 1;
  reader.int32();  // SRID
  for (let i = 0; i < 4; i++) reader.float64();  // MBR
  reader.byte();   // the MBR end marker, checked by isSpatiaLite
  const geometry = spatiaLiteBody(reader, spatiaLiteType(reader.int32()), 0);
  if (reader.left()) fail();
  return geometry;
}

// ---- WKT ----

const WKT_HEAD =
    /^\s*(?:SRID=\d+;\s*)?(POINT|LINESTRING|POLYGON|MULTIPOINT|MULTILINESTRING|MULTIPOLYGON|GEOMETRYCOLLECTION)\s*(ZM|Z|M)?\s*(?=\(|EMPTY)/i;
const WKT_NAMES = {
  POINT: 'Point', LINESTRING: 'LineString', POLYGON: 'Polygon', MULTIPOINT: 'MultiPoint',
  MULTILINESTRING: 'MultiLineString', MULTIPOLYGON: 'MultiPolygon', GEOMETRYCOLLECTION: 'GeometryCollection',
};
const WKT_NUMBER = /^[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?$/;
const NUMBER_CHARACTERS = '0123456789+-.eE';
const WKT_WORD = /[A-Za-z]+/y;

class WktReader {
  constructor(source) {
    this.source = source;
    this.at = 0;
  }
  space() {
    const source = this.source;
    let at = this.at;
    for (let c = source.charCodeAt(at); c === 32 || (c >= 9 && c <= 13); c = source.charCodeAt(++at));
    this.at = at;
  }
  peek() {
    this.space();
    return this.source.charAt(this.at);
  }
  take(character) {
    if (this.peek() !== character) fail();
    this.at++;
  }
  word() {
    this.space();
    WKT_WORD.lastIndex = this.at;
    const found = WKT_WORD.exec(this.source);
    if (!found) fail();
    this.at = WKT_WORD.lastIndex;
    return found[0].toUpperCase();
  }
  // The Z, M or ZM after a type name, if any; the map keeps x and y.
  dimensions() {
    this.space();
    const found = /^(ZM|Z|M)\b/i.exec(this.source.slice(this.at, this.at + 3));
    if (found) this.at += found[0].length;
  }
  empty() {
    this.space();
    if (!/^EMPTY\b/i.test(this.source.slice(this.at, this.at + 6))) return false;
    this.at += 5;
    return true;
  }
  // A number as WKT writes it: sign, digits, fraction, exponent.
  number() {
    this.space();
    const source = this.source;
    const start = this.at;
    let at = start;
    while (at < source.length && NUMBER_CHARACTERS.indexOf(source[at]) >= 0) at++;
    const text = source.slice(start, at);
    if (!WKT_NUMBER.test(text)) fail();
    this.at = at;
    return finite(Number(text));
  }
  // Two to four ordinates; the map keeps x and y.
  point() {
    const x = this.number();
    const y = this.number();
    for (let i = 2; i < 4 && /[-+.\d]/.test(this.peek()); i++) this.number();
    return [x, y];
  }
  // A list of `item` in parentheses, or EMPTY (an empty list).
  list(item) {
    if (this.empty()) return [];
    this.take('(');
    const items = [item()];
    while (this.peek() === ',') {
      this.at++;
      items.push(item());
    }
    this.take(')');
    return items;
  }
}

function wktTagged(reader, depth) {
  if (depth > MAX_DEPTH) fail();
  const type = WKT_NAMES[reader.word()];
  if (!type) fail();
  reader.dimensions();
  return wktBody(reader, type, depth);
}

// A point of MULTIPOINT may stand with or without its own parentheses.
function wktMultiPointItem(reader) {
  if (reader.peek() !== '(') return reader.point();
  reader.take('(');
  const point = reader.point();
  reader.take(')');
  return point;
}

function wktBody(reader, type, depth) {
  const points = () => reader.list(() => reader.point());
  const rings = () => reader.list(points);
  switch (type) {
    case 'Point': {
      const list = reader.list(() => reader.point());
      if (list.length > 1) fail();
      return {type: type, coordinates: list.length ? list[0] : []};
    }
    case 'LineString': return {type: type, coordinates: points()};
    case 'Polygon': return {type: type, coordinates: rings()};
    case 'MultiPoint': return {type: type, coordinates: reader.list(() => wktMultiPointItem(reader))};
    case 'MultiLineString': return {type: type, coordinates: rings()};
    case 'MultiPolygon': return {type: type, coordinates: reader.list(rings)};
    default: return {type: type, geometries: reader.list(() => wktTagged(reader, depth + 1))};
  }
}

function wktGeometry(source) {
  const text = source.replace(/^\s*SRID=\d+;/i, '');
  const reader = new WktReader(text);
  const geometry = wktTagged(reader, 0);
  if (reader.peek() !== '') fail();
  return geometry;
}

// ---- GeoJSON ----

function jsonPosition(value) {
  if (!Array.isArray(value) || value.length < 2 || value.length > 4) fail();
  return [finite(checkNumber(value[0])), finite(checkNumber(value[1]))];
}

function checkNumber(value) {
  if (typeof value !== 'number') fail();
  return value;
}

function jsonList(value, item) {
  if (!Array.isArray(value)) fail();
  return value.map(item);
}

const JSON_COORDINATES = {
  Point: (c) => (Array.isArray(c) && c.length === 0 ? [] : jsonPosition(c)),
  LineString: (c) => jsonList(c, jsonPosition),
  MultiPoint: (c) => jsonList(c, jsonPosition),
  Polygon: (c) => jsonList(c, (ring) => jsonList(ring, jsonPosition)),
  MultiLineString: (c) => jsonList(c, (line) => jsonList(line, jsonPosition)),
  MultiPolygon: (c) => jsonList(c, (p) => jsonList(p, (ring) => jsonList(ring, jsonPosition))),
};

function jsonGeometry(value, depth) {
  if (depth > MAX_DEPTH || value === null || typeof value !== 'object') fail();
  if (value.type === 'Feature') return jsonGeometry(value.geometry, depth + 1);
  if (value.type === 'GeometryCollection') {
    return {type: value.type, geometries: jsonList(value.geometries, (g) => jsonGeometry(g, depth + 1))};
  }
  const read = Object.prototype.hasOwnProperty.call(JSON_COORDINATES, value.type) &&
      JSON_COORDINATES[value.type];
  if (!read) fail();
  return {type: value.type, coordinates: read(value.coordinates)};
}

// ---- entry points ----

// The value of each hex digit by its character code; -1 for the others.
const NIBBLES = (() => {
  const table = new Int8Array(128).fill(-1);
  for (let i = 0; i < 16; i++) {
    table['0123456789abcdef'.charCodeAt(i)] = i;
    table['0123456789ABCDEF'.charCodeAt(i)] = i;
  }
  return table;
})();

/// The bytes of a hex text, or null when it is not whole bytes of hex.
export function hexBytes(hex) {
  if (typeof hex !== 'string' || hex.length % 2) return null;
  const bytes = new Uint8Array(hex.length / 2);
  for (let i = 0; i < bytes.length; i++) {
    const high = hex.charCodeAt(2 * i);
    const low = hex.charCodeAt(2 * i + 1);
    if (high > 127 || low > 127 || NIBBLES[high] < 0 || NIBBLES[low] < 0) return null;
    bytes[i] = (NIBBLES[high] << 4) | NIBBLES[low];
  }
  return bytes;
}

/// The geometry stored in a blob (a Uint8Array): GeoPackage, SpatiaLite or
/// plain WKB. Null when the bytes are none of these.
export function blobGeometry(bytes) {
  try {
    if (isGeoPackage(bytes)) return geoPackageGeometry(bytes);
    if (isSpatiaLite(bytes)) return spatiaLiteGeometry(bytes);
    return wholeWkb(bytes, 0);
  } catch (error) {
    if (error instanceof NotGeometry || error instanceof RangeError) return null;
    throw error;
  }
}

/// The geometry written in a text: WKT (with an optional SRID=n; prefix)
/// or GeoJSON (a geometry or a Feature). Null for any other text.
export function textGeometry(text) {
  try {
    if (WKT_HEAD.test(text)) return wktGeometry(text);
    if (/^\s*\{/.test(text)) return jsonGeometry(JSON.parse(text), 0);
    return null;
  } catch (error) {
    if (error instanceof NotGeometry || error instanceof SyntaxError) return null;
    throw error;
  }
}

/// Whether a geometry has no coordinates at all.
export function isEmptyGeometry(geometry) {
  if (geometry.type === 'GeometryCollection') return geometry.geometries.every(isEmptyGeometry);
  return geometry.coordinates.length === 0;
}
