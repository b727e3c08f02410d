#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs the C program against the
# installed QuorCore.h and libquorcore.so alone, as an outside program would.
set -euo pipefail
build_dir=$1 source=$2 cc=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libquorcore.so' | head -n 1)")
test -f "$prefix/include/QuorCore.h"
# The library exports its C API and nothing else (no C++ templates or type information).
extra=$(nm -D --defined-only "$libdir/libquorcore.so" | awk '{print $3}' | grep -vE '^(Qv|QFtp)' || true)
if [ -n "$extra" ]; then
    echo "libquorcore.so exports more than its API:" >&2
    echo "$extra" >&2
    exit 1
fi
"$cc" -std=c99 -pedantic-errors -Wall -Wextra -I "$prefix/include" "$source" \
    -L "$libdir" -Wl,-rpath,"$libdir" -lquorcore -o "$prefix/header_c"
mkdir "$prefix/work"
QUORVEX_DEMO_CAMERA=1 "$prefix/header_c" "$prefix/work"
