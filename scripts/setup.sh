#!/usr/bin/env bash
# Installs the Debian packages needed to build and play Valtrino, and with
# "test" those needed to test it too. Building needs what debian/control
# names (apt-get build-dep); this adds what playing or testing needs.
# Nothing is asked and apt is skipped entirely when all are present.
# Usage: scripts/setup.sh [play|test]   (default: test)
set -euo pipefail
source "$(dirname "$0")/common.sh"

purpose=${1:-test}
case $purpose in
    play | test) ;;
    *) echo "usage: $0 [play|test]" >&2; exit 2 ;;
esac

# Debian 13 moved Liberation Sans Narrow out of fonts-liberation, and names
# clang's runtime without its version.
if ((debian_release == 12)); then
    narrow_font=fonts-liberation
    clang_runtime=libclang-rt-14-dev
else
    narrow_font=fonts-liberation-sans-narrow
    clang_runtime=libclang-rt-dev
fi

# The fonts the package depends on.
packages=(fonts-liberation "$narrow_font" fonts-lato)
if [[ $purpose == test ]]; then
    packages+=(
        # A headless X server, its window manager, keystrokes, screenshots;
        # a Wayland compositor with XWayland.
        xvfb xauth openbox xdotool x11-utils imagemagick weston xwayland qt6-wayland
        # The test played by ear: the screen reader and its buses.
        orca at-spi2-core dbus-daemon dbus-bin procps
        # The installed files, the Debian package and its rebuild.
        git desktop-file-utils appstream librsvg2-bin libxml2-utils groff-base lintian autopkgtest
        diffoscope-minimal
        # The fuzz targets: clang's libFuzzer and sanitizer runtimes.
        clang "$clang_runtime"
        # The lab mode: a throw-away PostgreSQL server with a test CA; for
        # its network test, PCs in network namespaces and packets that vanish.
        postgresql postgresql-common openssl iproute2 nftables
    )
    # Plasma's compositor tells an XWayland window that it was minimised,
    # which weston never does. Debian 13's only.
    ((debian_release == 12)) || packages+=(kwin-wayland)
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
build_deps=1
if command -v dpkg-checkbuilddeps >/dev/null && (cd "$repo" && dpkg-checkbuilddeps 2>/dev/null); then
    build_deps=0
fi
((${#missing[@]} + build_deps)) || exit 0

wanted=("${missing[@]}")
((build_deps)) && wanted+=("the build dependencies")
echo "Installing: ${wanted[*]}"
sudo=()
if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "Run as root or install sudo: missing ${wanted[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
# Another installation may be under way; wait for it rather than fail.
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -qq -o DPkg::Lock::Timeout=600)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! "${apt[@]}" update >"$log" 2>&1 \
    || { ((build_deps)) && ! "${apt[@]}" build-dep -y --no-install-recommends "$repo" >>"$log" 2>&1; } \
    || { ((${#missing[@]})) && ! "${apt[@]}" install -y --no-install-recommends "${missing[@]}" >>"$log" 2>&1; }; then
    cat "$log" >&2
    echo "Installing the packages failed (above)." >&2
    exit 1
fi
