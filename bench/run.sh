#!/usr/bin/env bash
# Measures the game against the floor program, in turn (floor, game, floor,
# game ...) on a private X server, and again maximised on a 3840 x 2160
# screen under a window manager, for their memory; then the cost of posing
# one question and of the record write through the helper.
# Prints medians and the game-to-floor ratios beside their goals.
#
# Usage: bench/run.sh [BUILD_DIR]     (default: build-bench in the repository)
#   STARTUP_PAIRS=21   floor/game pairs started to their first dialogue,
#                      after one warm-up pair
#   PAIRS=7            floor/game pairs played to their main window and
#                      left idle
#   IDLE_SECONDS=10    how long each idle window is watched
#   LARGE_PAIRS=5      floor/game pairs maximised on the large screen
# Needs: cmake ninja-build qt6-base-dev libx11-dev xvfb xdotool imagemagick
# openbox.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build-bench}
pairs=${PAIRS:-7}
startup_pairs=${STARTUP_PAIRS:-21}
idle=${IDLE_SECONDS:-10}
large_pairs=${LARGE_PAIRS:-5}

for tool in cmake ninja Xvfb xdotool import openbox; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

say() { echo "[bench] $*" >&2; }

say "building in $build"
mkdir -p "$build"
cmake -S "$repo/bench" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVALTRINO_RECORD_DIR="$build/records" >"$build/bench-configure.log" 2>&1 \
    || { cat "$build/bench-configure.log" >&2; exit 1; }
cmake --build "$build" -j 2 >"$build/bench-build.log" 2>&1 || { tail -n 40 "$build/bench-build.log" >&2; exit 1; }

game=$build/game/app/valtrino
floor=$build/floor
watch=$build/mapwatch

# Keys and windows must never reach the caller's own display.
unset DISPLAY
work=$(mktemp -d)
xvfb_pid=""
watch_pid=""
pid=""
large_pid=""
openbox_pid=""
large_xvfb_pid=""
cleanup() {
    [[ -n $watch_pid ]] && kill "$pid" "$watch_pid" 2>/dev/null
    [[ -n $large_pid ]] && kill "$large_pid" 2>/dev/null
    [[ -n $openbox_pid ]] && kill "$openbox_pid" 2>/dev/null
    [[ -n $large_xvfb_pid ]] && kill "$large_xvfb_pid" 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# start_xvfb SCREEN NAME: starts an X server on a free display, whose number
# it writes to $work/NAME.display; sets xvfb_started to its pid.
start_xvfb() {
    Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "$1" 3>"$work/$2.display" 2>"$work/$2.log" &
    xvfb_started=$!
    for _ in $(seq 150); do
        [[ -s $work/$2.display ]] && break
        kill -0 "$xvfb_started" 2>/dev/null || { cat "$work/$2.log" >&2; return 1; }
        sleep 0.1
    done
    [[ -s $work/$2.display ]] || { echo "Xvfb did not start" >&2; return 1; }
}
start_xvfb 1280x1024x24 xvfb
xvfb_pid=$xvfb_started
export DISPLAY=":$(tr -dc 0-9 <"$work/xvfb.display")"
say "X server on $DISPLAY"

# Both programs see the same fresh home and nothing of the caller's session.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
export XDG_DATA_HOME=$work/home/.local/share XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_SCALE_FACTOR QT_FONT_DPI QT_QPA_PLATFORMTHEME

# next_map: reads the watcher's next line into map_window, map_ms, map_rss
# and map_cpu.
next_map() {
    local tag
    read -r -t 30 -u "${WATCH[0]}" tag map_window map_ms map_rss map_cpu \
        || { echo "no window was mapped" >&2; return 1; }
    [[ $tag == map ]] || { echo "unexpected watcher line: $tag" >&2; return 1; }
}

# focus WINDOW: waits for Qt to give its new window the keyboard focus, as
# it does without a window manager; gives it when it does not.
focus() {
    local i
    for i in $(seq 100); do
        [[ $(xdotool getwindowfocus 2>/dev/null) == "$1" ]] && return 0
        ((i == 40)) && xdotool windowfocus --sync "$1" 2>/dev/null
        sleep 0.02
    done
    echo "window $1 never got the focus" >&2
    return 1
}

type_into() { focus "$1" && { [[ -z $2 ]] || xdotool type --delay 20 -- "$2"; } && xdotool key Return; }

# usage PID: CPU ticks (utime + stime, all threads), context switches of all
# threads (voluntary + nonvoluntary) and on-CPU nanoseconds of all threads.
usage() {
    local ticks switches ns
    ticks=$(sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}')
    switches=$(cat "/proc/$1"/task/*/status | awk '/^(non)?voluntary_ctxt_switches/ {s += $2} END {print s}')
    ns=$(cat "/proc/$1"/task/*/schedstat | awk '{s += $1} END {printf "%d", s}')
    echo "$ticks $switches $ns"
}

# start NAME MAPS: starts NAME (floor or game) under the watcher; sets pid.
start() {
    local tag
    local -a program
    case $1 in
    floor) program=("$floor") ;;
    game) program=("$game") ;;
    esac
    coproc WATCH { exec "$watch" "$2" "${program[@]}" 2>>"$work/watch.log"; }
    watch_pid=$WATCH_PID
    read -r -t 30 -u "${WATCH[0]}" tag pid || { echo "the watcher did not start $1" >&2; return 1; }
}

stop() {
    kill "$pid"
    wait "$watch_pid" 2>/dev/null || true
    watch_pid=""
}

# measure_startup NAME: prints startup_ms rss_kB cpu_ms at the first dialogue.
measure_startup() {
    start "$1" 1
    next_map
    stop
    echo "$map_ms $map_rss $map_cpu"
}

# The game's caret blinks until the player has typed nothing for this long
# after the first question, then rests.
caret_rest=10

# measure_idle NAME: plays NAME to its main window, which is then watched
# for $idle seconds while the caret still blinks, and again for $idle seconds
# once it rests; prints cpu_ticks ctx_switches cpu_ms for each.
measure_idle() {
    local begin thinking resting
    if [[ $1 == game ]]; then
        start game 5
        next_map; type_into "$map_window" Anna # Come ti chiami?
        next_map; type_into "$map_window" "" # vediamo se sei un vero campione
        next_map; type_into "$map_window" "" # Inserisci il numero più grande
        next_map; type_into "$map_window" 100 # Allora arriverò fino al numero?
    else
        start floor 2
        next_map; type_into "$map_window" Anna
    fi
    next_map # the main window
    sleep 1 # its first paint and question are not idling
    begin=$(usage "$pid")
    sleep "$idle"
    thinking=$(usage "$pid")
    # That was 1 + $idle s after the main window; resting starts a second
    # after the caret has rested.
    local until_rest=$((caret_rest - idle))
    ((until_rest > 0)) && sleep "$until_rest"
    resting=$(usage "$pid")
    sleep "$idle"
    echo "$(difference "$begin" "$thinking") $(difference "$resting" "$(usage "$pid")")"
    stop
}

# difference BEFORE AFTER: what usage counted in between.
difference() {
    local b_ticks b_switches b_ns a_ticks a_switches a_ns
    read -r b_ticks b_switches b_ns <<<"$1"
    read -r a_ticks a_switches a_ns <<<"$2"
    echo "$((a_ticks - b_ticks)) $((a_switches - b_switches)) $(((a_ns - b_ns) / 1000000))"
}

mkdir -p "$build/records"
say "start-up: one warm-up pair, then $startup_pairs pairs"
measure_startup floor >/dev/null
measure_startup game >/dev/null
: >"$work/floor.startup" && : >"$work/game.startup"
for _ in $(seq "$startup_pairs"); do
    measure_startup floor >>"$work/floor.startup"
    measure_startup game >>"$work/game.startup"
done

: >"$work/floor.idle" && : >"$work/game.idle"
for pair in $(seq "$pairs"); do
    say "idle: pair $pair of $pairs"
    measure_idle floor >>"$work/floor.idle"
    measure_idle game >>"$work/game.idle"
done

# --- Maximised on a large screen, on an X server of its own. A window
# manager maximises each main window, as a player would with its shortcut.
large_width=3840
start_xvfb "${large_width}x2160x24" large-xvfb
large_xvfb_pid=$xvfb_started
export DISPLAY=":$(tr -dc 0-9 <"$work/large-xvfb.display")"
cat >"$work/openbox.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <keyboard>
    <keybind key="W-Up"><action name="Maximize"/></keybind>
  </keyboard>
</openbox_config>
XML
openbox --sm-disable --config-file "$work/openbox.xml" >"$work/openbox.log" 2>&1 &
openbox_pid=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    kill -0 "$openbox_pid" 2>/dev/null || { cat "$work/openbox.log" >&2; exit 1; }
    sleep 0.1
done
say "large screen on $DISPLAY, with openbox"

# await_window PATTERN: waits for a window of the program $large_pid named
# PATTERN that was not seen before; sets window.
seen_windows=" "
await_window() {
    local id
    for _ in $(seq 300); do
        for id in $(xdotool search --all --onlyvisible --pid "$large_pid" --name "$1" 2>/dev/null); do
            if [[ $seen_windows != *" $id "* ]]; then
                seen_windows+="$id "
                window=$id
                return 0
            fi
        done
        sleep 0.05
    done
    echo "no window $1 appeared" >&2
    return 1
}

# size_of WINDOW: sets WIDTH and HEIGHT.
size_of() { eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"; }

# corner WINDOW: the colour of a pixel near its bottom-right corner.
corner() {
    size_of "$1"
    import -window "$1" -crop "1x1+$((WIDTH - 8))+$((HEIGHT - 8))" -depth 8 txt:- 2>/dev/null | tail -n 1
}

# measure_large NAME: plays NAME to its main window and maximises it; the
# game then poses a question at that size. Prints RSS_kB WIDTHxHEIGHT.
measure_large() {
    local main before
    seen_windows=" "
    if [[ $1 == game ]]; then
        "$game" >>"$work/large.log" 2>&1 &
        large_pid=$!
        await_window '^Valtrino$' && type_into "$window" Anna
        await_window '^Valtrino$' && type_into "$window" ""
        await_window '^Valtrino$' && type_into "$window" ""
        await_window '^Valtrino$' && type_into "$window" 100
        await_window '^Valtrino Settembre 2022$'
    else
        "$floor" >>"$work/large.log" 2>&1 &
        large_pid=$!
        await_window '^Valtrino$' && type_into "$window" Anna
        await_window '^Floor$'
    fi
    main=$window
    focus "$main"
    xdotool key super+Up
    for _ in $(seq 100); do
        size_of "$main"
        ((WIDTH == large_width)) && break
        sleep 0.05
    done
    ((WIDTH == large_width)) || { echo "$1 was not maximised" >&2; return 1; }
    sleep 0.5
    if [[ $1 == game ]]; then
        # A wrong answer enables the button, and its mnemonic poses the next
        # question, whose bands reach the far corner.
        before=$(corner "$main")
        xdotool type -- 1 && xdotool key Return alt+n
        for _ in $(seq 100); do
            [[ $(corner "$main") != "$before" ]] && break
            sleep 0.05
        done
        [[ $(corner "$main") != "$before" ]] || { echo "no question was posed maximised" >&2; return 1; }
    fi
    sleep 1
    size_of "$main"
    echo "$(awk '/^VmRSS:/ {print $2}' "/proc/$large_pid/status") ${WIDTH}x$HEIGHT"
    kill "$large_pid"
    wait "$large_pid" 2>/dev/null || true
    large_pid=""
}

: >"$work/floor.large" && : >"$work/game.large"
for pair in $(seq "$large_pairs"); do
    say "large screen: pair $pair of $large_pairs"
    measure_large floor >>"$work/floor.large"
    measure_large game >>"$work/game.large"
done
kill "$openbox_pid" "$large_xvfb_pid"
wait "$openbox_pid" "$large_xvfb_pid" 2>/dev/null || true
openbox_pid="" large_xvfb_pid=""
export DISPLAY=":$(tr -dc 0-9 <"$work/xvfb.display")"

# median FILE COLUMN
median() {
    awk -v c="$2" '{print $c}' "$1" | sort -g | awk '{v[NR] = $1} END {
        if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo
echo "Start-up runs, floor | game (ms to the first dialogue, RSS kB, CPU ms):"
paste -d'|' "$work/floor.startup" "$work/game.startup" | sed 's/|/ | /' | column -t
echo "Idle runs, floor | game (CPU ticks, context switches, CPU ms over ${idle} s; caret blinking, then resting):"
paste -d'|' "$work/floor.idle" "$work/game.idle" | sed 's/|/ | /' | column -t
echo "Maximised runs, floor | game (RSS kB, window size):"
paste -d'|' "$work/floor.large" "$work/game.large" | sed 's/|/ | /' | column -t
echo
printf '%-34s %10s %10s %7s %8s\n' "median" floor game ratio goal
fails=0
# row LABEL FILE_SUFFIX COLUMN GOAL
row() {
    local label=$1 f g ratio verdict=""
    f=$(median "$work/floor.$2" "$3")
    g=$(median "$work/game.$2" "$3")
    # Both nothing counts as even; the floor's nothing against something does not.
    ratio=$(awk -v f="$f" -v g="$g" 'BEGIN {if (f > 0) printf "%.2f", g / f; else if (g == 0) print "1.00"; else print "-"}')
    if [[ -n $4 ]]; then
        if awk -v r="$ratio" -v goal="$4" 'BEGIN {exit !(r != "-" && r <= goal)}'; then
            verdict=ok
        else
            verdict=MISSED fails=$((fails + 1))
        fi
    fi
    printf '%-34s %10s %10s %7s %8s %s\n' "$label" "$f" "$g" "$ratio" "${4:+<= $4}" "$verdict"
}
row "start-up to first dialogue (ms)" startup 1 1.15
row "RSS at first dialogue (kB)" startup 2 1.3
row "CPU to first dialogue (ms)" startup 3 ""
row "caret blinking: CPU (ticks)" idle 1 ""
row "caret blinking: CPU (ms)" idle 3 ""
row "caret blinking: context switches" idle 2 ""
# Ticks are 10 ms: over a second or two of them, the ratio says nothing.
row "idle at rest: CPU (ticks)" idle 4 ""
row "idle at rest: CPU (ms)" idle 6 1.5
row "idle at rest: context switches" idle 5 1.5
row "maximised 3840 x 2160: RSS (kB)" large 1 1.10

say "posing a question (offscreen, 3840 x 2160 screen)"
cat >"$work/screen.json" <<'EOF'
{ "screens": [ { "name": "bench", "x": 0, "y": 0, "width": 3840, "height": 2160,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1 } ] }
EOF
"$build/bench_question" -platform "offscreen:configfile=$work/screen.json" -median 5 \
    -o "$work/question.csv,csv" -o "$work/question.txt,txt" >/dev/null 2>&1 || {
    grep -v propagateSizeHints "$work/question.txt" >&2
    exit 1
}
echo
printf '%-40s %12s %8s\n' "posing a question (median of 5)" "ms" goal
question_row() {
    local label=$1 function=$2 tag=$3 goal=$4 ms verdict=""
    ms=$(awk -F, -v f="\"$function\"" -v t="\"$tag\"" '$1 == f && $2 == t {print $4}' "$work/question.csv")
    if [[ -n $goal ]]; then
        if awk -v v="$ms" -v goal="$goal" 'BEGIN {exit !(v != "" && v <= goal)}'; then
            verdict=ok
        else
            verdict=MISSED fails=$((fails + 1))
        fi
    fi
    printf '%-40s %12s %8s %s\n' "$label" "${ms:-?}" "${goal:+<= $goal}" "$verdict"
}
question_row "cmdNext_Click at 632 x 434" question 632x434 1
question_row "cmdNext_Click at 3840 x 2160" question 3840x2160 5
question_row "cmdNext_Click + repaint at 632 x 434" questionShown 632x434 1
question_row "cmdNext_Click + repaint at 3840 x 2160" questionShown 3840x2160 5

say "the record files: in the process and through the helper"
"$build/bench_record" -platform offscreen -median 5 \
    -o "$work/record.csv,csv" -o "$work/record.txt,txt" >/dev/null 2>&1 || {
    grep -v propagateSizeHints "$work/record.txt" >&2
    exit 1
}
echo
printf '%-40s %10s %10s %10s %8s\n' "record files, ms (median of 5)" "in process" helper added goal
record_row() {
    local label=$1 function=$2 goal=$3 own helper added verdict=""
    own=$(awk -F, -v f="\"$function\"" '$1 == f && $2 == "\"in process\"" {print $4}' "$work/record.csv")
    helper=$(awk -F, -v f="\"$function\"" '$1 == f && $2 == "\"helper\"" {print $4}' "$work/record.csv")
    added=$(awk -v h="$helper" -v o="$own" 'BEGIN {if (h == "" || o == "") print "?"; else printf "%.2f", h - o}')
    if [[ -n $goal ]]; then
        # The goal is the whole time the game waits for the helper.
        if awk -v v="${helper:-?}" -v goal="$goal" 'BEGIN {exit !(v != "?" && v <= goal)}'; then
            verdict=ok
        else
            verdict=MISSED fails=$((fails + 1))
        fi
    fi
    printf '%-40s %10.3f %10.3f %10s %8s %s\n' "$label" "${own:-0}" "${helper:-0}" "$added" "${goal:+<= $goal}" "$verdict"
}
record_row "game end: record stored" recordWrite 10
record_row "game end: score not higher" notHigher 10
record_row "start-up: creation step and reading" creation 10
record_row "record stored, 5,000 dead pairs left" recordAfterLeftovers 100
sed -n 's/.*leftovers: /    the dead pairs: /p' "$work/record.txt"

echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')," \
    "$(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo), load average $(cut -d' ' -f1-3 /proc/loadavg)"
((fails == 0)) || { echo "$fails goal(s) missed"; exit 1; }
echo "all goals met"
