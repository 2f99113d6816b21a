// What a chart draws from a result's rows: axis kinds, dates, integers
// beyond 2^53, grouping into bars, histograms and what is left out.
import assert from 'node:assert/strict';
import {describe, test} from 'node:test';
import {axisKind, chartSeries, chartSummary, isoSeconds} from '../../src/page/assets/lib/chart_data.js';

describe('dates in ISO text', () => {
  const cases = [
    ['2024-03-01', Date.UTC(2024, 2, 1) / 1000],
    ['2024-03-01 08:30:15', Date.UTC(2024, 2, 1, 8, 30, 15) / 1000],
    ['2024-03-01T08:30', Date.UTC(2024, 2, 1, 8, 30) / 1000],
    ['2024-03-01T08:30:15.250Z', Date.UTC(2024, 2, 1, 8, 30, 15, 250) / 1000],
    ['2024-03-01T10:30:00+02:00', Date.UTC(2024, 2, 1, 8, 30) / 1000],
    ['2024-03-01 05:00:00-0330', Date.UTC(2024, 2, 1, 8, 30) / 1000],
    ['2024-13-01', null], ['2024-03-01 24:00:00', null], ['March 1st', null], ['20240301', null],
  ];
  for (const [text, seconds] of cases) test(text, () => assert.equal(isoSeconds(text), seconds));
});

test('an axis takes the kind most of its values have', () => {
  assert.equal(axisKind([1, 2.5, 3n, null]), 'number');
  assert.equal(axisKind(['2024-01-01', '2024-01-02', 7, 'x']), 'time');
  assert.equal(axisKind(['open', 'shipped', null]), 'category');
  assert.equal(axisKind([{blob_bytes: 3}, 'a']), 'category');
});

describe('series', () => {
  const BIG = 9007199254740993n;  // 2^53 + 1: the nearest double is 2^53

  test('integers beyond 2^53 stay apart and their labels are exact', () => {
    const rows = [[BIG + 2n, 1], [BIG, 2], [BIG + 1n, 3], [BIG + 4n, 4]];
    const s = chartSeries(rows, 'scatter', 0, 1);
    assert.deepEqual(s.x, [0, 1, 2, 4]);
    assert.deepEqual(s.y, [2, 3, 1, 4]);
    assert.equal(s.xAxis.label(1), '9007199254740994');
    assert.match(chartSummary(s, 'scatter', 'id', 'v'), /id from 9007199254740993 to 9007199254740997/);
  });

  test('a real below the smallest BigInt moves the base down', () => {
    const s = chartSeries([[BIG], [-1.5]], 'histogram', 0, -1);
    assert.equal(s.y.reduce((a, b) => a + b), 2);
    assert.equal(s.xAxis.base, -2n);
  });

  test('bars of a category count or sum per value, in order of first appearance', () => {
    const rows = [['open', 5], ['shipped', 1], ['open', 2], [null, 4], ['open', 'n/a']];
    const counted = chartSeries(rows, 'bar', 0, -1);
    assert.deepEqual(counted.labels, ['open', 'shipped', 'NULL']);
    assert.deepEqual(counted.y, [3, 1, 1]);
    const summed = chartSeries(rows, 'bar', 0, 1);
    assert.deepEqual(summed.y, [7, 1, 4]);
    assert.equal(summed.leftOut, 1);
  });

  test('dates on x are seconds in order; a text that is no date is left out', () => {
    const rows = [['2024-01-03', 3], ['2024-01-01', 1], ['soon', 9], ['2024-01-02', 2]];
    const s = chartSeries(rows, 'line', 0, 1);
    assert.equal(s.xAxis.kind, 'time');
    assert.deepEqual(s.x, [1704067200, 1704153600, 1704240000]);
    assert.deepEqual(s.y, [1, 2, 3]);
    assert.equal(s.leftOut, 1);
    assert.equal(chartSummary(s, 'line', 'day', 'n'),
        '3 points; day from 2024-01-01 to 2024-01-03; n from 1 to 3; 1 row left out (not numbers or dates)');
  });

  test('a histogram puts every number in one bin of equal width', () => {
    const values = Array.from({length: 1000}, (_, i) => [(i * 7919) % 1000 / 10]);
    values.push(['text'], [null]);
    const s = chartSeries(values, 'histogram', 0, -1);
    assert.equal(s.y.reduce((a, b) => a + b), 1000);
    assert.equal(s.leftOut, 2);
    assert.ok(s.y.length > 1 && s.y.length <= 60);
    for (let i = 1; i < s.x.length; i++) assert.ok(Math.abs(s.x[i] - s.x[i - 1] - s.width) < 1e-9);
  });

  test('one repeated value makes one bin', () => {
    const s = chartSeries([[5], [5], [5]], 'histogram', 0, -1);
    assert.deepEqual(s.y, [3]);
  });

  test('nothing drawable gives an empty series and says why', () => {
    const s = chartSeries([['a'], ['b']], 'histogram', 0, -1);
    assert.equal(s.x.length, 0);
    assert.equal(chartSummary(s, 'histogram', 'name', 'count'), '0 bars; 2 rows left out (not numbers or dates)');
  });
});
