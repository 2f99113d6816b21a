// A download answer's lines taken out of its JSON text as bytes: every
// escape a JSON string can hold, and the key found only where it is a key.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import {test} from 'node:test';
import vm from 'node:vm';

const page = {
  Blob, TextDecoder, TextEncoder,
  byId: () => ({addEventListener() {}}),
  isEnvelope: (answer) => answer !== null && typeof answer === 'object' && !Array.isArray(answer),
  notJsonText: (status) => 'not JSON (' + status + ')',
};
vm.runInNewContext(fs.readFileSync(new URL('../../src/page/download.js', import.meta.url), 'utf8'), page);

async function read(text) {
  const answer = page.readLinesAnswer(new TextEncoder().encode(text).buffer, 200);
  // The answer's objects are of the page's realm: compare them as plain data.
  return {answer: JSON.parse(JSON.stringify(answer)), lines: answer.linesBlob ? Buffer.from(await answer.linesBlob.arrayBuffer()).toString('utf8') : null};
}

test('the lines come out as the UTF-8 bytes of the string, the other members as JSON reads them', async () => {
  const cases = [
    ['plain', '1,a\n2,b\n'],
    ['quotes and back slashes', '"x ""y""",\\path\\\n'],
    ['every control byte', Array.from({length: 32}, (_, c) => String.fromCharCode(c)).join('')],
    ['characters of 2, 3 and 4 bytes', 'Gr\u00fcn \u20ac \ud83d\ude00\n'],
    ['a member key inside the text', 'x"lines":"y\n'],
    ['empty', ''],
  ];
  for (const [name, lines] of cases) {
    const columns = [{name: '"lines":"'}, {name: 'n'}];
    const {answer, lines: got} = await read(JSON.stringify({ok: true, columns, lines, row_count: 2, truncated: false}));
    assert.equal(got, lines, name);
    assert.deepEqual([answer.columns, answer.lines, answer.row_count], [columns, '', 2], name);
  }
});

test('escapes JSON.stringify does not write read back too', async () => {
  const text = '{"ok":true,"lines":"\\/\\b\\f\\u00E9\\u20ac\\ud83d\\ude00\\u0000","row_count":1}';
  assert.equal((await read(text)).lines, JSON.parse(text).lines);
});

test('an answer without lines, or with a broken string, is read whole', async () => {
  assert.deepEqual((await read('{"ok":false,"error":"no such table"}')).answer, {ok: false, error: 'no such table'});
  for (const broken of ['{"ok":true,"lines":"a\\qb"}', '{"ok":true,"lines":"cut short']) {
    assert.throws(() => page.readLinesAnswer(new TextEncoder().encode(broken).buffer, 502), /not JSON \(502\)/);
  }
});
