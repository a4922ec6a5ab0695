#!/usr/bin/env bash
# The program's main job: list the connected iPod (or the bundled demo device when none
# is mounted) and copy its media into a folder.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUENLOR_BUILD_DIR:-$top/build}
"$top/scripts/build.sh" >/dev/null
cli="$build/src/cli/quenlor-cli"
out=${1:-$HOME/Quenlor-demo-copy}
out=$(realpath -m "$out")
device_args=()
if ! "$cli" list --json >/dev/null 2>&1; then
  demo="$build/demo-device"
  rm -rf "$demo"
  "$build/scripts/demo/quenlor-demo-device" "$demo"
  device_args=(--device "$demo")
  echo "No iPod is mounted; using the demo device in $demo"
fi
echo
"$cli" list "${device_args[@]}"
echo
echo "Copying the ticked music into $out ..."
rc=0
"$cli" copy "${device_args[@]}" --to "$out" || rc=$?
echo
echo "Exporting the photos and the camera roll into $out/Photos ..."
"$cli" photos "${device_args[@]}" || true
"$cli" copy-photos "${device_args[@]}" --to "$out/Photos" --camera || rc=$?
echo
echo "The media went to $out:"
if [ -d "$out" ]; then (cd "$out" && find . -type f | sort | head -n 60); fi
exit "$rc"
