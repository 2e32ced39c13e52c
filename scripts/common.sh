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
configure_test_build() {
    configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
        -DVALTRINO_RECORD_DIR="$repo/build/game-records" "$@"
}
