#!/usr/bin/env bash
# Prints how many lines the tests have against the program: lines of C, C++,
# shell, Python and CMake, per top folder, then the tests' share. The tests
# are tests/; the program is every other source folder but fuzz/, bench/ and
# the build trees. Only prints: it never fails a run.
#
#   scripts/test-share.sh [SOURCE_DIR]
set -uo pipefail

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 0

# The tracked files when this is a git checkout (no build output, nothing
# stray), else every file but the build trees.
list_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files
  else
    find . -path ./build -prune -o -path './.*' -prune -o -type f -print | sed 's|^\./||'
  fi
}

awk_program='
  function counted(path) {
    return path ~ /\.(c|cc|cpp|cxx|h|hh|hpp|inl|sh|py|cmake)$/ || path ~ /(^|\/)CMakeLists\.txt$/
  }
  {
    path = $0
    if (!counted(path)) next
    top = (index(path, "/") ? substr(path, 1, index(path, "/") - 1) : ".")
    if (top == "fuzz" || top == "bench" || top ~ /^build/) next
    lines = 0
    while ((getline line < path) > 0) lines++
    close(path)
    if (top == "tests") {
      rest = substr(path, 7)
      sub_ = (index(rest, "/") ? "tests/" substr(rest, 1, index(rest, "/") - 1) : "tests")
      test_lines[sub_] += lines; tests += lines
    } else {
      program_lines[top] += lines; program += lines
    }
  }
  END {
    for (k in program_lines) printf "program\t%s\t%d\n", k, program_lines[k]
    for (k in test_lines) printf "tests\t%s\t%d\n", k, test_lines[k]
    printf "total\t%d\t%d\n", program, tests
  }'

counts=$(list_files | awk -F '\n' "$awk_program" 2>/dev/null) || { echo "test-share: could not count the lines" >&2; exit 0; }
echo "Lines of C/C++, shell, Python and CMake:"
for kind in program tests; do
  echo "  $kind"
  printf '%s\n' "$counts" | awk -F '\t' -v kind="$kind" '$1 == kind { printf "    %-22s %8d\n", ($2 == "." ? "(top folder)" : $2), $3 }' | sort
  printf '%s\n' "$counts" | awk -F '\t' -v kind="$kind" '$1 == "total" { printf "    %-22s %8d\n", "all", (kind == "program" ? $2 : $3) }'
done
printf '%s\n' "$counts" | awk -F '\t' '$1 == "total" && $2 > 0 {
  printf "Test share: %.1f%% of all lines are tests (%.2f test lines per program line).\n", 100 * $3 / ($2 + $3), $3 / $2
}'
exit 0
