#!/usr/bin/env bash
# Runs the web page's browser test in Debian's Chromium through playwright-core.
# Usage: run.sh demo|program WEB_DEMO_SERVER WORK_DIR [QUORVEX]
#   demo     the page served by the demo server (a fake program)
#   program  the page of the real program with the demo camera
# playwright-core is installed with npm into WORK_DIR/node the first time.
set -euo pipefail
mode=$1 demo=$2 work=$3 program=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
password='browser test pw'

mkdir -p "$work/node"
if [ ! -f "$work/node/node_modules/playwright-core/package.json" ]; then
    # The browser itself is Debian's: playwright must not download one.
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --prefix "$work/node" --no-audit --no-fund \
        --loglevel=error playwright-core@1.57.0 >&2
fi

tmp=$(mktemp -d)
pids=()
cleanup() {
    exec 3>&- 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT
home=$tmp/home
mkdir -p "$home"

if [ "$mode" = demo ]; then
    mkfifo "$tmp/in"
    "$demo" "$home" "$password" < "$tmp/in" > "$tmp/out" &
    pids+=($!)
    exec 3> "$tmp/in"  # the server runs until this closes
    for _ in $(seq 100); do grep -q '^port ' "$tmp/out" 2>/dev/null && break; sleep 0.1; done
    port=$(sed -n 's/^port //p' "$tmp/out")
    locale=en-US
else
    "$demo" --seed "$home"
    hash=$("$demo" --hash "$password")
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    printf '[BasicSettings]\r\nWakeUpStart=1\r\n[Web]\r\nEnable=1\r\nPort=%s\r\nTls=1\r\nPassword=%s\r\n' \
        "$port" "$hash" > "$home/Quorvex.ini"
    mkdir -p "$tmp/run" "$tmp/t" && chmod 700 "$tmp/run"
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/run TMPDIR=$tmp/t XDG_CONFIG_HOME=$tmp \
        QUORVEX_NEWS_URL=http://127.0.0.1:1/infobbs/ \
        "$program" --home "$home" --demo-camera -platform offscreen > "$tmp/out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do grep -q 'web page on' "$tmp/out" 2>/dev/null && break; sleep 0.1; done
    locale=ja-JP
fi
[ -n "${port:-}" ] || { echo "the server did not start:"; cat "$tmp/out"; exit 1; }

PLAYWRIGHT_CORE=$work/node/node_modules/playwright-core node "$here/e2e.cjs" \
    "https://127.0.0.1:$port/" "$password" "$locale" "$tmp/profile"
