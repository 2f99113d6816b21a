// The chart panel, loaded when a chart is first opened: its controls
// ("Chart type", "X axis", "Y axis", "Save image"), and uPlot drawing the
// series of chart_data.js on one canvas in the page's palette, again when
// the theme changes.
import uPlot from 'uplot';
import uPlotCss from 'uplot/dist/uPlot.min.css';
import {axisKind, chartSeries, chartSummary} from './lib/chart_data.js';
import {button, controlRow, el, labelledSelect, saveBlob} from './lib/panel_dom.js';
import panelsCss from './lib/panels.css';
import {injectStyle, onThemeChange, palette} from './lib/theme.js';

const HEIGHT = 340;
const COUNT_AXIS = -1;  // the Y axis "count": rows per X value
const CHART_TYPES = [['bar', 'Bar'], ['line', 'Line'], ['scatter', 'Scatter'], ['histogram', 'Histogram']];
const POINT_SIZE = 4;
const MAX_LABEL = 24;   // characters of a category shown under its bar
const LABEL_CHAR = 7;  // pixels of a character of an axis label
// Category ticks fall on whole positions only.
const CATEGORY_STEPS = [1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000];

function smallestGap(x) {
  let gap = Infinity;
  for (let i = 1; i < x.length; i++) gap = Math.min(gap, x[i] - x[i - 1]);
  return Number.isFinite(gap) && gap > 0 ? gap : 1;
}

function xScale(series, type) {
  const scale = {time: series.xAxis.kind === 'time'};
  const bars = type === 'bar' || type === 'histogram';
  if (series.labels) {
    scale.range = (u, min, max) => [min - 0.5, max + 0.5];
  } else if (bars) {
    const half = (series.width || smallestGap(series.x)) / 2;
    scale.range = (u, min, max) => [min - half, max + half];
  }
  return scale;
}

function yScale(type) {
  if (type !== 'bar' && type !== 'histogram') return {};
  return {
    range: (u, min, max) => {
      const low = Math.min(0, min);
      const high = Math.max(0, max);
      return high > low ? [low, high + (high - low) * 0.05] : [low - 1, high + 1];
    },
  };
}

function shortLabel(text) {
  return text.length > MAX_LABEL ? text.slice(0, MAX_LABEL - 1) + '\u2026' : text;
}

function axisValues(axis, labels) {
  if (labels) {
    return (u, splits) => splits.map((v) => (Number.isInteger(v) && labels[v] !== undefined ? shortLabel(labels[v]) : ''));
  }
  if (axis.base !== null) return (u, splits) => splits.map((v) => axis.label(v));
  return undefined;
}

// Points as small squares: the canvas fills tens of thousands of squares in
// a fraction of the time it takes for as many circles.
function squarePoints(u, seriesIdx, first, last) {
  const size = POINT_SIZE * (window.devicePixelRatio || 1);
  const xs = u.data[0];
  const ys = u.data[seriesIdx];
  const fill = new Path2D();
  for (let i = first; i <= last; i++) {
    if (ys[i] === null || ys[i] === undefined) continue;
    fill.rect(u.valToPos(xs[i], 'x', true) - size / 2, u.valToPos(ys[i], 'y', true) - size / 2, size, size);
  }
  const {left, top, width, height} = u.bbox;
  const clip = new Path2D();
  clip.rect(left - size, top - size, width + 2 * size, height + 2 * size);
  return {stroke: null, fill, clip};
}

function seriesStyle(type, colors) {
  const style = {label: '', stroke: colors.accent, width: 2, points: {show: false}};
  if (type === 'bar') {
    style.paths = uPlot.paths.bars({size: [0.7, Infinity]});
    style.fill = colors.accent;
  } else if (type === 'histogram') {
    style.paths = uPlot.paths.bars({size: [1, Infinity], gap: 1});
    style.fill = colors.accent;
  } else if (type === 'scatter') {
    style.paths = () => null;
    style.points = {show: true, size: POINT_SIZE, width: 0, fill: colors.accent, stroke: colors.accent,
      paths: squarePoints};
  }
  return style;
}

// Pixels between ticks for labels of `chars` characters.
function labelSpace(chars) { return Math.max(50, chars * LABEL_CHAR + 16); }

function plotOptions(series, type, names, width, colors) {
  const axis = (extra) => Object.assign({
    stroke: colors.text, grid: {stroke: colors.grid, width: 1}, ticks: {stroke: colors.grid, width: 1},
    font: '12px ' + colors.font, labelFont: '12px ' + colors.font,
  }, extra);
  const xAxis = axis({label: names.x, values: axisValues(series.xAxis, series.labels)});
  if (series.labels) {
    xAxis.incrs = CATEGORY_STEPS;
    xAxis.space = labelSpace(Math.min(MAX_LABEL, Math.max(...series.labels.slice(0, 1000).map((l) => l.length))));
  } else if (series.xAxis.base !== null) {
    xAxis.space = labelSpace(String(series.xAxis.base).length + 2);
  }
  return {
    width: width,
    height: HEIGHT,
    legend: {show: false},
    cursor: {show: false},
    tzDate: (seconds) => uPlot.tzDate(new Date(seconds * 1000), 'Etc/UTC'),
    scales: {x: xScale(series, type), y: yScale(type)},
    axes: [xAxis, axis({label: names.y, values: axisValues(series.yAxis, null), size: 70})],
    series: [{label: names.x}, Object.assign(seriesStyle(type, colors), {label: names.y})],
  };
}

/// Draws the chart of `type` of column `x` against column `y` (-1 for the
/// count of rows) of `rows` into `container`, named `names` {x, y}.
/// Returns {summary, count, drawn (a promise, settled once the canvas is
/// painted), png() (a promise of a PNG Blob), destroy()}.
function drawChart(container, rows, type, x, y, names) {
  injectStyle('uplot', uPlotCss);
  const series = chartSeries(rows, type, x, y);
  let plot = null;
  let resolveDrawn;
  const drawn = new Promise((resolve) => {
    resolveDrawn = resolve;
  });
  function build() {
    if (plot) plot.destroy();
    const options = plotOptions(series, type, names, Math.max(200, container.clientWidth), palette(container));
    options.hooks = {draw: [() => resolveDrawn()]};
    plot = new uPlot(options, [series.x, series.y], container);
  }
  build();
  const stopTheme = onThemeChange(build);
  // Only a change of width redraws: the observer also calls once at the start.
  let width = plot.width;
  const resize = new ResizeObserver(() => {
    const now = Math.max(200, container.clientWidth);
    if (!container.clientWidth || now === width) return;
    width = now;
    plot.setSize({width, height: HEIGHT});
  });
  resize.observe(container);
  return {
    summary: chartSummary(series, type, names.x, names.y),
    count: series.x.length,
    drawn: drawn,
    png: () => {
      const source = plot.ctx.canvas;
      const out = document.createElement('canvas');
      out.width = source.width;
      out.height = source.height;
      const context = out.getContext('2d');
      context.fillStyle = palette(container).background;
      context.fillRect(0, 0, out.width, out.height);
      context.drawImage(source, 0, 0);
      return new Promise((resolve) => out.toBlob(resolve, 'image/png'));
    },
    destroy: () => {
      stopTheme();
      resize.disconnect();
      plot.destroy();
    },
  };
}

/// The chart first shown: x is the first column; y the first other column
/// of numbers, else the count. Text on x gives bars, dates a line, numbers
/// points, or a histogram when no other column holds numbers.
function chartDefaults(columns, rows) {
  const sample = rows.slice(0, 1000);
  const kinds = columns.map((c, i) => axisKind(sample.map((row) => row[i])));
  const y = kinds.findIndex((kind, i) => i > 0 && kind === 'number');
  let type = kinds[0] === 'category' ? 'bar' : kinds[0] === 'time' ? 'line' : 'scatter';
  if (y < 0 && type === 'scatter') type = 'histogram';
  return {type, x: 0, y: y < 0 ? COUNT_AXIS : y};
}

function chartTitle(type, xName, yName) {
  const label = CHART_TYPES.find((t) => t[0] === type)[1];
  return type === 'histogram' ? 'Histogram of ' + xName : label + ' chart of ' + yName + ' by ' + xName;
}

/// Fills the panel `body` with the chart controls and the chart of
/// `result` ({columns, rows}). Returns the function that stops the chart.
export function chartPanel(body, result) {
  injectStyle('panels', panelsCss);
  const names = result.columns.map((c) => (c.name === null || c.name === undefined ? '' : String(c.name)));
  const choice = chartDefaults(result.columns, result.rows);
  const type = labelledSelect('Chart type', CHART_TYPES);
  const x = labelledSelect('X axis', names.map((name, i) => [i, name]));
  const y = labelledSelect('Y axis', [[COUNT_AXIS, 'count'], ...names.map((name, i) => [i, name])]);
  let drawing = null;
  const save = button('Save image', () => {
    drawing.png().then((blob) => saveBlob('chart-' + new Date().toISOString().slice(0, 10) + '.png', blob));
  });
  body.appendChild(controlRow('chartctl', [type.label, x.label, y.label, save]));
  const figure = el('figure', 'visual');
  const box = el('div', 'chartbox');
  box.id = 'chartbox';
  box.setAttribute('role', 'img');
  const summary = el('figcaption', 'hint');
  summary.id = 'chartsummary';
  box.setAttribute('aria-describedby', summary.id);
  figure.appendChild(box);
  figure.appendChild(summary);
  body.appendChild(figure);

  function draw() {
    if (drawing) drawing.destroy();
    const kind = type.select.value;
    const xi = Number(x.select.value);
    const yi = kind === 'histogram' ? COUNT_AXIS : Number(y.select.value);
    y.select.disabled = kind === 'histogram';
    const yName = yi === COUNT_AXIS ? 'count' : names[yi];
    box.setAttribute('aria-label', chartTitle(kind, names[xi], yName));
    const start = performance.now();
    drawing = drawChart(box, result.rows, kind, xi, yi, {x: names[xi], y: yName});
    summary.textContent = drawing.summary;
    drawing.drawn.then(() => performance.measure('chart draw', {start}));
  }
  type.select.value = choice.type;
  x.select.value = String(choice.x);
  y.select.value = String(choice.y);
  for (const control of [type, x, y]) control.select.addEventListener('change', draw);
  draw();
  return () => drawing.destroy();
}
