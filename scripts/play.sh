#!/usr/bin/env bash
# Command (1): installs what is missing, checks that there is a display to
# play on, builds the game (only the program and what it needs) and starts it.
# Arguments go to the program (e.g. --help). Shares its build with test.sh
# (see build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOR_BUILD_DIR:-$root/build}

# Prints why the game's window could not be seen here, or nothing when there
# is a display to try. Qt's default platform here is xcb, which needs an X
# server: DISPLAY names it ("[host]:N[.S]"), a local one listens on the socket
# /tmp/.X11-unix/XN, a remote one (ssh -X) on TCP port 6000+N.
display_problem() {
  local platform=${QT_QPA_PLATFORM:-}
  platform=${platform%%:*}
  case "$platform" in
    offscreen | minimal | minimalegl)
      echo "QT_QPA_PLATFORM=$QT_QPA_PLATFORM draws no window on any screen"
      return
      ;;
    "" | xcb) ;;
    wayland*)
      local socket=${WAYLAND_DISPLAY:-wayland-0}
      [ "${socket:0:1}" = / ] || socket=${XDG_RUNTIME_DIR:-/nonexistent}/$socket
      [ -S "$socket" ] || echo "QT_QPA_PLATFORM=$QT_QPA_PLATFORM, but there is no Wayland socket $socket"
      return
      ;;
    *) return ;;  # another platform (vnc, eglfs, ...): its own business
  esac
  if [ -z "${DISPLAY:-}" ]; then
    echo "DISPLAY is not set"
    return
  fi
  local host=${DISPLAY%%:*} number=${DISPLAY#*:}
  number=${number%%.*}
  if ! [[ "$number" =~ ^[0-9]+$ ]]; then
    echo "DISPLAY=$DISPLAY is not a display name"
  elif [ -z "$host" ] || [ "$host" = unix ]; then
    [ -S "/tmp/.X11-unix/X$number" ] || echo "no X server listens on DISPLAY=$DISPLAY"
  elif ! timeout 3 bash -c ": </dev/tcp/$host/$((6000 + number))" 2>/dev/null; then
    echo "no X server answers on DISPLAY=$DISPLAY"
  fi
}

# --help, --version and --screenshot FILE need no display.
needs_display=yes
for arg in "$@"; do
  case "$arg" in
    -h | --help | --version | --screenshot | --screenshot=*) needs_display=no ;;
  esac
done
if [ "$needs_display" = yes ]; then
  problem=$(display_problem)
  if [ -n "$problem" ]; then
    echo "play.sh: there is no display to play on ($problem)." >&2
    echo "Start it from a desktop session. Without one, run it under a virtual display:" >&2
    echo "  xvfb-run -a bash scripts/play.sh" >&2
    echo "or let the game draw its main window into a picture:" >&2
    echo "  bash scripts/play.sh --screenshot shot.png" >&2
    exit 1
  fi
fi

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" --target vantor
# The build puts the question table "velmorn2" and a Vantor.ini that points
# at it beside the program; Vantor.ini names the table's directory
# (see README.md); when the table cannot be opened the game shows the engine's
# error, prints the directory it tried and ends.
exec "$build/app/vantor" "$@"
