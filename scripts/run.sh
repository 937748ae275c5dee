#!/usr/bin/env bash
# Builds Ferrodex (only the program, its module and the engine tools: the
# tests and benchmarks are built by test.sh), makes the engine package the
# first time, and opens the console on the default console file.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target ferrodex ferrodex_module fdx-engine-register
if ! build/dev/tools/fdx-engine-register --installed; then
  echo "Making the engine package (lshw from Debian's source)..."
  tools/engine-package.sh build/dev || echo "The engine package could not be made; hosts without lshw cannot be deployed to." >&2
fi
exec build/dev/console/ferrodex "$@"
