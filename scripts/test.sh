#!/usr/bin/env bash
# Prints the tests' share of the lines, then builds Ferrodex and runs the
# whole test suite: once in a normal build with warnings as errors, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
# The normal run also deploys the real engine package to a local test host.
# Then the Windows module is built with MinGW-w64 and tested under Wine.
# Then every fuzz target is built with clang and fuzzed for a bounded time
# from its seed corpus ($FDX_FUZZ_SECONDS each, 20 by default).
set -euo pipefail
cd "$(dirname "$0")/.."

# Each stage's time, printed as it ends and again as a table at the end.
stage_name=setup
stage_start=$SECONDS
stage_times=()
stage() {
  stage_times+=("$(printf '%-14s %5d s' "$stage_name" $((SECONDS - stage_start)))")
  stage_name=$1
  stage_start=$SECONDS
  echo "== $1 =="
}
trap 'stage end; printf "%s\n" "== stage times ==" "${stage_times[@]}" "$(printf "%-14s %5d s" total $SECONDS)"' EXIT

./scripts/test-share.sh || true
./scripts/setup.sh --tests --windows
./scripts/setup-peers.sh

jobs=$(nproc)
# Many peer tests spend their time waiting on a server or a time limit, so
# the suites run two tests per core.
test_jobs=$((jobs * 2))
for preset in ci asan; do
  stage "$preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [ "$preset" = ci ]; then
    # The engine package, made and signed with this build tree's key in a
    # registry of its own, for the deployment and package tests. Its static
    # lshw builds (x86-64, arm64) are cached beside the source in
    # ~/.cache/ferrodex: about two minutes of compiling the first time.
    engine_dir=build/ci/engine
    if FERRODEX_REGISTRY=$(mktemp -d) tools/engine-package.sh build/ci "$engine_dir" >/dev/null; then
      FDX_ENGINE_PACKAGE=$(ls "$PWD/$engine_dir"/lshw-*.tar.gz | head -n 1)
      FDX_ENGINE_VERSION=$(basename "$FDX_ENGINE_PACKAGE" .tar.gz)
      export FDX_ENGINE_PACKAGE FDX_ENGINE_VERSION=${FDX_ENGINE_VERSION#lshw-}
    else
      echo "warning: the engine package could not be made (no Debian source?); its deployment test is skipped" >&2
    fi
  else
    unset FDX_ENGINE_PACKAGE FDX_ENGINE_VERSION
  fi
  stage "$preset tests"
  # Here the real peers are installed (setup-peers.sh above): a test that
  # finds one missing fails instead of skipping.
  FERRODEX_REQUIRE_PEERS=1 ctest --preset "$preset" -j "$test_jobs" --timeout 900
done

stage windows
# The snap-in as a 32-bit Windows DLL, its installer and its tests under Wine;
# those against the Linux build and a real sshd fail rather than skip here.
FERRODEX_REQUIRE_PEERS=1 ./scripts/test-windows.sh

stage "fuzz build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
stage fuzzing
./scripts/fuzz.sh build/fuzz "${FDX_FUZZ_SECONDS:-20}"
