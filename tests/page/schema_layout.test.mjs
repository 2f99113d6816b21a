// The diagram's layout: groups joined by foreign keys laid out apart,
// lone tables in a grid, no two boxes overlapping, every arrow running
// from its table's box to the referenced one, cycles and self-references
// laid out without looping.
import assert from 'node:assert/strict';
import {test} from 'node:test';
import {schemaLayout} from '../../src/page/assets/lib/schema_layout.js';

function inside(point, box, slack) {
  return Math.abs(point.x - box.x) <= box.width / 2 + slack && Math.abs(point.y - box.y) <= box.height / 2 + slack;
}

test('boxes do not overlap and arrows join their boxes', () => {
  const nodes = Array.from({length: 40}, (_, i) => ({id: 'n' + i}));
  const sizes = new Map(nodes.map((n, i) => [n.id, {width: 120 + (i % 5) * 30, height: 60 + (i % 7) * 17}]));
  const edges = [
    ['n0', 'n0'], ['n1', 'n2'], ['n2', 'n3'], ['n3', 'n1'],      // a cycle
    ['n4', 'n1'], ['n5', 'n4'], ['n5', 'n4'],                   // two keys between the same tables
    ['n10', 'n11'], ['n12', 'n11'], ['n13', 'n12'], ['n13', 'n13'],  // a second group
  ].map(([from, to], i) => ({id: 'e' + i, from, to}));
  const placed = schemaLayout(nodes, sizes, edges);
  const boxes = [...placed.nodes.values()];
  assert.equal(boxes.length, 40);
  for (let i = 0; i < boxes.length; i++) {
    for (let j = i + 1; j < boxes.length; j++) {
      const a = boxes[i];
      const b = boxes[j];
      const apart = Math.abs(a.x - b.x) >= (a.width + b.width) / 2 || Math.abs(a.y - b.y) >= (a.height + b.height) / 2;
      assert.ok(apart, `boxes ${i} and ${j} overlap`);
    }
    assert.ok(boxes[i].x - boxes[i].width / 2 >= 0 && boxes[i].x + boxes[i].width / 2 <= placed.width + 1e-9);
    assert.ok(boxes[i].y - boxes[i].height / 2 >= 0 && boxes[i].y + boxes[i].height / 2 <= placed.height + 1e-9);
  }
  for (const edge of edges) {
    if (edge.from === edge.to) {
      assert.equal(placed.points.has(edge.id), false);
      continue;
    }
    const points = placed.points.get(edge.id);
    assert.ok(inside(points[0], placed.nodes.get(edge.from), 1), edge.id + ' starts at its table');
    assert.ok(inside(points[points.length - 1], placed.nodes.get(edge.to), 1), edge.id + ' ends at the referenced table');
  }
});
