#!/usr/bin/env bash
# Makes docs/screenshot.png: the game in kitty under Xvfb, an Event answered, the window alone.
#
# usage: tools/screenshot.sh PATH_TO_BOOTCAMP [OUTPUT.png]
# The end-to-end rig's kitty driver plays and takes the picture (tests/e2e/run.py); it needs the
# model tool built beside the game (catalog_model) and says SKIP (status 77) when a tool is missing.
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ $# -lt 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 PATH_TO_BOOTCAMP [OUTPUT.png]" >&2
    exit 2
fi
OUT=${2:-$ROOT/docs/screenshot.png}
mkdir -p "$(dirname "$OUT")"
exec /usr/bin/python3 "$ROOT/tests/e2e/run.py" kitty "$1" --screenshot "$OUT"
