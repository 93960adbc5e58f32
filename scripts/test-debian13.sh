#!/usr/bin/env bash
# Builds this checkout with the release preset and runs its tests (the real KWin 6 and GNOME Shell
# tests among them) inside a Debian 13 (trixie) root, as root on a Debian machine.
#
# The root is made once with mmdebstrap, with the packages of scripts/packages.txt, and kept in
# DEBIAN13_ROOT (default /var/cache/vantor-debian13/root); later runs only add packages that a
# list has gained. The checkout's files (tracked and untracked, not ignored) are copied to /src/vantor
# in the root, whose build/ stays between runs. /proc, /sys, /dev, /dev/pts and /dev/shm are bound
# into the root while it runs; on every way out, whatever signal comes meanwhile, they are unmounted
# and any process left in the root is ended, and a run first clears what an earlier one left.
# DEBIAN13_ROOT must be a folder of its own: an absolute path other than /, missing or made by this
# script, and not the root of processes that a run of it did not start.
#
#   scripts/test-debian13.sh                 release build and ctest
#   scripts/test-debian13.sh COMMAND...      run COMMAND in the copied checkout instead, e.g.
#                                            ./scripts/test.sh or ./scripts/run.sh
#
# DEBIAN13_MIRROR overrides the Debian mirror (default: the one this machine's apt uses);
# DEBIAN13_JOBS the parallel build and test jobs (default 4).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
given=${DEBIAN13_ROOT:-/var/cache/vantor-debian13/root}
jobs=${DEBIAN13_JOBS:-4}
started=$SECONDS

if [ "$(id -u)" -ne 0 ]; then
  echo "test-debian13: run as root (it makes a root with mmdebstrap and mounts into it)" >&2
  exit 2
fi

say() { echo "test-debian13: $* ($((SECONDS - started)) s)"; }
# On standard error, and lost quietly once nobody reads it any more.
warn() { echo "test-debian13: $*" >&2 2>/dev/null || true; }
refuse() {
  warn "$*; nothing done"
  exit 2
}

# The processes whose root is the Debian 13 root (the folder itself, however it is named); with an
# argument, only those that no run of this script started (a run marks them in their environment).
in_root_pids() {
  local pid
  for pid in /proc/[0-9]*; do
    [ "$pid/root" -ef "$root" ] || continue
    [ -z "${1:-}" ] || ! grep -qzx VANTOR_DEBIAN13_RUN=1 "$pid/environ" 2>/dev/null || continue
    echo "${pid#/proc/}"
  done
}

# Folders are bound into the root and the processes in it are found by their root: it must be a
# folder of its own, made by this script and used by one run at a time.
case $given in
  /*) ;;
  *) refuse "DEBIAN13_ROOT must be an absolute path, not $given" ;;
esac
root=$(realpath -m -- "$given")
[ "$root" != / ] || refuse "DEBIAN13_ROOT must not be /"
[ ! -e "$root" ] || [ -f "$root/.vantor-packages" ] ||
  refuse "$root was not made by this script (it has no .vantor-packages)"
mkdir -p "$(dirname "$root")"
exec {lock}>"$root.lock"
flock -n "$lock" || refuse "another run uses $root"
foreign=$(in_root_pids foreign)
[ -z "$foreign" ] ||
  refuse "processes that this script did not start run in $root: ${foreign//$'\n'/ }"

# The Debian mirror this machine's apt uses, in either sources format.
mirror() {
  local url
  url=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '$1 == "URIs:" { for (i = 2; i <= NF; i++) if ($i ~ /\/debian\/?$/) { print $i; exit } }')
  [ -n "$url" ] || url=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\/.*\/debian\/?$/) { print $i; exit } }')
  echo "${url:-http://deb.debian.org/debian}"
}

# The packages the project builds and tests with, and what the root needs besides: KWin 6 loads
# Plasma's Qt platform theme when KDE's session variables are set, Xvfb's wrapper wants xauth.
wanted_packages() {
  {
    "$here"/scripts/install-deps.sh --list run
    "$here"/scripts/install-deps.sh --list tests
    printf '%s\n' plasma-integration xauth fonts-dejavu-core procps
  } | sort -u
}

mounts=(proc sys dev dev/pts dev/shm)

# Ends every process in the root, politely first.
end_processes() {
  local signal pids
  for signal in TERM KILL; do
    pids=$(in_root_pids)
    [ -n "$pids" ] || return 0
    warn "ending $(wc -l <<<"$pids") process(es) left in the root with SIG$signal"
    # shellcheck disable=SC2086
    kill -s "$signal" $pids 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      [ -n "$(in_root_pids)" ] || return 0
      sleep 0.5
    done
  done
}

# Ends the processes in the root and unmounts what is bound into it, the deepest first.
clear_root() {
  local i m
  end_processes
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    m=$root/${mounts[$i]}
    while mountpoint -q "$m"; do
      umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || {
        warn "could not unmount $m"
        break
      }
    done
  done
}

# Runs to its end whatever signal comes meanwhile: a second Ctrl-C, a closed terminal, or a reader
# of the output that went away.
cleanup() {
  trap '' INT TERM HUP PIPE
  set +e
  clear_root
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 141' PIPE
trap 'exit 143' TERM

mount_all() {
  local m
  for m in "${mounts[@]}"; do
    mkdir -p "$root/$m"
    mount --bind "/$m" "$root/$m"
  done
}

in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    VANTOR_DEBIAN13_RUN=1 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@" {lock}>&-
}

# A long step in the root, waited for so that Ctrl-C or a TERM reaches the trap at once (bash runs
# traps only between commands). What runs there does not hold the run's lock, which ends with the
# script, however it ends.
step() {
  (
    exec {lock}>&-
    "$@"
  ) &
  wait $!
}

make_root() {
  local url tmp
  url=$(mirror)
  tmp="$root.new"
  rm -rf --one-file-system "$tmp"
  say "making the Debian 13 root from $url (once; several minutes)"
  if ! command -v mmdebstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mmdebstrap >/dev/null
  fi
  mmdebstrap --variant=apt --aptopt='APT::Install-Recommends "false"' \
    --include="$(wanted_packages | paste -sd, -)" trixie "$tmp" \
    "deb $url trixie main" "deb $url trixie-updates main"
  wanted_packages >"$tmp/.vantor-packages"
  mv "$tmp" "$root"
}

# Installs what a package list gained since the root was made.
update_root() {
  local missing
  missing=$(comm -13 "$root/.vantor-packages" <(wanted_packages))
  [ -n "$missing" ] || return 0
  say "installing into the root: $(echo $missing)"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  in_root apt-get update -qq
  # shellcheck disable=SC2086
  in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
  wanted_packages >"$root/.vantor-packages"
}

# Copies the checkout to /src/vantor in the root, keeping the build folder of the last run.
copy_checkout() {
  local dest="$root/src/vantor"
  mkdir -p "$dest"
  find "$dest" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
  if git -C "$here" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$here" && git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
      tar --null -T - -cf -) | tar -xf - -C "$dest"
  else
    tar -C "$here" --exclude=./build -cf - . | tar -xf - -C "$dest"
  fi
}

[ -d "$root" ] || make_root
clear_root
mount_all
update_root
copy_checkout
say "root ready at $root; checkout copied"

set +e
if [ $# -gt 0 ]; then
  step in_root bash -c 'cd /src/vantor && exec "$@"' bash "$@"
  status=$?
else
  step in_root bash -c "cd /src/vantor && cmake --preset release >/dev/null && cmake --build build/release -j$jobs"
  status=$?
  if [ "$status" -eq 0 ]; then
    say "built; running the tests"
    step eval 'in_root bash -c "cd /src/vantor && ctest --test-dir build/release -j$jobs --output-on-failure" | tee "$root/src/ctest.log"'
    status=$?
  else
    say "the release build FAILED"
  fi
fi
say "done, exit status $status"
exit "$status"
