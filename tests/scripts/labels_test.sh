#!/usr/bin/env bash
# Every test of the build tree carries exactly one of the labels unit and
# peer: a test without either would run in neither `ctest -L unit` nor
# `ctest -L peer`, one with both would slow the fast set down.
set -euo pipefail
build_dir=$1
names() { ctest --test-dir "$build_dir" -N "$@" | sed -n 's/^ *Test *#[0-9]*: //p' | sort; }
all=$(names)
unit=$(names -L '^unit$')
peer=$(names -L '^peer$')
[ -n "$all" ] || { echo "FAIL: no tests listed in $build_dir"; exit 1; }
[ -n "$unit" ] && [ -n "$peer" ] || { echo "FAIL: a label selects nothing"; exit 1; }
neither=$(comm -23 <(echo "$all") <(sort -u <(echo "$unit") <(echo "$peer")))
both=$(comm -12 <(echo "$unit") <(echo "$peer"))
status=0
[ -z "$neither" ] || { echo "FAIL: tests with neither label:"; echo "$neither"; status=1; }
[ -z "$both" ] || { echo "FAIL: tests with both labels:"; echo "$both"; status=1; }
[ "$status" -ne 0 ] || echo "labels: ok ($(wc -l <<<"$unit") unit, $(wc -l <<<"$peer") peer)"
exit "$status"
