#!/usr/bin/env bash
# Builds the Debian package from a Release build, shows what is in it, installs it, plays the
# installed game's first screens in tmux, and removes it again, checking that nothing is left.
#
# usage: tools/check_package.sh [BUILD_DIR]      (as root: it installs and removes the package;
#        BUILD_DIR defaults to build-release, as in the README)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-build-release}
GAME=/usr/games/bootcamp
WORK=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-package.XXXXXX")
SOCK=$WORK/tmux
T() { tmux -S "$SOCK" -f /dev/null "$@"; }
INSTALLED=0
cleanup() {
    T kill-server >/dev/null 2>&1 || true
    if [ "$INSTALLED" -eq 1 ]; then dpkg -r bootcamp >/dev/null 2>&1 || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL - $*" >&2
    exit 1
}
wait_for() {  # SECONDS TEXT: the tmux pane shows the text
    local limit=$((SECONDS + $1))
    until T capture-pane -p -t g 2>/dev/null | grep -qF -- "$2"; do
        [ "$SECONDS" -lt "$limit" ] || return 1
        sleep 0.05
    done
}

[ "$(id -u)" -eq 0 ] || fail "run as root: the package is installed and removed"
if dpkg -s bootcamp >/dev/null 2>&1; then fail "a bootcamp package is installed already"; fi

echo "== build and package, as the README says"
cd "$ROOT"
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
grep -q 'at least [0-9]* columns' <<<"$PAGE" || fail "man bootcamp does not show the page"

echo "== play the installed game"
# The shell outlives the Ctrl+C that tmux sends to the whole foreground group, to tell the status.
T new-session -d -s g -x 140 -y 40 "trap : INT; $GAME; echo \"exit=\$?\"; sleep 30"
wait_for 5 "Press ENTER to continue" || fail "no intro: $(T capture-pane -p -t g)"
T send-keys -t g Enter
wait_for 5 "Conditions" || fail "no conditions panel after ENTER: $(T capture-pane -p -t g)"
wait_for 5 "0) " || fail "no Event after ENTER: $(T capture-pane -p -t g)"
T send-keys -t g C-c
wait_for 5 "exit=130" || fail "Ctrl+C did not end the game with status 130: $(T capture-pane -p -t g)"
T kill-server
echo "ok   - the installed game shows the intro and the first Event, and Ctrl+C ends it"

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
