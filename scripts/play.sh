#!/usr/bin/env bash
# Installs what is missing, builds the game and starts it.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash "$repo/scripts/setup.sh"
# The tests point the build's records into the build tree; a game played
# for real keeps them in the shared directory (or VALTRINO_RECORD_DIR).
if [[ -n ${VALTRINO_RECORD_DIR:-} ]]; then
    record_arg=(-DVALTRINO_RECORD_DIR="$VALTRINO_RECORD_DIR")
else
    record_arg=(-UVALTRINO_RECORD_DIR)
fi
only_target=valtrino configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${record_arg[@]}"
exec "$repo/build/app/valtrino" "$@"
