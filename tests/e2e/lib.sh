# Drives the real game on a private X server as a player would: sourced by
# the end-to-end test, scripts/screenshot.sh and tests/install/screenshot_2x.sh,
# once each run.
# Expects: game (the program) and artifacts (where a failure's screenshot goes);
# screen, the X server's screen, may be set too.

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done

# Screenshots and keys must never reach the caller's own display.
unset DISPLAY
work=$(mktemp -d)
mkdir -p "$artifacts"
# One name per script: two of them may run at once into one folder.
failure_shot=$artifacts/$(basename "$0" .sh)-failure.png
rm -f "$failure_shot"
step="starting the X server"
game_pid=""
xvfb_pid=""
wm_pid=""
run=0
# Each dialogue is a window of its own; one seen before must not count as
# the next, so their ids are remembered.
seen_dialogs=" "

cleanup() {
    [[ -n $game_pid ]] && kill "$game_pid" 2>/dev/null
    [[ -n $wm_pid ]] && kill "$wm_pid" 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

say() { echo "[$(basename "$0" .sh)] $*"; }

fail() {
    echo "FAILED while $step: $*" >&2
    if [[ -n ${DISPLAY:-} ]]; then
        import -window root "$failure_shot" 2>/dev/null \
            && echo "screen at the failure: $failure_shot" >&2
        echo "windows on screen:" >&2
        xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r id; do
            echo "  $id $(xdotool getwindowname "$id" 2>/dev/null)" >&2
        done
    fi
    if [[ -n $game_pid ]] && ! game_alive; then
        local status=0
        wait "$game_pid" || status=$?
        game_pid=""
        echo "the game had already ended, with status $status" >&2
    fi
    if [[ -s $work/game-$run.log ]]; then
        echo "game output:" >&2
        sed 's/^/  | /' "$work/game-$run.log" >&2
    fi
    exit 1
}

# A wait ends as soon as its state holds, so waiting long costs a passing
# run nothing; on a machine busy with other work a step can take many times
# what it takes on an idle one. Only a failing run waits this long.
patience=${VALTRINO_E2E_PATIENCE:-60}

# within SECONDS COMMAND...: retries COMMAND while it returns 1, for a
# while; any other failure (the game has ended) stops at once.
within() {
    local deadline=$((SECONDS + $1)) status
    shift
    while :; do
        status=0
        "$@" || status=$?
        ((status == 0)) && return 0
        ((status == 1 && SECONDS < deadline)) || return "$status"
        sleep 0.05
    done
}

# --- A private X server on a free display; a window manager on request. ---
display_known() { [[ -s $work/display ]] || { kill -0 "$xvfb_pid" 2>/dev/null || return 2; return 1; }; }
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "${screen:-1024x768x24}" \
    3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
within "$patience" display_known || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$(tr -dc 0-9 <"$work/display")"
say "X server on $DISPLAY"
# A layout with the player's letters: xdotool types a letter missing from it
# by remapping a spare key for a moment, and a client that reads the keymap
# after the remap is undone gets no letter at all (on a busy server, now and
# then an "ò").
setxkbmap -layout it || fail "setxkbmap could not set the Italian layout"

# The game sees a home of its own; nothing of the caller's session.
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share
export XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_FONT_DPI
# Under AddressSanitizer: the leaks of Qt's own that tests/lsan.supp names
# (the held key presses, the desktop portal's call) are known by a Qt frame
# deep in their stacks, which only a full unwind shows.
if [[ -n ${ASAN_OPTIONS:-} ]]; then
    export ASAN_OPTIONS=$ASAN_OPTIONS:fast_unwind_on_malloc=0
fi

# start_window_manager: openbox, with its default settings, as a player's
# desktop has a window manager. It activates the window it gives the focus
# to; only in an active window does Qt send focus events, which move the
# focus within the window as a player sees it.
start_window_manager() {
    command -v openbox >/dev/null || fail "missing openbox: run scripts/setup.sh"
    step="starting the window manager"
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm_pid=$!
    within "$patience" managing || { cat "$work/openbox.log" >&2; fail "openbox did not start"; }
}
managing() {
    kill -0 "$wm_pid" 2>/dev/null || return 2
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# --- Windows, keys and the game process. -----------------------------------
game_alive() {
    local state
    state=$(awk '{print $3}' "/proc/$game_pid/stat" 2>/dev/null) || return 1
    [[ $state != Z ]]
}

start_game() {
    run=$((run + 1))
    step="starting game $run"
    "$game" >"$work/game-$run.log" 2>&1 &
    game_pid=$!
    seen_dialogs=" "
}

new_dialog() {
    local id
    for id in $(xdotool search --onlyvisible --name '^Valtrino$' 2>/dev/null); do
        if [[ $seen_dialogs != *" $id "* ]]; then
            dialog=$id
            return 0
        fi
    done
    game_alive || return 2
    return 1
}

focused() { [[ $(xdotool getwindowfocus 2>/dev/null) == "$1" ]]; }

# Keys go to the window with the input focus. Qt gives it to its dialogue or
# window itself; should it not soon, it is given as a window manager would.
take_focus() {
    if ! within 3 focused "$1"; then
        say "window $1 did not take the focus itself; giving it"
        xdotool windowfocus --sync "$1" 2>/dev/null || true
        within "$patience" focused "$1" || fail "window $1 never got the keyboard focus"
    fi
}

# dialog WHAT: waits for the next dialogue and makes it the target of keys.
dialog() {
    step="waiting for the dialogue \"$1\" (game $run)"
    within "$patience" new_dialog || fail "no new dialogue appeared"
    seen_dialogs+="$dialog "
    take_focus "$dialog"
    step="answering the dialogue \"$1\" (game $run)"
}

main_window() {
    main=$(xdotool search --onlyvisible --name '^Valtrino Settembre 2022$' 2>/dev/null | head -n 1)
    [[ -n $main ]] || { game_alive || return 2; return 1; }
}

await_main_window() {
    step="waiting for the main window (game $run)"
    within "$patience" main_window || fail "the main window did not appear"
    # No dialogue may still be open over it.
    new_dialog && fail "a dialogue ($dialog) is open besides the main window"
    take_focus "$main"
    within "$patience" painted || fail "the window's background was never painted"
    step="playing (game $run)"
}

type_text() { xdotool type --delay 30 -- "$1"; }
key() { xdotool key --delay 30 "$@"; }

# Every question repaints the background in new random colours; one pixel
# clear of the controls shows it.
background() {
    import -window "$main" -crop 1x1+600+330 -depth 8 txt:- 2>/dev/null | tail -n 1
}

# A window not yet painted is black there; the bands never are, their blue
# growing from the top.
painted() {
    game_alive || return 2
    [[ $(background) != *"srgb(0,0,0)"* ]]
}

changed_from() {
    game_alive || return 2
    [[ $(background) != "$1" ]]
}

# pose_next KEY: KEY must pose a new question. An Alt mnemonic clicks its
# button only after a short animation, and keys typed meanwhile go to the
# button, so the next step waits for the question.
pose_next() {
    local before
    before=$(background)
    key "$1"
    within "$patience" changed_from "$before" || fail "$1 did not pose a new question"
}

# answer VALUE [NEXT]: types the answer and Enter, then NEXT poses a new question.
answer() {
    type_text "$1"
    key Return
    [[ -z ${2:-} ]] || pose_next "$2"
}

exited_or_dialog() {
    game_alive || return 0
    new_dialog && return 0
    game_alive && return 1
    return 0
}

# await_exit: the game must end with status 0 and show nothing more.
await_exit() {
    step="waiting for game $run to end"
    within "$patience" exited_or_dialog || fail "the game neither ended nor showed anything"
    if game_alive; then
        fail "a dialogue ($dialog) appeared instead of the game ending"
    fi
    local status=0
    wait "$game_pid" || status=$?
    game_pid=""
    ((status == 0)) || fail "the game ended with status $status"
}

# start_to_main NAME LIMIT: answers the start-up dialogues. An empty limit
# makes the game choose one and say so.
start_to_main() {
    start_game
    dialog "Come ti chiami?"
    type_text "$1"
    key Return
    dialog "vediamo se sei un vero campione"
    key Return
    dialog "Inserisci il numero più grande"
    key Return
    dialog "Allora arriverò fino al numero?"
    [[ -z $2 ]] || type_text "$2"
    key Return
    if [[ -z $2 ]]; then
        dialog "Allora scelgo io: fino a 100"
        key Return
    fi
    await_main_window
}

