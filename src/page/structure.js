// "Structure": the chosen table's or view's columns, indexes, foreign keys
// and CREATE statements, from the read-only PRAGMAs and sqlite_master.

var chosenTable = null;  // the schema entry of the table chosen last

function columnFacts(rows) {
  // table_info: cid, name, type, notnull, dflt_value, pk
  return textTable(['column', 'type', 'primary key', 'not null', 'default'], rows.map(function(r) {
    return [r[1], r[2], r[5] > 0 ? r[5] : '', r[3] ? 'NOT NULL' : '', r[4] === null ? '' : r[4]];
  }));
}

function indexColumns(index) {
  // index_info: seqno, cid, name (null for an expression)
  return queryRows(
             'structure index ' + text(index[1]), 'PRAGMA index_info(' + quotedName(index[1]) + ')')
      .then(function(rows) {
        return rows.map(function(r) { return r[2] === null ? '(expression)' : text(r[2]); })
            .join(', ');
      });
}

function indexFacts(indexes) {
  // index_list: seq, name, unique, origin, partial
  if (!indexes.length) return make('div', 'empty', 'No indexes.');
  return Promise.all(indexes.map(indexColumns)).then(function(columns) {
    return textTable(['index', 'unique', 'columns'], indexes.map(function(r, i) {
      return [r[1], r[2] ? 'UNIQUE' : '', columns[i]];
    }));
  });
}

function foreignKeyFacts(groups) {
  return textTable(['columns', 'references', 'referenced columns'], groups.map(function(g) {
    return [g.from.join(', '), g.table, g.to.join(', ') || '(primary key)'];
  }));
}

// A titled part of the structure; a table goes into a region of its own
// that scrolls sideways when narrow, reachable by the keyboard.
function section(body, title, content) {
  body.appendChild(make('h3', 'facttitle', title));
  if (content.tagName !== 'TABLE') {
    body.appendChild(content);
    return;
  }
  var region = make('div', 'factwrap');
  region.setAttribute('role', 'region');
  region.setAttribute('aria-label', title);
  region.tabIndex = 0;
  region.appendChild(content);
  body.appendChild(region);
}

function createStatements(name) {
  return queryRows(
      'structure create',
      'SELECT sql FROM sqlite_master WHERE tbl_name = ' + sqlString(name) +
          ' AND sql IS NOT NULL ORDER BY type NOT IN (\'table\', \'view\'), name');
}

function showStructure() {
  if (!chosenTable) {
    openPanel('structure', 'Structure');
    panelBody.appendChild(make('div', 'empty', 'Choose a table or view first.'));
    return;
  }
  var table = chosenTable;
  var body = openPanel('structure', 'Structure of ' + text(table.name));
  body.appendChild(make('div', 'empty', 'Loading...'));
  var quoted = quotedName(table.name);
  Promise
      .all([
        queryRows('structure columns', 'PRAGMA table_info(' + quoted + ')'),
        queryRows('structure indexes', 'PRAGMA index_list(' + quoted + ')').then(indexFacts),
        foreignKeys(table), createStatements(text(table.name))
      ])
      .then(
          function(parts) {
            if (panelOwner !== 'structure' || chosenTable !== table) return;
            empty(body);
            section(body, 'Columns', columnFacts(parts[0]));
            section(body, 'Indexes', parts[1]);
            section(
                body, 'Foreign keys',
                parts[2].length ? foreignKeyFacts(parts[2]) :
                                  make('div', 'empty', 'No foreign keys.'));
            section(
                body, 'CREATE statement',
                textBlock(parts[3].map(function(r) { return text(r[0]) + ';'; }).join('\n\n')));
          },
          function(error) {
            if (panelOwner !== 'structure') return;
            empty(body);
            body.appendChild(make('div', 'err', failureText(error)));
          });
}

byId('structbtn').addEventListener('click', showStructure);
