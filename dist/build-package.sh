#!/usr/bin/env bash
# Builds the Debian package with Debian's own compiler flags (hardening
# included) for the shared record directory, as a teacher installs it.
# Usage: dist/build-package.sh BUILD_DIR [CMAKE ARGS...]
# The package lands in BUILD_DIR.
set -euo pipefail

if (($# < 1)); then
    echo "usage: $0 BUILD_DIR [CMAKE ARGS...]" >&2
    exit 2
fi
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$1
shift

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF "$@"
cmake --build "$build" -j "${VALTRINO_JOBS:-2}"
(cd "$build" && cpack -G DEB)
