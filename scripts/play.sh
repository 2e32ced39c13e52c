#!/usr/bin/env bash
# Installs what building and playing need, builds the game and starts it.
# Says little beyond errors.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash "$repo/scripts/setup.sh" play
# The tests point the build's records into the build tree; a game played
# for real keeps them in the shared directory (or VALTRINO_RECORD_DIR).
if [[ -n ${VALTRINO_RECORD_DIR:-} ]]; then
    record_arg=(-DVALTRINO_RECORD_DIR="$VALTRINO_RECORD_DIR")
else
    record_arg=(-UVALTRINO_RECORD_DIR)
fi
mkdir -p "$repo/build"
log=$repo/build/play-build.log
echo "Building Valtrino (a minute or two the first time)..."
if ! only_target=valtrino configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    "${record_arg[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    echo "The build failed (above; kept in $log)." >&2
    exit 1
fi
exec "$repo/build/app/valtrino" "$@"
