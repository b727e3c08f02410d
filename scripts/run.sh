#!/usr/bin/env bash
# Set-up, build, and start the program with the built-in demo camera.
# Without a display it runs offscreen and prints its events; Ctrl+C ends it cleanly.
# Usage: scripts/run.sh [quorvex options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >&2
args=(--demo-camera)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    args+=(-platform offscreen)
fi
# The program folder (settings, pictures, logs) is build/app, the writable folder of the
# executable, unless --home DIR or QUORVEX_HOME says otherwise.
exec build/app/quorvex "${args[@]}" "$@"
