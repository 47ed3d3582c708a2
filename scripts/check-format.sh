#!/usr/bin/env bash
# Fails when a C++ source of the tree is not as .clang-format has it; the
# files it names are put right by `make format`.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z -- '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror
