#!/usr/bin/env bash
# Installs a vantor .deb with dpkg, uses what it installed as a user does, and purges it again,
# all inside a throwaway root with a dpkg database of its own (dpkg --root). This machine's own
# dpkg database and files are never touched: the check runs the same whether vantor is installed
# here or not, never removes or replaces the vantor a user has, and a check cut short leaves only
# a temporary folder. The package's scripts see DPKG_ROOT and leave the running kernel and udev
# alone. The programs run with this machine's libraries, so the package's dependencies must be
# installed here (they are checked first).
#
# As a user: `vantor --version` and `--help`, a window shot of the About window (offscreen), the
# manual page, the broker's `--help` and `--version`; then vantor started as at login, which
# must start the broker installed beside it, and once vantor has quit the broker must leave by
# itself after its linger. Finally the purge must leave nothing of the package behind.
set -uo pipefail
deb=$(realpath "$1")
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
work=$(mktemp -d)
root=$work/root
vantor_pid=""
cleanup() {
  [ -n "$vantor_pid" ] && kill "$vantor_pid" 2>/dev/null
  $sudo rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "$*"
  exit 1
}
# wait_for SECONDS FILE TEXT: whether FILE comes to hold TEXT within SECONDS.
wait_for() {
  local deadline=$((SECONDS + $1))
  until grep -qF -- "$3" "$2" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

depends=$(dpkg-deb -f "$deb" Depends)
dpkg-checkbuilddeps -d "$depends" /dev/null || fail "the package's dependencies are not installed"

mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The throwaway database knows no other package (the dependencies were checked above), the
# scripts run with this machine's shell, as the root holds none, and every file is unpacked even
# where this machine's dpkg configuration leaves some out (slim images drop manual pages).
dpkg=($sudo dpkg --root="$root" --force-depends --force-script-chrootless --path-include='*')
"${dpkg[@]}" --install "$deb" >"$work/dpkg.log" 2>&1 || fail "dpkg --install: $(cat "$work/dpkg.log")"
dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' vantor | grep -qx 'install ok installed' ||
  fail "vantor is not installed in $root"

# A home of its own, so that neither the programs nor a broker they start meet this machine's
# vantor, broker, SpaceMouse or spacenavd: the broker serves a simulated empty device list.
home=$work/home
mkdir -p "$home/runtime"
chmod 700 "$home/runtime"
echo '{"devices": []}' >"$home/devices.json"
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/runtime
export KESTRIX_HOME=$home/kestrix KESTRIX_DEVICES=sim:$home/devices.json
export SPNAV_SOCKET=$home/spnav.sock QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
vantor=$root/usr/bin/vantor
kestrix=$root/usr/libexec/vantor/kestrix
version=$(dpkg-deb -f "$deb" Version)

said=$(timeout 10 "$vantor" --version) || fail "vantor --version failed"
[ "$said" = "vantor $version" ] || fail "vantor --version said: $said"
timeout 10 "$vantor" --help | grep -q '^Usage: vantor' || fail "vantor --help shows no usage"
shot=$home/about.png
timeout 60 "$vantor" -snapshot "$shot" -snapshotWindow about || fail "no window shot"
file "$shot" | grep -q 'PNG image data' || fail "no window shot at $shot"
echo "window shot: $(file -b "$shot")"
manual=$root/usr/share/man/man1/vantor.1.gz
warnings=$(MANWIDTH=80 man --warnings -l "$manual" 2>&1 >"$work/manual.txt") ||
  fail "man could not show $manual"
[ -z "$warnings" ] || fail "the manual page has faults: $warnings"
grep -q 'vantor - ' "$work/manual.txt" || fail "the manual page has no name line"
timeout 10 "$kestrix" --version | grep -qF "kestrix $version" || fail "kestrix --version failed"
timeout 10 "$kestrix" --help | grep -q '^Usage: kestrix' || fail "kestrix --help shows no usage"

# The GNOME Shell extension's code is linked in the module style of the root's GNOME Shell (none
# in the throwaway database: the ES modules of 45 and later).
extension=$root/usr/share/gnome-shell/extensions/vantor@orvella.me/extension.js
shell=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Version}' gnome-shell 2>/dev/null |
  sed -e 's/^[0-9]*://' -e 's/[^0-9].*//')
style=modules
[ -n "$shell" ] && [ "$shell" -lt 45 ] && style=legacy
[ "$(readlink "$extension")" = "/usr/share/vantor/gnome-shell/extension-$style.js" ] ||
  fail "$extension: '$(readlink "$extension")', not the $style style for GNOME Shell '$shell'"
[ -f "$root/usr/share/vantor/gnome-shell/extension-$style.js" ] || fail "no extension-$style.js"

# Started as at login (no window of its own), vantor finds no broker and starts the one
# installed beside it, which names itself in its log.
log=$KESTRIX_HOME/broker.log
"$vantor" --login-item >"$work/vantor.log" 2>&1 &
vantor_pid=$!
wait_for 30 "$log" " $kestrix" ||
  fail "the installed broker did not start: $(cat "$log" "$work/vantor.log" 2>/dev/null)"
kill "$vantor_pid"
wait "$vantor_pid"
vantor_pid=""
wait_for 30 "$log" "leaving" || fail "the broker did not leave after vantor: $(cat "$log")"
echo "broker: $(grep -F "leaving" "$log")"

"${dpkg[@]}" --purge vantor >"$work/dpkg.log" 2>&1 || fail "dpkg --purge: $(cat "$work/dpkg.log")"
left=$(find "$root" -mindepth 1 -not -path "$root/var" -not -path "$root/var/lib" \
  -not -path "$root/var/lib/dpkg" -not -path "$root/var/lib/dpkg/*")
[ -z "$left" ] || fail "left after the purge: $left"
