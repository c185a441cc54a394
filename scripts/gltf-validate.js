#!/usr/bin/env node
// Validates glTF files with the Khronos glTF validator and prints one JSON
// line per file: {"file", "errors", "warnings", "infos", "hints", "messages"}
// where messages are the errors and warnings as "CODE pointer: message".
//
//   node scripts/gltf-validate.js VALIDATOR_DIR FILE.glb|FILE.gltf ...
//
// VALIDATOR_DIR is the folder scripts/install-gltf-validator.sh installed
// into. Exit status: 0 no errors, 1 errors in some file, 2 unusable arguments
// or a file the validator could not read.
'use strict';
const fs = require('fs');
const path = require('path');

const [dir, ...files] = process.argv.slice(2);
if (!dir || files.length === 0) {
  console.error('usage: gltf-validate.js VALIDATOR_DIR FILE...');
  process.exit(2);
}
let validator;
try {
  validator = require(path.resolve(dir, 'node_modules', 'gltf-validator'));
} catch (e) {
  console.error(`gltf-validate: no validator in ${dir}: ${e.message}`);
  process.exit(2);
}

async function validate(file) {
  const full = path.resolve(file);
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(full)), {
    uri: path.basename(full),
    maxIssues: 0,
    writeTimestamp: false,
    // A .gltf's .bin (and any other resource) is read from beside it.
    externalResourceFunction: (uri) =>
      fs.promises.readFile(path.resolve(path.dirname(full), decodeURIComponent(uri))).then((d) => new Uint8Array(d)),
  });
  const issues = report.issues;
  return {
    file,
    errors: issues.numErrors,
    warnings: issues.numWarnings,
    infos: issues.numInfos,
    hints: issues.numHints,
    messages: issues.messages
      .filter((m) => m.severity <= 1)
      .map((m) => `${m.severity === 0 ? 'error' : 'warning'} ${m.code} ${m.pointer || ''}: ${m.message}`),
  };
}

(async () => {
  let status = 0;
  for (const file of files) {
    try {
      const result = await validate(file);
      console.log(JSON.stringify(result));
      if (result.errors > 0) status = Math.max(status, 1);
    } catch (e) {
      console.log(JSON.stringify({ file, failure: String(e) }));
      status = 2;
    }
  }
  process.exit(status);
})();
