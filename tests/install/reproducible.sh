#!/usr/bin/env bash
# Builds the Debian package twice from two clones of the committed source,
# under conditions that must not matter: another directory (longer, with a
# blank), umask, locale, time zone and number of jobs. The two packages must
# be the same bytes; if not, names the files inside that differ.
# Usage: reproducible.sh SOURCE_DIR
set -euo pipefail

if (($# != 1)); then
    echo "usage: $0 SOURCE_DIR" >&2
    exit 2
fi
source_dir=$(cd "$1" && pwd)
skip() { echo "SKIPPED: $*"; exit 77; }
for tool in git cmake ninja cpack dpkg-buildflags dpkg-deb dpkg-shlibdeps cmp ar; do
    command -v "$tool" >/dev/null || skip "missing $tool: run scripts/setup.sh"
done
git -c safe.directory="$source_dir" -C "$source_dir" rev-parse --verify -q HEAD >/dev/null \
    || skip "$source_dir is not a git clone with a commit"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
say() { echo "[reproducible] $*"; }

# clone DIR: the committed HEAD only, so that uncommitted files do not count.
clone() {
    mkdir -p "$(dirname "$1")"
    git -c safe.directory="$source_dir" clone -q --no-hardlinks "$source_dir" "$1"
}
first=$work/a
first_build=$first/build-deb
far="$work/una cartella dal nome più lungo"
second="$far/con spazi/valtrino"
second_build="$far/build fuori dai sorgenti"
other_locale=C
locale -a 2>/dev/null | grep -qix 'it_IT.utf-\?8' && other_locale=it_IT.UTF-8

# Side by side: one package build takes about a minute on two cores, and the
# two then also finish at different times. Each takes its time from its
# clone's commit.
say "building in $first and in '$second'"
(umask 022 && clone "$first" && cd "$first" && env -u SOURCE_DATE_EPOCH -u LC_ALL LANG=C.UTF-8 TZ=UTC VALTRINO_JOBS=2 \
    bash dist/build-package.sh "$first_build") >"$work/first.log" 2>&1 &
first_pid=$!
(umask 077 && clone "$second" && cd "$work" && env -u SOURCE_DATE_EPOCH LANG="$other_locale" LC_ALL="$other_locale" TZ=XYZ-14 \
    VALTRINO_JOBS=1 bash "$second/dist/build-package.sh" "$second_build") >"$work/second.log" 2>&1 &
second_pid=$!
failed=""
wait "$first_pid" || failed+=" first"
wait "$second_pid" || failed+=" second"
for log in $failed; do
    tail -n 30 "$work/$log.log" >&2
done
[[ -z $failed ]] || { echo "FAILED: the package build failed:$failed" >&2; exit 1; }

a=$(find "$first_build" -maxdepth 1 -name 'valtrino_*.deb')
b=$(find "$second_build" -maxdepth 1 -name 'valtrino_*.deb')
[[ -n $a && -n $b ]] || { echo "FAILED: cpack made no valtrino_*.deb" >&2; exit 1; }
if cmp "$a" "$b"; then
    say "the same package, $(basename "$a"), $(stat -c %s "$a") bytes: $(sha256sum <"$a" | cut -d' ' -f1)"
    exit 0
fi

# Which files differ, in content or in the archive's modes, owners and times.
echo "FAILED: the two packages differ" >&2
for side in a b; do
    deb=${!side}
    dpkg-deb -R "$deb" "$work/unpacked-$side"
    dpkg-deb -c "$deb" >"$work/listing-$side"
    mkdir "$work/ar-$side" && (cd "$work/ar-$side" && ar x "$deb")
done
for member in "$work"/ar-a/*; do
    cmp -s "$member" "$work/ar-b/$(basename "$member")" || echo "differs: the archive member $(basename "$member")" >&2
done
diff -rq "$work/unpacked-a" "$work/unpacked-b" \
    | sed -E "s|^Files $work/unpacked-a(/.*) and .* differ\$|differs: \1|; s|$work/unpacked-||" >&2 || true
diff "$work/listing-a" "$work/listing-b" >&2 || true
# Before stripping, and the pictures drawn for the resources.
for file in app/valtrino records/valtrino-record; do
    cmp -s "$first_build/$file" "$second_build/$file" || echo "differs in the build trees: $file" >&2
done
diff -rq "$first_build/assets/pictures" "$second_build/assets/pictures" >&2 || true
if command -v diffoscope >/dev/null; then
    diffoscope --text - --max-report-size 200000 "$a" "$b" >&2 || true
fi
exit 1
