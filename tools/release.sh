#!/usr/bin/env bash
# Builds what a release hands out, into one folder, with SHA256SUMS beside them:
#   bootcamp-VERSION-win64.zip             the game for Windows (the windows preset)
#   bootcamp-VERSION-linux-x86_64.tar.gz   the game for any Linux on x86_64 (the linux-x86_64
#                                          preset): statically linked, its manual page, a README
#   bootcamp-VERSION-linux-aarch64.tar.gz  the same for 64-bit ARM (linux-aarch64, cross-built)
#   bootcamp_VERSION_amd64.deb             those two games as Debian packages
#   bootcamp_VERSION_arm64.deb
#   bootcamp-VERSION.tar.gz                the source, as committed (git archive of HEAD)
#   bootcamp-VERSION-web.zip               the site of the web preset, for any static host
# VERSION is the CMake project's. Every file is a function of the last commit: every time in it is
# the commit's (SOURCE_DATE_EPOCH), the programs hold no time of their link, and tools/pack.py packs
# the zips and the Linux tarballs with fixed times, owners, modes and order. tools/check_release.sh
# builds it all twice, in two folders, and compares.
#
# usage: tools/release.sh [OUT_DIR]      (default dist; its old archives are replaced)
# Needs (Debian 12): cmake make git gzip python3 g++ g++-mingw-w64-x86-64 g++-aarch64-linux-gnu
# qemu-user googletest emscripten npm, and a git checkout with no uncommitted change to a tracked
# file (everything is made from the last commit). The presets build in build-PRESET; builds already
# there are reused.
set -euo pipefail
STEP_OF=release
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
OUT=${1:-dist}

needs "cmake make git gzip python3 g++ g++-mingw-w64-x86-64 g++-aarch64-linux-gnu qemu-user googletest emscripten npm" \
    cmake cpack make git gzip sha256sum /usr/bin/python3 g++ x86_64-w64-mingw32-g++-posix aarch64-linux-gnu-g++ \
    qemu-aarch64 emcc npm /usr/src/googletest/CMakeLists.txt
git rev-parse --verify -q HEAD >/dev/null || fail "not a git checkout: a release is made from the last commit"
if ! git diff --quiet HEAD --; then
    git status --short --untracked-files=no >&2
    fail "tracked files have uncommitted changes; the release would not be the last commit: commit first"
fi
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH
umask 022 # the folders in the Debian packages are rwxr-xr-x, whatever the caller's umask
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
rm -f "$OUT"/bootcamp[-_]*.zip "$OUT"/bootcamp[-_]*.tar.gz "$OUT"/bootcamp[-_]*.deb "$OUT/SHA256SUMS"
STAGE=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-stage.XXXXXX")
trap 'rm -rf "$STAGE"' EXIT
pack() { /usr/bin/python3 tools/pack.py "$@"; }
echo "bootcamp $VERSION into $OUT, made at $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC (the last commit)"

step "Windows: the windows preset's bootcamp.exe and its README.txt"
cmake --preset windows >/dev/null
cmake --build --preset windows --target bootcamp -j"$(nproc)"
cmake --install build-windows --strip --prefix "$STAGE/windows" >/dev/null
pack "$OUT/$WINDOWS_ZIP" "$STAGE/windows"

for arch in "${LINUX_ARCHITECTURES[@]}"; do
    step "Linux $arch: the linux-$arch preset's static game, as a tarball and a Debian package"
    cmake --preset "linux-$arch" >/dev/null
    cmake --build --preset "linux-$arch" -j"$(nproc)"
    top=$(basename "$(linux_tarball "$arch")" .tar.gz)
    cmake --install "build-linux-$arch" --component linux_archive --strip --prefix "$STAGE/$top" >/dev/null
    pack "$OUT/$(linux_tarball "$arch")" "$STAGE/$top" --top "$top"
    (cd "build-linux-$arch" && cpack -G DEB >/dev/null)
    mv "build-linux-$arch/$(debian_package "$arch")" "$OUT/"
done

step "source: the last commit"
git archive --format=tar --prefix="bootcamp-$VERSION/" HEAD | gzip -9 -n >"$OUT/$SOURCE_TARBALL"

step "the site: the web preset's, made afresh from its build"
cmake --preset web >/dev/null
rm -rf build-web/site # nothing left over from an earlier site
cmake --build --preset web -j"$(nproc)"
pack "$OUT/$SITE_ZIP" build-web/site

step "SHA256SUMS"
cd "$OUT"
mapfile -t files < <(release_files)
sha256sum "${files[@]}" >SHA256SUMS
stat -c '%9s  %n' "${files[@]}" SHA256SUMS
