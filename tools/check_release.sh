#!/usr/bin/env bash
# Builds every release archive with tools/release.sh twice, here and in a fresh clone of the last
# commit in another folder (every build made anew there), and holds the two SHA256SUMS to each
# other: a file that differs is named. Then takes each archive as its user would: the checksums
# checked; the source tarball unpacked into an empty folder and built and tested there with its
# README's test command (the end-to-end rigs left out: CI plays them on the checkout); the Windows
# zip unzipped into an empty folder and its bootcamp.exe played under wine by the rig's wine
# driver; each Linux tarball unpacked into an empty folder, its game (static: no shared library)
# played by the rig's pseudo-terminal driver, all of its scenarios, under qemu-user where it is
# built for another processor; each Debian package unpacked, holding that very game; the site
# unzipped into an empty folder and played in headless Chromium by the rig's browser driver. One
# version in all: the archives' names, the tarball's folder, what every game says to --version,
# the manual pages, the READMEs, the packages, the page's title. The rig's model of the game comes
# from the tarball's build.
#
# usage: tools/check_release.sh [OUT_DIR]      (default dist, as tools/release.sh)
# Needs what tools/release.sh needs, and (Debian 12) unzip wine wine64 tmux python3-pyte
# libgtest-dev binutils file chromium chromium-driver python3-selenium. Wine gets a prefix of its
# own in a temporary folder, removed at the end with everything unpacked.
set -euo pipefail
STEP_OF="release check"
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
OUT=${1:-dist}

needs "unzip wine wine64 tmux python3 python3-pyte libgtest-dev binutils file qemu-user chromium \
chromium-driver python3-selenium" unzip wine wineserver tmux /usr/bin/python3 chromium chromedriver \
    x86_64-w64-mingw32-objdump readelf file dpkg-deb qemu-aarch64
WORK=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-release.XXXXXX")
cleanup() {
    wine_stop
    rm -rf "$WORK"
}
trap cleanup EXIT
wine_start "$WORK" # while the archives are built
rig() { /usr/bin/python3 tests/e2e/run.py "$@" </dev/null; }

step "build every archive"
tools/release.sh "$OUT"
OUT=$(cd "$OUT" && pwd)
mapfile -t FILES < <(release_files)

step "build them again, in another folder: a fresh clone of the last commit, every build made anew, another umask"
(
    umask 077
    git clone -q --shared --no-checkout "$ROOT" "$WORK/again"
    git -C "$WORK/again" checkout -q --detach "$(git rev-parse HEAD)"
    "$WORK/again/tools/release.sh" "$WORK/again/dist" </dev/null >"$WORK/again.log" 2>&1
) || {
    tail -40 "$WORK/again.log"
    fail "the second build of the release failed"
}
differ=$(join -j 2 <(sort -k 2 "$OUT/SHA256SUMS") <(sort -k 2 "$WORK/again/dist/SHA256SUMS") |
    awk '$2 != $3 { print $1 }' | paste -sd ' ')
[ -z "$differ" ] || fail "two builds of the last commit differ in $differ"
cmp -s "$OUT/SHA256SUMS" "$WORK/again/dist/SHA256SUMS" || fail "the two SHA256SUMS list other files"
echo "the same SHA256SUMS from both folders (its own SHA-256: $(sha256sum <"$OUT/SHA256SUMS" | cut -c1-16)...)"

step "the checksums"
(cd "$OUT" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not match the archives"
listed=$(awk '{ print $2 }' "$OUT/SHA256SUMS" | sort | paste -sd ' ')
[ "$listed" = "$(printf '%s\n' "${FILES[@]}" | sort | paste -sd ' ')" ] || fail "SHA256SUMS lists $listed"

step "the source tarball: unpacked into an empty folder, built and tested by its README"
mkdir "$WORK/source"
tar -xzf "$OUT/$SOURCE_TARBALL" -C "$WORK/source"
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
unzip -q "$OUT/$WINDOWS_ZIP" -d "$WORK/windows"
held=$(find "$WORK/windows" -mindepth 1 -printf '%P\n' | LC_ALL=C sort | paste -sd ' ')
[ "$held" = "README.txt bootcamp.exe" ] || fail "the zip holds $held"
EXE=$WORK/windows/bootcamp.exe
dlls=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/^\s*DLL Name: //p' | sort -u | paste -sd ' ')
[ "$dlls" = "KERNEL32.dll msvcrt.dll" ] || fail "bootcamp.exe imports $dlls"
! x86_64-w64-mingw32-objdump -h "$EXE" | grep -q '\.debug' || fail "bootcamp.exe is not stripped"
grep -q "^bootcamp $VERSION for Windows" "$WORK/windows/README.txt" || fail "README.txt does not name bootcamp $VERSION"
echo "bootcamp.exe: $(($(stat -c %s "$EXE") / 1024)) KiB, imports only $dlls, stripped"
wine_ready
said=$(wine "$EXE" --version </dev/null | tr -d '\r')
[ "$said" = "bootcamp $VERSION" ] || fail "bootcamp.exe --version says '$said'"
rig wine "$EXE" --model "$MODEL" --only ctrl_c || fail "bootcamp.exe from the zip did not play under wine"

for arch in "${LINUX_ARCHITECTURES[@]}"; do
    tarball=$(linux_tarball "$arch") deb=$(debian_package "$arch")
    emu=$(emulator "$arch")
    on=()
    [ -z "$emu" ] || on=(--emulator "$emu")
    step "the Linux tarball for $arch: unpacked into an empty folder, played${emu:+ under $emu}"
    mkdir "$WORK/$arch"
    tar -xzf "$OUT/$tarball" -C "$WORK/$arch"
    top=${tarball%.tar.gz}
    held=$(cd "$WORK/$arch" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | paste -sd ' ')
    [ "$held" = "$top $top/README $top/bootcamp $top/bootcamp.6" ] || fail "$tarball holds $held"
    GAME=$WORK/$arch/$top/bootcamp
    kind=$(file -b "$GAME")
    machine=$(readelf -h "$GAME" | sed -n 's/^ *Machine: *//p')
    echo "bootcamp: $(($(stat -c %s "$GAME") / 1024)) KiB; $machine; $kind"
    [[ $kind == *", statically linked,"* && $kind == *", stripped" ]] || fail "$tarball's game is $kind"
    case $arch in
        x86_64) [ "$machine" = "Advanced Micro Devices X86-64" ] || fail "$tarball's game is for $machine" ;;
        aarch64) [ "$machine" = AArch64 ] || fail "$tarball's game is for $machine" ;;
    esac
    ! readelf -l "$GAME" | grep -q INTERP || fail "$tarball's game asks for a dynamic loader"
    readelf -d "$GAME" | grep -q 'no dynamic section' || fail "$tarball's game has a dynamic section"
    said=$(${emu:+"$emu"} "$GAME" --version </dev/null)
    [ "$said" = "bootcamp $VERSION" ] || fail "$tarball's game says '$said' to --version"
    grep -q "^\.TH BOOTCAMP 6 .*\"bootcamp $VERSION\"" "$WORK/$arch/$top/bootcamp.6" || fail "$tarball's manual page is not of bootcamp $VERSION"
    [ "$(head -1 "$WORK/$arch/$top/README")" = "bootcamp $VERSION for Linux ($arch)" ] || fail "$tarball's README is not of bootcamp $VERSION for $arch"
    rig pty "$GAME" --model "$MODEL" "${on[@]}" ||
        fail "the game from $tarball did not play"

    step "the Debian package for $arch (${DEBIAN_ARCHITECTURE[$arch]}): that same game, unpacked into an empty folder"
    for field in Package=bootcamp Version="$VERSION" Architecture="${DEBIAN_ARCHITECTURE[$arch]}" Section=games Depends=; do
        [ "$(dpkg-deb --field "$OUT/$deb" "${field%%=*}")" = "${field#*=}" ] ||
            fail "$deb: ${field%%=*} is '$(dpkg-deb --field "$OUT/$deb" "${field%%=*}")', not '${field#*=}'"
    done
    dpkg-deb -x "$OUT/$deb" "$WORK/$arch-deb"
    held=$(cd "$WORK/$arch-deb" && find . -type f -printf '%P\n' | LC_ALL=C sort | paste -sd ' ')
    [ "$held" = "usr/games/bootcamp usr/share/man/man6/bootcamp.6.gz" ] || fail "$deb holds $held"
    cmp -s "$WORK/$arch-deb/usr/games/bootcamp" "$GAME" || fail "$deb's game is not the one in $tarball"
    zcat "$WORK/$arch-deb/usr/share/man/man6/bootcamp.6.gz" | cmp -s - "$WORK/$arch/$top/bootcamp.6" ||
        fail "$deb's manual page is not the one in $tarball"
    said=$(${emu:+"$emu"} "$WORK/$arch-deb/usr/games/bootcamp" --version </dev/null)
    [ "$said" = "bootcamp $VERSION" ] || fail "$deb's game says '$said' to --version"
    rig pty "$WORK/$arch-deb/usr/games/bootcamp" --model "$MODEL" "${on[@]}" --only ctrl_c ||
        fail "the game from $deb did not play"
done

step "the site: unzipped into an empty folder, played in headless Chromium"
mkdir "$WORK/site"
unzip -q "$OUT/$SITE_ZIP" -d "$WORK/site"
grep -q "<title>bootcamp $VERSION</title>" "$WORK/site/index.html" || fail "the page's title is not bootcamp $VERSION"
rig browser "$WORK/site" --model "$MODEL" --only stale_keys_pass_by || fail "the site from the zip did not play in the browser"

step "done: every archive built twice alike, unpacked and played"
(cd "$OUT" && stat -c '%9s  %n' "${FILES[@]}")
