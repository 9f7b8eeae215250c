#!/usr/bin/env bash
# Converts an IFC file into a model snapshot for the substitute viewer:
#   scripts/ifc_to_model.sh [--pretty] IN.ifc OUT.json
# Builds the native converter (tools/ifc2snapshot) first when it is missing or out of date, in
# build/native or in the folder named by KB_NATIVE_BUILD. OUT.json is written whole or not at all.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KB_NATIVE_BUILD:-$root/build/native}

case "${1:-}" in
  -h|--help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
if [ $# -lt 2 ]; then
  echo "usage: $0 [--pretty] IN.ifc OUT.json" >&2
  exit 2
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset native -S "$root" -B "$build" >/dev/null
fi
if ! cmake --build "$build" --target ifc2snapshot -j2 >/dev/null 2>"$build/ifc2snapshot-build.log"; then
  # A build folder configured before IFC++ was installed has no such target: configure again.
  cmake -S "$root" -B "$build" >/dev/null
  if ! cmake --build "$build" --target ifc2snapshot -j2 >"$build/ifc2snapshot-build.log" 2>&1; then
    echo "$0: cannot build ifc2snapshot (is libifcplusplus-dev installed? see scripts/install-deps.sh);" \
         "log: $build/ifc2snapshot-build.log" >&2
    exit 1
  fi
fi

exec "$build/tools/ifc2snapshot/ifc2snapshot" "$@"
