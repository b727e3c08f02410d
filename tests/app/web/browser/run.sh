#!/usr/bin/env bash
# Runs the web page's browser test in Debian's Chromium through playwright-core, against the
# real program with the demo camera and a day of events written by web_seed_history.
# Usage: run.sh QUORVEX WEB_SEED_HISTORY WORK_DIR
# playwright-core is installed with npm into WORK_DIR/node the first time.
set -euo pipefail
program=$1 seed=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
password='browser test pw'

fail() { echo "run.sh: $*" >&2; exit 1; }
[ -x /usr/bin/chromium ] || fail "no /usr/bin/chromium (scripts/setup.sh installs it)"
command -v node > /dev/null || fail "no node (scripts/setup.sh installs nodejs)"

mkdir -p "$work/node"
if [ ! -f "$work/node/node_modules/playwright-core/package.json" ]; then
    if ! command -v npm > /dev/null; then
        # Debian's nodejs comes without npm (NodeSource's brings its own): take Debian's.
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        echo "run.sh: npm is missing, installing it with apt-get" >&2
        { $sudo apt-get update -q >&2 &&
            DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends npm >&2; } ||
            fail "npm is missing and apt-get could not install it"
    fi
    # The browser itself is Debian's: playwright must not download one.
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --prefix "$work/node" --no-audit --no-fund \
        --loglevel=error playwright-core@1.57.0 >&2
fi

tmp=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT
home=$tmp/home
mkdir -p "$home"

# Waits until the program (the last process started) prints PATTERN, however long a loaded
# machine takes, and fails at once if it ends first; ctest's timeout bounds the whole run.
started() {
    until grep -q "$1" "$tmp/out" 2>/dev/null; do
        kill -0 "${pids[-1]}" 2>/dev/null || { echo "the program ended before the page started:"; cat "$tmp/out"; exit 1; }
        sleep 0.1
    done
}

"$seed" "$home"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[BasicSettings]\r\nWakeUpStart=1\r\n[Web]\r\nEnable=1\r\nPort=%s\r\nTls=1\r\n' "$port" \
    > "$home/Quorvex.ini"
# The password as a user sets it; the file then keeps only its hash.
"$program" --home "$home" config set Web Password "$password"
! grep -q "$password" "$home/Quorvex.ini" || fail "the password is in the settings file"
mkdir -p "$tmp/run" "$tmp/t" && chmod 700 "$tmp/run"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/run TMPDIR=$tmp/t XDG_CONFIG_HOME=$tmp \
    QUORVEX_NEWS_URL=http://127.0.0.1:1/infobbs/ \
    "$program" --home "$home" --demo-camera -platform offscreen > "$tmp/out" 2>&1 &
pids+=($!)
started 'web page on'

PLAYWRIGHT_CORE=$work/node/node_modules/playwright-core node "$here/e2e.cjs" \
    "https://127.0.0.1:$port/" "$password" ja-JP "$tmp/profile"
