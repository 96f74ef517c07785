#!/usr/bin/env bash
# Configures and builds Vantor into build/ (or $VANTOR_BUILD_DIR).
#
#   build.sh [--target NAME]... [cmake configure options...]
#
# Without --target everything is built: the program, the tools, the tests and
# the benchmarks. With it, only the named targets and what they need (play.sh
# builds just `vantor`). Options such as -DVANTOR_SANITIZE=ON go to cmake's
# configure step; give them a build directory of their own
# (VANTOR_BUILD_DIR=build-asan), as they change how every file is compiled.
#
# play.sh and test.sh both come through here with the same settings (a Debug
# build, warnings are errors), so they share one build: whichever runs second
# rebuilds only what changed since.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOR_BUILD_DIR:-$root/build}

targets=()
configure=()
while [ $# -gt 0 ]; do
  case "$1" in
    --target)
      [ $# -ge 2 ] || { echo "build.sh: --target needs a name" >&2; exit 2; }
      targets+=(--target "$2")
      shift 2
      ;;
    --target=*)
      targets+=(--target "${1#--target=}")
      shift
      ;;
    *)
      configure+=("$1")
      shift
      ;;
  esac
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${VANTOR_BUILD_TYPE:-Debug}" \
  -DVANTOR_WERROR=ON "${configure[@]}" >/dev/null
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
