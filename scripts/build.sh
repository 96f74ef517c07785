#!/usr/bin/env bash
# Configures and builds Vantor into build/ (or $VANTOR_BUILD_DIR).
# Extra arguments go to cmake's configure step, e.g. -DVANTOR_SANITIZE=ON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOR_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${VANTOR_BUILD_TYPE:-Debug}" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
