// The map's features in their own plane: the values of a column read as
// geometries, their bounds, and which feature lies under a point.
import {blobGeometry, hexBytes, isEmptyGeometry, textGeometry} from './geometry.js';

/// The geometry of one value of a result: a string is read as WKT or
/// GeoJSON, {hex} as the bytes of a blob. Null for anything else.
export function valueGeometry(value) {
  if (typeof value === 'string') return textGeometry(value);
  if (value && typeof value.hex === 'string') {
    const bytes = hexBytes(value.hex);
    return bytes ? blobGeometry(bytes) : null;
  }
  return null;
}

/// Reads `values` (one per row). Returns {features: [{row, geometry,
/// bounds}], empty (geometries without coordinates), notGeometry (the
/// other values; NULL is neither)}.
export function readFeatures(values) {
  const features = [];
  let empty = 0;
  let notGeometry = 0;
  values.forEach((value, row) => {
    if (value === null || value === undefined) return;
    const geometry = valueGeometry(value);
    if (!geometry) {
      notGeometry++;
    } else if (isEmptyGeometry(geometry)) {
      empty++;
    } else {
      features.push({row, geometry, bounds: boundsOf(geometry), rank: rank(geometry)});
    }
  });
  return {features, empty, notGeometry};
}

// Areas are drawn first, then lines, then points, so that none hides a
// smaller one; a click looks in the opposite order.
function rank(geometry) {
  const type = geometry.type;
  if (type === 'Polygon' || type === 'MultiPolygon' || type === 'GeometryCollection') return 0;
  return type === 'LineString' || type === 'MultiLineString' ? 1 : 2;
}

function eachPosition(geometry, visit) {
  if (geometry.type === 'GeometryCollection') {
    geometry.geometries.forEach((g) => eachPosition(g, visit));
    return;
  }
  const walk = (c) => {
    if (typeof c[0] === 'number') visit(c);
    else c.forEach(walk);
  };
  if (geometry.coordinates.length) walk(geometry.coordinates);
}

/// [minX, minY, maxX, maxY] of a geometry.
export function boundsOf(geometry) {
  const b = [Infinity, Infinity, -Infinity, -Infinity];
  eachPosition(geometry, ([x, y]) => {
    if (x < b[0]) b[0] = x;
    if (y < b[1]) b[1] = y;
    if (x > b[2]) b[2] = x;
    if (y > b[3]) b[3] = y;
  });
  return b;
}

/// The bounds of all features, widened so that it has an area: a single
/// point or a straight line still gives a square to fit the view to.
export function extentOf(features) {
  const b = [Infinity, Infinity, -Infinity, -Infinity];
  for (const f of features) {
    b[0] = Math.min(b[0], f.bounds[0]);
    b[1] = Math.min(b[1], f.bounds[1]);
    b[2] = Math.max(b[2], f.bounds[2]);
    b[3] = Math.max(b[3], f.bounds[3]);
  }
  if (!features.length) return null;
  const half = Math.max(b[2] - b[0], b[3] - b[1], Math.abs(b[0]) * 1e-9, 1e-9) / 2;
  const cx = (b[0] + b[2]) / 2;
  const cy = (b[1] + b[3]) / 2;
  return [Math.min(b[0], cx - half / 10), Math.min(b[1], cy - half / 10),
    Math.max(b[2], cx + half / 10), Math.max(b[3], cy + half / 10)];
}

function segmentDistance(px, py, [ax, ay], [bx, by]) {
  const dx = bx - ax;
  const dy = by - ay;
  const length = dx * dx + dy * dy;
  const t = length ? Math.max(0, Math.min(1, ((px - ax) * dx + (py - ay) * dy) / length)) : 0;
  return Math.hypot(px - (ax + t * dx), py - (ay + t * dy));
}

function nearLine(points, x, y, tolerance) {
  for (let i = 1; i < points.length; i++) {
    if (segmentDistance(x, y, points[i - 1], points[i]) <= tolerance) return true;
  }
  return points.length === 1 && Math.hypot(x - points[0][0], y - points[0][1]) <= tolerance;
}

// Even-odd rule over all rings, so that a hole is outside.
function insidePolygon(rings, x, y) {
  let inside = false;
  for (const ring of rings) {
    for (let i = 0, j = ring.length - 1; i < ring.length; j = i++) {
      const [xi, yi] = ring[i];
      const [xj, yj] = ring[j];
      if ((yi > y) !== (yj > y) && x < ((xj - xi) * (y - yi)) / (yj - yi) + xi) inside = !inside;
    }
  }
  return inside;
}

function hits(geometry, x, y, tolerance) {
  const c = geometry.coordinates;
  switch (geometry.type) {
    case 'Point': return Math.hypot(x - c[0], y - c[1]) <= tolerance;
    case 'MultiPoint': return c.some((p) => Math.hypot(x - p[0], y - p[1]) <= tolerance);
    case 'LineString': return nearLine(c, x, y, tolerance);
    case 'MultiLineString': return c.some((line) => nearLine(line, x, y, tolerance));
    case 'Polygon': return insidePolygon(c, x, y) || c.some((ring) => nearLine(ring, x, y, tolerance));
    case 'MultiPolygon':
      return c.some((rings) => insidePolygon(rings, x, y) || rings.some((ring) => nearLine(ring, x, y, tolerance)));
    default: return geometry.geometries.some((g) => hits(g, x, y, tolerance));
  }
}

/// The feature drawn on top at (x, y), within `tolerance` of a point or a
/// line; null when there is none.
export function featureAt(features, x, y, tolerance) {
  let best = null;
  for (const f of features) {
    const b = f.bounds;
    if (x < b[0] - tolerance || x > b[2] + tolerance || y < b[1] - tolerance || y > b[3] + tolerance) continue;
    if ((best === null || f.rank >= best.rank) && hits(f.geometry, x, y, tolerance)) best = f;
  }
  return best;
}
