#!/usr/bin/env bash
# Benchmark: the starter's copyTree against a plain recursive copy of the same
# user-data tree (default 60 folders x 50 files = 3000 files), cross-built
# with mingw-w64 by the starter's build (target copytree_bench) and run under
# wine in the starter's private prefix.
#   bench/starter/copytree.sh [folders] [files per folder] [rounds]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
"$ROOT/scripts/setup" --bench
BUILD=${STARTER_BUILD_DIR:-$ROOT/build-starter}
cmake -S starter -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target copytree_bench -j "$(nproc)"
export WINEPREFIX="$BUILD/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
fi
status=0
"$(command -v wine64 || echo /usr/lib/wine/wine64)" "$BUILD/bench/starter/copytree_bench.exe" "$@" || status=$?
wineserver -k 2>/dev/null || true
exit $status
