#!/usr/bin/env bash
# Renders the game's window on a private X server to docs/screenshot.png,
# with a record on show, for the README.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash "$repo/scripts/setup.sh"
# The test build keeps its records inside itself: seeding a record there
# leaves the players' own untouched.
only_target=valtrino configure_test_build >/dev/null

game=$repo/build/app/valtrino
artifacts=$repo/build
records=$repo/build/game-records
source "$repo/tests/e2e/lib.sh"

mkdir -p "$records" "$repo/docs"
printf '12\r\n' >"$records/punt.txt"
printf 'Niccol\xf2\r\n' >"$records/nom.txt"

start_to_main "Giulia" 100
step="taking the screenshot"
import -window "$main" "$repo/docs/screenshot.png" || fail "no screenshot"
key alt+x
dialog "Ciao a presto..."
key Return
await_exit
say "wrote docs/screenshot.png"
