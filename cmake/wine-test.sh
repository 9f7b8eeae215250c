#!/usr/bin/env bash
# Runs one Wine test, COMMAND, as the only user of the Wine prefix ($WINEPREFIX): waits until no
# other test holds the prefix (Wine tests run one at a time), ends whatever an earlier test left
# running in it and waits for its Wine server to exit, runs COMMAND, then does the same with what
# COMMAND left behind. Nothing started by a test (a second program started from a Windows program,
# a peer stand-in) outlives it, even when ctest ended the test at its time limit: the next test
# ends it before it starts. cmake/wine-run.sh goes through here when ctest runs it as a test of its
# own; the harnesses that start several programs run themselves through here.
#   usage: cmake/wine-test.sh COMMAND [ARGUMENTS...]   (--help: this text)
set -u
case "${1:-}" in
  -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") echo "usage: cmake/wine-test.sh COMMAND [ARGUMENTS...]" >&2; exit 2 ;;
esac
prefix=${WINEPREFIX:-}
if [ -z "$prefix" ]; then
  echo "wine-test.sh: WINEPREFIX is not set" >&2
  exit 2
fi
prefix=${prefix%/}

# Ends every process of the prefix (wineserver -k reaches them all, also those whose parent is
# gone) and waits for its server to exit.
end_prefix_processes() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix timeout 60 wineserver -w >/dev/null 2>&1
}

mkdir -p "$(dirname "$prefix")"
exec 9>>"$prefix.test-lock"
flock 9
end_prefix_processes

# Programs started inside the test run directly (cmake/wine-run.sh checks this).
export KB_WINE_TEST=$$
# Its own standard input, not the empty one a background command gets by default.
"$@" <&0 9>&- &
child=$!
trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
status=0
wait "$child" || status=$?
# A signal ends the wait early: wait for the test itself.
while kill -0 "$child" 2>/dev/null; do
  status=0
  wait "$child" || status=$?
done
end_prefix_processes
exit "$status"
