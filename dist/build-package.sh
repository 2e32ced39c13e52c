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

# The staged install makes its directories through the umask, whatever
# CMake is told; as dpkg-buildpackage does, 022 gives them 755.
umask 022
# Every time stored in the package (rcc's, the archive's) is the commit's,
# or without git the last changelog entry's: rebuilt, it is the same bytes.
if [[ -n ${SOURCE_DATE_EPOCH:-} ]]; then
    : # chosen by the caller, as dpkg-buildpackage does
elif [[ -e $source_dir/.git ]] && command -v git >/dev/null; then
    SOURCE_DATE_EPOCH=$(git -c safe.directory="$source_dir" -C "$source_dir" log -1 --format=%ct)
else
    SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$source_dir/dist/debian/changelog" -STimestamp)
fi
export SOURCE_DATE_EPOCH
# VALTRINO_REPRODUCIBLE maps the source and build paths; dpkg's own map
# covers only the current directory, and none with a blank in it.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all reproducible=-fixfilepath,-fixdebugpath"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DVALTRINO_REPRODUCIBLE=ON "$@"
cmake --build "$build" -j "${VALTRINO_JOBS:-2}"
# libarchive reads the staged files' names through the locale: under C, a
# build directory such as ~/Attività could not be packed.
(cd "$build" && LC_ALL=C.UTF-8 cpack -G DEB)
