#!/usr/bin/env bash
# Checks a built vantor .deb: every file the package must hold is there, the programs are
# stripped, the dependencies came from shlibdeps, the recommendations are there, and the scripts
# are in the control archive.
set -euo pipefail
deb=$1
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
missing=0
# Every file the package must hold, one a line.
want=(
  ./usr/bin/vantor
  ./usr/libexec/vantor/kestrix
  ./usr/libexec/vantor/libkestrix-driver.so
  ./usr/lib/udev/rules.d/70-vantor.rules
  ./usr/lib/modules-load.d/vantor.conf
  ./usr/share/applications/me.orvella.Vantor.desktop
  ./usr/share/metainfo/me.orvella.Vantor.metainfo.xml
  ./usr/share/icons/hicolor/scalable/apps/me.orvella.Vantor.svg
  ./usr/share/vantor/kwin/front-app.js
  ./usr/share/vantor/gnome-shell/extension-legacy.js
  ./usr/share/vantor/gnome-shell/extension-modules.js
  ./usr/share/gnome-shell/extensions/vantor@orvella.me/metadata.json
  ./usr/share/man/man1/vantor.1.gz
  ./usr/share/doc/vantor/copyright
  ./usr/share/doc/vantor/changelog.gz
  ./usr/share/lintian/overrides/vantor
)
for size in 16 22 24 32 48 64 128 256 512; do
  want+=("./usr/share/icons/hicolor/${size}x${size}/apps/me.orvella.Vantor.png")
done
for path in "${want[@]}"; do
  grep -qxF "$path" <<<"$listing" || { echo "missing: $path"; missing=1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for program in usr/bin/vantor usr/libexec/vantor/kestrix usr/libexec/vantor/libkestrix-driver.so; do
  if [ -e "$root/$program" ] && file "$root/$program" | grep -q 'not stripped'; then
    echo "not stripped: $program"
    missing=1
  fi
done
for size in 16 512; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/me.orvella.Vantor.png"
  [ -e "$png" ] && ! file "$png" | grep -q "PNG image data, $size x $size" && {
    echo "wrong size: $png"
    missing=1
  }
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libspnav0 libudev1 libwayland-client0; do
  grep -q "$library" <<<"$depends" || { echo "no dependency on $library: $depends"; missing=1; }
done
# Qt's Wayland platform, which the windows need on Wayland desktops, is recommended.
recommends=$(dpkg-deb -f "$deb" Recommends)
grep -qw qt6-wayland <<<"$recommends" || { echo "qt6-wayland not recommended: $recommends"; missing=1; }
control=$(dpkg-deb -I "$deb")
for script in postinst prerm postrm triggers; do
  grep -qE " $script( |$)" <<<"$control" || { echo "no $script"; missing=1; }
done
exit "$missing"
