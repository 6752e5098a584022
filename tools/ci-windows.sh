#!/usr/bin/env bash
# CI's Windows part: cross-builds bootcamp.exe and the unit tests with MinGW-w64, warnings as errors, and runs the unit tests and the end-to-end rig's wine driver under wine.
#
# usage: tools/ci-windows.sh [BUILD_DIR]      (default build-windows; made afresh each run)
# Needs (Debian 12): cmake make g++-mingw-w64-x86-64 wine wine64 googletest tmux python3. Runs as any
# user, root included, with or without a standard input; wine gets a prefix of its own in a
# temporary folder, removed at the end.
set -euo pipefail
STEP_OF=windows
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
BUILD=${1:-build-windows}

needs "cmake make g++-mingw-w64-x86-64 wine wine64 googletest tmux python3" \
    cmake make x86_64-w64-mingw32-g++-posix wine wineserver tmux /usr/bin/python3 /usr/src/googletest/CMakeLists.txt
WINE_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-wine.XXXXXX")
stop_wine() {
    wine_stop
    rm -rf "$WINE_ROOT"
}
trap stop_wine EXIT
wine_start "$WINE_ROOT" # while the build runs

step "configure $BUILD: the windows preset (MinGW-w64, warnings as errors, GoogleTest from /usr/src/googletest)"
[ ! -e "$BUILD" ] || [ -f "$BUILD/CMakeCache.txt" ] || fail "$BUILD is there and is no build folder: not removing it"
rm -rf "$BUILD"
cmake --preset windows -B "$BUILD" >/dev/null

step "build"
if ! cmake --build "$BUILD" -j"$(nproc)" >"$BUILD/build.log" 2>&1; then
    cat "$BUILD/build.log"
    fail "the cross build failed (a warning is an error here)"
fi
echo "$(grep -c 'Building CXX object' "$BUILD/build.log") files compiled, no warnings"
for exe in bootcamp.exe tests/game_tests.exe tests/platform_tests.exe; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$BUILD/$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
    echo "$exe: $(($(stat -c %s "$BUILD/$exe") / 1024)) KiB, imports only $dlls"
done

step "wine's services"
wine_ready
wine --version

step "unit tests under wine"
status=0
ctest --test-dir "$BUILD" -E '^e2e_' --output-on-failure --timeout 120 -j"$(nproc)" </dev/null >"$BUILD/ctest.log" 2>&1 || status=$?
# what failed, and the figures; not a line per passing test
grep -vE '^ *Start +[0-9]+: |Passed +[0-9.]+ sec$|^Internal ctest|^Test project' "$BUILD/ctest.log" | sed '/./,$!d'
[ "$status" -eq 0 ] || exit "$status"

step "end to end: bootcamp.exe under wine in tmux"
ctest --test-dir "$BUILD" -R '^e2e_wine$' --no-tests=error --output-on-failure </dev/null

step "done"
