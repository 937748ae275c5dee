#!/usr/bin/env bash
# Builds Ferrodex and opens it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
if [ -x build/dev/console/ferrodex ]; then
  exec build/dev/console/ferrodex "$@"
fi
# Until the console is built: show this machine's own hardware tree.
exec build/dev/tools/fdx-preview "$@"
