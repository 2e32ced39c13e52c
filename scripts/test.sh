#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test headless: first
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the plain build,
# whose CTest summary closes the output.
set -uo pipefail
source "$(dirname "$0")/common.sh"

bash "$repo/scripts/setup.sh" || exit 1
# CI has no terminal; ctest and the games need none.
exec </dev/null

status=0

# --- Sanitizers. Reports go to files, so that one in a child process whose
# exit status a test ignores still fails the run.
asan=$repo/build-asan
configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVALTRINO_SANITIZE=ON \
    -DVALTRINO_RECORD_DIR="$asan/game-records" || exit 1
reports=$asan/sanitizer-reports
rm -rf "$reports" && mkdir -p "$reports"
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
    ctest --output-on-failure -j "$jobs" -LE '^package$'
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
bash "$repo/fuzz/run.sh" 20 || status=1

# --- The plain build, last.
configure_test_build || exit 1
cd "$repo/build" && ctest --output-on-failure -j "$jobs" || status=1
exit "$status"
