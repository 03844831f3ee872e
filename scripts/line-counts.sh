#!/usr/bin/env bash
# Lines of code under src/ and tests/ (non-blank, non-comment) and the share the tests
# make of the source. C++ comment lines start with // (or sit in /* */ blocks); shell,
# CMake and Python comment lines start with #.
#   scripts/line-counts.sh            print the counts
#   scripts/line-counts.sh --check    also exit 1 when tests exceed 35 % of src
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  find "$1" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.sh' \
    -o -name '*.cmake' -o -name 'CMakeLists.txt' -o -name '*.py' \) -print0 |
    xargs -0 awk '
      FNR == 1 { cxx = FILENAME ~ /\.(cpp|hpp|h)$/; block = 0 }
      /^[ \t]*$/ { next }
      cxx && block { if ($0 ~ /\*\//) block = 0; next }
      cxx && /^[ \t]*\/\// { next }
      cxx && /^[ \t]*\/\*/ { if ($0 !~ /\*\//) block = 1; next }
      !cxx && /^[ \t]*#/ { next }
      { n++ }
      END { print n + 0 }'
}

src=$(count src)
tests=$(count tests)
percent=$((100 * tests / src))
echo "src ${src} lines, tests ${tests} lines: tests are ${percent} % of src"
if [ "${1:-}" = "--check" ] && [ $((100 * tests)) -gt $((35 * src)) ]; then
  echo "line-counts: tests exceed 35 % of src" >&2
  exit 1
fi
