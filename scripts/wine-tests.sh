#!/usr/bin/env bash
# The Wine part of the tests: runs tests of the built win32 preset under this system's Wine, with a
# private X server and the build's own Wine prefix (build/win32/wineprefix, made once), and writes
# ctest's output to LOG as well. scripts/test.sh runs it on the machine when the machine runs 32-bit
# programs, and inside scripts/guest.sh when it does not. Exit status: ctest's.
#
#   scripts/wine-tests.sh [--time-factor N] LOG [CTEST ARGUMENTS...]
#
# --time-factor N multiplies the time limit of every Wine test, and of every Windows program in it,
# by N (under emulation everything runs about ten times slower); the tests labelled "host" keep
# theirs.
set -uo pipefail

factor=1
case "${1:-}" in
  -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  --time-factor) factor=${2:-}; shift 2 ;;
esac
if [ $# -lt 1 ] || ! [[ $factor =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/wine-tests.sh [--time-factor N] LOG [CTEST ARGUMENTS...]" >&2
  exit 2
fi
log=$(realpath -m "$1")
shift
rm -f "$log"
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build/win32"
export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
export HOME=${HOME:-/root}
xvfb_pid=

cleanup() {
  if [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1
    timeout 60 wineserver -w >/dev/null 2>&1
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Time limits for this run: each selected test's own (or the preset's 600 s) times the factor, read
# by ctest through cmake/time_limits (KB_CTEST_TIME_LIMITS); wine-run.sh multiplies its own.
unset KB_CTEST_TIME_LIMITS
if [ "$factor" != 1 ]; then
  limits="$build/time-limits.cmake"
  ctest --preset win32 --show-only=json-v1 "$@" 2>/dev/null | python3 -c '
import json, sys
factor = int(sys.argv[1])
for test in json.load(sys.stdin).get("tests", []):
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    if "host" in props.get("LABELS", []):
        continue
    limit = float(props.get("TIMEOUT", 600)) * factor
    print("set_tests_properties([=[%s]=] PROPERTIES TIMEOUT %d)" % (test["name"], limit))
' "$factor" >"$limits" || { echo "wine-tests.sh: cannot list the tests" >&2; exit 2; }
  export KB_CTEST_TIME_LIMITS="$limits" KB_WINE_TIME_FACTOR=$factor
  echo "time limits of the Wine tests multiplied by $factor"
fi

# A display number nobody uses: Xvfb picks it and writes it to a file.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >"$root/build/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq $((300 * factor))); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
display=$(head -1 "$display_file")
rm -f "$display_file"
if [ -z "$display" ]; then
  echo "wine-tests.sh: the X server (Xvfb) did not start (log: build/xvfb.log)" >&2
  exit 1
fi
export DISPLAY=":$display"
echo "Xvfb on $DISPLAY (pid $xvfb_pid), Wine prefix $WINEPREFIX"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix"
  mkdir -p "$WINEPREFIX"
  timeout $((600 * factor)) wineboot -i >"$root/build/wineboot.log" 2>&1 ||
    echo "wineboot reported an error (log: build/wineboot.log)" >&2
  timeout 120 wineserver -w >/dev/null 2>&1
fi

# Under emulation a first start of Wine in a fresh guest is slow (every file read for the first
# time): once it has run, the desktop process of the first test starts within Wine's own limit.
if [ "$factor" != 1 ]; then
  start=$(date +%s)
  timeout $((60 * factor)) wine cmd /c exit >/dev/null 2>&1
  timeout $((60 * factor)) wineserver -w >/dev/null 2>&1
  echo "Wine started once in $(( $(date +%s) - start )) s"
fi

# No pipe after ctest: Wine's background processes keep their output open.
ctest --preset win32 --output-log "$log" "$@"
