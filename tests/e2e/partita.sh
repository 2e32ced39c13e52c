#!/usr/bin/env bash
# Plays short games against the real program on a private X server, typing
# as a player would, and checks the record files byte for byte; then starts
# it with no display to open.
# Usage: partita.sh GAME RECORD_DIR CLOSER ARTIFACT_DIR
#   RECORD_DIR  the directory the game was built to keep its records in;
#               its punt.txt and nom.txt are deleted first.
#   CLOSER      program that asks a window to close (tests/e2e/chiudi.cpp).
#   ARTIFACT_DIR where a screenshot of the screen goes when a step fails.
set -euo pipefail

if (($# != 4)); then
    echo "usage: $0 GAME RECORD_DIR CLOSER ARTIFACT_DIR" >&2
    exit 2
fi
game=$1 records=$2 closer=$3 artifacts=$4

source "$(dirname "$0")/lib.sh"

# expect_file NAME PRINTF-FORMAT: the record file holds exactly these bytes.
expect_file() {
    printf "$2" >"$work/expected"
    if ! cmp -s "$work/expected" "$records/$1"; then
        echo "expected $1:" >&2
        od -c "$work/expected" >&2
        echo "found:" >&2
        od -c "$records/$1" >&2 || true
        fail "$1 does not hold the expected bytes"
    fi
}

# Only the two record files are there, and the lock once a record was
# written: no temporary copy is left behind.
expect_only_record_files() {
    local found
    found=$(cd "$records" && ls -A | tr '\n' ' ')
    [[ $found == "nom.txt punt.txt " || $found == ".lock nom.txt punt.txt " ]] \
        || fail "record directory holds: $found"
    # The lock file that a record write makes is closed to other users.
    [[ ! -e $records/.lock || $(stat -c %a "$records/.lock") == 660 ]] || fail "lock file mode: $(stat -c %a "$records/.lock")"
}

# With a limit of 2 every question is I, so 1 is always right.
play_three_right_one_wrong() {
    answer 1 Return
    answer 1 alt+n # the button's mnemonic poses the next question too
    answer 7 Return
    answer 1
}

quit_game() {
    key alt+x
    dialog "Ciao a presto..."
    key Return
}

# click_answer_box: a click into the answer box, below the menu bar.
click_answer_box() {
    xdotool mousemove --window "$main" 540 85 click 1
}

# refused_without_display MESSAGE [VARIABLE=VALUE...]: the game, started
# with no display it can open, says MESSAGE on standard error, nothing else,
# and ends with status 1. The caller checks that no record was touched.
refused_without_display() {
    local expected=$1 status=0
    shift
    step="starting the game without a display${*:+ ($*)}"
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE "$@" "$game" \
        >"$work/no-display.out" 2>"$work/no-display.err" </dev/null || status=$?
    ((status == 1)) || fail "the game ended with status $status: $(cat "$work/no-display.err")"
    [[ $(cat "$work/no-display.err") == "$expected" && ! -s $work/no-display.out ]] \
        || fail "the game said: $(cat "$work/no-display.out" "$work/no-display.err")"
}

mkdir -p "$records"
rm -f "$records/punt.txt" "$records/nom.txt" "$records"/punt.txt.* "$records"/nom.txt.*

# --- 1. First game ever: the files are made empty, then hold the record. ---
say "game 1: first record"
start_to_main "Niccolò" 2
[[ -f $records/punt.txt && ! -s $records/punt.txt ]] || fail "punt.txt was not created empty"
[[ -f $records/nom.txt && ! -s $records/nom.txt ]] || fail "nom.txt was not created empty"
play_three_right_one_wrong
quit_game
dialog "Ok ho registrato il tuo record"
key Return
await_exit
step="checking the record of game 1"
expect_file punt.txt '3\r\n'
expect_file nom.txt 'Niccol\xf2\r\n'
expect_only_record_files

# --- 2. The record is shown; closing the window ends with no write. --------
say "game 2: closing the window"
start_to_main "Anna" ""
step="taking a screenshot of the main window"
import -window "$main" "$artifacts/e2e-record.png" || fail "no screenshot"
step="closing the main window"
"$closer" "$main" || fail "could not ask the window to close"
await_exit
step="checking the records after game 2"
expect_file punt.txt '3\r\n'
expect_file nom.txt 'Niccol\xf2\r\n'

# --- 3. Equalling the record does not take it. -----------------------------
say "game 3: equalling the record"
start_to_main "Anna" 2
play_three_right_one_wrong
quit_game
await_exit
step="checking the records after game 3"
expect_file punt.txt '3\r\n'
expect_file nom.txt 'Niccol\xf2\r\n'

# --- 4. A record of 10 beats 3, though "10" sorts before "3" as text. ------
say "game 4: below an older record"
printf '10\r\n' >"$records/punt.txt"
printf 'Ugo\r\n' >"$records/nom.txt"
start_to_main "Bruno" 2
play_three_right_one_wrong
quit_game
await_exit
step="checking the records after game 4"
expect_file punt.txt '10\r\n'
expect_file nom.txt 'Ugo\r\n'

# --- 5. Enter after a scored answer poses the next question, once the ------
# focus is back in the answer box by Tab or by a click: the answer counts once.
# From here on a window manager runs, as on a player's desktop.
say "game 5: Enter after the answer, back in the answer box"
start_window_manager
rm -f "$records/punt.txt" "$records/nom.txt"
start_to_main "Rita" 2
answer 1 # right: the focus goes to Nuovo calcolo
key Tab
pose_next Return
answer 7 # wrong
click_answer_box
pose_next Return
quit_game
dialog "Ok ho registrato il tuo record"
key Return
await_exit
step="checking the records after game 5"
expect_file punt.txt '1\r\n'
expect_file nom.txt 'Rita\r\n'

# --- 6. No display: an Italian word, and the records untouched. ------------
say "no display"
refused_without_display "Valtrino ha bisogno di un desktop grafico: nessuno schermo trovato."
# A display named, with no server behind it.
for ((free = 90; ; free++)); do
    [[ -e /tmp/.X11-unix/X$free || -e /tmp/.X$free-lock ]] || break
done
refused_without_display "Valtrino ha bisogno di un desktop grafico: lo schermo :$free non risponde." DISPLAY=":$free"
step="checking the records after the starts without a display"
expect_file punt.txt '1\r\n'
expect_file nom.txt 'Rita\r\n'
[[ ! -e $XDG_DATA_HOME/valtrino ]] || fail "the game made $XDG_DATA_HOME/valtrino"

say "all games played as expected"
