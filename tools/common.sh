# What the shell scripts in tools/ share: their steps and failures, the check for the tools they
# need, wine with a prefix of its own, and the release's version, files and architectures.
# Sourced (after set -euo pipefail), never run; it leaves the shell in the checkout's root.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT" || exit 1

# step TEXT: where the script is, and how long it has run; fail TEXT: the script stops there.
STARTED=$SECONDS
step() { echo "== ${STEP_OF:+$STEP_OF: }$* ($((SECONDS - STARTED)) s)"; }
fail() {
    echo "FAIL - $*" >&2
    exit 1
}

# needs PACKAGES TOOL...: stops, naming what is missing and the Debian packages that bring it,
# unless every tool is there (a command, or a file named by its whole path).
needs() {
    local packages=$1 tool missing=()
    shift
    for tool in "$@"; do
        if [[ $tool == /* ]]; then
            [ -e "$tool" ] || missing+=("$tool")
        else
            command -v "$tool" >/dev/null || missing+=("$tool")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "missing: ${missing[*]}" >&2
        echo "on Debian: apt-get install $packages" >&2
        exit 1
    fi
}

# wine_start FOLDER: wine's prefix and its server's socket folder (made under TMPDIR) in FOLDER,
# and wine's services started at once, in the background with no output: started by a later
# command they would inherit its output and hold a pipe (ctest's) for minutes. The first start
# makes the prefix, some seconds: wine_ready waits for it. wine_stop ends the services.
wine_start() {
    export WINEPREFIX=$1/wine TMPDIR=$1/tmp WINEDEBUG=-all
    mkdir -p "$WINEPREFIX" "$TMPDIR"
    (wineserver -p && wine cmd /c exit) </dev/null >/dev/null 2>&1 &
    WINE_STARTING=$!
}
wine_ready() {
    wait "$WINE_STARTING" || fail "wine did not start"
}
wine_stop() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
}

# The version, written once, in project() in CMakeLists.txt, and what a release hands out.
VERSION=$(sed -n 's/^project(bootcamp VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
[ -n "$VERSION" ] || fail "no version in project() in CMakeLists.txt"
WINDOWS_ZIP=bootcamp-$VERSION-win64.zip
SOURCE_TARBALL=bootcamp-$VERSION.tar.gz
SITE_ZIP=bootcamp-$VERSION-web.zip
# The Linux downloads, one a processor (the preset linux-ARCH builds it): the static game in a
# tarball, and in a Debian package of Debian's name for the architecture.
LINUX_ARCHITECTURES=(x86_64 aarch64)
declare -A DEBIAN_ARCHITECTURE=([x86_64]=amd64 [aarch64]=arm64)
# emulator ARCH: what runs a game built for that processor here (qemu-user's), or nothing when
# this machine is of that processor.
emulator() { [ "$1" = "$(uname -m)" ] || echo "qemu-$1"; }
linux_tarball() { echo "bootcamp-$VERSION-linux-$1.tar.gz"; }
debian_package() { echo "bootcamp_${VERSION}_${DEBIAN_ARCHITECTURE[$1]}.deb"; }
release_files() {  # one a line
    local arch
    printf '%s\n' "$WINDOWS_ZIP" "$SOURCE_TARBALL" "$SITE_ZIP"
    for arch in "${LINUX_ARCHITECTURES[@]}"; do
        printf '%s\n' "$(linux_tarball "$arch")" "$(debian_package "$arch")"
    done
}

# git on this checkout, which may belong to another user than the one running this (CI's clone).
git() { command git -c safe.directory="$ROOT" "$@"; }
