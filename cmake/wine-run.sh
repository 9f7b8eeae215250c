#!/usr/bin/env bash
# Runs one Windows executable under Wine in the build's private prefix, with a time limit.
# Used as CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs the win32 tests through it. Run as a test of
# its own, it goes through cmake/wine-test.sh (one test at a time in the prefix, nothing left
# behind); inside such a test (KB_WINE_TEST set) it runs the program directly.
# KB_WINE_TIMEOUT overrides the limit (seconds, default 300), KB_WINE_TIME_FACTOR multiplies it
# (scripts/wine-tests.sh sets it under emulation); DISPLAY must name a running X server for tests
# that open windows (scripts/wine-tests.sh starts Xvfb).
#   usage: cmake/wine-run.sh PROGRAM.exe [ARGUMENTS...]   (--help: this text)
set -u
case "${1:-}" in
  -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
prefix=${WINEPREFIX:-}
if [ -z "$prefix" ]; then
  echo "wine-run.sh: WINEPREFIX is not set" >&2
  exit 2
fi
if [ -z "${KB_WINE_TEST:-}" ]; then
  exec "$(dirname "$0")/wine-test.sh" "$0" "$@"
fi
export WINEPREFIX="$prefix" WINEDEBUG=${WINEDEBUG:--all} WINEARCH=win32
# No debugger on a crash: the test fails at once instead of waiting for its time limit.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
exec timeout --kill-after=10 $(( ${KB_WINE_TIMEOUT:-300} * ${KB_WINE_TIME_FACTOR:-1} )) wine "$@"
