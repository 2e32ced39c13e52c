#!/usr/bin/env bash
# Installs the Debian packages needed to build and play Valtrino, and with
# "test" those needed to test it too. Works on Debian 12 and Debian 13.
# Nothing is asked and apt is skipped entirely when all are present.
# Usage: scripts/setup.sh [play|test]   (default: test)
set -euo pipefail

purpose=${1:-test}
case $purpose in
    play | test) ;;
    *) echo "usage: $0 [play|test]" >&2; exit 2 ;;
esac

# Debian 13 moved Liberation Sans Narrow out of fonts-liberation, and names
# clang's runtime without its version.
release=$(. /etc/os-release && echo "${VERSION_ID:-}")
if [[ $release == 12 ]]; then
    narrow_font=fonts-liberation
    clang_runtime=libclang-rt-14-dev
else
    narrow_font=fonts-liberation-sans-narrow
    clang_runtime=libclang-rt-dev
fi

packages=(
    build-essential g++ cmake ninja-build
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
    fonts-liberation "$narrow_font" fonts-lato
)
if [[ $purpose == test ]]; then
    packages+=(
        # A headless X server, its window manager, keystrokes, screenshots;
        # a Wayland compositor with XWayland.
        xvfb xauth openbox xdotool x11-utils imagemagick weston xwayland qt6-wayland
        # The test played by ear: the screen reader and its buses.
        orca at-spi2-core dbus-daemon dbus-bin procps
        # The installed files, the Debian package and its rebuild.
        git desktop-file-utils appstream librsvg2-bin libxml2-utils dpkg-dev groff-base lintian debhelper autopkgtest
        # The fuzz targets: clang's libFuzzer and sanitizer runtimes.
        clang "$clang_runtime"
        # The lab mode: a throw-away PostgreSQL server with a test CA; for
        # its network test, PCs in network namespaces and packets that vanish.
        postgresql postgresql-common openssl libpq-dev iproute2 nftables
    )
fi

# Plasma's compositor tells an XWayland window that it was minimised, which
# weston never does; without its recommends it is small. Debian 13's only.
lean=()
if [[ $purpose == test && $release != 12 ]]; then
    lean=(kwin-wayland)
fi

# absent PACKAGE...: those not installed.
absent() {
    local package status
    for package; do
        status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
        [[ $status == "install ok installed" ]] || echo "$package"
    done
}
mapfile -t missing < <(absent "${packages[@]}")
mapfile -t lean_missing < <(absent "${lean[@]}")
if ((${#missing[@]} + ${#lean_missing[@]} == 0)); then
    exit 0
fi
missing_all=("${missing[@]}" "${lean_missing[@]}")

echo "Installing ${#missing_all[@]} Debian packages: ${missing_all[*]}"
sudo=()
if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "Run as root or install sudo: missing ${missing_all[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
# Another installation may be under way; wait for it rather than fail.
apt=(apt-get -qq -o DPkg::Lock::Timeout=600)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
install() {
    ((${#@} > 1)) || return 0
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y "$@" >>"$log" 2>&1
}
if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${apt[@]}" update >"$log" 2>&1 \
    || ! install --install-recommends "${missing[@]}" || ! install --no-install-recommends "${lean_missing[@]}"; then
    cat "$log" >&2
    echo "Installing the packages failed (above)." >&2
    exit 1
fi
