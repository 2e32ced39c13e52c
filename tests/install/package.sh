#!/usr/bin/env bash
# Builds the Debian package, installs it as a teacher would, lets a player
# who is not in the games group start the installed game on a private X
# server, and removes the package again. Runs as root only; leaves the
# machine as it found it.
# Usage: package.sh BUILD_DIR RECORD_DIR
set -euo pipefail

if (($# != 2)); then
    echo "usage: $0 BUILD_DIR RECORD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd) records=$2
skip() { echo "SKIPPED: $*"; exit 77; }
((EUID == 0)) || skip "installing a package needs root"
for tool in cpack dpkg-deb dpkg-shlibdeps apt-get Xvfb xdotool setpriv; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done
# A teacher's copy is never replaced by a test.
if [[ $(dpkg-query -W -f='${Status}' valtrino 2>/dev/null || true) == *installed* ]]; then
    skip "the valtrino package is installed on this machine"
fi
[[ ! -e /usr/bin/valtrino ]] || skip "/usr/bin/valtrino exists outside any package"

work=$(mktemp -d)
chmod 755 "$work"
xvfb_pid="" game_pid="" installed=0
# The record directory may hold real records: remember it to restore it.
records_before=""
if [[ -d $records ]]; then
    records_before=$(stat -c '%u:%g %a' "$records")
    (cd "$records" && ls -A) >"$work/records-before"
fi

cleanup() {
    set +e
    [[ -n $game_pid ]] && kill "$game_pid" 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    ((installed)) && dpkg --purge valtrino >/dev/null 2>&1
    if [[ -n $records_before && -d $records ]]; then
        # Only what the test made goes; the records found are kept.
        (cd "$records" && ls -A) | grep -vxFf "$work/records-before" | while read -r name; do
            rm -f -- "$records/$name"
        done
        chown "${records_before% *}" "$records"
        chmod g-s "$records"
        chmod "${records_before#* }" "$records"
    elif [[ -z $records_before && -d $records ]]; then
        rm -rf -- "$records"
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    for log in "$work"/*.log; do
        [[ -f $log ]] && { echo "--- $(basename "$log")"; tail -n 20 "$log"; } >&2
    done
    exit 1
}
say() { echo "[package] $*"; }

# --- Build the package. ----------------------------------------------------
say "building the package"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 \
    || fail "cpack -G DEB"
deb=$(find "$work/cpack" -maxdepth 1 -name 'valtrino_*.deb' | head -n 1)
[[ -n $deb ]] || fail "cpack made no valtrino_*.deb"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libc6 fonts-liberation fonts-lato; do
    [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
# No set-id bit in the package's files: the group is given by postinst.
dpkg-deb -c "$deb" >"$work/contents.log"
grep -q ' ./usr/bin/valtrino$' "$work/contents.log" || fail "the package has no /usr/bin/valtrino"
grep -q '^-rwxr-xr-x root/root .* ./usr/bin/valtrino$' "$work/contents.log" \
    || fail "/usr/bin/valtrino is not plain 0755 root:root in the package"
grep -q ' ./var/' "$work/contents.log" && fail "the package ships the record directory itself"

# --- Install it as a teacher would. ------------------------------------------
say "installing $(basename "$deb")"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$work/apt-install.log" 2>&1 \
    || fail "apt-get install"
[[ $(stat -c '%U:%G %a' /usr/bin/valtrino) == "root:games 2755" ]] \
    || fail "/usr/bin/valtrino is $(stat -c '%U:%G %a' /usr/bin/valtrino), not root:games 2755"
[[ $(stat -c '%U:%G %a' "$records") == "root:games 2775" ]] \
    || fail "$records is $(stat -c '%U:%G %a' "$records"), not root:games 2775"

# --- A player outside the games group starts the installed game. ------------
say "starting the installed game as a player outside the games group"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "Xvfb did not start"
export DISPLAY=":$(tr -dc 0-9 <"$work/display")"

player=nobody
player_home=$work/home
mkdir -p "$player_home" "$work/runtime"
chown "$player" "$player_home" "$work/runtime"
chmod 700 "$work/runtime"
id -nG "$player" | grep -qw games && fail "$player is in the games group: no test of the group bit"
setpriv --reuid="$player" --regid="$(id -g "$player")" --clear-groups \
    env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" HOME="$player_home" XDG_RUNTIME_DIR="$work/runtime" \
    LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb /usr/bin/valtrino >"$work/game.log" 2>&1 &
game_pid=$!

# The first dialogue asks the name; the window only comes after the rest.
first=$(timeout 20 xdotool search --sync --onlyvisible --name '^Valtrino$' 2>/dev/null | head -n 1) \
    || fail "the first dialogue \"Valtrino\" did not map"
say "the dialogue maps (window $first)"
answer() {
    local id
    id=$(timeout 10 xdotool search --sync --onlyvisible --name '^Valtrino$' 2>/dev/null | head -n 1) \
        || fail "no dialogue to answer"
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    [[ -z $1 ]] || xdotool type --delay 30 "$1"
    xdotool key Return
    # The next dialogue is another window: wait for this one to go.
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name '^Valtrino$' 2>/dev/null | grep -qx "$id" || return 0
        sleep 0.05
    done
    fail "the dialogue $id stayed open"
}
answer Prova
answer ""
answer ""
answer 50
timeout 20 xdotool search --sync --onlyvisible --name '^Valtrino Settembre 2022$' >/dev/null 2>&1 \
    || fail "the main window did not map"

# By now the game has chosen where records live: the shared directory, not
# the player's own, though the player is not in the group.
[[ ! -e $player_home/.local/share/valtrino ]] \
    || fail "the player's records went to their home, not to $records"
for file in punt.txt nom.txt; do
    [[ -f $records/$file ]] || fail "no $records/$file"
    owner=$(stat -c '%G %a' "$records/$file")
    if ! grep -qx "$file" "$work/records-before" 2>/dev/null; then
        [[ $owner == "games 664" ]] || fail "$records/$file is $owner, not group games 664"
    fi
done
kill "$game_pid"
wait "$game_pid" 2>/dev/null || true
game_pid=""

# --- Remove it again. -------------------------------------------------------
say "removing the package"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q valtrino >"$work/apt-remove.log" 2>&1 \
    || fail "apt-get remove"
[[ ! -e /usr/bin/valtrino ]] || fail "/usr/bin/valtrino is still there after removal"
[[ -d $records ]] || fail "removal without purge deleted the records"
# Purge keeps a directory with records in it.
dpkg --purge valtrino >"$work/purge.log" 2>&1 || fail "dpkg --purge"
installed=0
[[ -f $records/punt.txt ]] || fail "purge deleted the records"
# ...and removes it once empty.
if [[ -z $records_before ]]; then
    rm -f "$records/punt.txt" "$records/nom.txt"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$work/apt-install2.log" 2>&1 \
        || fail "second apt-get install"
    installed=1
    dpkg --purge valtrino >"$work/purge2.log" 2>&1 || fail "second dpkg --purge"
    installed=0
    [[ ! -e $records ]] || fail "purge left the empty $records"
fi
say "package built, installed, played and removed"
