// "Explain": the plan of the statement in the box, as an indented tree.

/// The plan rows (id, parent, notused, detail) as nested lists.
function planTree(rows) {
  var children = {};
  rows.forEach(function(row) { (children[row[1]] = children[row[1]] || []).push(row); });
  function list(parent) {
    var ul = make('ul', 'plan');
    (children[parent] || []).forEach(function(row) {
      var li = make('li', '', text(row[3]));
      if (children[row[0]] && row[0] !== parent) li.appendChild(list(row[0]));
      ul.appendChild(li);
    });
    return ul;
  }
  return list(0);
}

function explainStatement(sql) {
  var shape = sqlShape(sql);
  return shape.keyword === 'explain' ? sql : 'EXPLAIN QUERY PLAN ' + shape.body;
}

function showPlan() {
  var sql = statementToRun();
  var body = openPanel('explain', 'Explain');
  if (!currentDb || !sql.trim()) {
    body.appendChild(
        make('div', 'empty', currentDb ? 'Type a statement.' : 'Select a database first.'));
    return;
  }
  body.appendChild(make('div', 'empty', 'Loading...'));
  queryRows('explain', explainStatement(sql))
      .then(
          function(rows) {
            if (panelOwner !== 'explain') return;
            empty(body);
            body.appendChild(textBlock(explainStatement(sql)));
            body.appendChild(rows.length ? planTree(rows) : make('div', 'empty', 'No plan.'));
          },
          function(error) {
            if (panelOwner !== 'explain') return;
            empty(body);
            body.appendChild(make('div', 'err', failureText(error)));
          });
}

byId('explainbtn').addEventListener('click', showPlan);
