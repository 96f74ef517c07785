#!/usr/bin/env bash
# Command (2): installs what is missing, builds everything (warnings are
# errors) and runs every test. GUI tests run offscreen, so no display is
# needed. Shares its build with play.sh (see build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$@"
build=${VANTOR_BUILD_DIR:-$root/build}
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600 </dev/null
