#!/usr/bin/env bash
# CI's Windows part: cross-builds bootcamp.exe and the unit tests with MinGW-w64, warnings as errors, and runs the unit tests and the end-to-end rig's wine driver under wine.
#
# usage: tools/ci-windows.sh [BUILD_DIR]      (default build-windows; made afresh each run)
# Needs (Debian 12): cmake make g++-mingw-w64-x86-64 wine wine64 googletest tmux python3. Runs as any
# user, root included, with or without a standard input; wine gets a prefix of its own in a
# temporary folder, removed at the end.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD=${1:-build-windows}
START=$SECONDS
step() { echo "== windows: $* ($((SECONDS - START)) s)"; }

missing=()
for tool in cmake make x86_64-w64-mingw32-g++-posix wine wineserver tmux /usr/bin/python3; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=("/usr/src/googletest")
if [ ${#missing[@]} -gt 0 ]; then
    echo "missing: ${missing[*]}" >&2
    echo "on Debian: apt-get install cmake make g++-mingw-w64-x86-64 wine wine64 googletest tmux python3" >&2
    exit 1
fi

# Wine's prefix and its server's socket folder (made under TMPDIR) in one folder, removed after.
WINE_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-wine.XXXXXX")
export WINEPREFIX=$WINE_ROOT/prefix TMPDIR=$WINE_ROOT/tmp
mkdir "$WINEPREFIX" "$TMPDIR"
export WINEDEBUG=-all
stop_wine() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WINE_ROOT"
}
trap stop_wine EXIT

# Wine's services inherit the output of whatever starts them first and would hold ctest's pipe
# for minutes: start them now, with nothing to inherit, while the build runs (the first start
# makes the prefix, some seconds).
(wineserver -p && wine cmd /c exit) </dev/null >/dev/null 2>&1 &
WINE_STARTING=$!

step "configure $BUILD: the windows preset (MinGW-w64, warnings as errors, GoogleTest from /usr/src/googletest)"
if [ -e "$BUILD" ] && [ ! -f "$BUILD/CMakeCache.txt" ]; then
    echo "$BUILD is there and is no build folder: not removing it" >&2
    exit 1
fi
rm -rf "$BUILD"
cmake --preset windows -B "$BUILD" >/dev/null

step "build"
if ! cmake --build "$BUILD" -j"$(nproc)" >"$BUILD/build.log" 2>&1; then
    cat "$BUILD/build.log"
    echo "the cross build failed (a warning is an error here)" >&2
    exit 1
fi
echo "$(grep -c 'Building CXX object' "$BUILD/build.log") files compiled, no warnings"
for exe in bootcamp.exe tests/game_tests.exe tests/platform_tests.exe; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$BUILD/$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
    echo "$exe: $(($(stat -c %s "$BUILD/$exe") / 1024)) KiB, imports only $dlls"
done

step "wine's services"
if ! wait "$WINE_STARTING"; then
    echo "wine did not start" >&2
    exit 1
fi
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
