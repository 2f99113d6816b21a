// "Chart": the current result drawn as bars, a line, points or a
// histogram, from the whole result (up to WHOLE_RESULT_MAX rows). The
// chart library is loaded when the first chart opens.

var CHART_TYPES = [['bar', 'Bar'], ['line', 'Line'], ['scatter', 'Scatter'], ['histogram', 'Histogram']];
var COUNT_AXIS = -1;  // the Y axis "count": rows per X value

/// A select with `options` ([value, label] pairs), named by a visible
/// label; returns {label, select}.
function labelledSelect(name, options) {
  var label = make('label', 'control');
  label.appendChild(document.createTextNode(name + ' '));
  var select = make('select');
  options.forEach(function(option) {
    var element = make('option', '', option[1]);
    element.value = String(option[0]);
    select.appendChild(element);
  });
  label.appendChild(select);
  return {label: label, select: select};
}

/// The chart first shown: x is the first column; y the first other column
/// of numbers, else the count. Text on x gives bars, dates a line, numbers
/// points, or a histogram when no other column holds numbers.
function chartDefaults(chart, columns, rows) {
  var kinds = columns.map(function(c, i) {
    return chart.axisKind(rows.slice(0, 1000).map(function(row) { return row[i]; }));
  });
  var y = kinds.findIndex(function(kind, i) { return i > 0 && kind === 'number'; });
  var type = kinds[0] === 'category' ? 'bar' : kinds[0] === 'time' ? 'line' : 'scatter';
  if (y < 0 && type === 'scatter') type = 'histogram';
  return {type: type, x: 0, y: y < 0 ? COUNT_AXIS : y};
}

function chartTitle(type, xName, yName) {
  var label = CHART_TYPES.find(function(t) { return t[0] === type; })[1];
  return type === 'histogram' ? 'Histogram of ' + xName : label + ' chart of ' + yName + ' by ' + xName;
}

function savePng(drawing) {
  drawing.png().then(function(blob) {
    saveFile('chart-' + new Date().toISOString().slice(0, 10) + '.png', blob, 'image/png');
  });
}

function chartControls(body, chart, result) {
  var columns = result.columns;
  var names = columns.map(function(c) { return text(c.name); });
  var choice = chartDefaults(chart, columns, result.rows);
  var type = labelledSelect('Chart type', CHART_TYPES);
  var x = labelledSelect('X axis', names.map(function(name, i) { return [i, name]; }));
  var y = labelledSelect(
      'Y axis', [[COUNT_AXIS, 'count']].concat(names.map(function(name, i) { return [i, name]; })));
  var save = make('button', 'ghost', 'Save image');
  save.type = 'button';
  var controls = make('div', 'row chartctl');
  [type.label, x.label, y.label, save].forEach(function(c) { controls.appendChild(c); });
  body.appendChild(controls);
  var note = partNote(result);
  if (note) body.appendChild(make('div', 'hint', note));
  var figure = make('figure', 'visual');
  var box = make('div', 'chartbox');
  box.setAttribute('role', 'img');
  box.id = 'chartbox';
  var summary = make('figcaption', 'hint');
  summary.id = 'chartsummary';
  box.setAttribute('aria-describedby', summary.id);
  figure.appendChild(box);
  figure.appendChild(summary);
  body.appendChild(figure);

  var drawing = null;
  function draw() {
    if (drawing) drawing.destroy();
    var kind = type.select.value;
    var xi = Number(x.select.value);
    var yi = kind === 'histogram' ? COUNT_AXIS : Number(y.select.value);
    y.select.disabled = kind === 'histogram';
    var yName = yi === COUNT_AXIS ? 'count' : names[yi];
    box.setAttribute('aria-label', chartTitle(kind, names[xi], yName));
    var start = performance.now();
    drawing = chart.drawChart(box, result.rows, kind, xi, yi, {x: names[xi], y: yName});
    summary.textContent = drawing.summary;
    drawing.drawn.then(function() { performance.measure('chart draw', {start: start}); });
  }
  type.select.value = choice.type;
  x.select.value = String(choice.x);
  y.select.value = String(choice.y);
  [type, x, y].forEach(function(c) { c.select.addEventListener('change', draw); });
  save.addEventListener('click', function() { savePng(drawing); });
  draw();
  return function() {
    if (drawing) drawing.destroy();
  };
}

function showChart() {
  var body = openPanel('chart', 'Chart');
  if (!view || !lastData || lastData.ok !== true || failedPartWay(lastData) ||
      !(lastData.columns || []).length) {
    body.appendChild(make('div', 'empty', 'Run a statement first.'));
    return;
  }
  var data = lastData;
  var ui = fetchBar(body, 'Chart data progress');
  rowsAndLibrary(wholeResult('chart', view, ui), 'chart')
      .then(
          function(loaded) {
            if (panelOwner !== 'chart' || lastData !== data) return;
            if (!loaded.result.rows.length) {
              body.appendChild(make('div', 'empty', 'No rows to chart.'));
              return;
            }
            panelRelease = chartControls(body, loaded.library, loaded.result);
          },
          function(error) {
            if (panelOwner === 'chart') body.appendChild(make('div', 'err', failureText(error)));
          });
}

byId('chartbtn').addEventListener('click', showChart);
