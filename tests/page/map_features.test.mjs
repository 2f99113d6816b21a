// The map's features: what counts as a feature, an empty geometry or not a
// geometry, and which feature a click picks.
import assert from 'node:assert/strict';
import {test} from 'node:test';
import {extentOf, featureAt, readFeatures} from '../../src/page/assets/lib/map_features.js';

test('values are counted as features, empty geometries or not geometries; NULL is none', () => {
  const read = readFeatures(['POINT (1 2)', 'POINT EMPTY', null, 'hello', 42, {hex: '0101'}, {hex: 'zz'},
    {hex: '0101000000000000000000f03f0000000000000040'}]);
  assert.deepEqual(read.features.map((f) => f.row), [0, 7]);
  assert.equal(read.empty, 1);
  assert.equal(read.notGeometry, 4);
});

test('a click picks a point over the area under it, and a hole is outside', () => {
  const {features} = readFeatures([
    'POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0), (4 4, 6 4, 6 6, 4 6, 4 4))',
    'POINT (2 2)',
    'LINESTRING (20 0, 30 0)',
  ]);
  const rowAt = (x, y) => (featureAt(features, x, y, 0.5) || {row: null}).row;
  assert.equal(rowAt(2.2, 2.1), 1);
  assert.equal(rowAt(8, 8), 0);
  assert.equal(rowAt(5, 5), null);
  assert.equal(rowAt(25, 0.4), 2);
  assert.equal(rowAt(25, 0.6), null);
});

test('one point still gives an extent with an area', () => {
  const [x0, y0, x1, y1] = extentOf(readFeatures(['POINT (500000 4000000)']).features);
  assert.ok(x1 > x0 && y1 > y0);
  assert.ok(x0 < 500000 && x1 > 500000);
});
