#!/usr/bin/env bash
# Fails on a control statement of ours without braces: clang-tidy with that
# one check, as an error, over every source the test tree compiles (the
# tests, the benchmarks and the fuzz targets with the code). The headers
# are checked through the sources that include them. Code in a branch of
# the preprocessor that this machine does not compile is checked by
# scripts/check_braces.py in `make check-format`.
#   scripts/check-braces.sh <configured build tree> [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
tree=${1:-build/test}
jobs=${2:-$(nproc)}
ours="^$root/(platform|modules|code|tests|bench|tools)/"

# The test binaries' precompiled header was made by g++, which clang cannot
# read: the database clang-tidy reads names a copy of its text instead.
tidy=$tree/tidy
mkdir -p "$tidy"
python3 - "$tree/compile_commands.json" "$tidy" <<'EOF'
import json, os, shlex, shutil, sys

db_path, out_dir = sys.argv[1], sys.argv[2]
copies = {}
entries = []
for e in json.load(open(db_path)):
    args = e["arguments"] if "arguments" in e else shlex.split(e["command"])
    for i, a in enumerate(args):
        if a.endswith("cmake_pch.hxx") and i > 0 and args[i - 1] == "-include":
            if a not in copies:
                copies[a] = os.path.abspath(os.path.join(out_dir, "pch%d.hxx" % len(copies)))
                shutil.copyfile(a, copies[a])
            args[i] = copies[a]
    entries.append({"directory": e["directory"], "file": e["file"], "arguments": args})
json.dump(entries, open(os.path.join(out_dir, "compile_commands.json"), "w"), indent=1)
EOF

if ! run-clang-tidy -p "$tidy" -quiet -j "$jobs" \
  -config="{Checks: '-*,readability-braces-around-statements', WarningsAsErrors: '*'}" \
  -header-filter="$ours" "$ours" >"$tidy/tidy.log" 2>&1; then
  sed 's/\x1b\[[0-9;]*m//g' "$tidy/tidy.log" | grep -E 'error:' | sort -u || cat "$tidy/tidy.log"
  echo "check-braces: a control statement without braces, or a source clang-tidy cannot read (above;" \
    "the whole log is $tidy/tidy.log); \`make format\` adds missing braces" >&2
  exit 1
fi
