#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing: those that building and
# running vantor and kestrix need, and with --tests the test tools as well. It says what it
# installs before it does. With --list run|tests it only names a section's packages, with --enabled
# the units and init scripts enabled now.
#
# Services are left as they were: no daemon that a package installed here brings is started
# (policy-rc.d denies it during the install, unless the machine has a policy of its own, as a file
# or a link), and a unit the install enabled is disabled again (and stopped, should it run), also
# when the install fails or is interrupted, so that, for example, no spacenavd comes to own the
# SpaceMouse from the next boot on.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# The package names of a section of packages.txt: the lines above [tests] (run) or below (tests).
section() {
  awk -v want="$1" '/^\[tests\]$/ { in_tests = 1; next }
    /^#/ || /^[[:space:]]*$/ { next }
    (want == "tests") == (in_tests == 1) { print $1 }' "$here/packages.txt"
}
# The units enabled now, one a line: the links in systemd's and the init scripts' start folders
# (S links only: a disabled init script keeps K links), each as the unit or script it points to.
enabled() {
  {
    find /etc/systemd/system -type l 2>/dev/null | while read -r link; do
      echo "systemd $(basename "$(readlink "$link")")"
    done
    find /etc/rc[0-6S].d -type l -name 'S*' 2>/dev/null | while read -r link; do
      echo "sysv $(basename "$(readlink "$link")")"
    done
  } | sort -u || true
}
case "${1:-}" in
  "") mapfile -t wanted < <(section run) ;;
  --tests) mapfile -t wanted < <(section run && section tests) ;;
  --list)
    # --list run|tests: the names only, one a line; nothing is installed.
    section "${2:-run}"
    exit 0
    ;;
  --enabled)
    enabled
    exit 0
    ;;
  *)
    echo "usage: $0 [--tests | --list run|tests | --enabled]" >&2
    exit 2
    ;;
esac
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
what=$([ "${1:-}" = --tests ] && echo "building, running and testing" || echo "building and running")
if [ ${#missing[@]} -eq 0 ]; then
  echo "dependencies: all ${#wanted[@]} packages for $what present"
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

running() {
  [ -d /run/systemd/system ] || return 0
  systemctl list-units --all --state=active --plain --no-legend 2>/dev/null | awk '{ print $1 }'
}
enabled_before=$(enabled)
running_before=$(running | sort -u)
# Written to stdout, and lost quietly once nobody reads it any more.
note() { echo "dependencies: $*" 2>/dev/null; }

policy=/usr/sbin/policy-rc.d
own_policy=""
# On every way out, a failed or interrupted install too, and whatever signal comes meanwhile: what
# the install enabled is disabled again (and stopped, should it run), and our policy goes.
finish() {
  trap '' INT TERM HUP PIPE
  set +e
  comm -13 <(echo "$enabled_before") <(enabled) | while read -r kind unit; do
    [ "$unit" != null ] || continue # a mask, which keeps a unit off
    note "leaving $unit disabled, as it was"
    if [ "$kind" = systemd ]; then
      if command -v systemctl >/dev/null; then
        $sudo systemctl --quiet disable "$unit" 2>/dev/null
      else
        $sudo find /etc/systemd/system -type l -lname "*/$unit" -delete
      fi
      if [ -d /run/systemd/system ] && ! grep -qxF "$unit" <<<"$running_before" &&
        systemctl is-active --quiet "$unit"; then
        $sudo systemctl stop "$unit"
      fi
    else
      $sudo update-rc.d "$unit" disable >/dev/null
    fi
  done
  [ -z "$own_policy" ] || $sudo rm -f "$policy"
}
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 141' PIPE
trap 'exit 143' TERM
if [ ! -e "$policy" ] && [ ! -L "$policy" ]; then
  own_policy=1
  printf '#!/bin/sh\n# Written by scripts/install-deps.sh while it installs: start no service.\nexit 101\n' |
    $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
fi

note "installing what $what need: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
