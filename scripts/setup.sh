#!/usr/bin/env bash
# Installs the Debian packages needed to build, play and test Valtrino.
# Nothing is asked and apt is skipped entirely when all are present.
set -euo pipefail

packages=(
    build-essential g++ cmake ninja-build
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
    fonts-liberation fonts-lato
    # Only for the tests: a headless X server, its window manager,
    # keystrokes, screenshots.
    xvfb xauth openbox xdotool x11-utils imagemagick
    # Only for the test played by ear: the screen reader and its buses.
    orca at-spi2-core dbus-daemon dbus-bin procps
    # Only for the tests of the installed files and of the Debian package.
    desktop-file-utils appstream librsvg2-bin libxml2-utils dpkg-dev groff-base lintian debhelper autopkgtest
    # Only for the fuzz targets: clang's libFuzzer and sanitizer runtimes.
    clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "Run as root or install sudo: missing ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
# Another installation may be under way; wait for it rather than fail.
apt=(apt-get -q -o DPkg::Lock::Timeout=600)
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${apt[@]}" update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y "${missing[@]}"
