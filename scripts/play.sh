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
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "Vantor needs a graphical display: run it from a desktop session (DISPLAY or WAYLAND_DISPLAY is not set)."
  exit 1
fi
# Without its question table the game shows the engine's error and ends with
# exit code 0 once the dialog is closed.
exec "$build/app/vantor" "$@"
