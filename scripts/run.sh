#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs the main job.
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
