#!/usr/bin/env bash
# Runs one Windows executable under Wine in the build's private prefix, with a time limit.
# Used as CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs the win32 tests through it.
# KB_WINE_TIMEOUT overrides the limit (seconds); DISPLAY must name a running X server for tests
# that open windows (scripts/test.sh starts Xvfb).
#   usage: cmake/wine-run.sh PROGRAM.exe [ARGUMENTS...]   (--help: this text)
set -u
case "${1:-}" in
  -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
prefix=${WINEPREFIX:-}
if [ -z "$prefix" ]; then
  echo "wine-run.sh: WINEPREFIX is not set" >&2
  exit 2
fi
export WINEPREFIX="$prefix" WINEDEBUG=${WINEDEBUG:--all} WINEARCH=win32
# No debugger on a crash: the test fails at once instead of waiting for its time limit.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
exec timeout --kill-after=10 "${KB_WINE_TIMEOUT:-300}" wine "$@"
