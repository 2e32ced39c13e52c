#!/usr/bin/env bash
# Builds the Debian package from debian/, as a school's package repository
# would: installs the build dependencies first (through sudo when not root),
# then runs dpkg-buildpackage. The packages land beside this folder, built
# for the Debian release of this machine.
# Usage: dist/build-package.sh [DPKG-BUILDPACKAGE OPTIONS...]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

need() { echo "$*" >&2; exit 1; }
command -v apt-get >/dev/null || need "This builds on Debian 12 or 13: apt-get is missing"
if ! command -v dpkg-checkbuilddeps >/dev/null || ! dpkg-checkbuilddeps 2>/dev/null; then
    sudo=()
    if ((EUID != 0)); then
        command -v sudo >/dev/null || need "Missing build dependencies: as root, run apt-get build-dep ./ in $PWD, or install sudo"
        sudo=(sudo)
    fi
    echo "Installing the build dependencies"
    apt=(env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=600)
    "${sudo[@]}" "${apt[@]}" update
    "${sudo[@]}" "${apt[@]}" build-dep -y --no-install-recommends ./
fi
command -v dpkg-buildpackage >/dev/null || need "dpkg-buildpackage is missing: install dpkg-dev (sudo apt-get install dpkg-dev)"
dpkg-buildpackage -us -uc -b "$@"

echo "Built for $release_name: $(cd .. && pwd)/valtrino_$(dpkg-parsechangelog -SVersion)_$(dpkg --print-architecture).deb"
