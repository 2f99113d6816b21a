// Bundles the Explorer's browser libraries (see browser_assets.cmake).
//
//   node bundle_assets.js <source dir> <output dir> <entry.js>...
//
// First checks that the npm packages in node_modules are the ones pinned:
// package.json names each top-level package by an exact version, which
// package-lock.json repeats, and every package the lock file lists is
// installed at its version with the registry integrity the lock file
// records (npm ci checked each tarball against it and wrote it to
// node_modules/.package-lock.json). Then bundles each entry with esbuild
// into one minified ES module, <name>-<content hash>.js, and writes into the
// output dir:
//   <name>-<hash>.js      each bundle, as served
//   asset_bytes.cpp       the bundles as byte arrays, with their names
//   asset_manifest.js     `var ASSETS = {name: file, ...};` for the page
// Any mismatch or build error stops with a message and exit status 1.
'use strict';

const fs = require('node:fs');
const path = require('node:path');

const EXACT_VERSION = /^\d+\.\d+\.\d+$/;
const REINSTALL = 'run `npm ci --no-audit --no-fund` in ';

function readJson(file) { return JSON.parse(fs.readFileSync(file, 'utf8')); }

/// The reasons the installed packages differ from the pins; empty when none.
function pinMismatches(root) {
  const problems = [];
  const manifest = readJson(path.join(root, 'package.json'));
  const lock = readJson(path.join(root, 'package-lock.json'));
  const installedFile = path.join(root, 'node_modules', '.package-lock.json');
  if (!fs.existsSync(installedFile)) return ['node_modules holds no installed packages'];
  const installed = readJson(installedFile).packages || {};
  const wanted = {...manifest.dependencies, ...manifest.devDependencies};
  for (const [name, version] of Object.entries(wanted)) {
    if (!EXACT_VERSION.test(version)) problems.push(`package.json: ${name} is not pinned to one version (${version})`);
    const locked = lock.packages['node_modules/' + name];
    if (!locked || locked.version !== version) {
      problems.push(`package-lock.json: ${name} is not locked at ${version}`);
    }
  }
  for (const [key, locked] of Object.entries(lock.packages)) {
    if (key === '') continue;
    if (!locked.integrity) problems.push(`package-lock.json: ${key} has no integrity`);
    const have = installed[key];
    if (!have) {
      // Another platform's build of a package (esbuild's binaries) is
      // optional and only the machine's own is installed.
      if (!locked.optional) problems.push(`${key} is not installed`);
      continue;
    }
    if (have.version !== locked.version || have.integrity !== locked.integrity) {
      problems.push(`${key} is installed as ${have.version} ${have.integrity}, pinned ${locked.version} ${locked.integrity}`);
      continue;
    }
    const ownManifest = path.join(root, key, 'package.json');
    if (!fs.existsSync(ownManifest) || readJson(ownManifest).version !== locked.version) {
      problems.push(`${key}/package.json does not say version ${locked.version}`);
    }
  }
  return problems;
}

/// C++ source of the byte array `name` holding `bytes`.
function byteArray(name, bytes) {
  const lines = [];
  for (let i = 0; i < bytes.length; i += 24) lines.push(Array.from(bytes.subarray(i, i + 24)).join(',') + ',');
  return `static const unsigned char ${name}[${bytes.length}] = {\n${lines.join('\n')}\n};\n`;
}

/// Deletes the bundles of `name` that earlier builds wrote, other than
/// `kept`: each change of a library's content leaves a new hashed file.
function removeEarlierBundles(outDir, name, kept) {
  const earlier = new RegExp('^' + name.replace(/[^A-Za-z0-9]/g, '\\$&') + '-[A-Z0-9]+\\.js$');
  for (const file of fs.readdirSync(outDir)) {
    if (file !== kept && earlier.test(file)) fs.unlinkSync(path.join(outDir, file));
  }
}

async function main() {
  const [root, outDir, ...entries] = process.argv.slice(2);
  const problems = pinMismatches(root);
  if (problems.length) {
    throw new Error('the npm packages are not the pinned ones:\n  ' + problems.join('\n  ') + '\n' + REINSTALL + root);
  }
  const esbuild = require(path.join(root, 'node_modules', 'esbuild'));
  fs.mkdirSync(outDir, {recursive: true});
  const files = {};
  let arrays = '';
  let rows = '';
  for (const entry of entries.sort()) {
    const name = path.basename(entry, '.js');
    const result = await esbuild.build({
      entryPoints: [entry],
      absWorkingDir: root,
      nodePaths: [path.join(root, 'node_modules')],
      bundle: true,
      format: 'esm',
      target: 'es2020',
      minify: true,
      charset: 'ascii',
      // A library's style sheet is imported as text and added by its module.
      loader: {'.css': 'text'},
      legalComments: 'eof',
      entryNames: '[name]-[hash]',
      outdir: outDir,
      write: false,
      logLevel: 'silent',
    });
    const output = result.outputFiles.find((file) => file.path.endsWith('.js'));
    const file = path.basename(output.path);
    removeEarlierBundles(outDir, name, file);
    fs.writeFileSync(output.path, output.contents);
    files[name] = file;
    const array = name.replace(/[^A-Za-z0-9]/g, '_') + '_bytes';
    arrays += '\n' + byteArray(array, output.contents);
    rows += `    {"${file}", ${array}, sizeof ${array}},\n`;
  }
  fs.writeFileSync(path.join(outDir, 'asset_bytes.cpp'),
                 '// Generated by cmake/bundle_assets.js from src/page/assets/; do not edit.\n' +
                 '#include "page/asset_bytes.h"\n' + arrays +
                 `\nconst asset_file ASSET_FILES[] = {\n${rows}};\n` +
                 'const std::size_t ASSET_FILE_COUNT = sizeof ASSET_FILES / sizeof ASSET_FILES[0];\n');
  fs.writeFileSync(path.join(outDir, 'asset_manifest.js'),
                 '// The browser libraries by name, and the file each is served as.\n' +
                 'var ASSETS = ' + JSON.stringify(files) + ';\n');
}

main().catch((error) => {
  process.stderr.write('bundle_assets: ' + (error && error.message ? error.message : String(error)) + '\n');
  process.exit(1);
});
