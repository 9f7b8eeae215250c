#!/usr/bin/env bash
# The Wine part of the tests: runs tests of the built win32 preset under this system's Wine, with a
# private X server and the build's own Wine prefix (build/win32/wineprefix, made once), and writes
# ctest's output to LOG as well. scripts/test.sh runs it on the machine when the machine runs 32-bit
# programs, and inside scripts/guest.sh when it does not. Exit status: ctest's.
#
#   scripts/wine-tests.sh [--time-factor N] [--jobs N] LOG [CTEST ARGUMENTS...]
#
# --time-factor N multiplies the time limit of every Wine test, and of every Windows program in it,
# by N (under emulation everything runs about ten times slower); the tests labelled "host" keep
# theirs.
# --jobs N runs the selected tests in N ctest runs side by side, each with a Wine prefix and an X
# server of its own (build/win32/wineprefix, then copies of it: wineprefix-2, ...), so that no test
# sees another's windows or processes. The tests are dealt out by the time each took last (ctest's
# cost data), the longest first; fixture setups are not run (run them beforehand, as test.sh does
# with the "host" tests). LOG then holds each run's log and one summary line for all of them.
# KB_WINE_KEEP_SERVER=0: the prefix's Wine server is ended and started again around every test
# (by default it is kept from the first test to the last; cmake/wine-test.sh).
set -uo pipefail

factor=1
jobs=1
while [ $# -gt 0 ]; do
  case $1 in
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --time-factor) factor=${2:-}; shift 2 ;;
    --jobs) jobs=${2:-}; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ] || ! [[ $factor =~ ^[1-9][0-9]*$ ]] || ! [[ $jobs =~ ^[1-9]$ ]]; then
  echo "usage: scripts/wine-tests.sh [--time-factor N] [--jobs N] LOG [CTEST ARGUMENTS...]" >&2
  exit 2
fi
log=$(realpath -m "$1")
shift
rm -f "$log"
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build/win32"
export WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
export HOME=${HOME:-/root}
unset WINEPREFIX DISPLAY

# Slot k (1..jobs): a Wine prefix, an X server, a ctest run.
prefix_of() { if [ "$1" = 1 ]; then echo "$build/wineprefix"; else echo "$build/wineprefix-$1"; fi; }
xvfb_pids=()
ctest_pids=()
# Ends every slot's Wine server, and everything running in its prefix, and waits for it.
end_servers() {
  local k
  for ((k = 1; k <= jobs; k++)); do
    [ -d "$(prefix_of "$k")" ] || continue
    WINEPREFIX=$(prefix_of "$k") wineserver -k >/dev/null 2>&1
    WINEPREFIX=$(prefix_of "$k") timeout 60 wineserver -w >/dev/null 2>&1
  done
}
cleanup() {
  local pid
  for pid in "${ctest_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  end_servers
  for pid in "${xvfb_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The selected tests, in ctest's order, with their properties (one JSON line each).
ctest_args=("$@")
[ "$jobs" = 1 ] || ctest_args+=(-FS '.*')
selected=
if [ "$jobs" != 1 ] || [ "$factor" != 1 ]; then  # (a plain run needs no list)
selected=$(ctest --preset win32 --show-only=json-v1 "${ctest_args[@]}" 2>/dev/null | python3 -c '
import json, sys
for test in json.load(sys.stdin).get("tests", []):
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    print(json.dumps({"name": test["name"], "timeout": float(props.get("TIMEOUT", 600)),
                      "host": "host" in props.get("LABELS", [])}))
') || { echo "wine-tests.sh: cannot list the tests" >&2; exit 2; }
fi

# Time limits for this run: each selected test's own (or the preset's 600 s) times the factor, read
# by ctest through cmake/time_limits (KB_CTEST_TIME_LIMITS); wine-run.sh multiplies its own.
unset KB_CTEST_TIME_LIMITS
if [ "$factor" != 1 ]; then
  limits="$build/time-limits.cmake"
  python3 -c '
import json, sys
for line in sys.stdin:
    test = json.loads(line)
    if not test["host"]:
        print("set_tests_properties([=[%s]=] PROPERTIES TIMEOUT %d)" % (test["name"], test["timeout"] * int(sys.argv[1])))
' "$factor" <<<"$selected" >"$limits" || { echo "wine-tests.sh: cannot write the time limits" >&2; exit 2; }
  export KB_CTEST_TIME_LIMITS="$limits" KB_WINE_TIME_FACTOR=$factor
  echo "time limits of the Wine tests multiplied by $factor"
fi

# Starts an X server on a display number nobody uses (Xvfb picks it, and writes it to a file);
# adds the number to displays.
displays=()
start_xvfb() {
  local k=$1 display_file display
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" \
    >"$root/build/xvfb$([ "$k" = 1 ] || echo "-$k").log" 2>&1 &
  xvfb_pids+=($!)
  for _ in $(seq $((300 * factor))); do
    [ -s "$display_file" ] && break
    kill -0 "${xvfb_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  display=$(head -1 "$display_file")
  rm -f "$display_file"
  [ -n "$display" ] && displays+=("$display")
}
# One after the other: a new server must see the displays taken before it.
for ((k = 1; k <= jobs; k++)); do
  start_xvfb "$k" || { echo "wine-tests.sh: the X server (Xvfb) did not start (log: build/xvfb*.log)" >&2; exit 1; }
done
export WINEPREFIX=$(prefix_of 1) DISPLAY=":${displays[0]}"
echo "Xvfb on :$(printf "%s :" "${displays[@]}" | sed "s/ :$//") (pids ${xvfb_pids[*]}), Wine prefix $WINEPREFIX$([ "$jobs" = 1 ] || echo " and $((jobs - 1)) copies")"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix"
  start=$(date +%s)
  mkdir -p "$WINEPREFIX"
  timeout $((600 * factor)) wineboot -i >"$root/build/wineboot.log" 2>&1 ||
    echo "wineboot reported an error (log: build/wineboot.log)" >&2
  timeout 120 wineserver -w >/dev/null 2>&1
  echo "Wine prefix made in $(( $(date +%s) - start )) s"
fi
# The other slots' prefixes: copies of the first, made again when Wine has made or updated the
# first since (it notes the time of its setup file in .update-timestamp).
# The system's DLLs (nine tenths of a prefix, never written by a test) are linked, not copied.
copy_prefix() {
  local from=$1 to=$2 shared=(drive_c/windows/system32 drive_c/windows/winsxs) dir
  rm -rf "$to" && mkdir -p "$to" || return 1
  tar -C "$from" "${shared[@]/#/--exclude=./}" -cf - . | tar -C "$to" -xf - || return 1
  for dir in "${shared[@]}"; do
    [ ! -d "$from/$dir" ] || cp -al "$from/$dir" "$to/$dir" || return 1
  done
}
made=$(cat "$WINEPREFIX/.update-timestamp" 2>/dev/null)
for ((k = 2; k <= jobs; k++)); do
  copy=$(prefix_of "$k")
  if [ "$(cat "$copy/.kb-copy-of" 2>/dev/null)" != "$made" ]; then
    start=$(date +%s)
    WINEPREFIX=$copy wineserver -k >/dev/null 2>&1
    rm -rf "$copy"
    copy_prefix "$WINEPREFIX" "$copy.new" && echo "$made" >"$copy.new/.kb-copy-of" && mv "$copy.new" "$copy" ||
      { echo "wine-tests.sh: cannot copy the Wine prefix to $copy" >&2; exit 1; }
    echo "Wine prefix copied to $copy in $(( $(date +%s) - start )) s"
  fi
done

# Each prefix's Wine server, Wine's own processes beside it and the desktop run from the first
# test to the last (cmake/wine-test.sh starts them when they do not run, and ends only the
# programs between tests); cleanup ends them. KB_WINE_KEEP_SERVER=0 ends them around every test
# instead, as before: starting them is most of a short test's time under emulation.
if [ "${KB_WINE_KEEP_SERVER:-1}" = 1 ]; then export KB_WINE_KEEP_SERVER=1; else unset KB_WINE_KEEP_SERVER; fi
# A server left by a run that was killed is not taken over: its desktop may belong to an X server
# that is gone.
end_servers
# Under emulation a first start of Wine in a fresh guest is slow (every file read for the first
# time): once it has run, the desktop process of the first test starts within Wine's own limit.
if [ "$factor" != 1 ]; then
  start=$(date +%s)
  starting=()
  for ((k = 1; k <= jobs; k++)); do
    if [ -n "${KB_WINE_KEEP_SERVER:-}" ]; then
      WINEPREFIX=$(prefix_of "$k") DISPLAY=":${displays[k - 1]}" cmake/wine-test.sh true &
    else
      (export WINEPREFIX=$(prefix_of "$k") DISPLAY=":${displays[k - 1]}"
       timeout $((60 * factor)) wine cmd /c exit >/dev/null 2>&1
       timeout $((60 * factor)) wineserver -w >/dev/null 2>&1) &
    fi
    starting+=($!)
  done
  wait "${starting[@]}"
  echo "Wine started once in $(( $(date +%s) - start )) s"
fi

# No pipe after ctest: Wine's background processes keep their output open.
if [ "$jobs" = 1 ]; then
  ctest --preset win32 --output-log "$log" "$@"
  exit
fi

# The tests dealt out: the longest first, each to the run with the least time so far. A test's
# time is the one ctest noted last (Testing/Temporary/CTestCostData.txt: NAME RUNS SECONDS); a test
# without one counts as its time limit scaled by what the known ones took of theirs.
mapfile -t shards < <(python3 - "$jobs" "$build/Testing/Temporary/CTestCostData.txt" "$selected" <<'EOF'
import json, sys
jobs, cost_file = int(sys.argv[1]), sys.argv[2]
tests = [json.loads(line) for line in sys.argv[3].splitlines() if line.strip()]
costs = {}
try:
    for line in open(cost_file):
        if line.startswith('---'):
            break
        parts = line.split()
        if len(parts) == 3 and float(parts[2]) > 0:
            costs[parts[0]] = float(parts[2])
except OSError:
    pass
known = [t for t in tests if t['name'] in costs]
scale = sum(costs[t['name']] for t in known) / sum(t['timeout'] for t in known) if known else 1.0
for t in tests:
    t['cost'] = costs.get(t['name'], t['timeout'] * scale)
load, shards = [0.0] * jobs, [[] for _ in range(jobs)]
for position, t in sorted(enumerate(tests, 1), key=lambda pt: -pt[1]['cost']):
    k = load.index(min(load))
    load[k] += t['cost']
    shards[k].append(position)
for k in range(jobs):
    print(','.join(str(p) for p in sorted(shards[k])))
EOF
)
for ((k = 1; k <= jobs; k++)); do
  positions=${shards[k - 1]:-}
  [ -n "$positions" ] || continue
  echo "run $k (prefix $(prefix_of "$k"), display :${displays[k - 1]}): tests $positions of the selection"
  WINEPREFIX=$(prefix_of "$k") DISPLAY=":${displays[k - 1]}" \
    ctest --preset win32 --output-log "$log.$k" "${ctest_args[@]}" -I "0,0,0,$positions" &
  ctest_pids+=($!)
done
status=0
for pid in "${ctest_pids[@]}"; do wait "$pid" || status=1; done
ctest_pids=()

# One log: each run's, then the summary line for all of them.
total=0 bad=0 names=()
for ((k = 1; k <= jobs; k++)); do
  [ -n "${shards[k - 1]:-}" ] || continue
  cat "$log.$k" >>"$log" 2>/dev/null
  line=$(sed 's/\x1b\[[0-9;]*m//g' "$log.$k" | grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' | tail -1)
  if [ -z "$line" ]; then
    # Cut short (or ctest did not run): one failure, as for a single run.
    echo "wine-tests.sh: run $k ended without a summary: counted as one failed test" >&2
    status=1 bad=$((bad + 1)) total=$((total + 1))
    continue
  fi
  bad=$((bad + $(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")))
  total=$((total + $(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")))
  rm -f "$log.$k"
done
if [ "$total" -gt 0 ]; then
  summary="$(( (total - bad) * 100 / total ))% tests passed, $bad tests failed out of $total"
  printf '\n==== all %d runs\n%s\n' "$jobs" "$summary" | tee -a "$log"
fi
exit "$status"
