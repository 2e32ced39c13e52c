#!/usr/bin/env bash
# Installs the build into a staging directory, as a package build does, and
# checks what a desktop needs: the program, a menu entry that finds it, the
# software-centre data, the icons at every size. Then installs for real into
# a private prefix as a user who is not root: that must only warn.
# Usage: install_tree.sh BUILD_DIR APP_ID
set -euo pipefail

if (($# != 2)); then
    echo "usage: $0 BUILD_DIR APP_ID" >&2
    exit 2
fi
build=$1 id=$2
for tool in cmake identify compare rsvg-convert appstreamcli xmllint groff; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 \
    || { cat "$work/install.log" >&2; echo "FAILED: cmake --install" >&2; exit 1; }
share=$stage/usr/share

# --- The programs: plain mode in a staged install; the group bit is for
# the package to set, never a setgid file in a package's data. The game is
# a game's program; the record helper is private to it.
program=$stage/usr/games/valtrino
helper=$stage/usr/lib/games/valtrino/valtrino-record
for file in "$program" "$helper"; do
    if [[ ! -x $file ]]; then
        fail "no program at ${file#"$stage"/}"
    elif [[ $(stat -c %a "$file") != 755 ]]; then
        fail "staged ${file#"$stage"/} has mode $(stat -c %a "$file"), not 755"
    fi
done
[[ ! -e $stage/usr/bin/valtrino ]] || fail "a program in usr/bin: a game's goes in usr/games"
# What Debian asks of every package: a manual page for the program, the
# copyright and the changelog, compressed without a time stamp.
for file in usr/share/man/man6/valtrino.6 usr/share/doc/valtrino/changelog.gz usr/share/doc/valtrino/copyright; do
    [[ -f $stage/$file ]] || fail "no $file"
done
if [[ -f $stage/usr/share/man/man6/valtrino.6 ]]; then
    grep -q '^\.TH VALTRINO 6 ' "$stage/usr/share/man/man6/valtrino.6" || fail "valtrino.6 is no section 6 page"
    warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$stage/usr/share/man/man6/valtrino.6" 2>&1)
    [[ -z $warnings ]] || fail "the manual page has warnings: $warnings"
fi
# Nothing may land outside the prefix: the record directory is made at
# installation time, not shipped.
outside=$(cd "$stage" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[[ -z $outside ]] || fail "installed outside /usr: $outside"

# --- The menu entry: found by its id, starts the installed program, names
# an icon that the theme holds.
desktop=$share/applications/$id.desktop
if [[ ! -f $desktop ]]; then
    fail "no $id.desktop in share/applications"
else
    entry() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
    exec_line=$(entry Exec)
    # The path is the configured prefix's; the package test runs it.
    [[ $exec_line == /*/games/valtrino ]] || fail "Exec is '$exec_line', not the installed game's path"
    [[ $(entry Icon) == "$id" ]] || fail "Icon is '$(entry Icon)', not $id"
    [[ $(entry Categories) == "Education;Game;" ]] || fail "Categories is '$(entry Categories)'"
    [[ -n $(entry Comment) ]] || fail "no Comment"
fi

# --- Icons: every size is really that size.
for size in 16 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/$id.png
    if [[ ! -f $png ]]; then
        fail "no ${size}x${size} icon"
        continue
    fi
    got=$(identify -format '%m %wx%h' "$png")
    [[ $got == "PNG ${size}x${size}" ]] || fail "${size}x${size} icon is $got"
done
svg=$share/icons/hicolor/scalable/apps/$id.svg
if [[ ! -f $svg ]]; then
    fail "no scalable icon"
else
    xmllint --noout "$svg" || fail "scalable icon is not well-formed XML"
    # Same design as the bitmaps: rendered at 256 it must match the 256
    # bitmap up to anti-aliasing.
    rsvg-convert -w 256 -h 256 -o "$work/svg.png" "$svg" || fail "scalable icon does not render"
    if [[ -f $work/svg.png ]]; then
        # compare exits 1 whenever the images differ at all.
        error=$(compare -metric RMSE "$work/svg.png" "$share/icons/hicolor/256x256/apps/$id.png" null: 2>&1 \
                | sed -n 's/.*(\([0-9.e-]*\)).*/\1/p' || true)
        # About 0.02 from edges; a wrong colour or quarter gives over 0.1.
        awk -v e="${error:-1}" 'BEGIN { exit !(e < 0.05) }' \
            || fail "scalable icon differs from the 256 bitmap (normalised RMSE ${error:-unknown})"
    fi
fi

# --- Software-centre data: valid, and consistent with the installed tree.
metainfo=$share/metainfo/$id.metainfo.xml
if [[ ! -f $metainfo ]]; then
    fail "no $id.metainfo.xml in share/metainfo"
else
    launchable=$(xmllint --xpath 'string(//launchable[@type="desktop-id"])' "$metainfo")
    [[ -f $share/applications/$launchable ]] || fail "launchable '$launchable' is not an installed desktop file"
    [[ $(xmllint --xpath 'string(/component/id)' "$metainfo") == "$id" ]] || fail "metainfo id is not $id"
    appstreamcli validate-tree --no-net "$stage/usr" >"$work/tree.log" 2>&1 \
        || { cat "$work/tree.log" >&2; fail "appstreamcli validate-tree"; }
fi

# --- A real install by someone who is not root: completes, with a warning
# about the record directory. `id` is made to answer as an ordinary user.
mkdir -p "$work/bin"
printf '#!/bin/sh\necho 1000\n' >"$work/bin/id"
chmod +x "$work/bin/id"
if ! PATH=$work/bin:$PATH cmake --install "$build" --prefix "$work/user" >"$work/user.log" 2>&1; then
    cat "$work/user.log" >&2
    fail "an install without root failed instead of warning"
elif ! grep -q 'Not installing as root' "$work/user.log"; then
    cat "$work/user.log" >&2
    fail "an install without root gave no warning about the record directory"
fi
[[ $(stat -c %a "$work/user/games/valtrino") == 755 ]] || fail "an install without root changed the program's mode"

((failures == 0)) || exit 1
echo "installed tree is complete"
