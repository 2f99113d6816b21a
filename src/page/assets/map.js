// The map panel, loaded when a map is first opened: the features of a
// geometry column on a canvas in their own coordinates (no base map, no
// projection beyond flipping y), with a graticule, pan and zoom (d3-zoom),
// "Fit", and a click that shows a feature's row. d3-geo draws the shapes.
import {geoIdentity, geoPath} from 'd3-geo';
import {select} from 'd3-selection';
import {zoom, zoomIdentity} from 'd3-zoom';
import {extentOf, featureAt, readFeatures} from './lib/map_features.js';
import {numberLabel} from './lib/chart_data.js';
import {button, controlRow, el} from './lib/panel_dom.js';
import panelsCss from './lib/panels.css';
import {injectStyle, onThemeChange, palette} from './lib/theme.js';

const HEIGHT = 440;
const PADDING = 24;
const POINT_RADIUS = 3.5;
const AREA_OPACITY = 0.25;
const BATCH = 200;  // features drawn as one canvas path
const CLICK_TOLERANCE = 5;  // pixels around a point or a line that still pick it
const GRID_LINES = 8;       // about this many graticule lines across the view
const MAX_ZOOM = 1e6;

function niceStep(span) {
  const raw = span / GRID_LINES;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  return [1, 2, 5, 10].find((f) => f * power >= raw) * power;
}

/// Draws the values of one column (a string per WKT or GeoJSON value,
/// {hex} per blob, anything else counted as not a geometry) into
/// `container`. `onSelect(row)` is called with the row index of a clicked
/// feature (null when the click hits none). Returns {features, empty,
/// notGeometry, drawn, fit(), zoomBy(factor), destroy()}.
function drawMap(container, values, onSelect) {
  const read = readFeatures(values);
  const features = read.features.slice().sort((a, b) => a.rank - b.rank);
  const canvas = document.createElement('canvas');
  canvas.className = 'mapcanvas';
  container.appendChild(canvas);
  const context = canvas.getContext('2d');
  const extent = extentOf(features);
  let width = 0;
  let transform = zoomIdentity;
  let selected = null;
  let base = null;  // the projection that fits the extent, before zooming

  function fitProjection() {
    base = geoIdentity().reflectY(true);
    if (extent) {
      base.fitExtent([[PADDING, PADDING], [width - PADDING, HEIGHT - PADDING]],
          {type: 'MultiPoint', coordinates: [[extent[0], extent[1]], [extent[2], extent[3]]]});
    }
  }

  function projection() {
    const [tx, ty] = base.translate();
    return geoIdentity().reflectY(true).scale(base.scale() * transform.k)
        .translate([tx * transform.k + transform.x, ty * transform.k + transform.y]);
  }

  function graticule(p, colors) {
    const [x0, y1] = p.invert([0, 0]);
    const [x1, y0] = p.invert([width, HEIGHT]);
    const step = niceStep(Math.max(x1 - x0, y1 - y0));
    context.strokeStyle = colors.grid;
    context.fillStyle = colors.text;
    context.lineWidth = 1;
    context.font = '11px ' + colors.font;
    context.beginPath();
    for (let x = Math.ceil(x0 / step) * step; x <= x1; x += step) {
      const [sx] = p([x, 0]);
      context.moveTo(sx, 0);
      context.lineTo(sx, HEIGHT);
      context.fillText(numberLabel(x), sx + 3, HEIGHT - 4);
    }
    for (let y = Math.ceil(y0 / step) * step; y <= y1; y += step) {
      const [, sy] = p([0, y]);
      context.moveTo(0, sy);
      context.lineTo(width, sy);
      context.fillText(numberLabel(y), 3, sy - 3);
    }
    context.stroke();
  }

  function draw() {
    const colors = palette(container);
    const ratio = window.devicePixelRatio || 1;
    context.setTransform(ratio, 0, 0, ratio, 0, 0);
    context.clearRect(0, 0, width, HEIGHT);
    if (!extent) return;
    const p = projection();
    graticule(p, colors);
    const path = geoPath(p, context).pointRadius(POINT_RADIUS);
    context.lineWidth = 1.5;
    context.strokeStyle = colors.accent;
    context.fillStyle = colors.accent;
    // Features are drawn in batches of one path each: one path for all
    // would be fewer calls, but the canvas slows down as a path grows.
    // (Features are sorted by kind, so a batch holds one kind.)
    let next = 0;
    while (next < features.length) {
      const rank = features[next].rank;
      const end = Math.min(features.length, next + BATCH);
      context.beginPath();
      for (; next < end && features[next].rank === rank; next++) path(features[next].geometry);
      if (rank !== 1) {
        context.globalAlpha = rank === 0 ? AREA_OPACITY : 1;
        context.fill('evenodd');
        context.globalAlpha = 1;
      }
      context.stroke();
    }
    if (selected) {
      context.beginPath();
      path(selected.geometry);
      context.lineWidth = 3;
      context.strokeStyle = colors.accent2;
      context.stroke();
    }
  }

  function resize() {
    const ratio = window.devicePixelRatio || 1;
    width = Math.max(200, container.clientWidth);
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(HEIGHT * ratio);
    canvas.style.width = width + 'px';
    canvas.style.height = HEIGHT + 'px';
    fitProjection();
    draw();
  }

  const behaviour = zoom().scaleExtent([1 / 16, MAX_ZOOM]).on('zoom', (event) => {
    transform = event.transform;
    draw();
  });
  const selection = select(canvas).call(behaviour);

  canvas.addEventListener('click', (event) => {
    if (!extent) return;
    const rect = canvas.getBoundingClientRect();
    const p = projection();
    const [x, y] = p.invert([event.clientX - rect.left, event.clientY - rect.top]);
    selected = featureAt(features, x, y, CLICK_TOLERANCE / p.scale());
    draw();
    onSelect(selected ? selected.row : null);
  });

  resize();
  const stopTheme = onThemeChange(draw);
  const observer = new ResizeObserver(() => {
    if (container.clientWidth && container.clientWidth !== width) resize();
  });
  observer.observe(container);
  return {
    features: features.length,
    empty: read.empty,
    notGeometry: read.notGeometry,
    canvas: canvas,
    fit: () => selection.call(behaviour.transform, zoomIdentity),
    zoomBy: (factor) => selection.call(behaviour.scaleBy, factor),
    destroy: () => {
      stopTheme();
      observer.disconnect();
      selection.on('.zoom', null);
      canvas.remove();
    },
  };
}

/// The values the map reads, one per row: {hex} for a blob (its whole
/// bytes, from the column `hexColumn` when there is one; a preview is the
/// whole blob when it is short), the value itself otherwise.
function mapValues(rows, column, hexColumn) {
  return rows.map((row) => {
    if (hexColumn >= 0 && typeof row[hexColumn] === 'string') return {hex: row[hexColumn]};
    const value = row[column];
    if (value === null || typeof value !== 'object' || value.blob_bytes === undefined) return value;
    return {hex: typeof value.hex === 'string' && !value.hex.endsWith('...') ? value.hex : ''};
  });
}

function featureRow(into, names, values) {
  into.replaceChildren();
  if (!values) return;
  into.appendChild(el('h3', 'facttitle', 'The row of this feature'));
  const region = el('div', 'factwrap');
  region.setAttribute('role', 'region');
  region.setAttribute('aria-label', 'The row of this feature');
  region.tabIndex = 0;
  const table = el('table', 'facts');
  const head = el('tr');
  head.append(el('th', '', 'column'), el('th', '', 'value'));
  table.appendChild(el('thead')).appendChild(head);
  const rows = table.appendChild(el('tbody'));
  names.forEach((name, i) => {
    const tr = el('tr');
    tr.append(el('td', '', name), el('td', '', values[i]));
    rows.appendChild(tr);
  });
  region.appendChild(table);
  into.appendChild(region);
}

function countLine(drawing) {
  const parts = [drawing.features + (drawing.features === 1 ? ' feature' : ' features')];
  if (drawing.notGeometry) {
    parts.push(drawing.notGeometry + (drawing.notGeometry === 1 ? ' value was' : ' values were') + ' not a geometry');
  }
  if (drawing.empty) parts.push(drawing.empty + ' empty');
  return parts.join('  \u00b7  ');
}

/// Fills the panel `body` with the map of column `column` of `result`
/// ({columns, rows}; the column `hexColumn`, when not -1, holds each
/// blob's bytes in hex and is not shown). `cellText(value)` is how the
/// grid writes a value. Returns the function that stops the map.
export function mapPanel(body, result, column, hexColumn, cellText) {
  injectStyle('panels', panelsCss);
  const shown = hexColumn >= 0 ? result.columns.slice(0, hexColumn) : result.columns;
  const names = shown.map((c) => (c.name === null || c.name === undefined ? '' : String(c.name)));
  const box = el('div', 'mapbox');
  box.setAttribute('role', 'img');
  const picked = el('div', 'maprow');
  const start = performance.now();
  const drawing = drawMap(box, mapValues(result.rows, column, hexColumn), (row) => {
    featureRow(picked, names, row === null ? null : names.map((_, i) => cellText(result.rows[row][i])));
  });
  body.appendChild(controlRow('mapctl', [
    button('Zoom in', () => drawing.zoomBy(2)), button('Zoom out', () => drawing.zoomBy(0.5)),
    button('Fit', () => drawing.fit()), el('span', 'hint', 'Drag to pan, wheel to zoom, click a feature for its row.'),
  ]));
  const counts = el('div', 'hint mapcount', countLine(drawing));
  counts.setAttribute('role', 'status');
  body.appendChild(counts);
  box.setAttribute('aria-label', 'Map of ' + names[column] + ': ' + countLine(drawing).split('  ')[0]);
  const figure = el('figure', 'visual');
  figure.appendChild(box);
  body.append(figure, picked);
  requestAnimationFrame(() => performance.measure('map draw', {start}));
  return drawing.destroy;
}
