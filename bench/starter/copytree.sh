#!/usr/bin/env bash
# Benchmark: the starter's copyTree against a plain recursive copy of the same
# user-data tree (default 60 folders x 50 files = 3000 files), cross-built
# with mingw-w64 and run under wine in a private prefix.
#   bench/starter/copytree.sh [folders] [files per folder] [rounds]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
"$ROOT/scripts/setup" --bench
OUT=${BENCH_BUILD_DIR:-$ROOT/build-bench-starter}
mkdir -p "$OUT"
x86_64-w64-mingw32-g++ -std=c++14 -O2 -DUNICODE -D_UNICODE -static \
    -I"$ROOT/starter/src" "$ROOT/bench/starter/copytree_bench.cpp" "$ROOT/starter/src/datacopy.cpp" \
    -o "$OUT/copytree_bench.exe" -lole32 -loleaut32 -lshell32 -luuid
export WINEPREFIX="$OUT/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
fi
wine "$OUT/copytree_bench.exe" "$@"
wineserver -k 2>/dev/null || true
