#!/usr/bin/env bash
# Runs a test as an ordinary user: as root every permission check passes,
# which hides the faults that players meet. Exits 77 (skipped) when that
# user cannot reach the test.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi
player=(setpriv --reuid=65534 --regid=65534 --clear-groups)
if ! "${player[@]}" test -x "$1"; then
    echo "the test binary is out of an ordinary user's reach: $1"
    exit 77
fi
export HOME=/nonexistent
exec "${player[@]}" "$@"
