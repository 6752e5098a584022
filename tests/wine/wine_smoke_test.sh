#!/usr/bin/env bash
# Plays the cross-built bootcamp.exe under wine in tmux panes: intro, two turns, Ctrl+C, the size notice, no console.
#
# usage: wine_smoke_test.sh PATH_TO_BOOTCAMP_EXE
# Uses the WINEPREFIX of the caller (wine's default one if unset); start wine's services before
# (wineserver -p; wine cmd /c exit) and stop them after (wineserver -k), as tools/ci-windows.sh does.
#
# Wine 8's console does not carry out escape sequences in a tty: it passes them on but counts
# their bytes as cells, and breaks lines where it thinks a line is full. So the screen tmux shows
# is garbled, and this test checks the texts and the flow of the game, not its layout.
set -u

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 PATH_TO_BOOTCAMP_EXE" >&2
    exit 2
fi
GAME=$(readlink -f "$1")
for tool in wine tmux; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
export WINEDEBUG=-all  # no fixme lines, and no hint about the missing 32-bit wine, in the pane
: "${TERM:=xterm-256color}"
[ "$TERM" = dumb ] && TERM=xterm-256color
export TERM

WORK=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-wine.XXXXXX")
SOCK=$WORK/tmux
T() { tmux -S "$SOCK" -f /dev/null "$@"; }
cleanup() {
    T kill-server >/dev/null 2>&1
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

PASSED=0
FAILED=0
ok() { echo "ok   - $1"; PASSED=$((PASSED + 1)); }
fail() {
    echo "FAIL - $1"
    echo "  the pane showed:"
    local line
    while IFS= read -r line; do echo "  | $line"; done <<<"$SCREEN"
    FAILED=$((FAILED + 1))
}

capture() { T capture-pane -p -t g; }
# wait_for SECONDS PREDICATE ARGS...: polls the pane (into SCREEN) until the predicate holds.
wait_for() {
    local limit=$((SECONDS + $1))
    shift
    while :; do
        SCREEN=$(capture 2>/dev/null)
        "$@" && return 0
        [ "$SECONDS" -lt "$limit" ] || return 1
        sleep 0.1
    done
}
# check NAME SECONDS PREDICATE ARGS...
check() {
    local name=$1
    shift
    if wait_for "$@"; then ok "$name"; else fail "$name"; fi
}
has() { grep -qF -- "$1" <<<"$SCREEN"; }
has_all() {
    local text
    for text in "$@"; do has "$text" || return 1; done
}
lacks() { ! has "$1"; }
# The screen read as one text: wine breaks lines where it counts escape bytes as cells.
joined() { tr -d '\n' <<<"${1-$SCREEN}"; }
letters() { joined "${1-$SCREEN}" | tr -d ' ' | wc -c; }
# "Sanity -5", "Reputation +10": a name with a signed delta is the effects line's, never the panel's.
EFFECT='(Health|Sanity|Reputation|Punchability) [+-][0-9]+'
effects_shown() { joined | grep -qE -- "$EFFECT"; }
# An answer taken: the outcome and the effects line add text (wine may garble where it goes).
answered() { [ "$SCREEN" != "$1" ] && effects_shown && [ "$(letters)" -ge $(($(letters "$1") + 15)) ]; }
# An Event: its Options numbered "0)" to "2)"; wine may lose some of them on the way to the tty.
options_shown() { joined | grep -qE '[0-2]\) '; }
first_event() { has_all "Conditions" "Health: 100" && options_shown; }
# The Event before wiped, the next one's Options drawn.
next_event() { lacks "$1" && options_shown; }
# Waits until the pane has not changed for 0.3 s (3 s at most): wine draws a screen in pieces.
settle() {
    local last
    for _ in $(seq 10); do
        last=$SCREEN
        sleep 0.3
        SCREEN=$(capture 2>/dev/null)
        [ "$SCREEN" = "$last" ] && return 0
    done
}

# The game in a pane of its own, run by a shell that outlives the Ctrl+C tmux sends to the whole
# foreground group; the shell notes the terminal modes before and after, the status, and any byte
# the game left unread for it.
start_game() {  # COLUMNS ROWS
    local prefix=""
    [ -n "${WINEPREFIX-}" ] && prefix="export WINEPREFIX=$(printf %q "$WINEPREFIX")"
    cat >"$WORK/pane.sh" <<EOF
$prefix
export WINEDEBUG=-all
trap : INT
stty -g >"$WORK/modes.before"
wine "$GAME"
echo "exit=\$?"
stty -g >"$WORK/modes.after"
stty -icanon -echo min 0 time 5
left=\$(dd bs=64 count=1 2>/dev/null | od -An -c | tr -d ' \n')
stty "\$(cat "$WORK/modes.before")"
echo "leftover=[\$left]"
sleep 600
EOF
    T kill-server >/dev/null 2>&1
    rm -f "$WORK"/modes.*
    T new-session -d -s g -x "$1" -y "$2" "bash $WORK/pane.sh"
}
modes_as_before() { [ -s "$WORK/modes.after" ] && cmp -s "$WORK/modes.before" "$WORK/modes.after"; }
check_modes() {
    if modes_as_before; then
        ok "$1"
    else
        SCREEN="before: $(cat "$WORK/modes.before" 2>/dev/null)"$'\n'"after:  $(cat "$WORK/modes.after" 2>/dev/null)"
        fail "$1"
    fi
}

echo "# $GAME under $(wine --version 2>/dev/null) in tmux $(tmux -V | cut -d' ' -f2)"

# ---- a game: intro, two turns, Ctrl+C ---------------------------------------------------------
start_game 150 40
check "the intro appears" 60 has "Press ENTER to continue"
T send-keys -t g Enter
check "ENTER brings the conditions panel and an Event" 10 first_event
# the first Event's prompt: the text left of the panel on the row under the panel's title
settle
PROMPT=$(sed -n 2p <<<"$SCREEN" | cut -c1-80 | sed 's/ *$//')
BEFORE=$SCREEN
T send-keys -t g 1
check "a digit brings the outcome and the effects line's names" 10 answered "$BEFORE"
T send-keys -t g Enter
if [ -n "$PROMPT" ]; then
    check "a second ENTER brings the next Event" 10 next_event "$PROMPT"
else
    SCREEN="(no prompt read on row 2)" && fail "a second ENTER brings the next Event"
fi
settle
BEFORE=$SCREEN
T send-keys -t g 0
check "a digit answers the next Event" 10 answered "$BEFORE"
# typed just before Ctrl+C: the game must drop them, not leave them to the shell
T send-keys -t g a b c C-c
check "Ctrl+C ends the game" 10 has "exit="
STATUS=$(grep -oE 'exit=[0-9]+' <<<"$SCREEN" | head -1)
echo "# Ctrl+C: $STATUS (wine's own status for it; Windows gives 0xC000013A)"
check "no typed key reaches the shell" 5 has "leftover=[]"
check_modes "the pane's terminal modes are as before"

# ---- a pane too narrow: the size notice, then Q ----------------------------------------------
start_game 100 30
notice_says() { joined | grep -qE -- "$1"; }
check "a pane of 100 columns shows the size notice" 60 notice_says \
    "This game needs a terminal of at least [0-9]+ columns and 15 rows; this one has 100 columns and 30 rows\.Make the window larger, or press Q to quit\."
T send-keys -t g q
check "Q on the size notice quits with status 0" 10 has "exit=0"
check_modes "the terminal modes are as before after Q"

# ---- no console ----------------------------------------------------------------------------
SCREEN=$(wine "$GAME" </dev/null 2>&1 >/dev/null)
STATUS=$?
if [ "$STATUS" = 1 ] && has "standard input and output must be a console"; then
    ok "standard input not a console: one line and status 1"
else
    SCREEN="status $STATUS: $SCREEN" && fail "standard input not a console: one line and status 1"
fi

echo "# wine smoke test: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
