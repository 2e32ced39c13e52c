#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test headless: first
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the plain build,
# whose CTest summary closes the output. Long steps say every few seconds
# what they are doing.
set -uo pipefail
source "$(dirname "$0")/common.sh"

step() { echo "=== $* ($release_name)"; }

step "Installing what building and testing need"
heartbeat "installing packages" bash "$repo/scripts/setup.sh" test || exit 1
# CI has no terminal; ctest and the games need none.
exec </dev/null

status=0

# quietly DIR COMMAND...: builds DIR, keeping the compiler's output in
# DIR/build.log; shows it all on a failure, and any warning anyway.
quietly() {
    local dir=$repo/$1
    shift
    mkdir -p "$dir"
    heartbeat --log "$dir/build.log" "building ${dir##*/}" "$@" || { cat "$dir/build.log"; return 1; }
    grep -A3 'warning:' "$dir/build.log" || true
}

# --- Sanitizers. Reports go to files, so that one in a child process whose
# exit status a test ignores still fails the run.
step "Building with AddressSanitizer and UndefinedBehaviorSanitizer"
asan=$repo/build-asan
quietly build-asan configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVALTRINO_SANITIZE=ON \
    -DVALTRINO_RECORD_DIR="$asan/game-records" || exit 1
reports=$asan/sanitizer-reports
rm -rf "$reports" && mkdir -p "$reports"
step "Testing the sanitizer build"
(
    cd "$asan" || exit 1
    # GCC 12's runtime guesses the bounds of a library's thread-local block
    # from the bytes before it, and its leak check then crashes reading them
    # whenever glibc happens to place the block 16 bytes into a page
    # (libjpeg's, say). Unwatched, those blocks stay ordinary heap memory
    # that the leak check still follows.
    export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:intercept_tls_get_addr=0:log_path=$reports/asan"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
    export LSAN_OPTIONS="suppressions=$repo/tests/lsan.supp:print_suppressions=0"
    # Packaging tests check files, not code: once, in the plain build.
    heartbeat "testing build-asan" ctest --output-on-failure -j "$jobs" -LE '^package$'
) || status=1
if compgen -G "$reports/*" >/dev/null; then
    echo "Sanitizer reports:"
    for report in "$reports"/*; do
        echo "=== $report"
        cat "$report"
    done
    status=1
fi

# --- Fuzzing, a bounded time for each target.
step "Fuzzing"
heartbeat "fuzzing" bash "$repo/fuzz/run.sh" "${VALTRINO_FUZZ_SECONDS:-20}" || status=1

# --- The plain build, last.
step "Building and testing the plain build"
quietly build configure_test_build || exit 1
cd "$repo/build" && heartbeat "testing build" ctest --output-on-failure -j "$jobs" || status=1
exit "$status"
