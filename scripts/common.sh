# shellcheck shell=bash
# Shared by the scripts in this folder; sourced, not run.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The release, read once here: Debian 12 or 13, nothing else.
{
    IFS= read -r release_id
    IFS= read -r debian_release
    IFS= read -r release_name
} < <(. /etc/os-release && printf '%s\n' "${ID:-}" "${VERSION_ID:-}" "${PRETTY_NAME:-}")
if [[ $release_id != debian || ! $debian_release =~ ^1[23]$ ]]; then
    echo "Valtrino builds and runs its tests on Debian 12 or 13, not on ${release_name:-this system}." >&2
    exit 1
fi
# Two cores on the target machines; more jobs only swap.
jobs=${VALTRINO_JOBS:-2}

# configure_build DIR [CMAKE ARGS...]: configures and builds DIR under the repo.
# only_target, when set, limits the build to that target.
configure_build() {
    local dir=$repo/$1
    shift
    cmake -S "$repo" -B "$dir" -G Ninja "$@" || return 1
    cmake --build "$dir" -j "$jobs" ${only_target:+--target "$only_target"}
}

# The build that the tests use: its record files live inside it, so the
# end-to-end test may wipe them without touching the players' records. Its
# prefix is the Debian package's, which the package test builds from it.
# The lab service is built too, for the lab test.
configure_test_build() {
    configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=ON \
        -DVALTRINO_RECORD_DIR="$repo/build/game-records" -DVALTRINO_LAB=ON "$@"
}

# What runs below pid: the programs or scripts, by name; pid's own name
# when nothing does.
running_below() {
    local pid=$1 child args names=""
    for child in $(ps -o pid= --ppid "$pid" 2>/dev/null); do
        args=$(ps -o args= -p "$child" 2>/dev/null) || continue
        # shellcheck disable=SC2086 # the words of the command line
        set -- $args
        [[ ${1##*/} == bash || ${1##*/} == sh ]] && shift
        [[ $1 == -* ]] && shift
        names+="${1##*/} "
    done
    printf '%s' "${names:-$(ps -o comm= -p "$pid" 2>/dev/null)}"
}

# heartbeat [--log FILE] WHAT COMMAND...: runs COMMAND, its output into FILE
# if given, and while it runs says every few seconds that WHAT goes on and
# what runs under it, so that a long step never looks hung. Returns
# COMMAND's status. COMMAND runs in the foreground, so that Ctrl-C reaches
# it; the ticker ends when its pipe from this shell closes, however this
# shell ends.
heartbeat() {
    local log="" ticks status shell=$BASHPID
    if [[ $1 == --log ]]; then
        log=$2
        shift 2
    fi
    exec {ticks}> >(tick "$1" "$shell")
    shift
    if [[ -n $log ]]; then
        "$@" >"$log" 2>&1 {ticks}>&-
    else
        "$@" {ticks}>&-
    fi
    status=$?
    exec {ticks}>&-
    return "$status"
}

# tick WHAT PID: heartbeat's ticker, until its input closes.
tick() {
    local what=$1 parent=$2 start=$SECONDS child names
    while true; do
        read -r -t 5 _ || (($? > 128)) || return 0
        names=""
        for child in $(ps -o pid= --ppid "$parent" 2>/dev/null); do
            ((child == BASHPID)) || names+="$(running_below "$child") "
        done
        echo "  ... $what, $((SECONDS - start)) s: $names"
    done
}
