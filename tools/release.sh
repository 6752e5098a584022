#!/usr/bin/env bash
# Builds what a release hands out, into one folder, with SHA256SUMS beside them:
#   bootcamp-VERSION-win64.zip  the game for Windows (the windows preset, packed by CPack)
#   bootcamp-VERSION.tar.gz     the source, as committed (git archive of HEAD)
#   bootcamp-VERSION-web.zip    the site of the web preset, for any static host
# VERSION is the CMake project's.
#
# usage: tools/release.sh [OUT_DIR]      (default dist; its old archives are replaced)
# Needs (Debian 12): cmake make git gzip g++-mingw-w64-x86-64 googletest emscripten npm, and a git
# checkout with no uncommitted change to a tracked file (the tarball is the last commit). The
# windows and web presets build in build-windows and build-web; builds already there are reused.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
OUT=${1:-dist}
START=$SECONDS
step() { echo "== release: $* ($((SECONDS - START)) s)"; }

missing=()
for tool in cmake cpack make git gzip sha256sum x86_64-w64-mingw32-g++-posix emcc npm; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=("/usr/src/googletest")
if [ ${#missing[@]} -gt 0 ]; then
    echo "missing: ${missing[*]}" >&2
    echo "on Debian: apt-get install cmake make git gzip g++-mingw-w64-x86-64 googletest emscripten npm" >&2
    exit 1
fi
# CI's clone may belong to another user than the one running this.
git() { command git -c safe.directory="$PWD" "$@"; }
if ! git rev-parse --verify -q HEAD >/dev/null; then
    echo "not a git checkout: the source tarball is made from the last commit" >&2
    exit 1
fi
if ! git diff --quiet HEAD --; then
    echo "tracked files have uncommitted changes; the tarball would not hold them: commit first" >&2
    git status --short --untracked-files=no >&2
    exit 1
fi
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
rm -f "$OUT"/bootcamp-*.zip "$OUT"/bootcamp-*.tar.gz "$OUT/SHA256SUMS"

step "Windows: the windows preset's bootcamp.exe, packed by CPack"
cmake --preset windows >/dev/null
# The project's version, as CMake read it.
VERSION=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build-windows/CPackConfig.cmake)
[ -n "$VERSION" ] || { echo "no version in build-windows/CPackConfig.cmake" >&2; exit 1; }
ZIP=bootcamp-$VERSION-win64.zip TARBALL=bootcamp-$VERSION.tar.gz SITE=bootcamp-$VERSION-web.zip
echo "bootcamp $VERSION into $OUT"
cmake --build --preset windows --target bootcamp -j"$(nproc)"
cpack --preset windows >/dev/null
mv "build-windows/$ZIP" "$OUT/"

step "source: the last commit"
git archive --format=tar --prefix="bootcamp-$VERSION/" HEAD | gzip -9 -n >"$OUT/$TARBALL"

step "the site: the web preset's, made afresh from its build"
cmake --preset web >/dev/null
rm -rf build-web/site  # nothing left over from an earlier site
cmake --build --preset web -j"$(nproc)"
(cd build-web/site && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs cmake -E tar cf "$OUT/$SITE" --format=zip --)

step "SHA256SUMS"
cd "$OUT"
sha256sum "$ZIP" "$TARBALL" "$SITE" >SHA256SUMS
stat -c '%9s  %n' "$ZIP" "$TARBALL" "$SITE" SHA256SUMS
