#!/usr/bin/env bash
# Builds Ferrodex, installs the engine package the first time, and opens the
# console on the default console file.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
if ! build/dev/tools/fdx-engine-register --installed; then
  echo "Making the engine package (lshw from Debian's source)..."
  tools/engine-package.sh build/dev || echo "The engine package could not be made; hosts without lshw cannot be deployed to." >&2
fi
if [ -x build/dev/console/ferrodex ]; then
  exec build/dev/console/ferrodex "$@"
fi
# Until the console is built: show this machine's own hardware tree.
exec build/dev/tools/fdx-preview "$@"
