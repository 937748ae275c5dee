#!/usr/bin/env bash
# Builds Ferrodex and runs the whole test suite: once in a normal build with
# warnings as errors, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
if [ -x scripts/setup-peers.sh ]; then
  ./scripts/setup-peers.sh
fi

jobs=$(nproc)
for preset in ci asan; do
  echo "== $preset build =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset tests =="
  ctest --preset "$preset" -j "$jobs" --timeout 600
done
