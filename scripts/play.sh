#!/usr/bin/env bash
# Command (1): installs what is missing, builds and starts the quiz on the
# bundled sample question table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
build=${VANTOR_BUILD_DIR:-$root/build}
if [ ! -x "$build/app/vantor" ]; then
  echo "The Vantor game is not built yet: only the Tarn engine and its tests exist so far."
  exit 0
fi
exec "$build/app/vantor" "$@"
