#!/usr/bin/env bash
# Installs, only where missing, every Debian 12 package needed to build, run and
# test Vantor and Tarn. Safe to run again: it does nothing when all are present,
# and runs `apt-get update` only when it has something to install.
set -euo pipefail

packages=(
  g++ clang cmake ninja-build pkg-config git
  # libFuzzer and the sanitizer runtimes of clang (scripts/sanitize.sh).
  libclang-rt-14-dev
  qt6-base-dev qt6-multimedia-dev
  libgl-dev
  # Qt Multimedia 6.4 plays sounds through GStreamer: the good plug-ins hold
  # the wave reader (wavparse) and the PulseAudio output.
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libicu-dev libinih-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  # The tarn tool: command line, JSON, line editing.
  libcli11-dev nlohmann-json3-dev libedit-dev
  xvfb xauth fonts-dejavu-core fonts-liberation
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
