#!/usr/bin/env bash
# Builds the Debian source and binary packages with dpkg-buildpackage, checks
# them with lintian, upgrades to them from stand-ins of 1.1 and 1.2 along each
# path a school may take, lets a player outside the games group play the
# installed game on a private X server (with a hostile Qt plugin in the way)
# and set the shared record, lets two pupils attack the installed record
# helper and two members share it in the restricted mode, removes the
# package, and runs its autopkgtests. Runs as root only; leaves the machine as it found it,
# records included.
# Usage: package.sh SOURCE_DIR ARTIFACT_DIR HOSTILE_PLUGIN ATTACKS_TEST
set -euo pipefail

if (($# != 4)); then
    echo "usage: $0 SOURCE_DIR ARTIFACT_DIR HOSTILE_PLUGIN ATTACKS_TEST" >&2
    exit 2
fi
source_dir=$(cd "$1" && pwd) artifacts=$2 hostile_plugin=$3 attacks_test=$4
records=/var/games/valtrino
program=/usr/games/valtrino
helper=/usr/lib/games/valtrino/valtrino-record
old_program=/usr/bin/valtrino
skip() { echo "SKIPPED: $*"; exit 77; }
((EUID == 0)) || skip "installing a package needs root"
for tool in git dpkg-buildpackage dh dpkg-deb apt-get lintian autopkgtest Xvfb xdotool setpriv readelf; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done
# A teacher's copy is never replaced by a test.
if [[ $(dpkg-query -W -f='${Status}' valtrino 2>/dev/null || true) == *installed* ]]; then
    skip "the valtrino package is installed on this machine"
fi
for path in "$program" "$old_program" "$helper"; do
    [[ ! -e $path ]] || skip "$path exists outside any package"
done
dpkg-statoverride --list "$old_program" >/dev/null 2>&1 && skip "$old_program has a dpkg-statoverride"
dpkg-statoverride --list "$helper" >/dev/null 2>&1 && skip "$helper has a dpkg-statoverride"

# Reachable by the player, wherever the build tree lies.
pkgwork=$(mktemp -d)
chmod 755 "$pkgwork"
installed=0
games_gid=$(getent group games | cut -d: -f3)
# The lab package's system user stays after a purge, as Debian's do; the
# test takes away the one it made.
lab_user_before=$(getent passwd _valtrino-lab || true)
# The record directory may hold real records: they are put back byte for
# byte, with the directory's owner and mode.
records_before=""
if [[ -d $records ]]; then
    records_before=$(stat -c '%u:%g %a' "$records")
    cp -a "$records" "$pkgwork/records-before"
fi

package_cleanup() {
    set +e
    if ((installed)); then
        dpkg --purge valtrino-lab valtrino >/dev/null 2>&1
    fi
    dpkg-statoverride --remove "$old_program" >/dev/null 2>&1
    dpkg-statoverride --remove "$helper" >/dev/null 2>&1
    rm -rf -- "$records"
    if [[ -n $records_before ]]; then
        cp -a "$pkgwork/records-before" "$records"
        chown "${records_before% *}" "$records"
        chmod g-s "$records"
        chmod "${records_before#* }" "$records"
    fi
    [[ -n $lab_user_before ]] || ! getent passwd _valtrino-lab >/dev/null || deluser --quiet --system _valtrino-lab
    rm -rf "$pkgwork"
}
trap package_cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    for log in "$pkgwork"/*.log; do
        [[ -f $log ]] && { echo "--- $(basename "$log")"; tail -n 30 "$log"; } >&2
    done
    exit 1
}
say() { echo "[package] $*"; }
mode_of() { stat -c '%U:%G %a' "$1"; }

# --- Build the packages from the tree's files, uncommitted changes included. --
say "building the packages with dpkg-buildpackage"
copy=$pkgwork/valtrino
mkdir "$copy"
git -c safe.directory="$source_dir" -C "$source_dir" ls-files -z --cached --others --exclude-standard \
    | (cd "$source_dir" && tar --null --ignore-failed-read -T - -cf -) | tar -C "$copy" -xf - \
    || fail "copying the source tree"
# The build-time tests run in the reproducibility test's builds.
(cd "$copy" && DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -us -uc) >"$pkgwork/build.log" 2>&1 || fail "building the packages"
version=$(dpkg-parsechangelog -l "$copy/debian/changelog" -SVersion)
arch=$(dpkg --print-architecture)
deb=$pkgwork/valtrino_${version}_$arch.deb
changes=$pkgwork/valtrino_${version}_$arch.changes
[[ -f $deb && -f $pkgwork/valtrino-dbgsym_${version}_$arch.deb ]] || fail "no valtrino and valtrino-dbgsym packages"
# Every release in the field upgrades, the 1.2 that CPack made included.
for earlier in $(dpkg-parsechangelog -l "$copy/debian/changelog" --format rfc822 --all -SVersion | tail -n +2); do
    dpkg --compare-versions "$version" gt "$earlier" || fail "$version does not upgrade $earlier"
done

# --- What Debian's own checker says, of the source and the binaries. ---------
say "lintian $(basename "$changes")"
lintian --allow-root --tag-display-limit 0 "$changes" >"$pkgwork/lintian.log" 2>&1 || true
if grep -E '^[EW]: ' "$pkgwork/lintian.log"; then
    fail "lintian reports errors or warnings"
fi

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libc6 fonts-lato "fonts-liberation-sans-narrow | fonts-liberation (<< 1:2)"; do
    [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
dpkg-deb -c "$deb" >"$pkgwork/contents.log"
for path in "$program" "$helper"; do
    grep -q "^-rwxr-xr-x root/root .* \.$path\$" "$pkgwork/contents.log" \
        || fail "$path is not a plain 0755 root:root file of the package"
done
grep -q " \.$old_program\$" "$pkgwork/contents.log" && fail "the package still ships $old_program"
for path in /usr/share/man/man6/valtrino.6.gz /usr/share/doc/valtrino/{changelog.gz,copyright}; do
    grep -q "^-rw-r--r-- root/root .* \.$path\$" "$pkgwork/contents.log" || fail "the package lacks $path"
done
grep -q ' ./var/' "$pkgwork/contents.log" && fail "the package ships the record directory itself"

# --- Releases before this one, as far as the record goes: 1.1's helper kept
# flat files owned by the last holder, in a directory open to the group,
# beside a lock file; 1.2's configure closed it and moved those very files
# into record.0, root's by chown. ---------------------------------------------
old_release() {
    local root=$pkgwork/old-$1
    mkdir -p "$root/DEBIAN" "$root$(dirname "$helper")"
    cat >"$root/DEBIAN/control" <<CONTROL
Package: valtrino
Version: $1
Architecture: $(dpkg --print-architecture)
Maintainer: Valtrino <valtrino@valtrino.example>
Section: games
Priority: optional
Description: Roman numerals game for the classroom, in Italian
 A previous release, as far as an upgrade is concerned.
CONTROL
    printf '#!/bin/sh\nset -e\nrelease=%s\n' "$1" >"$root/DEBIAN/postinst"
    cat >>"$root/DEBIAN/postinst" <<'POSTINST'
own() {
    if ! dpkg-statoverride --list "$2" >/dev/null 2>&1; then
        chown root:games "$2"
        chmod "$1" "$2"
    fi
}
r=/var/games/valtrino
if [ "$1" = configure ]; then
    mkdir -p $r
    if [ $release = 1.1 ]; then
        own 2775 $r
        [ -e $r/.lock ] || { : >$r/.lock; chown root:games $r/.lock; chmod 0660 $r/.lock; }
    else
        own 2770 $r
        mkdir -p $r/staging
        if [ -f $r/punt.txt ] && ! ls -d $r/record.* >/dev/null 2>&1; then
            mkdir $r/record.0
            mv $r/punt.txt $r/nom.txt $r/record.0/
            chown -R root:games $r/record.0
            chmod 640 $r/record.0/punt.txt $r/record.0/nom.txt
        fi
        rm -f $r/.lock
    fi
    own 2755 /usr/lib/games/valtrino/valtrino-record
fi
POSTINST
    printf '#!/bin/sh\nexit 0\n' >"$root$helper"
    chmod 755 "$root/DEBIAN/postinst" "$root$helper"
    dpkg-deb --root-owner-group --build "$root" "$pkgwork/valtrino_$1.deb" >>"$pkgwork/old.log" 2>&1 \
        || fail "building the $1 package"
}
old_release 1.1
old_release 1.2
read_as_player() { printf 'read\n' | setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups "$helper"; }
newest_pair() { echo "$records/$(ls "$records" | grep '^record\.[0-9]*$' | sort -t. -k2n | tail -n 1)"; }
# What 1.1's helper left: the holder's own files. "forged": a score no game
# makes; "odd": a name file hard-linked to another file, a directory for
# the lock.
plant_flat() {
    printf '%s\r\n' "$([[ $1 == forged ]] && echo 99999 || echo 2)" >"$records/punt.txt"
    printf 'Ugo\r\n' >"$records/nom.txt"
    chown nobody:games "$records/punt.txt" "$records/nom.txt"
    chmod 664 "$records/punt.txt" "$records/nom.txt"
    if [[ $1 == odd ]]; then
        ln -f "$records/nom.txt" "$records/nom.txt.2"
        rm -f "$records/.lock" && mkdir "$records/.lock"
    fi
}

# Each path to this release from a record that a player could reach: the
# descriptors he kept on its files reach nothing of the record afterwards.
for row in "1.1 plain" "1.2 plain" "1.1,1.2 plain" "1.1 forged" "1.1 odd"; do
    path=${row% *} kind=${row#* }
    say "upgrading ${path//,/ then } to $version: $kind record, descriptors kept"
    installed=1
    for old in ${path//,/ }; do
        dpkg -i "$pkgwork/valtrino_$old.deb" >>"$pkgwork/old.log" 2>&1 || fail "installing $old"
        if [[ $old == 1.1 && $path == 1.1* ]]; then
            plant_flat "$kind"
            exec 7<>"$records/punt.txt" 8<>"$records/nom.txt"
        elif [[ $path == 1.2 ]]; then
            # A member's record in 1.2's restricted mode: the pair lost its
            # group bit, the files took his own group.
            install -d -o nobody -g games -m 0770 "$records/record.3"
            printf '2\r\n' >"$records/record.3/punt.txt"
            printf 'Ugo\r\n' >"$records/record.3/nom.txt"
            chown nobody:nogroup "$records/record.3/punt.txt" "$records/record.3/nom.txt"
            chmod 640 "$records/record.3/punt.txt" "$records/record.3/nom.txt"
            exec 7<>"$records/record.3/punt.txt" 8<>"$records/record.3/nom.txt"
        fi
    done
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$pkgwork/upgrade.log" 2>&1 \
        || fail "apt-get install over $path"
    pair=$(newest_pair)
    for file in punt.txt nom.txt; do
        [[ $(stat -c '%U:%G %a %h' "$pair/$file") == "root:games 640 1" ]] \
            || fail "$pair/$file is $(stat -c '%U:%G %a %h' "$pair/$file")"
    done
    [[ $(stat -c '%U:%G %a' "$pair") == "root:games 2770" ]] || fail "$pair is $(stat -c '%U:%G %a' "$pair")"
    [[ $(stat -L -c %i /proc/$$/fd/7) != $(stat -c %i "$pair/punt.txt") \
        && $(stat -L -c %i /proc/$$/fd/8) != $(stat -c %i "$pair/nom.txt") ]] || fail "the record kept a player's inode"
    printf '99999\r\n' >&7
    expected=$'3 5\n2\r\nUgo\r\n'
    [[ $kind == plain ]] || expected=$'0 0\n'
    [[ $(read_as_player | od -c) == "$(printf '%s' "$expected" | od -c)" ]] || fail "a player reads $(read_as_player | od -c)"
    [[ ! -e $records/punt.txt && ! -e $records/nom.txt && ! -e $records/.lock ]] || fail "1.1's files are left"
    [[ $kind == plain ]] || compgen -G "$records/aside.*/punt.txt" >/dev/null || fail "the $kind record is not kept aside"
    exec 7>&- 8>&-
    rm -f "$records/nom.txt.2"
    dpkg --purge valtrino >"$pkgwork/purge.log" 2>&1 || fail "purging after the upgrade over $path"
    installed=0
done

# --- Upgrade over 1.1, with an administrator's override that took the group
# bit away; a member of games starts a game between unpack and configure. --
say "installing a 1.1 package, as the previous release did"
installed=1
dpkg -i "$pkgwork/valtrino_1.1.deb" >>"$pkgwork/old.log" 2>&1 || fail "installing 1.1"
[[ $(mode_of "$records") == "root:games 2775" ]] || fail "1.1 made $records $(mode_of "$records")"
plant_flat plain
# A temporary of a killed copy; an administrator's backup.
printf '1\r\n' >"$records/punt.txt.Ab3dE9"
printf 'backup\r\n' >"$records/punt.txt.backup"
chown nobody:games "$records/punt.txt.Ab3dE9"
# The README of 1.1 advised this to let only the group set records.
dpkg-statoverride --update --add root root 0755 "$helper"

say "unpacking $(basename "$deb"); a game in the window before its configure"
dpkg --unpack "$deb" >"$pkgwork/upgrade.log" 2>&1 || fail "dpkg --unpack over 1.1"
status=0
printf 'read\n' | setpriv --reuid=64001 --regid=64001 --groups="$games_gid" "$helper" >/dev/null 2>&1 || status=$?
((status == 75)) || fail "a game between unpack and configure: status $status"
compgen -G "$records/record.*" >/dev/null && fail "a game between unpack and configure made a pair"
dpkg --configure valtrino >>"$pkgwork/upgrade.log" 2>&1 || fail "dpkg --configure"
[[ $(dpkg-query -W -f='${Version}' valtrino) == "$version" ]] || fail "the upgrade did not install $version"
[[ $(mode_of "$records") == "root:games 2770" ]] || fail "$records is $(mode_of "$records") after the upgrade"
printf '2\r\n' | cmp -s - "$records/record.0/punt.txt" && printf 'Ugo\r\n' | cmp -s - "$records/record.0/nom.txt" \
    || fail "the upgrade changed the record: $(ls -lR "$records")"
[[ $(cat "$records/punt.txt.backup") == $'backup\r' ]] || fail "the upgrade touched the administrator's backup"
[[ $(dpkg-statoverride --list "$helper") == "root root 755 $helper" ]] \
    || fail "the administrator's choice of no group bit did not stay"
[[ $(mode_of "$helper") == "root:root 755" ]] || fail "$helper is $(mode_of "$helper") under the override"

# Without the override, the package's own arrangement; a pair that lost its
# group bit is mended by the configure.
dpkg-statoverride --remove "$helper"
chmod 0770 "$records/record.0"
dpkg-reconfigure -f noninteractive valtrino >"$pkgwork/reconfigure.log" 2>&1 || fail "dpkg-reconfigure"
[[ $(mode_of "$helper") == "root:games 2755" ]] || fail "$helper is $(mode_of "$helper"), not root:games 2755"
[[ $(mode_of "$(newest_pair)") == "root:games 2770" ]] || fail "the pair is $(mode_of "$(newest_pair)")"

# A 1.1 helper writes flat files late: they do not hold a read back, and
# the next configure keeps them aside.
for file in punt.txt nom.txt; do
    printf '9999\r\n' >"$records/$file"
    chown nobody:games "$records/$file"
done
[[ $(read_as_player | od -c) == "$(printf '3 5\n2\r\nUgo\r\n' | od -c)" ]] || fail "a player reads $(read_as_player | od -c)"
dpkg-reconfigure -f noninteractive valtrino >>"$pkgwork/reconfigure.log" 2>&1 || fail "dpkg-reconfigure"
[[ ! -e $records/punt.txt && ! -e $records/nom.txt ]] || fail "a 1.1 helper's late files stay"
[[ $(cat "$records"/aside.*/punt.txt) == $'9999\r' ]] || fail "a 1.1 helper's late files are lost"
rm -rf "$records"/aside.*

# The menu entry starts the installed game.
menu_exec=$(sed -n 's/^Exec=//p' /usr/share/applications/org.example.Valtrino.desktop)
[[ $menu_exec == "$program" ]] || fail "the menu entry starts '$menu_exec', not $program"

# Of everything installed, only the helper is set-id, and it links no Qt.
while read -r path; do
    [[ -f $path && ! -L $path ]] || continue
    if [[ -u $path || -g $path ]]; then
        [[ $path == "$helper" ]] || fail "$path is set-id"
    fi
done < <(dpkg -L valtrino)
readelf -d "$helper" | grep -i 'NEEDED.*qt' && fail "$helper links Qt"
readelf -d "$program" | grep -q 'NEEDED.*libQt6Widgets' || fail "$program does not link Qt: the wrong file?"

# --- A player outside the games group, with a hostile plugin on the path. ---
player=nobody
player_home=$pkgwork/home
mkdir -p "$player_home" "$pkgwork/runtime" "$pkgwork/plugins/styles"
cp "$hostile_plugin" "$pkgwork/plugins/styles/"
chown "$player" "$player_home" "$pkgwork/runtime"
chmod 700 "$pkgwork/runtime"
id -nG "$player" | grep -qw games && fail "$player is in the games group: no test of the group bit"
note=$player_home/hostile-note
cat >"$pkgwork/as-player" <<WRAPPER
#!/bin/sh
exec setpriv --reuid=$player --regid=$(id -g "$player") --clear-groups \\
    env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games DISPLAY="\$DISPLAY" \\
    HOME="$player_home" XDG_RUNTIME_DIR="$pkgwork/runtime" LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb \\
    QT_PLUGIN_PATH="$pkgwork/plugins" QT_STYLE_OVERRIDE=ostile \\
    HOSTILE_TARGET="$records/ostile" HOSTILE_NOTE="$note" valtrino
WRAPPER
chmod 755 "$pkgwork/as-player"

say "a player outside the games group plays the installed game"
game=$pkgwork/as-player
source "$source_dir/tests/e2e/lib.sh"
trap 'set +e; cleanup; package_cleanup' EXIT

start_to_main "Niccolò" 2
step="checking the game's process"
[[ $(readlink "/proc/$game_pid/exe") == "$program" ]] || fail "the process is $(readlink "/proc/$game_pid/exe")"
ids=$(grep -E '^(Gid|Groups):' "/proc/$game_pid/status")
say "the game runs with: $(tr '\n\t' '  ' <<<"$ids")"
for id in $(sed 's/^[A-Za-z]*://' <<<"$ids"); do
    [[ $id != "$games_gid" ]] || fail "the game holds the games group: $ids"
done
[[ -f $note ]] || fail "the hostile plugin was never loaded: no test of it"
say "the hostile plugin says: $(cat "$note")"
[[ ! -e $records/ostile ]] || fail "the hostile plugin created $records/ostile"

# The directory is closed to the player, even for a lock.
as_player=(setpriv --reuid="$player" --regid="$(id -g "$player")" --clear-groups)
"${as_player[@]}" flock -n "$records" true 2>/dev/null && fail "a player can open the record directory"

answer 1 Return
answer 1 Return
answer 1
key alt+x
dialog "Ciao a presto..."
key Return
dialog "Ok ho registrato il tuo record"
key Return
await_exit
step="checking the shared record"
pair=$(newest_pair)
printf '3\r\n' | cmp -s - "$pair/punt.txt" || fail "punt.txt holds $(od -c "$pair/punt.txt")"
printf 'Niccol\xf2\r\n' | cmp -s - "$pair/nom.txt" || fail "nom.txt holds $(od -c "$pair/nom.txt")"
for file in punt.txt nom.txt; do
    [[ $(stat -c '%G %a' "$pair/$file") == "games 640" ]] \
        || fail "$file is $(stat -c '%G %a' "$pair/$file")"
done
[[ ! -e $player_home/.local/share/valtrino ]] || fail "the player's record went to their home"
[[ $(cd "$records" && ls -A | tr '\n' ' ') == "punt.txt.Ab3dE9 punt.txt.backup ${pair##*/} staging " ]] \
    || fail "$records holds $(cd "$records" && ls -A | tr '\n' ' ')"

# --- Two pupils against the installed helper. -------------------------------
say "two pupils attack the installed record helper"
log=/dev/log
[[ -e $log ]] && log="" # a system log is running: the test cannot listen there
bash "$source_dir/tests/install/attacks.sh" --installed "$attacks_test" "$helper" "$records" "$log" \
    >"$pkgwork/attacks.log" 2>&1 || fail "the attacks test"
grep -E '^(PASS|SKIP|QINFO)' "$pkgwork/attacks.log" | sed 's/^/    /'

# --- The README's restricted mode: no group bit, two members of games. -----
say "two members of games share the record in the restricted mode"
dpkg-statoverride --update --add root root 0755 "$helper"
rm -rf "$records"/record.* "$records"/staging/*
member() { setpriv --reuid="$1" --regid="$1" --groups="$games_gid" "$helper"; }
printf 'record\n5\nAda' | member 64001 || fail "the first member's record"
[[ $(printf 'read\n' | member 64002 | od -c) == "$(printf '3 5\n5\r\nAda\r\n' | od -c)" ]] \
    || fail "the second member reads $(printf 'read\n' | member 64002 | od -c)"
printf 'record\n6\nBo' | member 64002 || fail "the second member cannot beat the first"
dpkg-statoverride --remove "$helper"
dpkg-reconfigure -f noninteractive valtrino >>"$pkgwork/reconfigure.log" 2>&1 || fail "dpkg-reconfigure"

# --- Remove it again. -------------------------------------------------------
say "removing the package"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q valtrino >"$pkgwork/apt-remove.log" 2>&1 \
    || fail "apt-get remove"
for path in "$program" "$helper"; do
    [[ ! -e $path ]] || fail "$path is still there after removal"
done
compgen -G "$records/record.*" >/dev/null || fail "removal without purge deleted the record"
# Purge removes the record and what the package made, and leaves the files
# that the attacks test put there as an administrator's...
dpkg --purge valtrino >"$pkgwork/purge.log" 2>&1 || fail "dpkg --purge"
installed=0
[[ $(ls -A "$records" | tr '\n' ' ') == "nom.txt.2024ab punt.txt.backup " ]] \
    || fail "purge left $(ls -A "$records" | tr '\n' ' ')"
# ...and the directory too, once nobody else's file is in it. autopkgtest
# installs the package again to run the archive's tests against it.
rm -f "$records/punt.txt.backup" "$records/nom.txt.2024ab"
say "autopkgtest"
installed=1
autopkgtest "$changes" -- null >"$pkgwork/autopkgtest.log" 2>&1 || fail "autopkgtest"
sed -n '/@ summary$/,$p' "$pkgwork/autopkgtest.log" | grep -E '^[a-z-]+ +(PASS|FAIL|SKIP)' | sed 's/^/    /'
dpkg --purge valtrino-lab valtrino >"$pkgwork/purge2.log" 2>&1 || fail "second dpkg --purge"
installed=0
[[ ! -e $records ]] || fail "purge left $records"
say "package built, checked, upgraded, played, attacked, removed and tested by autopkgtest"
