#!/usr/bin/env bash
# Builds everything and runs every test; the output ends with CTest's summary.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUENLOR_BUILD_DIR:-$top/build}
"$top/scripts/build.sh"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
