#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs the main job: the app,
# `vantor`, in the foreground with its log on standard error. It starts the broker, `kestrix`,
# from the build tree when none answers. Ctrl-C stops it. Without an X display there is no app in
# front, so it waits for the device without taking it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build build/release -j"$(nproc)"
echo
echo "built in build/release:"
find build/release -maxdepth 3 -type f -executable ! -name '*.so*' ! -path '*/CMakeFiles/*' \
  -printf '  %P\n' | sort
find build/release -maxdepth 3 -type f \( -name '*.a' -o -name '*.so' \) ! -path '*/CMakeFiles/*' \
  -printf '  %P\n' | sort

app=build/release/Vantor/vantor
echo
echo "starting $app (Ctrl-C stops it; the broker log is in \${KESTRIX_HOME:-~/.local/share/kestrix}/broker.log)"
exec "$app"
