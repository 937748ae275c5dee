#!/usr/bin/env bash
# scripts/test-share.sh on a small tree of known lines, outside git: what it
# counts, what it leaves out, the share it prints, and that it never fails.
set -euo pipefail
script=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

lines() { local n=$1 f=$2; mkdir -p "$(dirname "$tree/$f")"; for ((i = 0; i < n; i++)); do echo "x"; done > "$tree/$f"; }
lines 100 scan/scan.cpp
lines 50  scan/scan.h
lines 20  scripts/run.sh
lines 10  scripts/tool.py
lines 15  cmake/Rules.cmake
lines 5   CMakeLists.txt
lines 40  tests/scan/scan_test.cpp
lines 10  tests/scan/CMakeLists.txt
lines 50  tests/support/peer.sh
# Not counted: other kinds of files, and the folders that are neither.
lines 999 docs/manual.md
lines 999 scan/notes.txt
lines 999 fuzz/scan_fuzz.cpp
lines 999 bench/scan_bench.cpp
lines 999 build/ci/generated.cpp
lines 999 build-old/generated.cpp

fail() { echo "FAIL: $*"; echo "$out"; exit 1; }
out=$("$script" "$tree")
grep -Eq '^    scan +150$' <<<"$out" || fail "the program folder scan counts 150 lines"
grep -Eq '^    scripts +30$' <<<"$out" || fail "shell and Python count"
grep -Eq '^    \(top folder\) +5$' <<<"$out" || fail "the top CMakeLists.txt counts"
grep -Eq '^    tests/scan +50$' <<<"$out" || fail "tests count per folder"
grep -Eq '^    all +200$' <<<"$out" || fail "the program has 200 lines"
grep -Eq '^    all +100$' <<<"$out" || fail "the tests have 100 lines"
grep -Fq 'Test share: 33.3% of all lines are tests (0.50 test lines per program line).' <<<"$out" || fail "the share"
! grep -Eq 'fuzz|bench|build|docs' <<<"$out" || fail "a folder that is not counted is listed"

# Nothing to count, or no folder at all: still a success.
empty=$(mktemp -d)
"$script" "$empty" >/dev/null 2>&1 || { rmdir "$empty"; fail "an empty tree fails the run"; }
rmdir "$empty"
"$script" "$tree/does-not-exist" >/dev/null 2>&1 || fail "a missing folder fails the run"
echo "test share: ok"
