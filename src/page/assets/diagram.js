// The diagram panel, loaded when the diagram is first opened: a box per
// table and view, an arrow per foreign key, placed by schema_layout.js
// (dagre), drawn as SVG with pan and zoom (d3-zoom); a box is a button that
// opens its table. Below it, the same tables and references as a list.
import {select} from 'd3-selection';
import {zoom, zoomIdentity} from 'd3-zoom';
import diagramCss from './lib/diagram.css';
import {button, controlRow, el} from './lib/panel_dom.js';
import panelsCss from './lib/panels.css';
import {schemaGraph} from './lib/schema_graph.js';
import {schemaLayout} from './lib/schema_layout.js';
import {injectStyle} from './lib/theme.js';

const SVG = 'http://www.w3.org/2000/svg';
const MIN_HEIGHT = 240;
const MAX_HEIGHT = 720;
const CHAR = 7;          // width of a character of the box text, in px
const LINE = 17;         // height of a column line
const HEAD = 24;         // height of the name line
const PAD = 8;
const MIN_WIDTH = 120;
const MARGIN = 16;       // around the whole layout
const LOOP = 28;         // reach of a self-reference's loop
const MAX_ZOOM = 4;
const MIN_ZOOM = 0.05;

function element(tag, attributes, parent) {
  const node = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, String(value));
  if (parent) parent.appendChild(node);
  return node;
}

function textElement(parent, x, y, content, className) {
  const node = element('text', {x, y, class: className}, parent);
  node.textContent = content;
  return node;
}

function boxSize(node) {
  let chars = node.name.length + 6;
  for (const line of node.lines) chars = Math.max(chars, line.name.length + line.type.length + line.key.length + 4);
  const lines = node.lines.length + (node.more ? 1 : 0);
  return {width: Math.max(MIN_WIDTH, chars * CHAR + 2 * PAD), height: HEAD + lines * LINE + PAD};
}

function drawBox(parent, node, box, onOpen) {
  const x = box.x - box.width / 2;
  const y = box.y - box.height / 2;
  // The box is named by its heading alone; its columns are read from the
  // list of tables below the diagram.
  const heading = node.name + (node.view ? ' (view)' : '');
  const group = element('g', {
    class: 'dbox' + (node.view ? ' view' : ''), transform: `translate(${x},${y})`, tabindex: 0, role: 'button',
  }, parent);
  element('rect', {width: box.width, height: box.height, rx: 6, class: 'dframe'}, group);
  element('line', {x1: 0, x2: box.width, y1: HEAD, y2: HEAD, class: 'dsep'}, group);
  textElement(group, PAD, HEAD - 7, heading, 'dname');
  const columns = element('g', {'aria-hidden': 'true'}, group);
  node.lines.forEach((line, i) => {
    const baseline = HEAD + (i + 1) * LINE - 4;
    textElement(columns, PAD, baseline, line.name, line.key ? 'dcol dkey' : 'dcol');
    const right = textElement(columns, box.width - PAD, baseline, (line.key ? line.key + '  ' : '') + line.type, 'dtype');
    right.setAttribute('text-anchor', 'end');
  });
  if (node.more) textElement(columns, PAD, HEAD + (node.lines.length + 1) * LINE - 4, '+' + node.more + ' more columns', 'dtype');
  const open = () => onOpen(node.name);
  group.addEventListener('click', open);
  group.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      open();
    }
  });
}

function edgePath(points) {
  let d = `M${points[0].x},${points[0].y}`;
  if (points.length === 2) return d + `L${points[1].x},${points[1].y}`;
  // A smooth line through the layout's points: quadratic pieces between
  // the middles of its segments.
  for (let i = 1; i < points.length - 1; i++) {
    const mx = (points[i].x + points[i + 1].x) / 2;
    const my = (points[i].y + points[i + 1].y) / 2;
    d += `Q${points[i].x},${points[i].y} ${i === points.length - 2 ? points[i + 1].x : mx},${i === points.length - 2 ? points[i + 1].y : my}`;
  }
  return d;
}

// A loop out of the box's right side that comes back into its top.
function loopPath(box) {
  const right = box.x + box.width / 2;
  const top = box.y - box.height / 2;
  const y = top + HEAD / 2;
  return `M${right},${y}C${right + LOOP},${y} ${right - LOOP},${top - LOOP} ${right - LOOP},${top}`;
}

/// Lays out and draws the schema (`tables` and `keys` as schemaGraph
/// reads them) into `container`; `onOpen(name)` opens a table. Returns
/// {graph (the nodes and edges drawn), svg, fit(), zoomBy(factor),
/// destroy()}.
function drawDiagram(container, tables, keys, onOpen) {
  injectStyle('diagram', diagramCss);
  const graph = schemaGraph(tables, keys);
  const sizes = new Map(graph.nodes.map((node) => [node.id, boxSize(node)]));
  const placed = schemaLayout(graph.nodes, sizes, graph.edges);

  const svg = element('svg', {class: 'diagram', role: 'group', height: MIN_HEIGHT,
    'aria-label': `Diagram of ${graph.nodes.length} tables and views and ${graph.edges.length} references`});
  const defs = element('defs', {}, svg);
  const marker = element('marker', {id: 'darrow', viewBox: '0 0 10 10', refX: 9, refY: 5,
    markerWidth: 8, markerHeight: 8, orient: 'auto-start-reverse'}, defs);
  element('path', {d: 'M0,0L10,5L0,10z', class: 'dhead'}, marker);
  const viewport = element('g', {}, svg);
  const content = element('g', {transform: `translate(${MARGIN},${MARGIN})`}, viewport);
  for (const edge of graph.edges) {
    const d = edge.from === edge.to ? loopPath(placed.nodes.get(edge.from)) : edgePath(placed.points.get(edge.id));
    const path = element('path', {d, class: 'fk', 'marker-end': 'url(#darrow)'}, content);
    element('title', {}, path).textContent = edge.text;
  }
  for (const node of graph.nodes) drawBox(content, node, placed.nodes.get(node.id), onOpen);
  container.appendChild(svg);

  const size = {width: placed.width + 2 * MARGIN, height: placed.height + 2 * MARGIN};
  const behaviour = zoom().scaleExtent([MIN_ZOOM, MAX_ZOOM])
      .filter((event) => !event.button && event.type !== 'dblclick')
      .on('zoom', (event) => viewport.setAttribute('transform', event.transform.toString()));
  const selection = select(svg).call(behaviour);
  // The whole layout in view: as wide as the panel allows, and as tall as
  // that makes it, within MIN_HEIGHT and MAX_HEIGHT.
  function fit() {
    const width = svg.clientWidth || container.clientWidth || 800;
    let k = Math.min(1, width / size.width);
    const height = Math.max(MIN_HEIGHT, Math.min(MAX_HEIGHT, size.height * k));
    k = Math.min(k, height / size.height);
    svg.setAttribute('height', height);
    selection.call(behaviour.transform, zoomIdentity.translate((width - size.width * k) / 2, 0).scale(k));
  }
  fit();
  return {
    graph, svg, fit,
    zoomBy: (factor) => selection.call(behaviour.scaleBy, factor),
    destroy: () => {
      selection.on('.zoom', null);
      svg.remove();
    },
  };
}

function keyText(key) {
  const to = key.to.some(Boolean) ? ' (' + key.to.join(', ') + ')' : ' (primary key)';
  return key.from.join(', ') + ' \u2192 ' + key.references + to;
}

/// The text alternative: each table and view with the references it
/// makes and receives.
function referenceList(tables, keys) {
  const details = el('details', 'dlist');
  details.appendChild(el('summary', '', 'Tables and references as a list'));
  const list = details.appendChild(el('ul'));
  for (const table of tables) {
    const name = String(table.name);
    const folded = name.toLowerCase();
    const item = list.appendChild(el('li', '', name + (table.type === 'view' ? ' (view)' : '')));
    const lines = [];
    for (const key of keys) {
      const from = key.table.toLowerCase();
      if (from === folded) lines.push('references ' + keyText(key));
      if (key.references.toLowerCase() === folded && from !== folded) {
        lines.push('referenced by ' + key.table + ' (' + key.from.join(', ') + ')');
      }
    }
    if (lines.length) {
      const sub = item.appendChild(el('ul'));
      for (const line of lines) sub.appendChild(el('li', '', line));
    }
  }
  return details;
}

/// Fills the panel `body` with the diagram of `tables` (the schema's
/// entries) and `keys` ([{table, references, from, to}]), and the list of
/// both; `openTable(name)` opens a table. Returns the function that stops
/// the diagram.
export function diagramPanel(body, tables, keys, openTable) {
  injectStyle('panels', panelsCss);
  const plural = (n, word) => n + ' ' + word + (n === 1 ? '' : 's');
  body.appendChild(el('div', 'hint', plural(tables.length, 'table') + '  \u00b7  ' + plural(keys.length, 'reference')));
  const controls = body.appendChild(el('div'));
  const box = body.appendChild(el('div', 'diagrambox'));
  const start = performance.now();
  const drawing = drawDiagram(box, tables, keys, openTable);
  requestAnimationFrame(() => performance.measure('diagram draw', {start}));
  controls.appendChild(controlRow('mapctl', [
    button('Zoom in', () => drawing.zoomBy(1.5)), button('Zoom out', () => drawing.zoomBy(1 / 1.5)),
    button('Fit', () => drawing.fit()),
    el('span', 'hint', 'Drag to pan, wheel to zoom; a box (or Enter on it) opens its table.'),
  ]));
  body.appendChild(referenceList(tables, keys));
  return drawing.destroy;
}
