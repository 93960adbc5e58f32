#!/usr/bin/env bash
# Ends test-debian13.sh and install-deps.sh each way they can end; they leave the machine as it was.
# Each case runs in a private mount and PID namespace, with private folders and stand-in tools.
# shellcheck disable=SC2015,SC2016,SC2086 # stand-ins and commands in the root expand their own $
set -uo pipefail
s=$(cd "$(dirname "$0")/.." && pwd) failed=0
[ $# -gt 0 ] || for c in refused foreign link signals reader-gone leftovers "apt-fails none fail" \
  "apt-interrupted file interrupt" "apt-succeeds link ok"; do
  out=$(unshare --mount --pid --fork --mount-proc "$0" $c 2>&1) && echo "${c%% *}: passed" ||
    { printf '%s: FAILED\n%s\n' "${c%% *}" "$out" && failed=1; }
done
[ $# -gt 0 ] || exit "$failed"
set -x # shown when a case fails
# A private /run to work in, which also tells install-deps.sh that no systemd runs.
mount -t tmpfs run /run && mkdir /run/bin && cd /run && for d in /etc /usr/sbin; do
  mkdir -p /run$d.{u,w} &&
    mount -t overlay o -o "lowerdir=$d,upperdir=/run$d.u,workdir=/run$d.w" $d || exit 1
done
stub() { printf '#!/bin/sh\n%s\n' "$2" >/run/bin/$1 && chmod +x /run/bin/$1; }
stub dpkg-query 'exit 1' && stub systemctl 'find /etc/systemd/system -lname "*/$3" -delete'
stub update-rc.d 'for l in /etc/rc?.d/S??$1; do mv $l ${l%/*}/K01$1; done'
stub mmdebstrap 'while [ "$1" != trixie ]; do shift; done; mkdir -p $2/usr && mount --bind /usr $2/usr &&
  for d in bin lib lib64 sbin; do ln -s usr/$d $2/$d; done'
stub apt-get '[ $1 = install ] || exit 0; /usr/sbin/policy-rc.d x start; echo $? >/run/policy-said
  mkdir -p /etc/rc2.d /etc/systemd/system/a.wants && ln -s ../init.d/food /etc/rc2.d/S01food &&
  ln -s /lib/systemd/system/food.service /etc/systemd/system/a.wants/
  case $APT in fail) exit 100 ;; interrupt) kill -INT $PPID; exit 130 ;; esac'
export PATH=/run/bin:$PATH
# d13 ROOT COMMAND ARG...: test-debian13.sh on ROOT running COMMAND there, where $0 is its process.
d13() { DEBIAN13_ROOT=$1 sh -c 'c=$1; shift; exec "$0" bash -c "$c" $$ "$@"' $s/test-debian13.sh "${@:2}"; }
binds() { awk -v r="$1/" 'index($5, r) == 1 && $5 != r "usr"' /proc/self/mountinfo; }
procs() { for p in /proc/[0-9]*; do [ $p/root -ef $1 ] && echo ${p#/proc/}; done; }
clean() { [ -z "$(binds $r)$(procs $r)" ]; }
policy() { ls -l $p 2>&1; cat $p 2>&1; }
r=/run/root p=/usr/sbin/policy-rc.d
# The root that the cases of test-debian13.sh but the first run in, made as a first run makes it.
[ $1 = refused ] || [ $# -gt 1 ] || { d13 $r true && mkfifo $r/ready; } || exit 1
case $1 in
  refused) # nothing mounted, nothing signalled
    mounts=$(cat /proc/self/mountinfo) && { sleep infinity & }
    for root in / /run/.. relative/root /run; do d13 $root true; [ $? = 2 ] || exit 1; done
    kill -0 $! && [ "$(cat /proc/self/mountinfo)" = "$mounts" ] ;;
  foreign) # the root of a process that no run started
    chroot $r sh -c 'echo >/ready; exec sleep infinity' & read -r <$r/ready
    d13 $r true; [ $? = 2 ] && [ "$(procs $r)" = $! ] && [ -z "$(binds $r)" ] ;;
  link) ln -s root /run/link && d13 /run/link/ 'sleep infinity >/dev/null 2>&1 &' && clean ;;
  signals) # a daemon that, ended, signals the script: a second Ctrl-C, a closed terminal...
    d13 $r '(trap "kill -INT $0; kill -HUP $0; kill -PIPE $0; kill -TERM $0" TERM
      while :; do sleep infinity & wait; done) >/dev/null 2>&1 &' && clean ;;
  reader-gone) # as with | head, once a daemon is left there
    exec {out}> >(head -c 1 >/dev/null)
    d13 $r 'sleep infinity >/dev/null 2>&1 & echo; while kill -0 $1 2>/dev/null; do :; done' $! >&$out; clean ;;
  leftovers) # of a run killed outright; while it ran, another was refused
    d13 $r 'echo $0 >/ready; exec sleep infinity' & read -r pid <$r/ready
    d13 $r true; [ $? = 2 ] && kill -KILL $pid && wait $!
    [ "$(binds $r)" ] && [ "$(procs $r)" ] && d13 $r true && clean ;;
  apt-*) # the policy before, the end of the install
    rm -f $p && case $2 in file) echo 'exit 0' >$p && chmod +x $p ;; link) ln -s /run/target $p ;; esac
    before=$(policy) enabled=$($s/install-deps.sh --enabled)
    APT=$3 $s/install-deps.sh --tests
    [ "$($s/install-deps.sh --enabled)" = "$enabled" ] && [ -L /etc/rc2.d/K01food ] &&
      [ "$(policy)" = "$before" ] && { [ $2 != none ] || [ "$(cat /run/policy-said)" = 101 ]; } ;;
esac
