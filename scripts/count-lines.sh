#!/usr/bin/env bash
# Counts the lines of tests against the lines of code: non-blank lines that
# are not only a comment, of C++, Python and shell, in the files git knows.
# Fuzz targets and benches count as code.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -co --exclude-standard -- '*.cpp' '*.h' '*.py' '*.sh' | python3 -c '
import re, sys
counts = {"tests": 0, "code": 0}
for path in sys.stdin.read().split():
    comment = "//" if path.endswith((".cpp", ".h")) else "#"
    try:
        lines = open(path, encoding="utf-8", errors="replace").read().splitlines()
    except OSError:
        continue
    n = sum(1 for l in lines if l.strip() and not l.strip().startswith(comment))
    counts["tests" if path.startswith("tests/") else "code"] += n
t, c = counts["tests"], counts["code"]
print(f"tests {t}, code {c}: {t / c:.2f}")
'
