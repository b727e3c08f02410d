#!/usr/bin/env bash
# Line and branch coverage of the product (not of tests, fuzz targets or benchmarks) from one
# run of the whole suite. Usage: scripts/coverage.sh [BUILD_DIR]   (default build-coverage)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-coverage}
if ! command -v gcovr >/dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get install -y -q --no-install-recommends gcovr
fi
scripts/setup.sh "$dir" -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_BENCH=OFF \
    -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
find "$dir" -name '*.gcda' -delete
ctest --test-dir "$dir" -j 2 --output-on-failure || echo "coverage: some tests failed (figures still follow)"
gcovr -r . --object-directory "$dir" -j 2 \
    -e 'tests/' -e 'fuzz/' -e 'bench/' -e 'build.*/' \
    --exclude-unreachable-branches --exclude-throw-branches \
    --print-summary -o "$dir/coverage.txt"
tail -n 3 "$dir/coverage.txt"
