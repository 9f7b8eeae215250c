#!/usr/bin/env bash
# The largest update that arrives whole: button clicks on generated models of growing size, in the
# stand-in viewer as a plain 32-bit program and as a large-address-aware copy, with the KESTRO
# monitor as receiver, under Wine. One JSON line per run on standard output and appended to
# --out (default build/transfer_ceiling.jsonl); benchmarks/plot_ceiling.py draws the figure from
# benchmarks/ceiling_data.json. See benchmarks/transfer_ceiling.py for the options.
#
#   benchmarks/transfer_ceiling.sh [--sizes 1000,10000,...] [--viewers plain,laa] [--out FILE]
#                                  [--build-dir DIR] [--monitor-stack-mb MB]
#
# Needs a built win32 preset and, where this machine refuses 32-bit programs, the guest:
#   KB_GUEST_MEMORY=12G scripts/guest.sh run --share build --need "$PWD" -- benchmarks/transfer_ceiling.sh ...
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin="$root/build/win32"
out="$root/build/transfer_ceiling.jsonl"
pass=()
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) bin=$(realpath -m "$2"); shift 2 ;;
    --out) out=$(realpath -m "$2"); shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) pass+=("$1"); shift ;;
  esac
done
viewer_dir=$(sed -n 's/^BVS_VIEWER_DIR:[A-Z]*=//p' "$bin/CMakeCache.txt" 2>/dev/null || true)
export WINEPREFIX=${WINEPREFIX:-$bin/wineprefix} WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d"}
unset DISPLAY  # the harness starts a private X server
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  timeout 1800 wineboot -i >/dev/null 2>&1 || true
  timeout 300 wineserver -w >/dev/null 2>&1 || true
fi
# Under emulation a first start of Wine is slow (every file read for the first time), and a desktop
# process that starts too late leaves the first program without windows: start Wine once first.
if [ "${KB_WINE_TIME_FACTOR:-1}" != 1 ]; then
  timeout $((60 * KB_WINE_TIME_FACTOR)) wine cmd /c exit >/dev/null 2>&1 || true
  timeout $((60 * KB_WINE_TIME_FACTOR)) wineserver -w >/dev/null 2>&1 || true
fi
# The run has the prefix to itself, and nothing it starts outlives it (cmake/wine-test.sh).
exec "$root/cmake/wine-test.sh" python3 "$root/benchmarks/transfer_ceiling.py" --out "$out" --build-dir "$bin" \
  --viewer-dir "${viewer_dir:-$bin/tools/viewer/bin}" "${pass[@]}"
