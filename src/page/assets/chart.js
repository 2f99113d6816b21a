// The chart panel's drawing, loaded when a chart is first opened: uPlot
// draws the series of chart_data.js on one canvas, in the page's palette,
// again when the theme changes.
import uPlot from 'uplot';
import uPlotCss from 'uplot/dist/uPlot.min.css';
import {chartSeries, chartSummary} from './lib/chart_data.js';
export {axisKind} from './lib/chart_data.js';
import {injectStyle, onThemeChange, palette} from './lib/theme.js';

const HEIGHT = 340;
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
    style.points = {show: true, size: POINT_SIZE, width: 0, fill: colors.accent, stroke: colors.accent};
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
export function drawChart(container, rows, type, x, y, names) {
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
  const resize = new ResizeObserver(() => {
    if (plot && container.clientWidth) plot.setSize({width: Math.max(200, container.clientWidth), height: HEIGHT});
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
