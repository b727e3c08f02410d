#!/usr/bin/env bash
# Set-up, build, and start the program with the built-in demo camera.
# Without a display it runs offscreen and prints its events; Ctrl+C ends it cleanly.
# Usage: scripts/run.sh [quorvex options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >&2
home=${QUORVEX_HOME:-build/demo-home}
# A first run of the demo switches monitoring on at start, so pictures and events come at once.
if [ ! -e "$home/Quorvex.ini" ]; then
    mkdir -p "$home"
    build/app/quorvex config set BasicSettings WakeUpStart 1 --home "$home"
fi
args=(--demo-camera --home "$home")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    args+=(-platform offscreen)
fi
exec build/app/quorvex "${args[@]}" "$@"
