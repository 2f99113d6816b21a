// What the page currently shows: the chosen database, the last answer and
// the grid's sort.

var currentDb = '';
var lastData = null;
var sortCol = -1;
var sortDir = 1;
var shownRows = [];  // the rows in the order the grid shows them
