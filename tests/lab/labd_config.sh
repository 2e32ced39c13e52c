#!/usr/bin/env bash
# valtrino-labd refuses a configuration it cannot take whole, before it
# opens any socket. Usage: labd_config.sh VALTRINO_LABD
set -uo pipefail
labd=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/records/lab/outbox" "$work/records/lab/verdicts"
whole="host = lab
hostaddr = 192.0.2.1
port = 5432
dbname = valtrino
user = valtrino_pc
password = p = q
sslrootcert = /nonexistent
records = $work/records"

# NAME|CONFIGURATION (\n for line ends)|STATUS|TEXT EXPECTED ON STANDARD ERROR
rows=(
    "unknown key|${whole//$'\n'/\\n}\nservice = evil|1|:9: not a known"
    "line without =|${whole//$'\n'/\\n}\nsslmode disable|1|:9: not a known"
    "no password|${whole//$'\n'/\\n}\npassword =|1|no password"
    "no lab folder|${whole//$'\n'/\\n}\nrecords = $work/none|1|none: "
    "read by everyone|${whole//$'\n'/\\n}|0|readable by everyone"
)
failed=0
for row in "${rows[@]}"; do
    IFS='|' read -r name text status expected <<<"$row"
    printf '%b\n' "$text" >"$work/lab.conf"
    chmod 644 "$work/lab.conf"
    # A whole configuration runs until stopped: half a second is enough.
    timeout -s TERM 0.5 "$labd" --config "$work/lab.conf" 2>"$work/err" </dev/null
    got=$?
    [[ $got == 124 ]] && got=0
    if [[ $got != "$status" ]] || ! grep -q -- "$expected" "$work/err"; then
        echo "FAIL $name: status $got, standard error:"; cat "$work/err"
        failed=1
    fi
done
"$labd" --records /tmp 2>/dev/null; [[ $? == 2 ]] || { echo "FAIL: an unknown option is not a usage error"; failed=1; }
exit $failed
