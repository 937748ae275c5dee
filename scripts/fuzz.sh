#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, starting
# from its committed seed corpus, a few at a time.
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS_EACH]
# BUILD_DIR is a build of the `fuzz` preset (build/fuzz by default); the
# targets come from the list that build wrote (fuzz/fuzz-targets.txt), so
# every target defined in fuzz/*.cmake is run. SECONDS_EACH (default
# $FDX_FUZZ_SECONDS, else 20) shrinks, down to 5, when the targets would not
# fit in $FDX_FUZZ_BUDGET seconds of wall time (default 180) on
# $FDX_FUZZ_JOBS fuzzers at a time (default: one per core). Fails on any crash, leak,
# timeout or memory blow-up; each input that made one is copied into the
# target's corpus folder in the work tree (and its path printed) so that it
# can be committed as a regression seed once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
seconds=${2:-${FDX_FUZZ_SECONDS:-20}}
jobs=${FDX_FUZZ_JOBS:-$(nproc)}
list="$build/fuzz/fuzz-targets.txt"
[ -f "$list" ] || { echo "no fuzz target list in $build (build the fuzz preset first)" >&2; exit 1; }
budget=${FDX_FUZZ_BUDGET:-180}
count=$(grep -c . "$list" || true)
if [ "$count" -gt 0 ]; then
  fits=$((budget * jobs / count))
  [ "$fits" -lt "$seconds" ] && seconds=$((fits < 5 ? 5 : fits))
fi
echo "fuzzing $count targets for ${seconds}s each, $jobs at a time"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One target: new inputs go to a scratch folder, the committed corpus is
# only read; what breaks it goes to its own artifact folder.
fuzz_one() {
  local name=$1 binary=$2 corpus=$3
  local dir="$work/$name"
  mkdir -p "$dir/new" "$dir/found" "$corpus"
  local status=0
  # The outer limit only guards against a fuzzer that stops keeping time.
  timeout --kill-after=10 $((seconds + 120)) "$binary" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2048 -malloc_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/found/" "$dir/new" "$corpus" >"$dir/log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}

running=0
while IFS=$'\t' read -r name binary corpus; do
  [ -n "$name" ] || continue
  if [ ! -x "$binary" ]; then
    echo "$name: $binary was not built" >&2
    echo 1 >"$work/$name.missing"
    continue
  fi
  fuzz_one "$name" "$binary" "$corpus" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done <"$list"
wait

failed=0
while IFS=$'\t' read -r name binary corpus; do
  [ -n "$name" ] || continue
  dir="$work/$name"
  if [ -f "$work/$name.missing" ]; then failed=1; continue; fi
  status=$(cat "$dir/status" 2>/dev/null || echo 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
  found=$(find "$dir/found" -type f | sort)
  if [ "$status" = 0 ] && [ -z "$found" ]; then
    echo "$name: ${runs:-?} runs in ${seconds}s, no fault"
    continue
  fi
  failed=1
  echo "== $name failed (exit status $status) ==" >&2
  grep -E "ERROR|SUMMARY|==[0-9]+==|Test unit written" "$dir/log" | head -n 40 >&2 || tail -n 40 "$dir/log" >&2
  for input in $found; do
    kept="$corpus/$(basename "$input")"
    cp "$input" "$kept"
    echo "$name: the input that broke it is kept as $kept (commit it once fixed)" >&2
  done
done <"$list"
exit "$failed"
