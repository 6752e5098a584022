#!/usr/bin/env bash
# Plays the built game in tmux as a player would: full runs, restart and quit, suspend and resume, resizing, a small start, typed-ahead keys, no terminal.
#
# usage: tmux_play_test.sh PATH_TO_BOOTCAMP
# tmux sends only characters, so this covers the plain-byte keyboard path. Each game runs under
# its own tmux server (tmux 3.3a crashes when a second session is made after window-size changes),
# mostly under dash: dash has job control but never touches the terminal modes, so what stty shows
# while the game is stopped or gone is what the game left behind.
# The failure details are single-quoted on purpose: check expands them only when a check fails.
# shellcheck disable=SC2016,SC2119,SC2120
set -u

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 PATH_TO_BOOTCAMP" >&2
    exit 2
fi
GAME=$(readlink -f "$1")
: "${TERM:=xterm-256color}"
[ "$TERM" = dumb ] && TERM=xterm-256color
export TERM
if ! command -v tmux >/dev/null; then
    echo "SKIP: tmux is not installed (apt-get install tmux)"
    exit 77
fi
SHELL_PROG=$(command -v dash || command -v sh)
PROMPT='shell$ '

WORK=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-e2e.XXXXXX")
SERVERS=()  # socket paths: tmux leaves the files behind after kill-server
cleanup() {
    local s
    for s in "${SERVERS[@]}"; do
        tmux -S "$s" kill-server >/dev/null 2>&1
        rm -f "$s"
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

PASSED=0
FAILED=0
ok() { echo "ok   - $1"; PASSED=$((PASSED + 1)); }
fail() { echo "FAIL - $1${2:+: $2}"; FAILED=$((FAILED + 1)); }
# check NAME DETAIL COMMAND...: DETAIL is expanded only on failure, so it shows the state then.
check() {
    local name=$1 detail=$2
    shift 2
    if "$@"; then ok "$name"; else fail "$name" "$(eval "printf '%s' \"$detail\"")"; fi
}

# ---- tmux ---------------------------------------------------------------------------------
SOCK=""
T() { tmux -S "$SOCK" -f /dev/null "$@"; }
# A fresh server for one game; the pane's tty and first process are left in TTY and PANE_PID.
new_server() {
    SOCK="$WORK/tmux-${#SERVERS[@]}"
    SERVERS+=("$SOCK")
    T new-session -d -s g -x "$1" -y "$2" "$3" || return 1
    T set -g remain-on-exit on
    T set -g remain-on-exit-format ''
    TTY=$(T display -p -t g '#{pane_tty}')
    PANE_PID=$(T display -p -t g '#{pane_pid}')
}
key() { T send-keys -t g "$@"; }
capture() { T capture-pane -p -t g; }
resize() { T resize-window -t g -x "$1" -y "$2"; }

now_us() { echo "${EPOCHREALTIME/./}"; }
# wait_for SECONDS PREDICATE ARGS...: polls the screen (into SCREEN) until the predicate holds.
wait_for() {
    local limit=$(($(now_us) + $1 * 1000000))
    shift
    while :; do
        SCREEN=$(capture 2>/dev/null)
        "$@" && return 0
        [ "$(now_us)" -lt "$limit" ] || return 1
        sleep 0.02
    done
}
# Waits for a condition that does not depend on the screen.
wait_until() {
    local limit=$(($(now_us) + $1 * 1000000))
    shift
    until "$@"; do
        [ "$(now_us)" -lt "$limit" ] || return 1
        sleep 0.02
    done
}

# ---- reading the screen (SCREEN, or the text given) -----------------------------------------
row() { sed -n "${1}p" <<<"${2-$SCREEN}"; }
left() { row "$1" "${2-$SCREEN}" | cut -c1-80 | sed 's/ *$//'; }     # the Event area of a row
right() { row "$1" "${2-$SCREEN}" | cut -c81- | sed 's/ *$//'; }     # from column 81 on
panel() { sed -n 1,9p <<<"${1-$SCREEN}" | cut -c81-102 | sed 's/ *$//'; }
blank() { ! grep -q '[^ ]' <<<"${1-$SCREEN}"; }
has() { grep -qF -- "$1" <<<"$SCREEN"; }
flat() { grep -v '^ *$' <<<"${1-$SCREEN}" | head -12 | sed 's/  */ /g' | tr '\n' '|'; }
top() { sed -n "1,${1}p" <<<"${2-$SCREEN}" | cut -c"1-${3:-180}"; }

bar() {
    local filled=$(($1 / 5)) s="["
    s+=$(printf '%*s' "$filled" '' | tr ' ' '=')
    s+=$(printf '%*s' $((20 - filled)) '')
    echo "$s]"
}
NAMES=(Health Sanity Reputation Punchability)
# The panel as it must look for the given four values.
expected_panel() {
    local i values=("$@")
    echo "      Conditions"
    for i in 0 1 2 3; do
        echo "${NAMES[i]}: ${values[i]}"
        bar "${values[i]}"
    done
}
START_PANEL=$(expected_panel 100 50 50 30)

INTRO=$'You have made the mistake of joining the Marines\nThis is your attempt to get through bootcamp\n\nPress ENTER to continue'
intro_shown() { [ "$(sed -n 1,4p <<<"$SCREEN")" = "$INTRO" ] && blank "$(sed -n '5,$p' <<<"$SCREEN")"; }
# An Event waiting for its digit: prompt, three Options, nothing below them yet, the panel.
event_ready() {
    [ -n "$(left 2)" ] && [[ "$(left 4)" == "0) "* ]] && [[ "$(left 5)" == "1) "* ]] &&
        [[ "$(left 6)" == "2) "* ]] && [ -z "$(left 8)" ] && [ -z "$(right 10)" ] &&
        [[ "$(right 2)" == "Health: "* ]]
}
outcome_shown() { [ -n "$(left 8)" ] && [ -n "$(right 10)" ]; }
ending_shown() { has "Press ENTER to restart or Q to quit"; }
after_enter() { ending_shown || event_ready; }
prompt_shown() { grep -qE '^shell\$( |$)' <<<"$SCREEN"; }
screen_is() { [ "$SCREEN" = "$1" ]; }
top_is() { [ "$(top "$1" "$SCREEN" "$2")" = "$(top "$1" "$3" "$2")" ]; }  # ROWS COLUMNS TEXT
stopped_with_prompt() { has "Stopped" && prompt_shown; }
# The shell took over under the layout: rows 1 to 15 as the game left them, the shell from row 16.
below_the_layout() {
    [ "$(top 15)" = "$(top 15 "$1")" ] && sed -n '16,$p' <<<"$SCREEN" | grep -qE '^shell\$( |$)'
}
notice_says() {  # the wrapped notice read as one line, with the size needed and the size now
    local text
    text=$(T capture-pane -p -J -t g | tr '\n' ' ')
    grep -qw 133 <<<"$text" && grep -qw 15 <<<"$text" && grep -qw "$1" <<<"$text" && grep -qw "$2" <<<"$text"
}

# ---- processes and modes ---------------------------------------------------------------------
# The game's pid: the child of the given process whose program is the game.
game_child() {
    local f line fields
    for f in /proc/[0-9]*/stat; do
        line=$(cat "$f" 2>/dev/null) || continue
        read -ra fields <<<"${line##*) }"
        [ "${fields[1]}" = "$1" ] || continue
        f=${f#/proc/}
        f=${f%/stat}
        [ "$(readlink -f "/proc/$f/exe" 2>/dev/null)" = "$GAME" ] && { echo "$f"; return 0; }
    done
    return 1
}
state() { local line; line=$(cat "/proc/$1/stat" 2>/dev/null) || { echo gone; return; }; line=${line##*) }; echo "${line%% *}"; }
is_state() { [ "$(state "$1")" = "$2" ]; }
gone() { [ ! -e "/proc/$1" ]; }
modes() { stty -g <"$TTY"; }
mode_flags() { stty -a <"$TTY" | tr ' ' '\n' | grep -xE -- '-?(icanon|echo)' | tr '\n' ' ' | sed 's/ $//'; }
flags_are() { [ "$(mode_flags)" = "$1" ]; }

# A dash in a new server; the game is started from it with the command line given.
start_in_shell() {  # WIDTH HEIGHT COMMAND-LINE
    new_server "$1" "$2" "exec env -u ENV PS1='$PROMPT' $SHELL_PROG -i" || return 1
    wait_for 5 prompt_shown || return 1
    BEFORE_MODES=$(modes)
    key -l "$3"
    key Enter
    wait_until 5 game_child "$PANE_PID" >/dev/null || return 1
    GAME_PID=$(game_child "$PANE_PID")
}
# The command line that keeps the screen as the game leaves it until the test presses ENTER,
# then shows the exit status.
CMD_HOLD="$(printf '%q' "$GAME"); s=\$?; read -r line; echo \"exit=\$s\""

# ---- one run: option 2 every time until an ending -----------------------------------------
# Checks every turn; sets RUN_PROMPTS, RUN_EVENTS, RUN_ENDING (the end screen), RUN_PROBLEMS.
play_run() {
    local before chosen effects tok i name delta value n=0
    local -a vals tokens
    RUN_PROMPTS=() RUN_PROBLEMS=() RUN_EVENTS=0 RUN_ENDING=""
    while [ $n -lt 30 ]; do
        if ! wait_for 5 event_ready; then
            RUN_PROBLEMS+=("Event $((n + 1)) never came ready: $(flat)")
            return 1
        fi
        before=$SCREEN
        RUN_PROMPTS+=("$(left 2)")
        vals=()
        for i in 0 1 2 3; do vals+=("$(right $((2 * i + 2)) | sed -n "s/^${NAMES[i]}: \([0-9]*\)$/\1/p")"); done
        if [ "$(panel)" != "$(expected_panel "${vals[@]}")" ]; then
            RUN_PROBLEMS+=("Event $((n + 1)): panel malformed: $(panel | tr '\n' '|')")
            return 1
        fi
        key 2
        if ! wait_for 5 outcome_shown; then
            RUN_PROBLEMS+=("Event $((n + 1)) '${RUN_PROMPTS[n]}': no outcome after '2': $(flat)")
            return 1
        fi
        chosen=$SCREEN
        [ "$(panel "$chosen")" = "$(panel "$before")" ] ||
            RUN_PROBLEMS+=("Event $((n + 1)): panel changed before ENTER: $(panel "$chosen" | tr '\n' '|')")
        [ "$(top 6 "$chosen" 80)" = "$(top 6 "$before" 80)" ] ||
            RUN_PROBLEMS+=("Event $((n + 1)): prompt or Options changed on choosing")
        effects=$(right 10 "$chosen")
        read -ra tokens <<<"$effects"
        for ((i = 0; i + 1 < ${#tokens[@]}; i += 2)); do
            name=${tokens[i]} delta=${tokens[i + 1]}
            for tok in 0 1 2 3; do [ "${NAMES[tok]}" = "$name" ] && break; done
            if [ "${NAMES[tok]}" != "$name" ] || ! [[ "$delta" =~ ^[+-][0-9]+$ ]]; then
                RUN_PROBLEMS+=("Event $((n + 1)): effects line unreadable: '$effects'")
                break
            fi
            value=$((vals[tok] + delta))
            ((value < 0)) && value=0
            ((value > 100)) && value=100
            vals[tok]=$value
        done
        key Enter
        n=$((n + 1))
        if ! wait_for 5 after_enter; then
            RUN_PROBLEMS+=("Event $n: neither the next Event nor an ending after ENTER: $(flat)")
            return 1
        fi
        # The first ending whose test holds, in the game's fixed order.
        local want=""
        if [ "${vals[0]}" = 0 ]; then want="You collapse from exhaustion"
        elif [ "${vals[1]}" = 0 ]; then want="During a manic episode"
        elif [ "${vals[2]}" = 0 ]; then want="\"Clearly you don't care about being here\""
        elif [ "${vals[3]}" = 100 ]; then want="You know all those crazy DI stories"
        fi
        if ending_shown; then
            RUN_EVENTS=$n
            RUN_ENDING=$SCREEN
            if [ -z "$want" ]; then
                RUN_PROBLEMS+=("ending after Event $n with no condition at its bound (${vals[*]})")
            elif [[ "$(row 1)" != "$want"* ]]; then
                RUN_PROBLEMS+=("ending after Event $n with values ${vals[*]}: expected '$want...', saw '$(row 1)'")
            fi
            return 0
        fi
        [ -z "$want" ] || RUN_PROBLEMS+=("Event $n brought ${vals[*]} but no ending")
        [ "$(panel)" = "$(expected_panel "${vals[@]}")" ] ||
            RUN_PROBLEMS+=("Event $n: after ENTER the panel is '$(panel | tr '\n' '|')', expected values ${vals[*]} (effects '$effects')")
    done
    RUN_PROBLEMS+=("no ending after $n Events")
    return 1
}
no_problems() { [ ${#RUN_PROBLEMS[@]} -eq 0 ]; }
problems() { local IFS=';'; echo "${RUN_PROBLEMS[*]}"; }
days_line_right() {
    local days=$((RUN_EVENTS - 1)) word=Days line
    [ $days -eq 1 ] && word=Day
    line=$(grep -n "^You survived" <<<"$RUN_ENDING" | head -1)
    DAYS_WANT="You survived $days $word"
    [ "${line#*:}" = "$DAYS_WANT" ] || return 1
    local at=${line%%:*}
    [ -z "$(row $((at + 1)) "$RUN_ENDING")" ] &&
        [ "$(row $((at + 2)) "$RUN_ENDING")" = "Press ENTER to restart or Q to quit" ]
}
# After Q: the screen the game leaves, the process gone, the modes, then the exit status.
quit_checks() {
    local what=$1
    key q
    wait_for 5 blank
    check "$what: Q clears the screen" 'screen: $(flat)' blank
    check "$what: the game has exited" 'state $(state "$GAME_PID")' wait_until 5 gone "$GAME_PID"
    AFTER_MODES=$(modes)
    check "$what: terminal modes after exit equal those before (stty -g)" 'before $BEFORE_MODES, after $AFTER_MODES' \
        test "$AFTER_MODES" = "$BEFORE_MODES"
    key Enter
    check "$what: exit status 0" 'screen: $(flat)' wait_for 5 has "exit=0"
}

# =============================================================================================
# 1. Two runs to an ending with a restart between them, then Q.
if start_in_shell 180 40 "$CMD_HOLD"; then
    check "intro on rows 1-4" 'screen: $(flat)' wait_for 5 intro_shown
    key Enter
    if wait_for 5 event_ready; then
        FIRST=$SCREEN
        check "first Event: panel at starting values, Conditions from column 87" 'panel: $(panel | tr "\n" "|")' \
            test "$(panel)" = "$START_PANEL"
        check "first Event: prompt on row 2, Options on rows 4-6" 'screen: $(flat)' \
            test -n "$(left 2)" -a -z "$(left 1)" -a -z "$(left 3)"
        play_run
        check "run 1: panel unchanged until ENTER, then the new values; an ending exactly at a bound" \
            '$(problems)' no_problems
        RUN1_PROMPTS=("${RUN_PROMPTS[@]}")
        RUN1_EVENTS=$RUN_EVENTS
        if [ "$RUN_EVENTS" -gt 0 ]; then
            check "run 1: day count after $RUN_EVENTS Events" \
                'expected [$DAYS_WANT] then a blank line and the restart line: $(flat "$RUN_ENDING")' days_line_right
            key Enter
            check "restart: intro again" 'screen: $(flat)' wait_for 5 intro_shown
            key Enter
            wait_for 5 event_ready
            check "restart: the same first Event as run 1" 'run 1 [$(left 2 "$FIRST")], now [$(left 2)]' \
                test "$(left 2)" = "$(left 2 "$FIRST")"
            check "restart: panel back at 100/50/50/30" 'panel: $(panel | tr "\n" "|")' test "$(panel)" = "$START_PANEL"
            play_run
            check "run 2: turns check out as in run 1" '$(problems)' no_problems
            check "run 2: same Events and ending as run 1 (same choices)" \
                'run 1: ${RUN1_PROMPTS[*]} ($RUN1_EVENTS); run 2: ${RUN_PROMPTS[*]} ($RUN_EVENTS)' \
                test "${RUN1_PROMPTS[*]}|$RUN1_EVENTS" = "${RUN_PROMPTS[*]}|$RUN_EVENTS"
            check "run 2: day count after $RUN_EVENTS Events" 'expected [$DAYS_WANT]: $(flat "$RUN_ENDING")' days_line_right
            quit_checks "quit at the end screen"
        fi
    else
        fail "first Event shown after ENTER" "screen: $(flat)"
    fi
else
    fail "start the game from a shell in tmux" "screen: $(flat)"
fi

# =============================================================================================
# 2. Ctrl+Z during an Event (after choosing), fg from the shell, then play on.
if start_in_shell 180 40 "$(printf '%q' "$GAME")"; then
    wait_for 5 intro_shown
    key Enter
    wait_for 5 event_ready
    key 2
    if wait_for 5 outcome_shown; then
        SUSPENDED_AT=$SCREEN
        SUSPENDED_PANEL=$(panel)
        key C-z
        check "C-z: the process is stopped (state T)" 'state $(state "$GAME_PID")' \
            wait_until 5 is_state "$GAME_PID" T
        check "C-z: the shell and its prompt are back" 'screen: $(flat)' wait_for 5 stopped_with_prompt
        check "C-z: \"Stopped\" and the prompt land under the game's 15 rows, which stay as they were" \
            'screen: $(flat)' below_the_layout "$SUSPENDED_AT"
        check "C-z: canonical mode and echo given back" 'stty: $(mode_flags)' flags_are "icanon echo"
        NOW_MODES=$(modes)
        check "C-z: terminal modes equal those before the game (stty -g)" 'before $BEFORE_MODES, now $NOW_MODES' \
            test "$NOW_MODES" = "$BEFORE_MODES"
        key -l fg
        key Enter
        check "fg: the screen redrawn as it was before C-z" 'screen: $(flat)' wait_for 5 screen_is "$SUSPENDED_AT"
        check "fg: game modes again (-icanon -echo)" 'stty: $(mode_flags)' wait_until 2 flags_are "-icanon -echo"
        check "fg: running again" 'state $(state "$GAME_PID")' wait_until 2 is_state "$GAME_PID" S
        key Enter
        if wait_for 5 event_ready; then
            check "after fg: ENTER brings the next Event with the new values" \
                'panel before $(tr "\n" "|" <<<"$SUSPENDED_PANEL"), now $(panel | tr "\n" "|")' \
                test "$(panel)" != "$SUSPENDED_PANEL"
        else
            fail "after fg: ENTER brings the next Event" "screen: $(flat)"
        fi
        play_run
        check "after fg: the run plays on to an ending" '$(problems)' no_problems
        key q
        wait_until 5 gone "$GAME_PID"
        wait_for 5 prompt_shown
        key -l 'echo "exit=$?"'
        key Enter
        check "after suspend and resume: Q exits with status 0" 'screen: $(flat)' wait_for 5 has "exit=0"
        AFTER_MODES=$(modes)
        check "after suspend and resume: terminal modes after exit equal those before" \
            'before $BEFORE_MODES, after $AFTER_MODES' test "$AFTER_MODES" = "$BEFORE_MODES"
    else
        fail "suspend: an Event and its outcome" "screen: $(flat)"
    fi
else
    fail "start the game for the suspend test" "screen: $(flat)"
fi

# 2b. Stopped and continued by signals alone (no shell): the redraw after SIGCONT.
if new_server 180 40 "exec $(printf '%q' "$GAME")" && wait_for 5 intro_shown; then
    GAME_PID=$PANE_PID
    key Enter
    wait_for 5 event_ready
    key 2
    wait_for 5 outcome_shown
    STOPPED_AT=$SCREEN
    kill -STOP "$GAME_PID"
    wait_until 5 is_state "$GAME_PID" T
    printf '\033[2J\033[1;1Hwiped while stopped' >"$TTY" # so only the game can bring the screen back
    wait_for 5 has "wiped while stopped"
    kill -CONT "$GAME_PID"
    check "kill -CONT: the screen redrawn as it was" 'screen: $(flat)' wait_for 5 screen_is "$STOPPED_AT"
    key Enter
    check "kill -CONT: the game plays on (ENTER brings the next Event)" 'screen: $(flat)' wait_for 5 after_enter
else
    fail "start the game for the stop/continue test" "screen: $(flat)"
fi

# =============================================================================================
# 3. Resizing during an Event, the size notice, and Q from the notice.
if start_in_shell 180 40 "$CMD_HOLD"; then
    wait_for 5 intro_shown
    key Enter
    wait_for 5 event_ready
    AT_DIGIT=$SCREEN
    printf '\033[2J' >"$TTY" # wiped first, so what comes back is the game's redraw
    wait_for 5 blank
    resize 150 35
    check "resize to 150x35 at the digit wait: the screen as it was" 'screen: $(flat)' \
        wait_for 5 top_is 15 102 "$AT_DIGIT"
    key 2
    wait_for 5 outcome_shown
    AT_ENTER=$SCREEN
    printf '\033[2J' >"$TTY"
    wait_for 5 blank
    resize 140 30
    check "resize to 140x30 at the ENTER wait: the screen as it was" 'screen: $(flat)' \
        wait_for 5 top_is 15 140 "$AT_ENTER"
    resize 90 20
    check "resize to 90x20: notice with 133 columns, 15 rows and the size now (90, 20)" \
        'screen: $(flat)' wait_for 5 notice_says 90 20
    resize 100 30
    check "resize to 100x30: the notice follows the size (100, 30)" 'screen: $(flat)' wait_for 5 notice_says 100 30
    key Enter # dropped while the notice is up
    resize 180 40
    check "resize back to 180x40: the screen as it was before" 'screen: $(flat)' wait_for 5 screen_is "$AT_ENTER"
    key Enter
    check "after the resizes: ENTER brings the next Event" 'screen: $(flat)' wait_for 5 after_enter
    T kill-server
else
    fail "start the game for the resize test" "screen: $(flat)"
fi

if start_in_shell 180 40 "$CMD_HOLD"; then
    wait_for 5 intro_shown
    key Enter
    wait_for 5 event_ready
    resize 90 20
    wait_for 5 notice_says 90 20
    quit_checks "Q at the size notice"
else
    fail "start the game for Q at the size notice" "screen: $(flat)"
fi

# =============================================================================================
# 4. Started in a terminal that is too small.
if start_in_shell 80 24 "$CMD_HOLD"; then
    check "start at 80x24: the size notice (133, 15, 80, 24)" 'screen: $(flat)' wait_for 5 notice_says 80 24
    resize 180 40
    check "enlarged to 180x40: the intro" 'screen: $(flat)' wait_for 5 intro_shown
    key Enter
    if wait_for 5 event_ready; then
        check "after a small start: first Event with the starting panel" 'panel: $(panel | tr "\n" "|")' \
            test "$(panel)" = "$START_PANEL"
    else
        fail "after a small start: ENTER brings the first Event" "screen: $(flat)"
    fi
    T kill-server
else
    fail "start the game in a small terminal" "screen: $(flat)"
fi

# =============================================================================================
# Keys typed ahead: one send-keys call arrives as one read, and every key in it must count.
# The pauses stand for a player reading the screen (longer than the key queue's lapse).
if new_server 180 40 "exec $(printf '%q' "$GAME")" && wait_for 5 intro_shown; then
    key Enter 2
    check "typed together at the intro: ENTER then 2 give the first Event and its outcome" 'screen: $(flat)' \
        wait_for 5 outcome_shown
    sleep 0.3
    key Enter
    if wait_for 5 event_ready; then
        sleep 0.3
        key 2 Enter
        check "typed together at an Event: 2 then ENTER give the next Event" 'screen: $(flat)' \
            wait_for 3 after_enter
    else
        fail "typed ahead: the second Event" "screen: $(flat)"
    fi
    T kill-server
else
    fail "start the game for the type-ahead test" "screen: $(flat)"
fi

# =============================================================================================
# 5. Not a terminal.
"$GAME" </dev/null >"$WORK/out" 2>"$WORK/err"
STATUS=$?
check "no terminal: exit status 1" 'status $STATUS' test "$STATUS" -eq 1
check "no terminal: one line on stderr" 'stderr: $(cat -v "$WORK/err")' \
    test "$(wc -l <"$WORK/err")" -eq 1 -a "$(wc -c <"$WORK/err")" -gt 1
check "no terminal: nothing on stdout" 'stdout: $(cat -v "$WORK/out" | head -c 200)' test ! -s "$WORK/out"

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
