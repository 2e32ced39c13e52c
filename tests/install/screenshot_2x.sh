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
for tool in Xvfb xdotool import xwininfo convert compare; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done

unset DISPLAY
work=$(mktemp -d)
xvfb_pid="" game_pid=""
cleanup() {
    [[ -n $game_pid ]] && kill "$game_pid" 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    [[ -f $work/game.log ]] && sed 's/^/  | /' "$work/game.log" >&2
    exit 1
}

# A free display, chosen by the server itself.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1600x1200x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(tr -dc 0-9 <"$work/display")"

export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_FONT_DPI QT_SCREEN_SCALE_FACTORS

"$game" >"$work/game.log" 2>&1 &
game_pid=$!

# next_window TITLE: waits for a visible window of that title not seen yet.
seen=" "
next_window() {
    local id
    for _ in $(seq 200); do
        kill -0 "$game_pid" 2>/dev/null || fail "the game ended"
        for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
            if [[ $seen != *" $id "* ]]; then
                seen+="$id "
                xdotool windowfocus --sync "$id" 2>/dev/null || true
                window=$id
                return 0
            fi
        done
        sleep 0.1
    done
    fail "no window \"$1\" appeared"
}
keys() { xdotool key --delay 40 "$@"; }

next_window '^Valtrino$'; xdotool type --delay 40 "Giulia"; keys Return
next_window '^Valtrino$'; keys Return
next_window '^Valtrino$'; keys Return
next_window '^Valtrino$'; xdotool type --delay 40 "50"; keys Return
next_window '^Valtrino Settembre 2022$'
sleep 1 # the first question is drawn after the window maps
import -window "$window" "$output"

# The client area is 632 pixels wide at the normal scale.
width=$(xwininfo -id "$window" | awk '/Width:/ {print $2}')
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
