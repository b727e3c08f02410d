#!/usr/bin/env bash
# Set-up, build and every test. Usage: scripts/test.sh [--sanitize address,undefined|thread]
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=""
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=${2:?sanitizer list}
fi
if [ -n "$sanitize" ]; then
    dir="build-${sanitize//,/-}"
    scripts/setup.sh "$dir" -DQUORVEX_SANITIZE="$sanitize" -DQUORVEX_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # Qt and the other system libraries are not instrumented: see tests/tsan.supp.
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
    ctest --test-dir "$dir" --output-on-failure -j 2 -LE "nosanitize"
else
    scripts/setup.sh build
    ctest --test-dir build --output-on-failure -j 2
fi
