#!/usr/bin/env bash
# Starts the game at twice the scale on a private X server, answers the
# start-up dialogues and captures the main window; then checks that the
# window really is twice its size and, given the exit button's picture drawn
# at twice the size, that the button shows exactly that picture rather than
# the small one enlarged.
# Usage: screenshot_2x.sh GAME OUTPUT.png [EXIT_PICTURE@2x.png]
set -euo pipefail

if (($# < 2 || $# > 3)); then
    echo "usage: $0 GAME OUTPUT.png [EXIT_PICTURE@2x.png]" >&2
    exit 2
fi
game=$1 output=$2 exit_picture=${3:-}
for tool in xwininfo convert compare; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done

# Room for the window at twice its size.
screen=1600x1200x24
artifacts=$(dirname "$output")
source "$(dirname "$0")/../e2e/lib.sh"
export QT_SCALE_FACTOR=2

start_to_main "Giulia" 50
step="taking the screenshot"
import -window "$main" "$output" || fail "no screenshot"

# The client area is 632 pixels wide at the normal scale.
width=$(xwininfo -id "$main" | awk '/Width:/ {print $2}')
((width == 2 * 632)) || fail "the window is $width pixels wide, not $((2 * 632))"

if [[ -n $exit_picture ]]; then
    # The button lies near (880, 656) at this scale, its face orange; the
    # search area allows for the menu bar's height with any font.
    convert "$output" -crop 260x240+900+640 +repage "$work/area.png"
    convert -size 64x64 xc:'#ff8000' "$exit_picture" -composite "$work/expected.png"
    found=$(compare -metric RMSE -subimage-search "$work/area.png" "$work/expected.png" null: 2>&1 \
            | sed -n 's/.*(\([0-9.e-]*\)).*/\1/p' | head -n 1 || true)
    # Exact up to rounding: about 0.0002. The small picture enlarged: 0.06.
    awk -v e="${found:-1}" 'BEGIN { exit !(e < 0.01) }' \
        || fail "the exit button does not show its picture drawn at twice the size (RMSE ${found:-none})"
fi
echo "screenshot at twice the scale: $output"
