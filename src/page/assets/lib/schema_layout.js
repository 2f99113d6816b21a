// Where the diagram's boxes and arrows go. Each group of tables joined by
// foreign keys is laid out on its own by dagre (in layers from left to
// right; cycles are broken for the layout only), the groups are packed in
// rows, and the tables that refer to nothing and that nothing refers to
// fill a grid after them. Laying out groups apart keeps dagre's work, which
// grows faster than the number of tables, small.
import {Graph, layout} from '@dagrejs/dagre';

const GAP = 40;            // between groups and between grid boxes
const MIN_ROW_WIDTH = 1200;

function groupsOf(nodes, edges) {
  const parent = new Map(nodes.map((n) => [n.id, n.id]));
  const find = (id) => {
    while (parent.get(id) !== id) {
      parent.set(id, parent.get(parent.get(id)));
      id = parent.get(id);
    }
    return id;
  };
  for (const e of edges) parent.set(find(e.from), find(e.to));
  const groups = new Map();
  for (const n of nodes) {
    const root = find(n.id);
    if (!groups.has(root)) groups.set(root, []);
    groups.get(root).push(n.id);
  }
  return [...groups.values()];
}

function layoutGroup(ids, sizes, edges) {
  const g = new Graph({multigraph: true});
  g.setGraph({rankdir: 'LR', nodesep: 24, ranksep: 70});
  g.setDefaultEdgeLabel(() => ({}));
  for (const id of ids) g.setNode(id, Object.assign({}, sizes.get(id)));
  for (const e of edges) g.setEdge(e.from, e.to, {}, e.id);
  layout(g);
  const nodes = new Map(ids.map((id) => [id, g.node(id)]));
  const points = new Map(edges.map((e) => [e.id, g.edge(e.from, e.to, e.id).points]));
  return {nodes, points, width: g.graph().width, height: g.graph().height};
}

function gridGroup(ids, sizes, rowWidth) {
  const nodes = new Map();
  let x = 0;
  let y = 0;
  let rowHeight = 0;
  let width = 0;
  for (const id of ids) {
    const size = sizes.get(id);
    if (x > 0 && x + size.width > rowWidth) {
      x = 0;
      y += rowHeight + GAP;
      rowHeight = 0;
    }
    nodes.set(id, {x: x + size.width / 2, y: y + size.height / 2, width: size.width, height: size.height});
    x += size.width + GAP;
    width = Math.max(width, x - GAP);
    rowHeight = Math.max(rowHeight, size.height);
  }
  return {nodes, points: new Map(), width, height: y + rowHeight};
}

/// Positions of the boxes `nodes` ([{id}], sized by `sizes`, a Map of id
/// to {width, height}) and the paths of `edges` ([{id, from, to}]; an
/// edge from a box to itself gets no points). Returns {nodes: Map of id to
/// {x, y, width, height} (x and y the centre), points: Map of edge id to
/// [{x, y}], width, height}.
export function schemaLayout(nodes, sizes, edges) {
  const joining = edges.filter((e) => e.from !== e.to);
  const groups = groupsOf(nodes, joining);
  const alone = groups.filter((ids) => ids.length === 1).map((ids) => ids[0]);
  const placed = groups.filter((ids) => ids.length > 1).map((ids) => {
    const members = new Set(ids);
    return layoutGroup(ids, sizes, joining.filter((e) => members.has(e.from)));
  });
  placed.sort((a, b) => b.height - a.height);
  const rowWidth = Math.max(MIN_ROW_WIDTH, ...placed.map((p) => p.width));
  if (alone.length) placed.push(gridGroup(alone, sizes, rowWidth));

  const result = {nodes: new Map(), points: new Map(), width: 0, height: 0};
  let x = 0;
  let y = 0;
  let rowHeight = 0;
  for (const part of placed) {
    if (x > 0 && x + part.width > rowWidth) {
      x = 0;
      y += rowHeight + GAP;
      rowHeight = 0;
    }
    for (const [id, box] of part.nodes) result.nodes.set(id, Object.assign({}, box, {x: box.x + x, y: box.y + y}));
    for (const [id, points] of part.points) result.points.set(id, points.map((p) => ({x: p.x + x, y: p.y + y})));
    x += part.width + GAP;
    rowHeight = Math.max(rowHeight, part.height);
    result.width = Math.max(result.width, x - GAP);
    result.height = Math.max(result.height, y + rowHeight);
  }
  return result;
}
