#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs the main job: the broker,
# `kestrix`, in the foreground, its log mirrored to standard error (and kept in broker.log in its
# folder, $KESTRIX_HOME or ~/.local/share/kestrix). Without a client claiming the device it leaves
# by itself after 10 s, as it does when Vantor starts it.
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

broker=build/release/Kestrix/kestrix
if [[ -x "$broker" ]]; then
  echo
  echo "starting $broker (Ctrl-C stops it)"
  export KESTRIX_LOG_STDERR=1
  exec "$broker"
fi
