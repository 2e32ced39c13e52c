#!/usr/bin/env bash
# A lab of 30 PCs ends a game at the same instant, round after round, each
# PC with a better score than any before: every claim must reach the server,
# the record must be the highest, and the slowest game end (the record
# program's wall time, as the game waits for it) should take at most 300 ms.
# The lab is tests/lab/harness.sh's: a real PostgreSQL server and each PC
# in a network namespace of its own, with its own record directory and
# service. Prints the figures; exits 1 when a claim went astray or the goal
# is missed. Needs root.
#
# Usage: bench/lab.sh [BUILD_DIR]     (default: build-bench-lab in the repository)
#   LAB_PCS=30   PCs
#   ROUNDS=5     rounds measured, after one warm-up round
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build-bench-lab}
rounds=${ROUNDS:-5}
goal_ms=300
# The record program's folders, fixed when it is built.
base=/var/tmp/valtrino-lab-bench
lab_pcs=${LAB_PCS:-30}
lab_record=$build/valtrino-record-lab lab_labd=$build/game/lab/valtrino-labd
lab_record_dir=$base/records lab_record_conf=$base/lab.conf lab_sql=$repo/lab/lab.sql
source "$repo/tests/lab/harness.sh"
lab_need

lab_say "building in $build"
mkdir -p "$build"
{ cmake -S "$repo/bench" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVALTRINO_LAB=ON \
    -DVALTRINO_LAB_BENCH_DIR="$base" && cmake --build "$build" -j 2 --target valtrino-record-lab valtrino-labd; } \
    >"$build/bench-lab-build.log" 2>&1 || { tail -n 40 "$build/bench-lab-build.log" >&2; exit 1; }

lab_say "starting the server and $lab_pcs PCs"
lab_up || exit 1
# Each service reads the lab's record once it runs: then it is ready.
for _ in $(seq 300); do
    (($(ls "$lab_work"/pc*/records/lab/seen 2>/dev/null | wc -l) == lab_pcs)) && break
    sleep 0.1
done

# round N: every PC ends a game at once; PC p claims N*100+p. Prints
# "pc status ms" lines.
round() {
    local pc go=$lab_work/go out=$lab_work/round$1 pids=()
    mkdir -p "$out"
    rm -f "$go" && mkfifo -m 0644 "$go"
    # Held open for reading and writing: every PC blocks in its read until
    # it is closed.
    exec 7<>"$go"
    for ((pc = 1; pc <= lab_pcs; pc++)); do
        lab_pc "$pc" env -i GO="$go" READY="$out/ready.$pc" SCORE=$(($1 * 100 + pc)) PC="$pc" \
            PUPIL="${lab_pupils[pc % 2]}" GID="$(id -g "${lab_pupils[pc % 2]}")" RECORD="$lab_work/bin/valtrino-record" \
            bash -c 'exec 3<"$GO"; : >"$READY"; read -r -u 3 _
                start=$EPOCHREALTIME
                printf "record\n%s\nPC %s" "$SCORE" "$PC" | setpriv --reuid="$PUPIL" --regid="$GID" --clear-groups \
                    "$RECORD" >/dev/null 2>&1
                status=$?
                echo "$PC $status $(((${EPOCHREALTIME/./} - ${start/./}) / 1000))"' >"$out/$pc" 7<&- &
        pids+=($!)
    done
    for _ in $(seq 200); do (($(ls "$out" | grep -c '^ready') == lab_pcs)) && break; sleep 0.05; done
    sleep 0.2
    exec 7>&-
    wait "${pids[@]}"
    cat "$out"/[0-9]*
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# check N LINES: every claim of round N answered and in the history once,
# with the verdict its PC was told; the record the round's highest.
check() {
    local pc status ms got
    while read -r pc status ms; do
        [[ $status == 0 || $status == 1 ]] || fail "round $1, PC $pc: status $status"
        got=$(lab_sql -c "SELECT verdict, host(client) FROM valtrino.history WHERE score = $(($1 * 100 + pc))")
        # A service that has just seen a higher record stored lets nothing out.
        [[ $status == 1 && -z $got ]] && ((pc < lab_pcs)) && continue
        [[ $got == "$([[ $status == 0 ]] && echo stored || echo not-higher) $lab_net.$((10 + pc))" ]] \
            || fail "round $1, PC $pc (status $status): history '$got'"
    done <<<"$2"
    got=$(lab_sql -c "SELECT score FROM valtrino.record")
    ((got == $1 * 100 + lab_pcs)) || fail "round $1: the record is $got"
}

# stats LINES: the slowest and the median game end, in ms.
stats() { awk '{print $3}' <<<"$1" | sort -n | awk '{v[NR] = $1} END {print v[NR], v[int((NR + 1) / 2)]}'; }

lab_say "warm-up round"
lines=$(round 1)
check 1 "$lines"
read -r warm_max warm_median <<<"$(stats "$lines")"
all=""
for ((r = 2; r <= rounds + 1; r++)); do
    lab_say "round $((r - 1)) of $rounds"
    lines=$(round "$r")
    check "$r" "$lines"
    read -r max median <<<"$(stats "$lines")"
    printf 'round %d: slowest %d ms, median %d ms, stored %d of %d\n' "$((r - 1))" "$max" "$median" \
        "$(grep -c ' 0 ' <<<"$lines")" "$lab_pcs"
    all+=$lines$'\n'
done
read -r max median <<<"$(stats "${all%$'\n'}")"
rows=$(lab_sql -c "SELECT count(*) FROM valtrino.history")
((rows == lab_pcs * (rounds + 1))) || fail "$rows history rows, not $((lab_pcs * (rounds + 1)))"

echo
echo "$lab_pcs PCs ending a game at once, $rounds rounds after a warm-up ($warm_max ms slowest, $warm_median ms median):"
printf '%-32s %8s %8s %s\n' "slowest game end" "$max ms" "<= $goal_ms" "$( ((max <= goal_ms)) && echo ok || echo MISSED)"
echo "median game end: $median ms; history rows: $rows"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), PostgreSQL" \
    "$("$lab_pgbin/postgres" --version | awk '{print $3}'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
((max <= goal_ms)) || fail "the slowest game end took $max ms"
((failures == 0)) || { echo "$failures failure(s)"; exit 1; }
echo "all claims arrived, goal met"
