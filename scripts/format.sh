#!/usr/bin/env bash
# Formats every C++ source of the tree: clang-tidy first puts braces round
# lone statements (the clang-format of Debian 12 cannot), then clang-format
# lays out the rest. The compile commands come from a tree configured with
# the tests and the benchmarks, so that every source is named; nothing is
# built there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cmake -S . -B build/format -G Ninja -DBUILD_TESTING=ON -DKIVO_BENCHMARKS=ON >/dev/null
run-clang-tidy -p build/format -quiet -fix -j "$(nproc)" \
  -checks='-*,readability-braces-around-statements' \
  -header-filter="^$root/(platform|modules|code|tests|bench|tools)/" \
  "^$root/(platform|modules|code|tests|bench|tools)/" >build/format/tidy.log 2>&1 ||
  { cat build/format/tidy.log; exit 1; }
git ls-files -z -- '*.cpp' '*.h' '*.c' | xargs -0 clang-format -i
