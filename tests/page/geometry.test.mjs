// The map's reading of stored geometries, on blobs and texts written here
// byte by byte: each format's variants, and damaged values that must read
// as "not a geometry" without throwing.
import assert from 'node:assert/strict';
import {describe, test} from 'node:test';
import {blobGeometry, hexBytes, isEmptyGeometry, textGeometry} from '../../src/page/assets/lib/geometry.js';

// ---- writers of the binary formats ----

/// Bytes from a list of pieces: ['u8', n], ['u32', n], ['i32', n],
/// ['f64', x], ['f32', x], each in the byte order `little`.
function bytesOf(pieces, little = true) {
  const size = {u8: 1, u32: 4, i32: 4, f64: 8, f32: 4};
  const out = new DataView(new ArrayBuffer(pieces.reduce((n, [kind]) => n + size[kind], 0)));
  let at = 0;
  for (const [kind, value] of pieces) {
    if (kind === 'u8') out.setUint8(at, value);
    if (kind === 'u32') out.setUint32(at, value, little);
    if (kind === 'i32') out.setInt32(at, value, little);
    if (kind === 'f64') out.setFloat64(at, value, little);
    if (kind === 'f32') out.setFloat32(at, value, little);
    at += size[kind];
  }
  return new Uint8Array(out.buffer);
}

const coords = (points) => points.flat().map((x) => ['f64', x]);

function concat(...parts) {
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const part of parts) {
    out.set(part, at);
    at += part.length;
  }
  return out;
}

const wkb = {
  point: (x, y, little = true) => bytesOf([['u8', little ? 1 : 0], ['u32', 1], ...coords([[x, y]])], little),
  line: (points) => bytesOf([['u8', 1], ['u32', 2], ['u32', points.length], ...coords(points)]),
  polygon: (rings) => bytesOf([['u8', 1], ['u32', 3], ['u32', rings.length],
    ...rings.flatMap((ring) => [['u32', ring.length], ...coords(ring)])]),
  multi: (type, parts) => concat(bytesOf([['u8', 1], ['u32', type], ['u32', parts.length]]), ...parts),
};

const SQUARE = [[0, 0], [4, 0], [4, 4], [0, 4], [0, 0]];
const HOLE = [[1, 1], [2, 1], [2, 2], [1, 1]];

/// A GeoPackage blob: "GP", version 0, flags, SRS id, the envelope that
/// the flags announce (0 none, 1 xy, 2 xyz, 3 xym, 4 xyzm), then `body`.
function geoPackage(body, {envelope = 1, empty = false, little = true} = {}) {
  const doubles = [0, 4, 6, 6, 8][envelope];
  const flags = (empty ? 0x10 : 0) | (envelope << 1) | (little ? 1 : 0);
  const header = bytesOf([['u8', 0x47], ['u8', 0x50], ['u8', 0], ['u8', flags], ['i32', 4326],
    ...Array.from({length: doubles}, (_, i) => ['f64', i])], little);
  return concat(header, body);
}

/// A SpatiaLite blob of class `type` and `body` (pieces after the class).
function spatiaLite(type, body, little = true) {
  return bytesOf([['u8', 0], ['u8', little ? 1 : 0], ['i32', 4326], ...coords([[0, 0], [4, 4]]),
    ['u8', 0x7c], ['i32', type], ...body, ['u8', 0xfe]], little);
}

// ---- the cases ----

describe('blob geometries', () => {
  const cases = [
    ['WKB point, little-endian', wkb.point(1.5, -2), {type: 'Point', coordinates: [1.5, -2]}],
    ['WKB point, big-endian', wkb.point(3, 4, false), {type: 'Point', coordinates: [3, 4]}],
    ['WKB point of NaN is empty', wkb.point(NaN, NaN), {type: 'Point', coordinates: []}],
    ['WKB polygon with a hole', wkb.polygon([SQUARE, HOLE]), {type: 'Polygon', coordinates: [SQUARE, HOLE]}],
    ['WKB ISO Z line keeps x and y',
      bytesOf([['u8', 1], ['u32', 1002], ['u32', 2], ...coords([[0, 1, 9], [2, 3, 9]])]),
      {type: 'LineString', coordinates: [[0, 1], [2, 3]]}],
    ['EWKB point with SRID and Z', bytesOf([['u8', 1], ['u32', 0xa0000001], ['i32', 4326], ...coords([[5, 6, 7]])]),
      {type: 'Point', coordinates: [5, 6]}],
    ['WKB multipolygon, parts in mixed byte order',
      wkb.multi(6, [wkb.polygon([SQUARE]), bytesOf([['u8', 0], ['u32', 3], ['u32', 1], ['u32', 4],
        ...coords([[9, 9], [10, 9], [10, 10], [9, 9]])], false)]),
      {type: 'MultiPolygon', coordinates: [[SQUARE], [[[9, 9], [10, 9], [10, 10], [9, 9]]]]}],
    ['WKB collection', wkb.multi(7, [wkb.point(1, 2), wkb.line([[0, 0], [1, 1]])]),
      {type: 'GeometryCollection', geometries: [{type: 'Point', coordinates: [1, 2]},
        {type: 'LineString', coordinates: [[0, 0], [1, 1]]}]}],
    ['GeoPackage without envelope', geoPackage(wkb.point(7, 8), {envelope: 0}), {type: 'Point', coordinates: [7, 8]}],
    ['GeoPackage with an xy envelope, big-endian header', geoPackage(wkb.line([[0, 0], [1, 2]]), {little: false}),
      {type: 'LineString', coordinates: [[0, 0], [1, 2]]}],
    ['GeoPackage with an xyz envelope', geoPackage(wkb.point(1, 1), {envelope: 2}), {type: 'Point', coordinates: [1, 1]}],
    ['GeoPackage with an xym envelope', geoPackage(wkb.point(1, 1), {envelope: 3}), {type: 'Point', coordinates: [1, 1]}],
    ['GeoPackage with an xyzm envelope', geoPackage(wkb.polygon([SQUARE]), {envelope: 4}),
      {type: 'Polygon', coordinates: [SQUARE]}],
    ['GeoPackage empty flag', geoPackage(wkb.polygon([]), {envelope: 0, empty: true}), {type: 'Polygon', coordinates: []}],
    ['SpatiaLite point', spatiaLite(1, coords([[1, 2]])), {type: 'Point', coordinates: [1, 2]}],
    ['SpatiaLite big-endian polygon', spatiaLite(3, [['u32', 1], ['u32', 5], ...coords(SQUARE)], false),
      {type: 'Polygon', coordinates: [SQUARE]}],
    ['SpatiaLite multilinestring of entities',
      spatiaLite(5, [['u32', 2], ['u8', 0x69], ['i32', 2], ['u32', 2], ...coords([[0, 0], [1, 1]]),
        ['u8', 0x69], ['i32', 2], ['u32', 2], ...coords([[2, 2], [3, 3]])]),
      {type: 'MultiLineString', coordinates: [[[0, 0], [1, 1]], [[2, 2], [3, 3]]]}],
    ['SpatiaLite compressed line: float deltas between whole ends',
      spatiaLite(1000002, [['u32', 4], ...coords([[10, 20]]), ['f32', 0.5], ['f32', -1], ['f32', 0.25], ['f32', 0.25],
        ...coords([[12, 19]])]),
      {type: 'LineString', coordinates: [[10, 20], [10.5, 19], [10.75, 19.25], [12, 19]]}],
    ['SpatiaLite compressed XYZ line', spatiaLite(1001002, [['u32', 3], ...coords([[0, 0, 5]]),
      ['f32', 1], ['f32', 2], ['f32', 3], ...coords([[4, 4, 5]])]),
    {type: 'LineString', coordinates: [[0, 0], [1, 2], [4, 4]]}],
  ];
  for (const [name, bytes, expected] of cases) {
    test(name, () => assert.deepEqual(blobGeometry(bytes), expected));
  }

  test('an empty geometry is told apart from one with coordinates', () => {
    assert.equal(isEmptyGeometry(blobGeometry(geoPackage(wkb.point(NaN, NaN)))), true);
    assert.equal(isEmptyGeometry(blobGeometry(wkb.multi(7, []))), true);
    assert.equal(isEmptyGeometry(blobGeometry(wkb.point(0, 0))), false);
  });
});

describe('damaged blobs are not geometries', () => {
  const whole = [
    geoPackage(wkb.multi(6, [wkb.polygon([SQUARE, HOLE])]), {envelope: 4}),
    spatiaLite(3, [['u32', 1], ['u32', 5], ...coords(SQUARE)]),
    spatiaLite(1000002, [['u32', 3], ...coords([[0, 0]]), ['f32', 1], ['f32', 1], ...coords([[2, 2]])]),
    wkb.multi(7, [wkb.point(1, 2), wkb.line([[0, 0], [1, 1]])]),
  ];

  test('every truncation of a valid blob', () => {
    for (const bytes of whole) {
      for (let n = 0; n < bytes.length; n++) {
        assert.equal(blobGeometry(bytes.subarray(0, n)), null, `${n} of ${bytes.length} bytes`);
      }
    }
  });

  test('every single corrupted byte reads without throwing', () => {
    for (const bytes of whole) {
      for (let i = 0; i < bytes.length; i++) {
        for (const value of [0x00, 0xff, 0x7f]) {
          const copy = bytes.slice();
          copy[i] = value;
          const geometry = blobGeometry(copy);
          if (geometry) assert.ok(geometry.coordinates || geometry.geometries);
        }
      }
    }
  });

  const bad = [
    ['bytes after the geometry', concat(wkb.point(1, 2), new Uint8Array([0]))],
    ['a count far beyond the bytes', bytesOf([['u8', 1], ['u32', 2], ['u32', 0xffffffff], ...coords([[0, 0]])])],
    ['an unknown WKB type', bytesOf([['u8', 1], ['u32', 17], ...coords([[0, 0]])])],
    ['a byte order marker other than 0 or 1', concat(new Uint8Array([2]), wkb.point(1, 2).subarray(1))],
    ['an infinite coordinate', wkb.point(Infinity, 0)],
    ['a multipoint holding a line', wkb.multi(4, [wkb.line([[0, 0], [1, 1]])])],
    ['a GeoPackage envelope indicator of 5', (() => {
      const b = geoPackage(wkb.point(1, 2), {envelope: 0});
      b[3] |= 5 << 1;
      return b;
    })()],
    ['a GeoPackage extended type', (() => {
      const b = geoPackage(wkb.point(1, 2), {envelope: 0});
      b[3] |= 0x20;
      return b;
    })()],
    ['collections nested beyond any real data',
      Array.from({length: 40}).reduce((inner) => wkb.multi(7, [inner]), wkb.point(0, 0))],
    ['a PNG file', hexBytes('89504e470d0a1a0a0000000d49484452')],
  ];
  for (const [name, bytes] of bad) test(name, () => assert.equal(blobGeometry(bytes), null));
});

describe('text geometries', () => {
  const cases = [
    ['POINT (1 2)', {type: 'Point', coordinates: [1, 2]}],
    ['SRID=4326;point z (1 2 3)', {type: 'Point', coordinates: [1, 2]}],
    ['LINESTRING(0 0,1.5 -2e1)', {type: 'LineString', coordinates: [[0, 0], [1.5, -20]]}],
    ['POLYGON((0 0, 4 0, 4 4, 0 4, 0 0), (1 1, 2 1, 2 2, 1 1))', {type: 'Polygon', coordinates: [SQUARE, HOLE]}],
    ['MULTIPOINT ((1 2), (3 4))', {type: 'MultiPoint', coordinates: [[1, 2], [3, 4]]}],
    ['MULTIPOINT (1 2, 3 4)', {type: 'MultiPoint', coordinates: [[1, 2], [3, 4]]}],
    ['MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), EMPTY)', {type: 'MultiPolygon', coordinates: [[[[0, 0], [1, 0], [1, 1], [0, 0]]], []]}],
    ['POLYGON EMPTY', {type: 'Polygon', coordinates: []}],
    ['GEOMETRYCOLLECTION (POINT (1 2), LINESTRING (0 0, 1 1))', {type: 'GeometryCollection', geometries: [
      {type: 'Point', coordinates: [1, 2]}, {type: 'LineString', coordinates: [[0, 0], [1, 1]]}]}],
    ['{"type":"Point","coordinates":[1,2,3]}', {type: 'Point', coordinates: [1, 2]}],
    ['{"type":"Feature","properties":{},"geometry":{"type":"MultiLineString","coordinates":[[[0,0],[1,1]]]}}',
      {type: 'MultiLineString', coordinates: [[[0, 0], [1, 1]]]}],
  ];
  for (const [source, expected] of cases) test(source, () => assert.deepEqual(textGeometry(source), expected));

  const bad = ['hello', '', 'POINT (1)', 'POINT (1 2', 'POINT (1 2) and more', 'POINT (1 2, 3 4)',
    'LINESTRING (0 0, 1 x)', 'CIRCLE (0 0 1)', '{"type":"Point","coordinates":["1","2"]}',
    '{"type":"Polygon","coordinates":[[1,2]]}', '{"type":"toString","coordinates":[]}', '{"a":1}', '{broken',
    '{"type":"Point","coordinates":[1e999,0]}'];
  test('texts that are not geometries', () => {
    for (const source of bad) assert.equal(textGeometry(source), null, source);
  });
});

test('hex text becomes bytes only when it is whole bytes of hex', () => {
  assert.deepEqual(hexBytes('00fF7c'), new Uint8Array([0, 255, 124]));
  for (const bad of ['abc', 'zz', '0x00', null]) assert.equal(hexBytes(bad), null);
});
