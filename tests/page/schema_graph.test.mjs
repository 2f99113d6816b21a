// The schema as a graph: keys marked on columns, one edge per foreign key
// (also two between the same tables, and a table's reference to itself),
// names matched ignoring letter case, references to missing tables kept
// apart.
import assert from 'node:assert/strict';
import {test} from 'node:test';
import {schemaGraph} from '../../src/page/assets/lib/schema_graph.js';

const column = (name, pk = 0, type = 'INTEGER') => ({name, type, pk});

test('edges, key marks and unresolved references', () => {
  const tables = [
    {name: 'People', type: 'table', columns: [column('id', 1), column('boss_id'), column('name', 0, 'TEXT')]},
    {name: 'loans', type: 'table', columns: [column('lender'), column('borrower'), column('note', 0, 'TEXT')]},
    {name: 'who', type: 'view', columns: [column('name', 0, 'TEXT')]},
  ];
  const keys = [
    {table: 'people', references: 'PEOPLE', from: ['boss_id'], to: ['']},
    {table: 'loans', references: 'people', from: ['lender'], to: ['id']},
    {table: 'loans', references: 'people', from: ['BORROWER'], to: ['id']},
    {table: 'loans', references: 'gone', from: ['note'], to: ['x']},
  ];
  const graph = schemaGraph(tables, keys);
  assert.deepEqual(graph.edges.map((e) => [e.from, e.to]), [['n0', 'n0'], ['n1', 'n0'], ['n1', 'n0']]);
  assert.equal(graph.edges[0].text, 'people (boss_id) \u2192 PEOPLE (primary key)');
  assert.deepEqual(graph.unresolved.map((u) => u.text), ['loans (note) \u2192 gone (x)']);
  assert.deepEqual(graph.nodes[0].lines.map((l) => l.key), ['PK', 'FK', '']);
  // The column of a key to a missing table is not marked: no arrow says so.
  assert.deepEqual(graph.nodes[1].lines.map((l) => l.key), ['FK', 'FK', '']);
  assert.equal(graph.nodes[2].view, true);
});

test('a wide table shows its first columns and counts the rest', () => {
  const columns = Array.from({length: 130}, (_, i) => column('c' + i));
  const [node] = schemaGraph([{name: 'wide', type: 'table', columns}], []).nodes;
  assert.equal(node.lines.length + node.more, 130);
  assert.ok(node.more > 0);
});
