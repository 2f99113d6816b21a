// The numbers a chart draws, from a result's rows: each axis's kind
// (numbers, dates in ISO text, or categories), the points or bars, and
// what was left out.
//
// Integers beyond 2^53 arrive as BigInt. An axis that holds any is drawn
// relative to its smallest value (its base), so that values that differ by
// one stay one apart on screen; tick labels add the base back exactly.

const MAX_BINS = 60;  // bars of a histogram at most

// Dates as SQLite writes them: 2024-03-01, 2024-03-01 08:00[:00[.000]],
// with "T" in place of the space, and an optional zone (Z or +hh:mm).
const ISO_DATE =
    /^(\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2})(\.\d+)?)?)?(Z|[+-]\d{2}:?\d{2})?$/;

/// Seconds since 1970 (UTC) of an ISO date text, or null. A date without a
/// zone is taken as UTC, so that the axis shows the text's own digits.
export function isoSeconds(text) {
  const m = ISO_DATE.exec(text);
  if (!m) return null;
  const [year, month, day, hour, minute, second] = m.slice(1, 7).map((p) => (p ? Number(p) : 0));
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return null;
  let ms = Date.UTC(year, month - 1, day, hour, minute, second) + (m[7] ? Number(m[7]) * 1000 : 0);
  if (m[8] && m[8] !== 'Z') {
    const sign = m[8][0] === '-' ? -1 : 1;
    const digits = m[8].slice(1).replace(':', '');
    ms -= sign * (Number(digits.slice(0, 2)) * 60 + Number(digits.slice(2))) * 60000;
  }
  return ms / 1000;
}

function isNumber(value) {
  return (typeof value === 'number' && Number.isFinite(value)) || typeof value === 'bigint';
}

/// How a column is drawn: 'number' when numbers are most of its values,
/// 'time' when ISO dates are, else 'category' (every value is a label).
export function axisKind(values) {
  let numbers = 0;
  let dates = 0;
  for (const value of values) {
    if (isNumber(value)) numbers++;
    else if (typeof value === 'string' && isoSeconds(value) !== null) dates++;
  }
  if (numbers === 0 && dates === 0) return 'category';
  return dates > numbers ? 'time' : 'number';
}

/// An axis of numbers: `position(value)` gives the number drawn, or null
/// for a value that is not of the axis's kind; `label(position)` the text
/// of a position.
function numericAxis(kind, values) {
  if (kind === 'time') {
    return {kind, base: null, position: (v) => (typeof v === 'string' ? isoSeconds(v) : null), label: isoLabel};
  }
  let base = null;
  for (const value of values) {
    if (typeof value !== 'bigint') continue;
    if (base === null || value < base) base = value;
  }
  if (base !== null) {
    for (const value of values) {
      if (typeof value === 'number' && Number.isFinite(value) && value < Number(base)) {
        base = BigInt(Math.floor(value));
      }
    }
    const offset = Number(base);
    return {
      kind, base,
      position: (v) => (typeof v === 'bigint' ? Number(v - base) : isNumber(v) ? v - offset : null),
      label: (p) => String(base + BigInt(Math.round(p))),
    };
  }
  return {kind, base: null, position: (v) => (isNumber(v) ? v : null), label: numberLabel};
}

export function numberLabel(x) {
  if (Number.isInteger(x)) return String(x);
  return String(Number(x.toPrecision(6)));
}

function isoLabel(seconds) {
  const text = new Date(seconds * 1000).toISOString();
  if (text.endsWith('T00:00:00.000Z')) return text.slice(0, 10);
  return text.slice(0, 19).replace('T', ' ');
}

function categoryText(value) {
  if (value === null || value === undefined) return 'NULL';
  if (typeof value === 'object') return value.blob_bytes !== undefined ? 'blob' : JSON.stringify(value);
  return String(value);
}

/// Groups rows by their x key; returns the groups in order of first
/// appearance with the row count and the sum of y.
function groupBy(rows, key, yValue) {
  const groups = new Map();
  let leftOut = 0;
  for (const row of rows) {
    const k = key(row);
    const y = yValue(row);
    if (k === null || y === null) {
      leftOut++;
      continue;
    }
    let group = groups.get(k);
    if (!group) groups.set(k, group = {key: k, count: 0, sum: 0});
    group.count++;
    group.sum += y;
  }
  return {groups: [...groups.values()], leftOut};
}

function nicestep(span, bins) {
  const raw = span / bins;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  const unit = [1, 2, 2.5, 5, 10].find((f) => f * power >= raw);
  return unit * power;
}

function histogram(positions) {
  const [min, max] = range(positions);
  const bins = Math.max(1, Math.min(MAX_BINS, Math.ceil(Math.sqrt(positions.length))));
  const width = max > min ? nicestep(max - min, bins) : 1;
  const start = Math.floor(min / width) * width;
  const n = Math.max(1, Math.floor((max - start) / width) + 1);
  const counts = new Array(n).fill(0);
  for (const p of positions) counts[Math.min(n - 1, Math.floor((p - start) / width))]++;
  return {x: counts.map((_, i) => start + (i + 0.5) * width), y: counts, width};
}

/// The series of a chart of `type` ('bar', 'line', 'scatter', 'histogram')
/// of column `x` against column `y` (-1: the count of rows) of `rows`.
/// Returns {x, y (arrays of numbers, x ascending unless categories),
/// xAxis, yAxis ({kind, base, label}), labels (categories), leftOut (rows
/// whose values could not be drawn), width (a histogram's bin)}.
export function chartSeries(rows, type, x, y) {
  const xValues = rows.map((row) => row[x]);
  const kind = type === 'histogram' ? (axisKind(xValues) === 'time' ? 'time' : 'number') : axisKind(xValues);
  const countAxis = {kind: 'number', base: null, label: numberLabel};
  if (type === 'histogram') {
    const xAxis = numericAxis(kind, xValues);
    const positions = [];
    for (const value of xValues) {
      const p = xAxis.position(value);
      if (p !== null) positions.push(p);
    }
    const leftOut = rows.length - positions.length;
    if (!positions.length) return {x: [], y: [], xAxis, yAxis: countAxis, labels: null, leftOut};
    const bins = histogram(positions);
    return {x: bins.x, y: bins.y, xAxis, yAxis: countAxis, labels: null, leftOut, width: bins.width};
  }
  const yAxis = y < 0 ? countAxis : numericAxis('number', rows.map((row) => row[y]));
  const yValue = y < 0 ? () => 1 : (row) => yAxis.position(row[y]);
  if (kind === 'category') {
    const {groups, leftOut} = groupBy(rows, (row) => categoryText(row[x]), yValue);
    const xAxis = {kind, base: null, label: (i) => (groups[i] ? groups[i].key : '')};
    return {
      x: groups.map((_, i) => i), y: groups.map((g) => (y < 0 ? g.count : g.sum)), xAxis, yAxis,
      labels: groups.map((g) => g.key), leftOut,
    };
  }
  const xAxis = numericAxis(kind, xValues);
  if (type === 'bar' || y < 0) {
    const {groups, leftOut} = groupBy(rows, (row) => xAxis.position(row[x]), yValue);
    groups.sort((a, b) => a.key - b.key);
    return {x: groups.map((g) => g.key), y: groups.map((g) => (y < 0 ? g.count : g.sum)), xAxis, yAxis, labels: null, leftOut};
  }
  let xs = [];
  let ys = [];
  let ascending = true;
  for (const row of rows) {
    const px = xAxis.position(row[x]);
    const py = yValue(row);
    if (px === null || py === null) continue;
    if (xs.length && px < xs[xs.length - 1]) ascending = false;
    xs.push(px);
    ys.push(py);
  }
  if (!ascending) {
    const order = xs.map((_, i) => i).sort((a, b) => xs[a] - xs[b]);
    xs = order.map((i) => xs[i]);
    ys = order.map((i) => ys[i]);
  }
  return {x: xs, y: ys, xAxis, yAxis, labels: null, leftOut: rows.length - xs.length};
}

function range(values) {
  let min = Infinity;
  let max = -Infinity;
  for (const v of values) {
    if (v < min) min = v;
    if (v > max) max = v;
  }
  return [min, max];
}

const UNITS = {bar: 'bar', histogram: 'bar', line: 'point', scatter: 'point'};

function plural(n, word) { return n.toLocaleString('en-US') + ' ' + word + (n === 1 ? '' : 's'); }

/// A short text of what the chart shows: how many bars or points, the
/// ranges of both axes, and how many rows were left out.
export function chartSummary(series, type, xName, yName) {
  const parts = [plural(series.x.length, UNITS[type])];
  if (series.x.length) {
    if (series.labels) {
      parts.push(xName + ': ' + series.labels.slice(0, 3).join(', ') + (series.labels.length > 3 ? ', ...' : ''));
    } else {
      const [lo, hi] = range(series.x);
      const half = series.width ? series.width / 2 : 0;
      parts.push(xName + ' from ' + series.xAxis.label(lo - half) + ' to ' + series.xAxis.label(hi + half));
    }
    const [lo, hi] = range(series.y);
    parts.push(yName + ' from ' + series.yAxis.label(lo) + ' to ' + series.yAxis.label(hi));
  }
  if (series.leftOut) parts.push(plural(series.leftOut, 'row') + ' left out (not numbers or dates)');
  return parts.join('; ');
}
