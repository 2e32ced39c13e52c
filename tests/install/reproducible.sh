#!/usr/bin/env bash
# Builds the binary packages twice with dpkg-buildpackage, from two clones of
# the committed source, under conditions that must not matter: another
# directory (longer, with a blank) on another file system (a tmpfs where
# there is one), umask, locale, time zone, number of jobs, and the tests at
# build time run or not (nocheck). The two sets of packages must be the
# same bytes; if not, diffoscope shows where they differ.
# Usage: reproducible.sh SOURCE_DIR
set -euo pipefail

if (($# != 1)); then
    echo "usage: $0 SOURCE_DIR" >&2
    exit 2
fi
source_dir=$(cd "$1" && pwd)
skip() { echo "SKIPPED: $*"; exit 77; }
for tool in git dpkg-buildpackage dpkg-checkbuilddeps dh cmp; do
    command -v "$tool" >/dev/null || skip "missing $tool: run scripts/setup.sh"
done
git -c safe.directory="$source_dir" -C "$source_dir" rev-parse --verify -q HEAD >/dev/null \
    || skip "$source_dir is not a git clone with a commit"

work=$(mktemp -d)
# The second build on another file system: a package must not carry the
# size that one file system gives a directory.
elsewhere=$work
[[ $(stat -f -c %T /dev/shm 2>/dev/null) == tmpfs && -w /dev/shm ]] && elsewhere=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$work" "$elsewhere"' EXIT
say() { echo "[reproducible] $*"; }

# clone DIR: the committed HEAD only, so that uncommitted files do not count.
clone() {
    mkdir -p "$(dirname "$1")"
    git -c safe.directory="$source_dir" clone -q --no-hardlinks "$source_dir" "$1"
}
first=$work/a/valtrino
far="$elsewhere/una cartella dal nome più lungo"
second="$far/con spazi/valtrino"
other_locale=C
locale -a 2>/dev/null | grep -qix 'it_IT.utf-\?8' && other_locale=it_IT.UTF-8
(cd "$source_dir" && dpkg-checkbuilddeps) 2>&1 || skip "the build dependencies are missing: run scripts/setup.sh"

# Side by side: one package build takes about two minutes on two cores, and
# the two then also finish at different times. dpkg-buildpackage takes the
# time from the changelog and writes the packages beside each clone.
say "building in $first and in '$second'"
(umask 022 && clone "$first" && cd "$first" && env -u SOURCE_DATE_EPOCH -u DEB_BUILD_OPTIONS -u LC_ALL \
    LANG=C.UTF-8 TZ=UTC dpkg-buildpackage -us -uc -b -j2) >"$work/first.log" 2>&1 &
first_pid=$!
(umask 077 && clone "$second" && cd "$second" && env -u SOURCE_DATE_EPOCH DEB_BUILD_OPTIONS=nocheck \
    LANG="$other_locale" LC_ALL="$other_locale" TZ=XYZ-14 dpkg-buildpackage -us -uc -b -j1) >"$work/second.log" 2>&1 &
second_pid=$!
failed=""
wait "$first_pid" || failed+=" first"
wait "$second_pid" || failed+=" second"
for log in $failed; do
    tail -n 30 "$work/$log.log" >&2
done
[[ -z $failed ]] || { echo "FAILED: the package build failed:$failed" >&2; exit 1; }

differ=""
packages=0
for a in "$(dirname "$first")"/*.deb; do
    b="$(dirname "$second")/$(basename "$a")"
    packages=$((packages + 1))
    if cmp "$a" "$b"; then
        say "the same package, $(basename "$a"), $(stat -c %s "$a") bytes: $(sha256sum <"$a" | cut -d' ' -f1)"
    else
        differ+=" $a"
    fi
done
((packages >= 2)) || { echo "FAILED: no valtrino and valtrino-dbgsym packages" >&2; exit 1; }
[[ -n $differ ]] || exit 0

# Where they differ, file by file, as diffoscope unpacks them.
echo "FAILED: the packages differ:$differ" >&2
for a in $differ; do
    if command -v diffoscope >/dev/null; then
        diffoscope --text - --max-report-size 200000 "$a" "$(dirname "$second")/$(basename "$a")" >&2 || true
    else
        echo "diffoscope (package diffoscope-minimal, which scripts/setup.sh installs) would show where" >&2
    fi
done
# The pictures drawn for the resources, before they are built in.
diff -rq "$first"/obj-*/assets/pictures "$second"/obj-*/assets/pictures >&2 || true
exit 1
