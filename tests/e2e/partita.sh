#!/usr/bin/env bash
# Plays short games against the real program on a private X server, typing
# as a player would, and checks the record files byte for byte.
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

say "all games played as expected"
