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
# The fuzz targets, whose code has no Qt in it, run 5 s each there rather
# than 20 (VALTRINO_FUZZ_SECONDS).
# Usage: scripts/test-in-debian.sh [SUITE]
set -euo pipefail
source "$(dirname "$0")/common.sh"

suite=${1:-trixie}
cache=${VALTRINO_CHROOT_CACHE:-/var/cache/valtrino-ci}
base=$cache/$suite-base
archives=$cache/$suite-archives
((EUID == 0)) || { echo "$0: making a Debian system needs root" >&2; exit 1; }

# The Debian mirror of apt's own sources, deb822 or one-line.
mirror() {
    local file
    for file in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f $file ]] || continue
        sed -n -e 's/^URIs:[[:space:]]*//p' -e 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?//p' "$file" \
            | awk '{print $1}' | grep -E '/debian/?$' | head -n 1
    done | head -n 1
}

if [[ ! -x $base/usr/bin/apt-get ]]; then
    url=$(mirror)
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
work=$(mktemp -d /tmp/valtrino-"$suite".XXXXXX)
root=$work/root
leave() {
    set +e
    # Whatever still runs in there (a bus, a server) goes first.
    local proc
    for proc in /proc/[0-9]*; do
        [[ $(readlink "$proc/root" 2>/dev/null) == "$root" ]] && kill -KILL "${proc#/proc/}" 2>/dev/null
    done
    sleep 0.5
    umount -R "$root" 2>/dev/null || umount -lR "$root"
    umount "$work/layer" 2>/dev/null || umount -l "$work/layer"
    rm -rf "$work"
}
trap leave EXIT
mkdir -p "$work/layer" "$root"
mount -t tmpfs -o mode=755 tmpfs "$work/layer"
mkdir -p "$work/layer/upper" "$work/layer/work"
mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/layer/upper,workdir=$work/layer/work" "$root"
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
# A /dev of its own: a bind of the host's would let a test's /dev/log
# appear on the host.
mount -t tmpfs -o mode=755 tmpfs "$root/dev"
for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$node"
    mknod -m 666 "$root/dev/$name" c "$major" "$minor"
done
ln -s /proc/self/fd "$root/dev/fd"
ln -s /proc/self/fd/0 "$root/dev/stdin"
ln -s /proc/self/fd/1 "$root/dev/stdout"
ln -s /proc/self/fd/2 "$root/dev/stderr"
mkdir -p "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
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
    bash -c 'cd /root/valtrino && bash scripts/test.sh'
