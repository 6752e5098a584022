#!/usr/bin/env bash
# Builds the Debian package from a Release build, shows what is in it, installs it, plays the
# installed game's first screens in tmux (with the end-to-end rig), and removes it again, checking
# that nothing is left.
#
# usage: tools/check_package.sh [BUILD_DIR]      (as root: it installs and removes the package;
#        BUILD_DIR defaults to build-release, as in the README)
set -euo pipefail
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
BUILD=${1:-build-release}
GAME=/usr/games/bootcamp
WORK=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-package.XXXXXX")
INSTALLED=0
cleanup() {
    if [ "$INSTALLED" -eq 1 ]; then dpkg -r bootcamp >/dev/null 2>&1 || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
[ "$(id -u)" -eq 0 ] || fail "run as root: the package is installed and removed"
if dpkg -s bootcamp >/dev/null 2>&1; then fail "a bootcamp package is installed already"; fi

echo "== build and package, as the README says"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBOOTCAMP_TESTS=OFF && cmake --build "$BUILD" && (cd "$BUILD" && cpack -G DEB)
DEB=$(readlink -f "$(ls "$BUILD"/bootcamp_*.deb)")
dpkg-deb --info "$DEB"
CONTENTS=$(dpkg-deb --contents "$DEB")  # kept whole: grep -q would cut dpkg-deb's pipe short
echo "$CONTENTS"
[ "$(dpkg-deb --field "$DEB" Section)" = games ] || fail "the package is not in section games"
grep -q libc6 <<<"$(dpkg-deb --field "$DEB" Depends)" || fail "no dependencies computed from the binary"
grep -q ' \./usr/games/bootcamp$' <<<"$CONTENTS" || fail "the game is not in /usr/games"
grep -q ' \./usr/share/man/man6/bootcamp\.6\.gz$' <<<"$CONTENTS" || fail "no manual page in section 6"
dpkg-deb -x "$DEB" "$WORK/unpacked"
grep -q ', stripped' <<<"$(file "$WORK/unpacked$GAME")" || fail "the game in the package is not stripped"
# The files of the package (not its directories): each must be gone after the removal.
FILES=$(awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' <<<"$CONTENTS")

echo "== install"
INSTALLED=1
apt-get install -y "$DEB"
[ -x "$GAME" ] || fail "$GAME not installed"
PAGE=$(MANWIDTH=80 man --no-hyphenation bootcamp 2>/dev/null)
grep -qE 'at least [0-9]+ +columns' <<<"$PAGE" || fail "man bootcamp does not show the page"

echo "== play the installed game"
# The end-to-end rig in tmux: the intro, the first Event, Ctrl+C; the terminal given back. Its
# model of the screen comes from the build the package was made from.
cmake --build "$BUILD" --target catalog_model >/dev/null
/usr/bin/python3 "$ROOT/tests/e2e/run.py" tmux "$GAME" --model "$BUILD/catalog_model" --only ctrl_c ||
    fail "the installed game did not play as it should"

echo "== remove"
dpkg -r bootcamp
INSTALLED=0
left=0
for f in $FILES; do
    if [ -e "$f" ]; then
        echo "left behind: $f"
        left=1
    fi
done
[ "$left" -eq 0 ] || fail "files of the package are left after dpkg -r"
dpkg -s bootcamp >/dev/null 2>&1 && fail "dpkg still lists bootcamp"
echo "ok   - removed; none of its $(wc -w <<<"$FILES") files is left"
