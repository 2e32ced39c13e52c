#!/usr/bin/env bash
# The lab mode end to end: a real PostgreSQL server, two PCs each with its
# service and record program, pupils as ordinary accounts, and the faults of
# a school network, a row of the tables below each.
# Usage: lab.sh RECORD_PROGRAM RECORD_DIR LAB_CONF LABD LAB_SQL
# RECORD_PROGRAM was built for RECORD_DIR and LAB_CONF. Needs root; exits 77
# (skipped) without it or without PostgreSQL.
set -uo pipefail
lab_record=$1 lab_record_dir=$2 lab_record_conf=$3 lab_labd=$4 lab_sql=$5
source "$(dirname "$0")/harness.sh"
lab_need
lab_up || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# A game end may wait this much longer than without the lab.
deadline_ms=4000
declare -A verdict_of=([0]=stored [1]=not-higher)
# Each row's claims beat every earlier one, so that the PC hands them over.
score=100

# lab_read PC: the score a game on PC shows at start-up.
lab_read() {
    printf 'read\n' | lab_pc "$1" setpriv --reuid="${lab_pupils[0]}" --regid="$(id -g "${lab_pupils[0]}")" \
        --clear-groups "$lab_work/bin/valtrino-record" | { read -r n _ && head -c "$n"; } | tr -cd 0-9
}
# rows NAME: the history of the claims named NAME, "account score client verdict".
rows() { lab_sql -c "SELECT account, score, host(client), verdict FROM valtrino.history WHERE name = '$1'" 2>/dev/null; }
outbox() { find "$lab_work/pc$1/records/lab/outbox" -type f ! -name '.*' | wc -l; }
# until_ms MS CONDITION: true once CONDITION is, polled for at most MS.
until_ms() {
    local end=$((${EPOCHREALTIME/./} / 1000 + $1))
    until eval "$2"; do
        ((${EPOCHREALTIME/./} / 1000 < end)) || return 1
        sleep 0.1
    done
}
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

# --- Concurrent claims: in each round both PCs end a game at once, above
# everything before; an equal pair is a tie. A PC whose service has just
# seen the other's equal or higher record stored hands nothing over.
echo "== concurrent claims from both PCs"
until_ms 10000 '[[ -s $lab_work/pc1/records/lab/seen && -s $lab_work/pc2/records/lab/seen ]]'
for pair in "10 10" "21 20" "30 31" "40 40" "51 52"; do
    read -r -a offset <<<"$pair"
    pids=()
    for pc in 1 2; do
        claimed=$((score + offset[pc - 1]))
        (lab_claim "$pc" "${lab_pupils[pc - 1]}" "$claimed" "c$claimed-pc$pc"
         echo "$claim_status" >"$lab_work/status$pc") &
        pids+=($!)
    done
    wait "${pids[@]}"
    status=("$(<"$lab_work/status1")" "$(<"$lab_work/status2")")
    for pc in 1 2; do
        mine=$((pc - 1)) other=$((2 - pc)) claimed=$((score + offset[pc - 1]))
        expected="${lab_pupils[mine]} $claimed $lab_net.$((10 + pc)) ${verdict_of[${status[mine]}]:-?}"
        got=$(rows "c$claimed-pc$pc")
        ((status[mine] == 1 && offset[other] >= offset[mine] && status[other] == 0)) && [[ -z $got ]] && continue
        [[ $got == "$expected" ]] || fail "claim $claimed of PC $pc, status ${status[mine]}: history '$got', not '$expected'"
        # The higher of the pair beats everything before it.
        ((offset[mine] > offset[other] && status[mine] != 0)) && fail "claim $claimed of PC $pc was not stored"
    done
    ((offset[0] != offset[1] || status[0] + status[1] == 1)) || fail "tie at $((score + offset[0])): ${status[*]}"
done
got=$(lab_sql -c "SELECT score, name FROM valtrino.record")
[[ $got == "$((score + 52)) c$((score + 52))-pc2" ]] || fail "the lab's record is '$got'"
score=$((score + 100))

# --- A pupil floods the outbox with his own claims (as his record programs,
# started and killed, would leave them); another pupil's claim on the same
# PC is still sent next.
echo "== one pupil's flood, another's claim"
flood=$lab_work/pc1/flood
mkdir "$flood"
for ((i = 1; i <= 600; i++)); do
    id=$(</proc/sys/kernel/random/uuid)
    printf '%s %s %d flood' "$id" "${lab_pupils[0]}" $((score + i)) >"$flood/$id"
done
chown "${lab_pupils[0]}:games" "$flood"/*
chmod 0660 "$flood"/*
mv "$flood"/* "$lab_work/pc1/records/lab/outbox/"
lab_claim 1 "${lab_pupils[1]}" $((score + 1000)) after-flood
((claim_status == 0)) || fail "flood: status $claim_status after $claim_ms ms, not 0 (stored)"
((claim_ms < 700)) || fail "flood: the other pupil's game end took $claim_ms ms"
echo "   the other pupil's claim stored in $claim_ms ms"
until_ms 60000 '[[ $(outbox 1) == 0 ]]' || fail "flood: $(outbox 1) claims left in the outbox"
got=$(lab_sql -c "SELECT count(*) FROM valtrino.history WHERE name = 'flood'")
[[ $got == 600 ]] || fail "flood: $got history rows, not 600"
score=$((score + 1100))

# --- Faults. A claim that reaches the server can be held there, after its
# history row and before the commit, while the test holds an advisory lock.
lab_sql >/dev/null <<'SQL'
CREATE FUNCTION valtrino.test_hold() RETURNS trigger LANGUAGE plpgsql SET lock_timeout = 0
    AS $$BEGIN PERFORM pg_advisory_xact_lock_shared(7); RETURN NULL; END$$;
CREATE TRIGGER test_hold AFTER INSERT ON valtrino.history FOR EACH ROW EXECUTE FUNCTION valtrino.test_hold();
SQL
hold() {
    coproc HOLD { lab_sql 2>&1; }
    echo "SELECT pg_advisory_lock(7); SELECT 'held';" >&"${HOLD[1]}"
    local line
    while read -r -t 5 line <&"${HOLD[0]}"; do [[ $line == held ]] && return 0; done
    return 1
}
release() {
    echo "SELECT pg_advisory_unlock(7);" >&"${HOLD[1]}"
    exec {HOLD[1]}>&-
    wait "$HOLD_PID"
}
held_claim() { [[ $(lab_sql -c "SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'advisory'") == 1 ]]; }

# drop_replies [PC]: the server's packets to PC vanish; without PC, they pass again.
drop_replies() {
    if (($#)); then
        echo "table ip lab_drop { chain out { type filter hook output priority 0; ip daddr $lab_net.$((10 + $1)) drop; }; }" \
            | ip netns exec "$lab_id-srv" nft -f -
    else
        ip netns exec "$lab_id-srv" nft delete table ip lab_drop
    fi
}
# server_with CA: the server restarted with a certificate from CA.
server_with() { lab_server_cert "$1" && lab_pg restart -m fast >/dev/null; }
# The impostor's certificate is fine for a client that trusts its CA.
foreign_accepted() {
    lab_pc 2 env -i psql -X -At "host=$lab_server_name hostaddr=$lab_server_ip port=$lab_port dbname=$lab_db
        user=$lab_pc_role password=$lab_pc_password sslmode=verify-full sslrootcert=$lab_work/tls/foreign-ca.crt" \
        -c 'SELECT 1' >/dev/null
}

# NAME|BEFORE the claim|WHILE it is held in the server|HEAL|STORED before the heal: yes, no or either
faults=(
    "server stopped, then started|lab_pg stop -m immediate||lab_pg start|no"
    "PC silently cut off|lab_link 1 down||lab_link 1 up|no"
    "partition during the claim||lab_link 1 down|lab_link 1 up|either"
    "reply lost after the commit||drop_replies 1|drop_replies|yes"
    "server certificate from another CA|server_with foreign && foreign_accepted||server_with school|no"
)
for row in "${faults[@]}"; do
    IFS='|' read -r name before during heal committed <<<"$row"
    echo "== $name"
    score=$((score + 10)) label=f$score
    if [[ -n $before ]]; then
        eval "$before" >/dev/null || { fail "$name: could not set it up"; continue; }
        lab_claim 1 "${lab_pupils[0]}" "$score" "$label"
    else
        hold || { fail "$name: no lock"; continue; }
        (lab_claim 1 "${lab_pupils[0]}" "$score" "$label"; echo "$claim_status $claim_ms" >"$lab_work/status1") &
        claimer=$!
        until_ms 3000 held_claim || fail "$name: the claim never reached the server"
        eval "$during"
        release
        wait "$claimer"
        read -r claim_status claim_ms <"$lab_work/status1"
    fi
    ((claim_status == 3)) || fail "$name: status $claim_status, not 3 (pending)"
    ((claim_ms <= deadline_ms)) || fail "$name: the game end took $claim_ms ms"
    [[ $(lab_read 1) == "$score" ]] || fail "$name: the PC shows $(lab_read 1), not $score"
    [[ $(outbox 1) == 1 ]] || fail "$name: $(outbox 1) claims in the outbox"
    rows_before=$(rows "$label" | wc -l)
    case $committed in
        yes) until_ms 2000 '[[ -n $(rows "$label") ]]' || fail "$name: the server did not store it" ;;
        no) ((rows_before == 0)) || fail "$name: stored before the heal" ;;
    esac
    eval "$heal" >/dev/null || fail "$name: could not heal"
    healed=$(now_ms)
    until_ms 60000 '[[ $(outbox 1) == 0 ]]' || fail "$name: not delivered within a minute"
    delivered=$(($(now_ms) - healed))
    expected="${lab_pupils[0]} $score $lab_net.11 stored"
    [[ $(rows "$label") == "$expected" ]] || fail "$name: history '$(rows "$label")', not once '$expected'"
    printf '   game end %d ms (pending), delivered %d ms after the heal\n' "$claim_ms" "$delivered"
done
lab_sql -c "DROP TRIGGER test_hold ON valtrino.history; DROP FUNCTION valtrino.test_hold()"

# --- The environment and the home of the service's account, hostile: a
# client that honoured them would go elsewhere, with another password and
# CA, read-only, or refuse the server's certificate as revoked.
echo "== PG* variables, ~/.pgpass, ~/.pg_service.conf and ~/.postgresql/"
tls=$lab_work/tls hostile=$lab_work/home/$lab_daemon_user
cat >"$tls/ca.cnf" <<EOF
[ca]
default_ca = school
[school]
database = $tls/index.txt
certificate = $tls/school-ca.crt
private_key = $tls/school-ca.key
default_md = sha256
default_crl_days = 2
EOF
: >"$tls/index.txt"
mkdir -p "$hostile/.postgresql"
openssl ca -config "$tls/ca.cnf" -revoke "$tls/school-server.crt" 2>/dev/null
openssl ca -config "$tls/ca.cnf" -gencrl -out "$hostile/.postgresql/root.crl" 2>/dev/null
cp "$tls/foreign-ca.crt" "$hostile/.postgresql/root.crt"
cp "$tls/foreign-server.crt" "$hostile/.postgresql/postgresql.crt"
cp "$tls/foreign-server.key" "$hostile/.postgresql/postgresql.key"
echo "*:*:*:*:wrong" >"$hostile/.pgpass"
printf '[lab]\nhost=198.18.0.99\noptions=-c default_transaction_read_only=on\n' >"$hostile/.pg_service.conf"
cp "$hostile/.pg_service.conf" "$hostile/pg_service.conf"
chown -R "$lab_daemon_user" "$hostile"
chmod 0600 "$hostile/.pgpass"
chmod 0644 "$hostile/.postgresql/postgresql.key"
hostile_env=(HOME="$hostile" PGHOST=198.18.0.99 PGHOSTADDR=198.18.0.99 PGPORT=1 PGDATABASE=postgres PGUSER=postgres
    PGPASSWORD=wrong PGSERVICE=lab PGSERVICEFILE="$hostile/.pg_service.conf" PGSYSCONFDIR="$hostile"
    PGSSLMODE=disable PGSSLROOTCERT="$tls/foreign-ca.crt" PGSSLCRL="$hostile/.postgresql/root.crl"
    PGOPTIONS="-c default_transaction_read_only=on" PGTARGETSESSIONATTRS=standby PGGSSENCMODE=require
    PGCONNECT_TIMEOUT=30 PGSSLKEY="$hostile/.postgresql/postgresql.key")
lab_pupil_env=("${hostile_env[@]}")
# The same keywords from a client that lets them count fail.
lab_pc 2 env -i "${hostile_env[@]}" setpriv --reuid="$lab_daemon_user" --regid="$(id -g "$lab_daemon_user")" \
    psql -X -At "host=$lab_server_name hostaddr=$lab_server_ip port=$lab_port dbname=$lab_db user=$lab_pc_role
    password=$lab_pc_password sslmode=verify-full sslrootcert=$tls/school-ca.crt" -c 'SELECT 1' >/dev/null 2>&1 \
    && fail "hostile: a client that reads them is not led astray"
lab_labd_stop 2
lab_labd_start 2 "${hostile_env[@]}"
score=$((score + 10))
lab_claim 2 "${lab_pupils[1]}" "$score" hostile
((claim_status == 0)) || fail "hostile: status $claim_status, not 0 (stored)"
[[ $(rows hostile) == "${lab_pupils[1]} $score $lab_net.12 stored" ]] || fail "hostile: history '$(rows hostile)'"
echo "   stored in $claim_ms ms"
lab_pupil_env=()

# --- The PC role, over the lab's network, may only call the claim function.
echo "== the PC role's own statements"
before=$(lab_sql -c "SELECT score, name FROM valtrino.record")
refusals=(
    "UPDATE valtrino.record SET score = 32767|permission denied"
    "DELETE FROM valtrino.history|permission denied"
    "SELECT valtrino.claim(gen_random_uuid(), 'x', 32768, 'x')|out of"
)
for row in "${refusals[@]}"; do
    got=$(lab_pc 1 env -i psql -X -At "host=$lab_server_name hostaddr=$lab_server_ip port=$lab_port dbname=$lab_db
        user=$lab_pc_role password=$lab_pc_password sslmode=verify-full sslrootcert=$lab_work/tls/school-ca.crt" \
        -c "${row%|*}" 2>&1)
    [[ $got == *ERROR:*"${row#*|}"* ]] || fail "'${row%|*}' gave: $got"
done
[[ $(lab_sql -c "SELECT score, name FROM valtrino.record") == "$before" ]] || fail "the PC role changed the record"

if ((failures)); then
    for pc in 1 2; do echo "--- PC $pc's service"; tail -n 30 "$lab_work/pc$pc/labd.log"; done
    echo "$failures failure(s)"
    exit 1
fi
echo "all rows held"
