#!/usr/bin/env bash
# Fails when a C++ source of the tree is not as .clang-format has it, or
# holds a control statement without braces in any branch of the
# preprocessor (clang-format cannot see those). `make format` puts right
# what it names, but for braces in code this machine does not compile: those
# are added by hand. `make check-braces` checks the braces again with
# clang-tidy, over the compiled code.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z -- '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror
git ls-files -z -- '*.cpp' '*.h' '*.c' | xargs -0 python3 scripts/check_braces.py
