#!/usr/bin/env bash
# The game on a Wayland desktop: Plasma's compositor (kwin_wayland) when it
# is installed, else weston, with XWayland beside it, drawn into the private
# X server (weston's headless backend has no seat: no focus, and XWayland
# aborts on the first key).
# With no platform named the game must be an X client there, placed by the
# window manager and showing the short caption once minimised (a Wayland
# client is never told that it was minimised). Named, or with no X display
# that answers, it runs as a Wayland client.
# Usage: wayland.sh GAME ARTIFACT_DIR
set -euo pipefail

game=$1 artifacts=$2
compositor=$(command -v kwin_wayland weston | head -n 1)
if [[ -z $compositor ]] || ! command -v Xwayland >/dev/null; then
    echo "SKIPPED: no compositor with XWayland (packages weston and xwayland, or kwin-wayland)"
    exit 77
fi

source "$(dirname "$0")/lib.sh"
unset QT_QPA_PLATFORM

# --- The compositor, and the display of its XWayland. ----------------------
step="starting $(basename "$compositor")"
# XWayland listens where every X server does; weston does not make the folder.
mkdir -p -m 1777 /tmp/.X11-unix
export WAYLAND_DISPLAY=valtrino-e2e
if [[ $compositor == *kwin_wayland ]]; then
    # KWin ends with the session command, which tells its display and pid.
    dbus-run-session -- "$compositor" --virtual --xwayland --width 1024 --height 768 \
        --socket "$WAYLAND_DISPLAY" --exit-with-session "sh -c 'echo \$DISPLAY \$\$ >$work/session; exec sleep 600'" \
        >"$work/compositor.log" 2>&1 &
else
    "$compositor" --backend=x11-backend.so --use-pixman --width=1024 --height=768 --xwayland \
        --socket="$WAYLAND_DISPLAY" --idle-time=0 --log="$work/compositor.log" >/dev/null 2>&1 &
fi
wm_pid=$!
xwayland_known() {
    kill -0 "$wm_pid" 2>/dev/null || return 2
    [[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] || return 1
    [[ -s $work/session ]] || grep -q 'listening on display :' "$work/compositor.log"
}
within "$patience" xwayland_known || { cat "$work/compositor.log" >&2; fail "no XWayland"; }
if [[ -s $work/session ]]; then
    read -r DISPLAY wm_pid <"$work/session"
else
    DISPLAY=$(grep -o 'listening on display :[0-9]*' "$work/compositor.log" | grep -o ':[0-9]*$')
fi
export DISPLAY
say "$(basename "$compositor") on $WAYLAND_DISPLAY, XWayland on $DISPLAY"

end_game() {
    kill "$game_pid"
    wait "$game_pid" || true
    game_pid=""
}

# --- Nobody names a platform: an X client. ---------------------------------
say "no platform named"
start_to_main "Ada" 2
step="checking who places the window"
! xprop -id "$main" WM_NORMAL_HINTS | grep 'specified location' || fail "the game placed its window itself"
step="minimising the window"
xdotool windowminimize "$main"
# weston (10 and 14) never marks an X window iconic, so the game is never
# told. KWin does, by WM_STATE and _NET_WM_STATE_HIDDEN; Qt takes the window
# for minimised once it has read both, and the caption must become the short one.
iconic() { game_alive || return 2; xprop -id "$main" WM_STATE | grep -q 'state: Iconic'; }
short_caption() { game_alive || return 2; [[ $(xprop -id "$main" _NET_WM_NAME) == *' = "Valtrino"' ]]; }
window_states() { xprop -id "$main" WM_STATE _NET_WM_STATE _NET_WM_NAME | tr '\n' ' '; }
# A slow start's activation may reach KWin after the minimise and restore
# the window, which a player would see and minimise again: so does this.
minimised_with_short_caption() {
    if ! iconic; then
        game_alive || return 2
        xdotool windowminimize "$main"
        sleep 0.5
        return 1
    fi
    short_caption
}
if [[ $compositor == *kwin_wayland ]]; then
    within "$patience" iconic || fail "KWin did not minimise the window: $(window_states)"
    within "$patience" minimised_with_short_caption || fail "minimised: $(window_states)"
    say "minimised: $(xprop -id "$main" _NET_WM_NAME)"
else
    say "weston does not tell X windows that they are minimised: caption not checked"
fi
end_game

# --- A Wayland client, with no X window. -----------------------------------
# Qt 6.4's Wayland plugin crashes in a text box without a seat, which a
# headless weston lacks; the protocol log shows the window's title.
toplevel() { game_alive || return 2; grep -q 'xdg_toplevel[@#][0-9]*\.set_title("Valtrino")' "$work/game-$run.log"; }
native() {
    run=$((run + 1))
    step="starting game $run with $*"
    env "$@" WAYLAND_DEBUG=client QT_IM_MODULE=none "$game" >"$work/game-$run.log" 2>&1 &
    game_pid=$!
    within "$patience" toplevel || fail "no Wayland window"
    ! xdotool search --name '^Valtrino' || fail "an X window besides"
    end_game
}
if compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null; then
    native QT_QPA_PLATFORM=wayland
    native -u DISPLAY
    native DISPLAY=:65000 # no server there
else
    say "no native runs: Qt's Wayland plugin (qt6-wayland) is not installed"
fi

# --- No display answers: the Italian line. ---------------------------------
step="starting the game with a Wayland display that does not answer"
status=0
env -u DISPLAY WAYLAND_DISPLAY=valtrino-none "$game" >"$work/none.out" 2>&1 </dev/null || status=$?
[[ $status == 1 && $(<"$work/none.out") == \
    "Valtrino ha bisogno di un desktop grafico: lo schermo valtrino-none non risponde." ]] \
    || fail "status $status: $(<"$work/none.out")"

say "the game behaves on a Wayland desktop"
