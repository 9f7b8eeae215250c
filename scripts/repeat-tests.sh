#!/usr/bin/env bash
# Runs the Wine tests of the built win32 preset many times in a row beside a load, to find the
# tests that fail by chance: every selected test runs N times in a row and stops at its first
# failure (ctest's --repeat until-fail:N), while K busy loops keep the processors busy. On this
# machine by default; with --in-guest inside the QEMU guest (scripts/guest.sh), as on a machine that
# refuses 32-bit programs, with the busy loops in the guest too. Build first (scripts/test.sh does).
#
#   scripts/repeat-tests.sh [--times N] [--load K] [--in-guest] [CTEST ARGUMENTS...]
#
# Defaults: --times 20, --load 2, and the e2e and Wine tests (-L 'e2e|wine'). Under emulation (a
# TCG guest) the time limits are multiplied by 10, as in scripts/test.sh. The log goes to
# build/repeat-tests.log; the last line is "N passed, M failed", counting tests, one that failed
# in any of its runs as failed. Exit status 0 only when every test passed every run.
set -uo pipefail

times=20
load=2
in_guest=0
while [ $# -gt 0 ]; do
  case $1 in
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --times) times=${2:-}; shift 2 ;;
    --load) load=${2:-}; shift 2 ;;
    --in-guest) in_guest=1; shift ;;
    --inside) shift; break ;;  # the guest's half: what follows goes to wine-tests.sh
    *) break ;;
  esac
done
if ! [[ $times =~ ^[1-9][0-9]*$ && $load =~ ^[0-9]$ ]]; then
  echo "usage: scripts/repeat-tests.sh [--times N] [--load K] [--in-guest] [CTEST ARGUMENTS...]" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- -L 'e2e|wine'
log=$PWD/build/repeat-tests.log
if [ ! -f build/win32/CTestTestfile.cmake ]; then
  echo "repeat-tests.sh: build the win32 preset first (scripts/test.sh, or cmake --preset win32 and cmake --build --preset win32)" >&2
  exit 2
fi

if [ "$in_guest" = 1 ]; then
  accel=${KB_GUEST_ACCEL:-$(scripts/guest.sh accel)}
  factor=1
  [ "$accel" = tcg ] && factor=10
  mapfile -t shares < <(scripts/guest-shares.sh)
  echo "repeat-tests.sh: in the guest ($accel), $times runs of each test beside $load busy loops"
  scripts/guest.sh run --accel "$accel" "${shares[@]}" --time-limit "${KB_GUEST_TIME_LIMIT:-86400}" -- \
    env KB_REPEAT_FACTOR="$factor" bash scripts/repeat-tests.sh --times "$times" --load "$load" --inside "$@"
  status=$?
  tail -1 "$log" 2>/dev/null
  exit $status
fi

# The busy loops, each ended by its process id when the run ends however it ends.
busy=()
stop_load() { [ ${#busy[@]} -eq 0 ] || kill "${busy[@]}" 2>/dev/null; wait "${busy[@]}" 2>/dev/null; busy=(); }
trap stop_load EXIT
trap 'exit 130' INT TERM
for ((i = 0; i < load; i++)); do
  bash -c 'while :; do :; done' &
  busy+=($!)
done
echo "repeat-tests.sh: $times runs of each test beside $load busy loops (pids ${busy[*]:-none})"
start=$(date +%s)
scripts/wine-tests.sh --time-factor "${KB_REPEAT_FACTOR:-1}" "$log.ctest" --repeat "until-fail:$times" "$@"
status=$?
stop_load
line=$(sed 's/\x1b\[[0-9;]*m//g' "$log.ctest" 2>/dev/null |
       grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' | tail -1)
total=$(sed -nE 's/.* failed out of ([0-9]+).*/\1/p' <<<"$line")
bad=$(sed -nE 's/.* ([0-9]+) tests? failed out of.*/\1/p' <<<"$line")
{
  cat "$log.ctest" 2>/dev/null
  echo "repeat-tests.sh: $times runs of each test beside $load busy loops took $(( $(date +%s) - start )) s"
  if [ -n "$total" ]; then echo "$((total - bad)) passed, $bad failed"
  else echo "0 passed, 1 failed"; status=1; fi
} >"$log"
rm -f "$log.ctest"
tail -3 "$log"
exit $status
