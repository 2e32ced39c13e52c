#!/usr/bin/env bash
# The lab's SQL on a throw-away server: the rules a PC's claims meet.
# Usage: sql.sh LAB_SQL SETUP     (skipped, 77, without pg_virtualenv)
set -euo pipefail
export VALTRINO_LAB_SQL=$(realpath "$1") PSQL=psql
setup=$(realpath "$2")
command -v pg_virtualenv >/dev/null || { echo "no pg_virtualenv: skipped"; exit 77; }
# -t: a cluster of its own in a temporary folder, even as root.
[[ ${VALTRINO_IN_PG:-} ]] || exec pg_virtualenv -t -o fsync=off env VALTRINO_IN_PG=1 "$0" "$@"

"$setup" 198.18.0.0/24 <<<"it's" >/dev/null
# A second run keeps everything but the password.
"$setup" 198.18.0.0/24 <<<pc | grep -qx 'hostssl valtrino valtrino_pc 198.18.0.0/24 scram-sha-256'
psql -qX -d valtrino -c "CREATE ROLE teacher LOGIN PASSWORD 't' IN ROLE valtrino_teacher"

u1=11111111-1111-4111-8111-111111111111
u2=22222222-2222-4222-8222-222222222222
u3=33333333-3333-4333-8333-333333333333
# ROLE|SQL|EXPECTED: what psql prints (-At), or "ERROR: text" for a refusal.
rows=(
    "valtrino_pc|SELECT valtrino.claim('$u1', 'pupil1', 5, 'Anna')|stored"
    "valtrino_pc|SELECT valtrino.claim('$u2', 'pupil2', 5, 'Bruno')|not-higher"
    "valtrino_pc|SELECT valtrino.claim('$u1', 'pupil1', 5, 'Anna')|stored"
    "valtrino_pc|SELECT valtrino.claim('$u3', 'pupil2', 4, 'Bruno')|not-higher"
    "valtrino_pc|SELECT * FROM valtrino.current()|5|Anna"
    "valtrino_pc|SELECT valtrino.claim(gen_random_uuid(), 'p', 32768, 'X')|ERROR: out of 0..32767"
    "valtrino_pc|SELECT valtrino.claim(gen_random_uuid(), 'p', 9, repeat('x', 32768))|ERROR: too long"
    "valtrino_pc|UPDATE valtrino.record SET score = 9|ERROR: permission denied"
    "valtrino_pc|SELECT count(*) FROM valtrino.history|ERROR: permission denied"
    "valtrino_pc|SELECT valtrino.reset()|ERROR: permission denied"
    "teacher|SELECT account, score, verdict FROM valtrino.claims|pupil1|5|stored
pupil2|5|not-higher
pupil2|4|not-higher"
    "teacher|SELECT host(client) IS NOT NULL FROM valtrino.claims LIMIT 1|t"
    "teacher|DELETE FROM valtrino.claims|ERROR: permission denied"
    "admin|DELETE FROM valtrino.history|ERROR: append-only"
    "admin|SELECT valtrino.reset()|"
    "admin|SELECT valtrino.erase_history()|"
    "teacher|SELECT count(*) FROM valtrino.claims|0"
    "valtrino_pc|SELECT * FROM valtrino.current()|0|"
)
failed=0
for row in "${rows[@]}"; do
    role=${row%%|*} query=${row#*|}
    expected=${query#*|} query=${query%%|*}
    case $role in
        admin) got=$(psql -X -At -d valtrino -c "$query" 2>&1) || true ;;
        *) got=$(PGPASSWORD=$([[ $role == teacher ]] && echo t || echo pc) \
               psql -X -At -h 127.0.0.1 -U "$role" -d valtrino -c "$query" 2>&1) || true ;;
    esac
    if [[ $expected == ERROR:* ]]; then
        [[ $got == *ERROR:*"${expected#ERROR: }"* ]] && continue
    else
        [[ $got == "$expected" ]] && continue
    fi
    echo "FAIL as $role: $query"$'\n'"  expected: $expected"$'\n'"  got: $got"
    failed=1
done
exit $failed
