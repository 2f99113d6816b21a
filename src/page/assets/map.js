// The map panel's drawing, loaded when a map is first opened: the features
// of a geometry column on a canvas in their own coordinates (no base map,
// no projection beyond flipping y), with a graticule, pan and zoom (d3-zoom)
// and a click that picks a feature. d3-geo draws the shapes.
import {geoIdentity, geoPath} from 'd3-geo';
import {select} from 'd3-selection';
import {zoom, zoomIdentity} from 'd3-zoom';
import {extentOf, featureAt, readFeatures} from './lib/map_features.js';
import {numberLabel} from './lib/chart_data.js';
import {onThemeChange, palette} from './lib/theme.js';

const HEIGHT = 440;
const PADDING = 24;
const POINT_RADIUS = 3.5;
const AREA_OPACITY = 0.25;
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
export function drawMap(container, values, onSelect) {
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
        .translate([tx * transform.k + transform.x, ty * transform.k + transform.y])
        .clipExtent([[-10, -10], [width + 10, HEIGHT + 10]]);
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
    // One path per kind of shape: a few fills and strokes for all of them.
    for (const rank of [0, 1, 2]) {
      context.beginPath();
      for (const f of features) if (f.rank === rank) path(f.geometry);
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
