#!/usr/bin/env bash
# Plays a game by ear: Orca, the screen reader, runs beside the game on a
# private X server, D-Bus session and accessibility bus. The test hears the
# numeral from Orca, answers wrong, right, and wrong again after a child's
# pause, reads the window with Orca's flat review, and checks what Orca said.
# Usage: orca.sh GAME CLOSER ARTIFACT_DIR
#   CLOSER       program that asks a window to close (tests/e2e/chiudi.cpp);
#                the game ends without comparing or writing the record.
#   ARTIFACT_DIR where Orca's utterances and a failure's screenshot go.
set -euo pipefail

if (($# != 3)); then
    echo "usage: $0 GAME CLOSER ARTIFACT_DIR" >&2
    exit 2
fi
game=$1 closer=$2 artifacts=$3

for tool in orca dbus-daemon dbus-send script; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done
launcher=/usr/libexec/at-spi-bus-launcher
[[ -x $launcher ]] || { echo "missing $launcher: run scripts/setup.sh" >&2; exit 1; }
# Orca refuses to start beside another of the same user, and --replace
# would end the player's own.
if pgrep -u "$(id -u)" -x orca >/dev/null; then
    echo "Orca already runs for this user: skipped" >&2
    exit 77
fi

source "$(dirname "$0")/lib.sh"

bus_pid=""
launcher_pid=""
registry_pid=""
orca_log=$work/orca.log
orca_pid=""
spoken=$artifacts/orca-utterances.txt
rm -f "$spoken"

# pid and every process below it, children first. Services that a bus
# starts on demand are its children.
process_tree() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        process_tree "$child"
    done
    echo "$1"
}

# stop_tree PID: ends PID and all below it, children first, each reaped by
# its own parent before that parent goes; PID itself is ours to reap.
stop_tree() {
    [[ -n $1 ]] || return 0
    local pid deadline
    for pid in $(process_tree "$1"); do
        kill "$pid" 2>/dev/null || continue
        deadline=$((SECONDS + 10))
        while [[ $pid != "$1" && -e /proc/$pid ]] && ((SECONDS < deadline)); do sleep 0.05; done
        [[ $pid != "$1" && -e /proc/$pid ]] && kill -KILL "$pid" 2>/dev/null
    done
    deadline=$((SECONDS + 10))
    while kill -0 "$1" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.05; done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# Asked to stop, Orca says goodbye and writes out the rest of its log.
stop_orca() {
    stop_tree "$orca_pid"
    orca_pid=""
}

stop_everything() {
    stop_orca
    if [[ -f $orca_log ]]; then
        utterances >"$spoken"
        tr -d '\r' <"$orca_log" >"$artifacts/orca-debug.log"
    fi
    if [[ -n $game_pid ]]; then
        kill "$game_pid" 2>/dev/null || true
        wait "$game_pid" 2>/dev/null || true
        game_pid=""
    fi
    if [[ -n $registry_pid ]]; then
        kill "$registry_pid" 2>/dev/null || true
        registry_pid=""
    fi
    stop_tree "$launcher_pid"
    launcher_pid=""
    stop_tree "$bus_pid"
    bus_pid=""
    cleanup
}
trap stop_everything EXIT

# --- A D-Bus session and the accessibility bus of our own. ----------------
step="starting the D-Bus session"
address_known() { [[ -s $work/bus ]] || { kill -0 "$bus_pid" 2>/dev/null || return 2; return 1; }; }
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus" 2>"$work/bus.log" &
bus_pid=$!
within "$patience" address_known || fail "dbus-daemon did not start: $(cat "$work/bus.log")"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
# No speech server, neither a new one nor the caller's: Orca still composes
# every utterance and logs it.
export SPEECHD_CMD=/bin/false SPEECHD_ADDRESS=unix_socket:$work/no-speechd
# Settings in memory: no dconf service outliving the test.
export GSETTINGS_BACKEND=memory
step="starting the accessibility bus"
"$launcher" --launch-immediately 2>"$work/launcher.log" &
launcher_pid=$!
a11y_bus() {
    kill -0 "$launcher_pid" 2>/dev/null || return 2
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null 2>&1 || return 1
}
within "$patience" a11y_bus || fail "at-spi-bus-launcher did not start: $(cat "$work/launcher.log")"
a11y_address=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress | tr -d ' ')
# The bus starts the registry on demand, detached from every process here;
# the bus knows its id.
registry_known() {
    local reply
    reply=$(DBUS_SESSION_BUS_ADDRESS=$a11y_address dbus-send --session --print-reply=literal \
        --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID \
        string:org.a11y.atspi.Registry 2>/dev/null) || return 1
    registry_pid=$(awk '{print $NF}' <<<"$reply")
}

# --- Orca, with defaults: nothing of the caller's settings. ----------------
# Its debug file is block-buffered; written to a terminal it goes out line
# by line, so the test can listen while the game runs.
step="starting Orca"
script -qfec "exec orca --debug-file=/dev/tty" "$orca_log" </dev/null >/dev/null 2>&1 &
orca_pid=$!

# utterances: what Orca has said so far, one a line. Orca 43 logs
# "SPEECH OUTPUT: 'text'None" or "'text'{voice}", Orca 48 "'text' {voice}"
# or "'text' [{voice}]".
utterances() {
    [[ -f $orca_log ]] || return 0
    tr -d '\r' <"$orca_log" | sed -n "s/^.*SPEECH OUTPUT: '//p" \
        | sed -E "s/' *(None|\{.*\}|\[.*\])?\$//; s/ *\$//"
}
# first_after N PATTERN: the first utterance after the first N that
# matches PATTERN (an extended regular expression), as "NUMBER<tab>TEXT".
first_after() {
    utterances | awk -v from="$1" -v pattern="$2" 'NR > from && $0 ~ pattern { print NR "\t" $0; exit }'
}
said() {
    kill -0 "$orca_pid" 2>/dev/null || return 2
    [[ -n $(first_after "$listened" "$1") ]]
}
# hear WHAT PATTERN: waits for Orca to say it, then listens on from there.
# heard is what was said.
listened=0
hear() {
    step="listening for $1"
    within "$patience" said "$2" || fail "Orca did not say $1"
    local found
    found=$(first_after "$listened" "$2")
    listened=${found%%$'\t'*}
    heard=${found#*$'\t'}
    say "heard: $heard"
}
hear "that it is on" '^Screen reader on'
within "$patience" registry_known || fail "the accessibility registry never started"

# value_of NUMERAL: the value of a Roman numeral.
value_of() {
    local numeral=$1 total=0 i value next
    declare -A letter=([I]=1 [V]=5 [X]=10 [L]=50 [C]=100 [D]=500 [M]=1000)
    for ((i = 0; i < ${#numeral}; i++)); do
        value=${letter[${numeral:i:1}]}
        next=0
        ((i + 1 == ${#numeral})) || next=${letter[${numeral:i+1:1}]}
        if ((value < next)); then total=$((total - value)); else total=$((total + value)); fi
    done
    echo "$total"
}

# hear_numeral: the numeral of the question just posed, heard letter by
# letter; sets numeral and value, and adds the numeral to numerals.
numerals=()
hear_numeral() {
    hear "the numeral" '^Numero romano [IVXLCDM]( [IVXLCDM])*\.'
    numeral=$(sed 's/^Numero romano \([IVXLCDM ]*\)\..*$/\1/; s/ //g' <<<"$heard")
    value=$(value_of "$numeral")
    numerals+=("$numeral")
}

# never_said_early FROM WORD: no utterance from the FROM-th on, and before
# the last one heard, holds WORD. Orca's echo of one typed key (a digit of
# the limit) does not count.
never_said_early() {
    local early
    early=$(utterances | sed -n "$1,$((listened - 1))p" | grep -v '^.$' | grep -w -- "$2" || true)
    [[ -z $early ]] || fail "$2 was spoken before the answer: $early"
}

# hear_verdict WHAT VERDICT: the button that takes the focus after an answer
# is heard with the verdict that the window shows, not an older one.
hear_verdict() {
    hear "the verdict on $1" 'Nuovo calcolo (push )?button'
    [[ $heard == "$2 Nuovo calcolo "* ]] || fail "Orca said \"$heard\" where the window shows \"$2\""
}

# never_said_whole NUMERAL: the numeral was only ever spoken letter by letter.
never_said_whole() {
    local whole
    ((${#1} > 1)) || return 0
    whole=$(utterances | grep -w -- "$1" || true)
    [[ -z $whole ]] || fail "the numeral $1 was spoken as a word: $whole"
}

# --- The game, played by ear. -----------------------------------------------
# Each dialogue is answered once Orca has read it, as a player who listens
# would.
start_game
dialog "Come ti chiami?"
hear "the name prompt" '^Come ti chiami\? text'
type_text "Lia"
key Return
dialog "vediamo se sei un vero campione"
hear "the greeting" 'Lia vediamo se sei un vero campione'
key Return
dialog "Inserisci il numero più grande"
hear "the limit's announcement" 'Inserisci il numero più grande'
key Return
dialog "Allora arriverò fino al numero?"
hear "the limit prompt" 'Allora arriverò fino al numero\?'
type_text 99
key Return
await_main_window
step="playing by ear"

# A wrong answer: one more than the numeral's value. Its verdict is the
# first time the value may be heard.
hear_numeral
answer $((value + 1))
hear_verdict "the wrong answer" "Sbagliato!! $value"
never_said_early 1 "$value"

# Enter on the focused button poses the next question; this one is right.
asked_from=$((listened + 1))
key Return
hear_numeral
never_said_early "$asked_from" "$value"
answer "$value"
hear_verdict "the right answer" 'Esatto, è incredibile!!!'

# A child takes seconds over a numeral: longer than Orca 48 keeps an
# object's description (2 s). The verdict must change with the answer.
asked_from=$((listened + 1))
key Return
hear_numeral
never_said_early "$asked_from" "$value"
sleep 3
answer $((value + 1))
hear_verdict "a wrong answer after a while" "Sbagliato!! $value"

# Flat review reads the whole window (keypad plus, twice): the numeral
# letter by letter, and each value with what it is.
key KP_Add KP_Add
hear "the numeral in flat review" "^$(sed 's/./& /g; s/ $//' <<<"$numeral")( |\$)"
hear "the clock in flat review" '^Tempo restante [0-9][0-9]:[0-9][0-9]:[0-9][0-9]$'
hear "the counters in flat review" '^Risposte esatte 1 Risposte errate 2 Risposte totali 3$'
hear "the challenger in flat review" '^Nome dello sfidante Lia$'
# The record's row is one line of the review, or a line for each label once
# they show a record, in either order.
said_since() {
    local from=$1 pattern
    shift
    kill -0 "$orca_pid" 2>/dev/null || return 2
    for pattern; do [[ -n $(first_after "$from" "$pattern") ]] || return 1; done
}
step="listening for the record and its holder in flat review"
within "$patience" said_since "$listened" '(^| )Punteggio del record ' '(^| )Detentore del record ' \
    || fail "Orca did not say the record and its holder"

step="closing the window"
"$closer" "$main" || fail "could not ask the window to close"
await_exit
stop_orca
step="checking what Orca said"
for numeral in "${numerals[@]}"; do never_said_whole "$numeral"; done
say "all heard as expected; Orca's utterances are in $spoken"
