# Shared by the scripts in this folder; sourced, not run.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
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

# What runs below pid: the programs or scripts, by name.
running_below() {
    local child args
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        args=$(ps -o args= -p "$child" 2>/dev/null) || continue
        set -- $args
        [[ $1 == bash || $1 == sh || $1 == */bash ]] && shift
        [[ $1 == -* ]] && shift
        printf '%s ' "${1##*/}"
    done
}

# Where heartbeats go, whatever a caller does with the command's output.
exec 9>&1

# heartbeat WHAT COMMAND...: runs COMMAND and, while it runs, says every
# few seconds that WHAT goes on and what runs under it, so that a long step
# never looks hung. Returns COMMAND's status.
heartbeat() {
    local what=$1 pid start=$SECONDS next
    shift
    "$@" &
    pid=$!
    next=$((SECONDS + 5))
    while kill -0 "$pid" 2>/dev/null; do
        sleep 0.2
        if ((SECONDS >= next)) && kill -0 "$pid" 2>/dev/null; then
            echo "  ... $what, $((SECONDS - start)) s: $(running_below "$pid")" >&9
            next=$((SECONDS + 5))
        fi
    done
    wait "$pid"
}
