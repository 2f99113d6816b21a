// A database's tables and foreign keys as a graph to draw: one node per
// table or view with its columns and keys, one edge per foreign key.
// Table names match as SQLite matches them, ignoring ASCII letter case.

const MAX_COLUMNS_SHOWN = 24;  // a wider table shows these and a "more" line
const MAX_TEXT = 40;           // characters of a name or type drawn in a box

function fold(name) { return String(name).replace(/[A-Z]/g, (c) => c.toLowerCase()); }

export function clip(text) {
  const value = String(text);
  return value.length > MAX_TEXT ? value.slice(0, MAX_TEXT - 1) + '\u2026' : value;
}

/// Nodes and edges of the schema. `tables`: [{name, type, columns:
/// [{name, type, pk}]}]; `keys`: [{table, references, from: [...], to:
/// [...]}] (an empty `to` name means the referenced primary key).
/// Returns {nodes: [{id, name, view, lines: [{text, key}], more}], edges:
/// [{id, from, to, text}], unresolved: [{from, to, text}]} where `from`
/// and `to` are node ids; a key whose table is not among `tables` is
/// unresolved.
export function schemaGraph(tables, keys) {
  const ids = new Map();
  const nodes = tables.map((table, i) => {
    const id = 'n' + i;
    if (!ids.has(fold(table.name))) ids.set(fold(table.name), id);
    return {id, name: String(table.name), view: table.type === 'view', columns: table.columns || []};
  });
  const foreign = new Map();  // node id -> set of folded column names in a foreign key
  const edges = [];
  const unresolved = [];
  keys.forEach((key, i) => {
    const from = ids.get(fold(key.table));
    const to = ids.get(fold(key.references));
    const target = key.to.map((name, k) => name || (key.to.length > 1 ? '?' + k : 'primary key'));
    const text = String(key.table) + ' (' + key.from.join(', ') + ') \u2192 ' + String(key.references) +
        ' (' + target.join(', ') + ')';
    if (from === undefined || to === undefined) {
      unresolved.push({from: String(key.table), to: String(key.references), text});
      return;
    }
    if (!foreign.has(from)) foreign.set(from, new Set());
    key.from.forEach((name) => foreign.get(from).add(fold(name)));
    edges.push({id: 'e' + i, from, to, text});
  });
  for (const node of nodes) {
    const fks = foreign.get(node.id) || new Set();
    node.lines = node.columns.slice(0, MAX_COLUMNS_SHOWN).map((column) => {
      const marks = [];
      if (column.pk > 0) marks.push('PK');
      if (fks.has(fold(column.name))) marks.push('FK');
      return {name: clip(column.name), type: clip(column.type || ''), key: marks.join(' ')};
    });
    node.more = Math.max(0, node.columns.length - MAX_COLUMNS_SHOWN);
    delete node.columns;
  }
  return {nodes, edges, unresolved};
}
