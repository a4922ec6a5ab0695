#!/usr/bin/env bash
# Configures and builds into build/ (or $QUENLOR_BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/bootstrap.sh"
build=${QUENLOR_BUILD_DIR:-$top/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENLOR_WERROR=ON "$@" >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)"
