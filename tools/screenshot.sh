#!/usr/bin/env bash
# Makes docs/screenshot.png: the game in kitty under Xvfb, an Event answered, the window cropped.
#
# usage: tools/screenshot.sh PATH_TO_BOOTCAMP [OUTPUT.png]
# Needs: xvfb openbox kitty xdotool imagemagick x11-utils libgl1-mesa-dri fonts-dejavu-core.
# Starts its own X server, window manager and terminal and stops them again by their pids.
set -u

if [ $# -lt 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 PATH_TO_BOOTCAMP [OUTPUT.png]" >&2
    exit 2
fi
GAME=$(readlink -f "$1")
OUT=${2:-"$(dirname "$(readlink -f "$0")")/../docs/screenshot.png"}
for tool in Xvfb openbox kitty xdotool xprop import; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (apt-get install xvfb openbox kitty xdotool imagemagick x11-utils)" >&2
        exit 77
    fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/bootcamp-shot.XXXXXX")
PIDS=()
cleanup() {
    local i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null
        wait "${PIDS[i]}" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

now() { date +%s%N; }
# until_true SECONDS COMMAND...: polls, as starting X and kitty takes a varying time.
until_true() {
    local limit=$(($(now) + $1 * 1000000000))
    shift
    until "$@"; do
        [ "$(now)" -lt "$limit" ] || return 1
        sleep 0.05
    done
}

# Xvfb picks a free display itself and writes its number to the file.
Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
until_true 15 grep -q . "$WORK/display" || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -1 "$WORK/display")"
export DISPLAY
unset WAYLAND_DISPLAY

# A window manager gives the terminal the focus that xdotool's keys go to.
openbox >"$WORK/openbox.log" 2>&1 &
PIDS+=($!)
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
until_true 10 wm_up || { echo "openbox did not start" >&2; exit 1; }

SOCK="$WORK/kitty.sock"
CLASS="bootcamp-shot-$$"
LIBGL_ALWAYS_SOFTWARE=1 KITTY_CONFIG_DIRECTORY="$WORK" kitty --config NONE \
    -o linux_display_server=x11 -o allow_remote_control=yes --listen-on "unix:$SOCK" \
    -o remember_window_size=no -o initial_window_width=133c -o initial_window_height=15c \
    -o window_padding_width=4 -o shell_integration=disabled -o enable_audio_bell=no \
    -o font_family='DejaVu Sans Mono' -o font_size=11 -o cursor_blink_interval=0 \
    --class "$CLASS" --title bootcamp "$GAME" >"$WORK/kitty.log" 2>&1 &
PIDS+=($!)

screen() { kitty @ --to "unix:$SOCK" get-text 2>/dev/null; }
shows() { screen | grep -qF -- "$1"; }
# The effects line: column 81 on, the row that has a signed number after a condition's name.
answered() { screen | cut -c81- | grep -qE '^(Health|Sanity|Reputation|Punchability) [+-]?[0-9]+ '; }

until_true 20 shows "Press ENTER to continue" || { echo "the game's intro did not show" >&2; exit 1; }
WID=$(xdotool search --class "$CLASS" | head -1)
xdotool windowactivate --sync "$WID" 2>/dev/null
xdotool windowfocus --sync "$WID"
xdotool key Return
until_true 5 shows "0) " || { echo "no Event after ENTER" >&2; exit 1; }
xdotool key 1
until_true 5 answered || { echo "no outcome after 1" >&2; exit 1; }
sleep 0.3 # a last frame for the renderer

# The terminal's own window, without the window manager's frame.
import -window "$WID" "$WORK/shot.png" || exit 1
mkdir -p "$(dirname "$OUT")"
command -p convert "$WORK/shot.png" -strip "$OUT" || exit 1
echo "wrote $OUT ($(command -p identify -format '%wx%h' "$OUT"))"
