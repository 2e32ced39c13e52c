#!/usr/bin/env bash
# Runs the test command again in a fresh minimal Debian of the given release
# (trixie, Debian 13, by default), made with debootstrap from the mirror that
# apt uses here: the suite installs everything it needs there itself, as on
# a new machine. Runs as root. It tests the commit checked out (a clone of
# it), not uncommitted changes.
#
# debootstrap's result and the packages apt downloads are kept in
# VALTRINO_CHROOT_CACHE (/var/cache/valtrino-ci); each run starts from an
# untouched copy of that system, in memory, and leaves nothing behind.
# unshare rather than systemd-nspawn, which wants cgroups of its own that a
# CI container does not give, or mmdebstrap, which makes the system anew
# from the packages on each run where an overlay on the cached one costs
# nothing: unshare is util-linux's, on every Debian.
# The fuzz targets, whose code has no Qt in it, run 5 s each there rather
# than 20 (VALTRINO_FUZZ_SECONDS).
# A COMMAND given runs there instead of the test command.
# Usage: scripts/test-in-debian.sh [SUITE [COMMAND...]]
set -euo pipefail
source "$(dirname "$0")/common.sh"

suite=${1:-trixie}
shift || true
command=("$@")
((${#command[@]})) || command=(bash scripts/test.sh)
cache=${VALTRINO_CHROOT_CACHE:-/var/cache/valtrino-ci}
base=$cache/$suite-base
archives=$cache/$suite-archives
((EUID == 0)) || { echo "$0: making a Debian system needs root" >&2; exit 1; }

# Every process started below, and every mount, lives in namespaces of this
# run: when it ends, however it ends, the kernel ends the processes and the
# mounts go. The work directory outside them is then empty folders.
if [[ -z ${VALTRINO_NAMESPACE_WORK:-} ]]; then
    work=$(mktemp -d /tmp/valtrino-"$suite".XXXXXX)
    trap 'rm -rf "$work"' EXIT
    VALTRINO_NAMESPACE_WORK=$work unshare --mount --pid --fork --mount-proc --kill-child \
        bash "$0" "$suite" "${command[@]}"
    exit
fi
work=$VALTRINO_NAMESPACE_WORK

if [[ ! -x $base/usr/bin/apt-get ]]; then
    # The mirror apt uses here.
    # shellcheck disable=SC2016 # apt's own fields
    url=$(apt-get indextargets --format '$(REPO_URI)' 'Created-By: Packages' 'Label: Debian' | head -n 1)
    url=${url:-http://deb.debian.org/debian}
    command -v debootstrap >/dev/null \
        || { echo "Installing debootstrap"; apt-get -qq -o DPkg::Lock::Timeout=600 install -y debootstrap >/dev/null; }
    mkdir -p "$cache"
    made=$(mktemp -d "$cache/$suite-base.XXXXXX")
    chmod 755 "$made"
    echo "=== Making a minimal Debian $suite from $url (kept in $base)"
    heartbeat --log "$made.log" "debootstrap" debootstrap --variant=minbase "$suite" "$made" "$url" \
        || { cat "$made.log"; rm -rf "$made"; exit 1; }
    rm -f "$made.log"
    mv "$made" "$base"
fi
mkdir -p "$archives/partial"

# A fresh system: the cached one below, every change in memory above.
root=$work/root
mkdir -p "$work/layer" "$root"
mount -t tmpfs -o mode=755 tmpfs "$work/layer"
mkdir -p "$work/layer/upper" "$work/layer/work"
mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/layer/upper,workdir=$work/layer/work" "$root"
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
# debootstrap's /dev, in memory like the rest: a test's /dev/log stays here.
mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
ln -sf pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
mount -t tmpfs -o mode=755 tmpfs "$root/run"
cp /etc/resolv.conf /etc/hosts "$root/etc/"
mount --bind "$archives" "$root/var/cache/apt/archives"

git clone --quiet "$repo" "$root/root/valtrino"
echo "=== The test command in a fresh Debian $suite"
chroot "$root" chown _apt:root /var/cache/apt/archives/partial
chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 CI="${CI:-}" VALTRINO_JOBS="$jobs" VALTRINO_FUZZ_SECONDS="${VALTRINO_FUZZ_SECONDS:-5}" \
    bash -c 'cd /root/valtrino && exec "$@"' bash "${command[@]}"
