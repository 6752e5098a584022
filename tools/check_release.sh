#!/usr/bin/env bash
# Builds every release archive with tools/release.sh and takes each as its user would: the
# checksums checked; the source tarball unpacked into an empty folder and built and tested there
# with its README's test command (the end-to-end rigs left out: CI plays them on the checkout);
# the Windows zip unzipped into an empty folder and its bootcamp.exe played under wine by the
# rig's wine driver; the site unzipped into an empty folder and played in headless Chromium by the
# rig's browser driver. One version in all: the archives' names, the tarball's folder, what the
# tarball's game and bootcamp.exe say to --version, the manual page, the page's title. The rig's
# model of the game comes from the tarball's build.
#
# usage: tools/check_release.sh [OUT_DIR]      (default dist, as tools/release.sh)
# Needs what tools/release.sh needs, and (Debian 12) unzip wine wine64 tmux python3 libgtest-dev
# chromium chromium-driver python3-selenium. Wine gets a prefix of its own in a temporary folder,
# removed at the end with everything unpacked.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
OUT=${1:-dist}
START=$SECONDS
step() { echo "== release check: $* ($((SECONDS - START)) s)"; }
fail() {
    echo "FAIL - $*" >&2
    exit 1
}

missing=()
for tool in unzip wine wineserver tmux /usr/bin/python3 chromium chromedriver x86_64-w64-mingw32-objdump; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "missing: ${missing[*]}" >&2
    echo "on Debian: apt-get install unzip wine wine64 tmux python3 libgtest-dev chromium chromium-driver python3-selenium" >&2
    exit 1
fi

# Wine's prefix and its server's socket folder (made under TMPDIR) in one folder, removed after.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-release.XXXXXX")
export WINEPREFIX=$WORK/wine TMPDIR=$WORK/tmp WINEDEBUG=-all
mkdir "$WINEPREFIX" "$TMPDIR"
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WORK"
}
trap cleanup EXIT
# Wine's services, started now with no output to hold, while the archives are built.
(wineserver -p && wine cmd /c exit) </dev/null >/dev/null 2>&1 &
WINE_STARTING=$!

step "build every archive"
tools/release.sh "$OUT"
OUT=$(cd "$OUT" && pwd)
VERSION=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build-windows/CPackConfig.cmake)
ZIP=bootcamp-$VERSION-win64.zip TARBALL=bootcamp-$VERSION.tar.gz SITE=bootcamp-$VERSION-web.zip

step "the checksums"
(cd "$OUT" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not match the archives"
listed=$(awk '{ print $2 }' "$OUT/SHA256SUMS" | sort | tr '\n' ' ')
[ "$listed" = "$(printf '%s\n' "$ZIP" "$TARBALL" "$SITE" | sort | tr '\n' ' ')" ] ||
    fail "SHA256SUMS lists $listed"

step "the source tarball: unpacked into an empty folder, built and tested by its README"
mkdir "$WORK/source"
tar -xzf "$OUT/$TARBALL" -C "$WORK/source"
[ "$(ls -A "$WORK/source")" = "bootcamp-$VERSION" ] || fail "the tarball holds $(ls -A "$WORK/source"), not bootcamp-$VERSION/"
SRC=$WORK/source/bootcamp-$VERSION
leftovers=$(cd "$SRC" && find . -name CMakeCache.txt -o -name CMakeFiles -o -type d -name 'build*' -o -name '*.o')
[ -z "$leftovers" ] || fail "the tarball holds parts of a build tree: $leftovers"
TEST=$(sed -n '/^## Test/,/^## /p' "$SRC/README.md" | grep -m1 '^cmake -S')
[[ "$TEST" == *"ctest "* ]] || fail "no test command in the tarball's README: '$TEST'"
echo "$TEST -E '^e2e_'"
(cd "$SRC" && CMAKE_BUILD_PARALLEL_LEVEL=$(nproc) bash -c "$TEST -E '^e2e_'" </dev/null >"$WORK/source.log" 2>&1) || {
    tail -60 "$WORK/source.log"
    fail "the README's test command failed in the unpacked tarball"
}
grep -E '^[0-9]+% tests passed|tests failed' "$WORK/source.log"
said=$("$SRC/build/bootcamp" --version </dev/null)
[ "$said" = "bootcamp $VERSION" ] || fail "the tarball's game says '$said' to --version"
grep -q "^\.TH BOOTCAMP 6 .*\"bootcamp $VERSION\"" "$SRC/build/bootcamp.6" || fail "the tarball's manual page is not of bootcamp $VERSION"
MODEL=$SRC/build/catalog_model

step "the Windows zip: unzipped into an empty folder, bootcamp.exe played under wine"
mkdir "$WORK/windows"
unzip -q "$OUT/$ZIP" -d "$WORK/windows"
held=$(find "$WORK/windows" -mindepth 1 -printf '%P\n' | LC_ALL=C sort | paste -sd ' ')
[ "$held" = "README.txt bootcamp.exe" ] || fail "the zip holds $held"
EXE=$WORK/windows/bootcamp.exe
dlls=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/^\s*DLL Name: //p' | sort -u | paste -sd ' ')
[ "$dlls" = "KERNEL32.dll msvcrt.dll" ] || fail "bootcamp.exe imports $dlls"
! x86_64-w64-mingw32-objdump -h "$EXE" | grep -q '\.debug' || fail "bootcamp.exe is not stripped"
grep -q "^bootcamp $VERSION for Windows" "$WORK/windows/README.txt" || fail "README.txt does not name bootcamp $VERSION"
echo "bootcamp.exe: $(($(stat -c %s "$EXE") / 1024)) KiB, imports only $dlls, stripped"
wait "$WINE_STARTING" || fail "wine did not start"
said=$(wine "$EXE" --version </dev/null | tr -d '\r')
[ "$said" = "bootcamp $VERSION" ] || fail "bootcamp.exe --version says '$said'"
/usr/bin/python3 tests/e2e/run.py wine "$EXE" --model "$MODEL" --only ctrl_c </dev/null ||
    fail "bootcamp.exe from the zip did not play under wine"

step "the site: unzipped into an empty folder, played in headless Chromium"
mkdir "$WORK/site"
unzip -q "$OUT/$SITE" -d "$WORK/site"
grep -q "<title>bootcamp $VERSION</title>" "$WORK/site/index.html" || fail "the page's title is not bootcamp $VERSION"
/usr/bin/python3 tests/e2e/run.py browser "$WORK/site" --model "$MODEL" --only stale_keys_pass_by </dev/null ||
    fail "the site from the zip did not play in the browser"

step "done: every archive built, unpacked and played"
