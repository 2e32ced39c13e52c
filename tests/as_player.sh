#!/usr/bin/env bash
# Runs a test as an ordinary user: as root every permission check passes,
# which hides the faults that players meet. The build tree may lie where
# other users cannot enter (a home directory is 0700), so the test program,
# the sanitizers' suppressions and their reports go through a directory of
# their own.
# Usage: as_player.sh TEST_PROGRAM [COMPANION_PROGRAM...]
#   Companions, programs the test starts from its own directory, are copied
#   beside it.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi
player=(setpriv --reuid=65534 --regid=65534 --clear-groups)
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
mkdir "$work/reports"
chown 65534:65534 "$work/reports"
cp "$@" "$work/"
test=$work/$(basename "$1")

# VAR's log_path goes to the player's reports, copied back afterwards; its
# suppressions file is copied where the player can read it.
report_dirs=()
reachable() {
    local var=$1 value=${!1:-} path
    if [[ $value =~ (^|:)log_path=([^:]*) ]]; then
        path=${BASH_REMATCH[2]}
        report_dirs+=("$(basename "$path")=$(dirname "$path")")
        value=${value/log_path=$path/log_path=$work/reports/$(basename "$path")}
    fi
    if [[ $value =~ (^|:)suppressions=([^:]*) ]]; then
        path=${BASH_REMATCH[2]}
        cp "$path" "$work/$var.supp"
        value=${value/suppressions=$path/suppressions=$work/$var.supp}
    fi
    export "$var=$value"
}
for var in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [[ -z ${!var:-} ]] || reachable "$var"
done

export HOME=/nonexistent
status=0
(cd "$work" && "${player[@]}" "$test") || status=$?
for entry in ${report_dirs[@]+"${report_dirs[@]}"}; do
    for report in "$work/reports/${entry%%=*}"*; do
        [[ -f $report ]] && cp "$report" "${entry#*=}/"
    done
done
exit "$status"
