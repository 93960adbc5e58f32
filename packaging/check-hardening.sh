#!/usr/bin/env bash
# Checks that every program and library in a vantor .deb was built with Debian's hardening flags:
# lintian's hardening tags (position-independent code, read-only relocations bound at start,
# fortified libc calls; the package's overrides explain each exception), and the stack
# protector, which lintian does not look for: each calls __stack_chk_fail.
set -euo pipefail
deb=$1
missing=0
lintian --fail-on error,warning,info \
  --tags hardening-no-pie,hardening-no-relro,hardening-no-bindnow,hardening-no-fortify-functions \
  "$deb" 2>/dev/null || missing=1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
while read -r path; do
  file -b "$path" | grep -q '^ELF' || continue
  symbols=$(readelf --dyn-syms -W "$path")
  grep -q ' __stack_chk_fail' <<<"$symbols" ||
    { echo "no stack protector: ${path#"$root"}"; missing=1; }
done < <(find "$root" -type f)
exit "$missing"
