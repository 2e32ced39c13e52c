#!/usr/bin/env bash
# Sets up a set-group-id copy of the record helper, as `cmake --install`
# does, and two ordinary accounts, then runs the attacks test against it.
# Usage: attacks.sh [--installed] TEST_PROGRAM HELPER RECORD_DIR LOG_SOCKET
# HELPER was built for RECORD_DIR; both lie in a directory of their own,
# which this script makes and removes. With --installed, HELPER and
# RECORD_DIR are a real installation's, used as they are. Needs root.
set -euo pipefail
installed=0
if [[ $1 == --installed ]]; then
    installed=1
    shift
fi
test_program=$1 helper=$2 records=$3 log=$4
[[ $(id -u) == 0 ]] || { echo "attacks: needs root" >&2; exit 77; }
getent group games >/dev/null || { echo "attacks: no group games" >&2; exit 77; }

base=$(dirname "$records")
made_pupils=()
cleanup() {
    ((installed)) || rm -rf "$base"
    for pupil in ${made_pupils[@]+"${made_pupils[@]}"}; do
        userdel "$pupil" 2>/dev/null || true
    done
}
trap cleanup EXIT

for pupil in pupil1 pupil2; do
    if ! getent passwd "$pupil" >/dev/null; then
        useradd --system --no-create-home --shell /usr/sbin/nologin "$pupil"
        made_pupils+=("$pupil")
    fi
    if id -nG "$pupil" | grep -qw games; then
        echo "attacks: $pupil is in the games group" >&2
        exit 1
    fi
done

if ((!installed)); then
    rm -rf "$base"
    install -d -m 0755 "$base"
    install -d -o root -g games -m 2770 "$records"
    install -o root -g games -m 2755 "$helper" "$base/valtrino-record"
    # chown clears the group bit on some systems: set it last.
    chmod 2755 "$base/valtrino-record"
    helper=$base/valtrino-record
fi

cd /
ATTACK_HELPER=$helper ATTACK_DIR=$records ATTACK_LOG=$log ATTACK_PUPILS=pupil1:pupil2 "$test_program"
