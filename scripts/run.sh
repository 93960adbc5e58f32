#!/usr/bin/env bash
# Installs what building and running the programs need if it is missing (no test tools), builds
# what the app needs and nothing more (vantor, the kestrix broker and its driver library, in the
# release configuration without the tests), and starts `vantor` in the foreground with its log on
# standard error. It starts the broker from the build tree when none answers.
# Ctrl-C stops it.
#
# Without a display there is no tray and no app in front to scroll: the script then writes a
# window shot of each of vantor's windows into build/shots/ instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset release -DVANTOR_TESTS=OFF -DVANTOR_BENCHMARKS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target vantor kestrix kestrix-driver

app=build/release/Vantor/app/vantor
[ -x "$app" ] || app=build/release/Vantor/vantor
# The broker's folder as the broker finds it.
broker_log="${KESTRIX_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/kestrix}/broker.log"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo
  echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set)."
  mkdir -p build/shots
  for scene in main defaults movements directions apps settings about releaseNotes; do
    QT_QPA_PLATFORM=offscreen "$app" -snapshot "build/shots/$scene.png" -snapshotWindow "$scene" \
      || echo "no window shot of $scene"
  done
  echo
  echo "Window shots of every window are in $(pwd)/build/shots/."
  echo "Scrolling with the SpaceMouse needs a desktop session: run ./scripts/run.sh there."
  exit 0
fi

echo
echo "starting $app (Ctrl-C stops it; the broker log is in $broker_log)"
exec "$app"
