// Joins and minifies the Explorer page's script (see src/page/page.cmake).
//
//   node minify_page_script.js <source dir> <page dir> <generated dir> <fragment> <output>
//
// The fragment holds `<script>`, a line break, {{name}} markers of the files
// to join (found in the page dir, else in the generated dir), and a line
// break before `</script>`. Each file is put in place of its marker without
// its final line break, as embed.cmake does; the joined script between the
// two line breaks is minified with esbuild (the packages checked by
// bundle_assets.js, which runs first), ASCII only, and the fragment is
// written to <output> with that script. Exits with status 1 on any error.
'use strict';

const fs = require('node:fs');
const path = require('node:path');

function main() {
  const [root, pageDir, generatedDir, fragment, output] = process.argv.slice(2);
  const joined = fs.readFileSync(path.join(pageDir, fragment), 'utf8').replace(/{{([^}]+)}}/g, (marker, name) => {
    const own = path.join(pageDir, name);
    const file = fs.existsSync(own) ? own : path.join(generatedDir, name);
    return fs.readFileSync(file, 'utf8').replace(/\n$/, '');
  });
  const start = joined.indexOf('<script>\n') + '<script>\n'.length;
  const end = joined.lastIndexOf('\n</script>');
  if (start < '<script>\n'.length || end < start) throw new Error(fragment + ' holds no <script> element');
  const esbuild = require(path.join(root, 'node_modules', 'esbuild'));
  const script = esbuild.transformSync(joined.slice(start, end), {
    minify: true, charset: 'ascii', target: 'es2020', logLevel: 'silent',
  }).code.replace(/\n$/, '');
  fs.mkdirSync(path.dirname(output), {recursive: true});
  fs.writeFileSync(output, joined.slice(0, start) + script + joined.slice(end));
}

try {
  main();
} catch (error) {
  process.stderr.write('minify_page_script: ' + (error && error.message ? error.message : String(error)) + '\n');
  process.exit(1);
}
