#!/usr/bin/env bash
# A Wine test that ctest ends at its time limit leaves nothing behind for the next one: a KESTRO
# monitor started by the test and detached from it (as a Windows program started by another one
# is), which would be taken for KESTRO by every later test, is ended before the next test starts,
# and so is everything else the test started (the prefix's Wine server too, unless it is kept from
# test to test and was started before). Both "tests" go through cmake/wine-test.sh, as every Wine
# test does; the first is ended the way ctest ends a test at its limit: SIGKILL to it and
# everything below it.
# usage: leftovers_test.sh KESTRO_monitor.exe
set -u
monitor=${1:?usage: leftovers_test.sh KESTRO_monitor.exe}
: "${WINEPREFIX:?WINEPREFIX is not set}"
here=$(cd "$(dirname "$0")" && pwd)
wine_test="$here/../../cmake/wine-test.sh"
wine_run="$here/../../cmake/wine-run.sh"
factor=${KB_WINE_TIME_FACTOR:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The processes that carry a test's mark (cmake/wine-test.sh sets KB_WINE_TEST to its process id;
# Wine hands the environment on to the Windows programs and to its server).
marked() {
  local p
  for p in /proc/[0-9]*; do
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qx "KB_WINE_TEST=$1" && echo "${p#/proc/}"
  done
}

# Every process below $1, then $1: what ctest kills when a test runs out of time.
descendants() {
  local child
  for child in $(ps -o pid= --ppid "$1"); do descendants "$child"; done
  echo "$1"
}

echo "== a test starts a monitor apart from itself, then hangs"
"$wine_test" bash -c '
  ( "$1" "$2" --out "Z:${3//\//\\}\\monitor.jsonl" --timeout 600000 >"$3/monitor.out" 2>&1 & )
  sleep 600' bash "$wine_run" "$monitor" "$work" &
first=$!
for _ in $(seq $((600 * factor))); do
  grep -q '"event":"ready"' "$work/monitor.jsonl" 2>/dev/null && break
  kill -0 "$first" 2>/dev/null || break
  sleep 0.1
done
grep -q '"event":"ready"' "$work/monitor.jsonl" 2>/dev/null ||
  fail "the monitor did not start: $(cat "$work/monitor.out" 2>/dev/null)"
left=$(marked "$first" | tr '\n' ' ')
echo "the first test's processes: $left"

echo "== ctest ends it at its time limit"
{
  # shellcheck disable=SC2046
  kill -KILL $(descendants "$first")
  wait "$first"
} 2>/dev/null
stray=$(marked "$first" | tr '\n' ' ')
[ -n "$stray" ] || fail "nothing outlived the first test: this test no longer shows anything"
echo "still running after it: $stray"

echo "== the next test starts with none of them"
# A process counts while it exists and is not a zombie; the time-limit wrappers around the ended
# Windows programs get a moment to notice.
"$wine_test" bash -c '
  for _ in $(seq '"$((50 * factor))"'); do
    alive=
    for p in '"$stray"'; do
      state=$(sed -n "s/^[0-9]* (.*) \([A-Z]\).*/\1/p" /proc/$p/stat 2>/dev/null)
      [ -n "$state" ] && [ "$state" != Z ] && alive="$alive $p"
    done
    [ -z "$alive" ] && exit 0
    sleep 0.1
  done
  echo "FAIL: still running in the next test:$alive" >&2
  alive=${alive# }
  ps -o pid,stat,args -p "${alive// /,}" >&2
  exit 1' || fail "the next test started beside the first one's leftovers"
echo "leftovers: all checks passed"
