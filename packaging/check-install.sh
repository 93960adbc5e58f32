#!/usr/bin/env bash
# Installs a vantor .deb on this machine, starts the installed vantor and removes the package
# again. Once vantor has its window-shot mode (`vantor --help` lists -snapshot), the start is a
# window shot of the About window, offscreen; before that, `vantor --version`, and a vantor that
# does not know --version yet counts as started when it is still running after 5 s.
set -uo pipefail
deb=$1
if dpkg-query -W -f='${Status}' vantor 2>/dev/null | grep -q 'install ok installed'; then
  echo "vantor is installed already; not touching it"
  exit 1
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
home=$(mktemp -d)
cleanup() {
  $sudo dpkg --purge vantor >/dev/null || echo "could not remove the package"
  rm -rf "$home"
}
trap cleanup EXIT
$sudo dpkg -i "$deb" || exit 1

# A home of its own, so a broker the app may start stays in it and leaves by itself.
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data KESTRIX_HOME=$home/kestrix
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
version=$(dpkg-deb -f "$deb" Version)
if timeout 5 /usr/bin/vantor --help 2>/dev/null | grep -q -- '-snapshot'; then
  shot=$home/about.png
  timeout 60 /usr/bin/vantor -snapshot "$shot" -snapshotWindow about || exit 1
  file "$shot" | grep -q 'PNG image data' || { echo "no window shot at $shot"; exit 1; }
  echo "window shot: $(file -b "$shot")"
else
  said=$(timeout 5 /usr/bin/vantor --version)
  status=$?
  if [ "$status" -eq 124 ]; then
    echo "vantor has no --version yet; it started and ran for 5 s"
  elif [ "$status" -ne 0 ] || ! grep -qF "$version" <<<"$said"; then
    echo "vantor --version: status $status, said: $said"
    exit 1
  fi
fi
# The GNOME Shell extension's code is linked in the module style of the installed Shell.
extension=/usr/share/gnome-shell/extensions/vantor@orvella.me/extension.js
shell=$(dpkg-query -W -f='${Version}' gnome-shell 2>/dev/null | sed -e 's/^[0-9]*://' -e 's/[^0-9].*//')
style=modules
[ -n "$shell" ] && [ "$shell" -lt 45 ] && style=legacy
[ "$(readlink -f "$extension")" = "/usr/share/vantor/gnome-shell/extension-$style.js" ] || {
  echo "$extension: $(readlink "$extension"), not the $style style for GNOME Shell '$shell'"
  exit 1
}
# The broker installed beside it answers too.
timeout 5 /usr/libexec/vantor/kestrix --version | grep -qF "kestrix $version" || exit 1
