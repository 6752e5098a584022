#!/usr/bin/env bash
# Measures the built game at rest: processor time while it waits for each kind of key, and write(2) calls to standard output per key wait.
#
# usage: tools/measure.sh [PATH_TO_BOOTCAMP] [COLUMNSxROWS]
#        (default: build/bootcamp in the repository, in a window of 180x40; 80x24 measures the
#        screen laid out to fit a window smaller than the game's own layout)
# The game runs in a detached tmux pane. Processor time comes from /proc/PID/schedstat (ns on
# the CPU) with utime+stime ticks from /proc/PID/stat alongside; the writes from strace, with
# each write attributed to the key wait it precedes by comparing strace's timestamps with the
# moments the keys were sent.
set -u

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
GAME=${1:-$ROOT/build/bootcamp}
if [ ! -x "$GAME" ]; then
    echo "measure.sh: no game at $GAME (build it, or give its path)" >&2
    exit 2
fi
GAME=$(readlink -f "$GAME")
SIZE=${2:-180x40}
COLUMNS=${SIZE%x*} ROWS=${SIZE#*x}
: "${TERM:=xterm-256color}"
export TERM
command -v tmux >/dev/null || { echo "measure.sh: tmux is not installed" >&2; exit 2; }

REST=${REST:-3}  # seconds of waiting measured at each key wait (at least 2)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-measure.XXXXXX")
SOCK=$WORK/tmux
T() { tmux -S "$SOCK" -f /dev/null "$@"; }
trap 'T kill-server >/dev/null 2>&1; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT

now_us() { echo "${EPOCHREALTIME/./}"; }
wait_for() {  # SECONDS PREDICATE...: polls the screen into SCREEN
    local limit=$(($(now_us) + $1 * 1000000))
    shift
    while :; do
        SCREEN=$(T capture-pane -p -t g 2>/dev/null)
        "$@" && return 0
        [ "$(now_us)" -lt "$limit" ] || return 1
        sleep 0.02
    done
}
row() { sed -n "${1}p" <<<"$SCREEN" | cut -c1-80 | sed 's/ *$//'; }
# an effects line, wherever the window's layout puts it ("Sanity +10 Health -5 ")
effects() { grep -qE '(Health|Sanity|Reputation|Punchability) [-+]?[0-9]+ ' <<<"$SCREEN"; }
at_intro() { grep -qx 'Press ENTER to continue' <<<"$SCREEN"; }
at_end() { grep -qF 'Press ENTER to restart or Q to quit' <<<"$SCREEN"; }
at_digit() { [[ "$(row 4)" == "0) "* ]] && [ -z "$(row 8)" ] && ! effects; }
at_enter() { [[ "$(row 4)" == "0) "* ]] && [ -n "$(row 8)" ] && effects; }
at_notice() { grep -qF 'Make the window larger' <<<"$SCREEN"; }
# Which key wait the screen shows.
where() {
    if at_end; then echo end
    elif at_intro; then echo intro
    elif at_enter; then echo enter
    elif at_digit; then echo digit
    elif at_notice; then echo notice
    else echo unknown
    fi
}
# The pane is still drawing after a key: wait until the expected wait shows, then a little more.
reach() {  # NAME
    local name=$1
    # shellcheck disable=SC2317
    is_there() { [ "$(where)" = "$name" ]; }
    wait_for 5 is_there || { echo "measure.sh: never reached the $name wait; screen: $(tr -s ' \n' ' ' <<<"$SCREEN")" >&2; return 1; }
    sleep 0.3
}
# A wait that follows ENTER on an Event: the next Event or the end screen, left in NEXT.
reach_after_event() {
    # shellcheck disable=SC2317
    is_there() { at_end || at_digit; }
    wait_for 5 is_there || return 1
    sleep 0.3
    NEXT=$(where)
}

declare -A LABEL=([intro]="intro" [digit]="an Event's digit wait" [enter]="the ENTER wait after an outcome"
    [end]="the end screen (ENTER or Q)" [notice]="the size notice")

# ---- processor time at each wait ------------------------------------------------------------
on_cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
ticks() { local s; s=$(cat "/proc/$1/stat"); s=${s##*) }; awk '{print $12 + $13}' <<<"$s"; }
measure_rest() {  # PID KIND
    local pid=$1 t0 t1 c0 c1 k0 k1
    c0=$(on_cpu_ns "$pid") k0=$(ticks "$pid") t0=$(now_us)
    sleep "$REST"
    c1=$(on_cpu_ns "$pid") k1=$(ticks "$pid") t1=$(now_us)
    awk -v c=$((c1 - c0)) -v w=$((t1 - t0)) -v k=$((k1 - k0)) -v what="${LABEL[$2]}" 'BEGIN {
        printf "cpu while waiting at %s: %.2f%% of one core over %.1f s (%d us on the CPU, %d ticks)\n",
            what, c / (w * 10), w / 1e6, c / 1000, k }'
}

echo "in a window of $COLUMNS columns and $ROWS rows"
T new-session -d -s g -x "$COLUMNS" -y "$ROWS" "exec $(printf '%q' "$GAME")"
PID=$(T display -p -t g '#{pane_pid}')
reach intro && measure_rest "$PID" intro
T send-keys -t g Enter
reach digit && measure_rest "$PID" digit
T send-keys -t g 2
reach enter && measure_rest "$PID" enter
for _ in $(seq 30); do
    T send-keys -t g Enter
    reach_after_event || break
    [ "$NEXT" = end ] && break
    T send-keys -t g 2
    reach enter || break
done
at_end && measure_rest "$PID" end
T send-keys -t g Enter
reach intro
T resize-window -t g -x 30 -y 10
reach notice && measure_rest "$PID" notice
T kill-server
sleep 0.2

# ---- writes to standard output per key wait ---------------------------------------------------
if ! command -v strace >/dev/null; then
    echo "strace is not installed: write(2) counts skipped"
    exit 0
fi
LOG=$WORK/strace.log
SOCK=$WORK/tmux2
T new-session -d -s g -x "$COLUMNS" -y "$ROWS" "exec strace -f -ttt -e trace=write,writev -o $LOG $(printf '%q' "$GAME")"
T set -g remain-on-exit on
# One line per key wait: the time the key leading to it was sent (0 for the first) and its kind.
: >"$WORK/waits"
reach intro && echo "0 intro" >>"$WORK/waits"
ends=0
for _ in $(seq 80); do
    case $(where) in
    intro) sent=$(now_us); T send-keys -t g Enter; reach digit || break; echo "$sent digit" >>"$WORK/waits" ;;
    digit) sent=$(now_us); T send-keys -t g 2; reach enter || break; echo "$sent enter" >>"$WORK/waits" ;;
    enter)
        sent=$(now_us)
        T send-keys -t g Enter
        reach_after_event || break
        echo "$sent $NEXT" >>"$WORK/waits"
        ;;
    end)
        ends=$((ends + 1))
        if [ $ends -lt 2 ]; then
            sent=$(now_us); T send-keys -t g Enter; reach intro || break; echo "$sent intro" >>"$WORK/waits"
        else
            sent=$(now_us); T send-keys -t g q; echo "$sent exit" >>"$WORK/waits"
            break
        fi
        ;;
    *) echo "measure.sh: lost track of the game; screen: $(tr -s ' \n' ' ' <<<"$SCREEN")" >&2; break ;;
    esac
done
# strace ends with the game; the pane then stays, dead.
dead() { [ "$(T display -p -t g '#{pane_dead}')" = 1 ]; }
for _ in $(seq 250); do dead && break; sleep 0.02; done
T kill-server

awk -v labels="intro=the intro (start-up included);digit=an Event's digit wait;enter=the ENTER wait after an outcome;end=the end screen;exit=leaving (after Q)" '
    BEGIN { n = split(labels, pairs, ";"); for (i = 1; i <= n; i++) { split(pairs[i], kv, "="); name[kv[1]] = kv[2] } }
    FNR == NR { sent[++waits] = $1 / 1e6; kind[waits] = $2; next }
    $3 ~ /^writev?\(1,/ {
        t = $2 + 0; w = 1
        while (w < waits && t >= sent[w + 1]) w++
        count[w]++
    }
    END {
        for (w = 1; w <= waits; w++) {
            k = kind[w]; c = count[w] + 0
            if (k == "exit") { leaving = c; continue }
            keyed++; total += c
            per[k] += c; seen[k]++
            if (c > most[k]) most[k] = c
            if (c > max) max = c
        }
        split("intro digit enter end", order, " ")
        for (i = 1; i <= 4; i++) {
            k = order[i]
            if (seen[k]) printf "writes to fd 1 before %s: %.2f per wait, at most %d (%d waits)\n", name[k], per[k] / seen[k], most[k], seen[k]
        }
        printf "writes to fd 1 in all: %d over %d key waits, %.2f per wait, at most %d in one\n", total, keyed, total / keyed, max
        printf "writes to fd 1 on %s: %d\n", name["exit"], leaving
    }' "$WORK/waits" "$LOG"
# Anything else written: stderr, or the byte a signal handler puts in the wake pipe.
grep -oE '^[0-9]+ +[0-9.]+ +writev?\([02-9][0-9]*,' "$LOG" | sed -E 's/.*\(([0-9]+),/\1/' | sort -n | uniq -c |
    awk '{ printf "writes to fd %d: %d\n", $2, $1 } END { if (NR == 0) print "writes to other fds: none" }'
exit 0
