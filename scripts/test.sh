#!/usr/bin/env bash
# Runs every test: installs what is missing (as root), then configures, builds and tests the native
# preset and the win32 preset. The win32 tests that need Wine run on this machine when it runs
# 32-bit programs, and otherwise inside a throw-away QEMU guest that boots Debian's own kernel
# (scripts/guest.sh); the builds and the win32 tests labelled "host" always run on the machine.
# Where Wine runs here, one small Wine test also runs in the guest, so that the guest is proven on
# every machine. The last lines say where the Wine tests ran and end with "N passed, M failed"; the
# exit status is 0 only when nothing failed, and Wine tests that could not run count as a failure.
#   --wine-in-guest        run the Wine tests in the guest even here (or KB_WINE_SIDE=guest)
#   --wine-native          run them on this machine, never in the guest (or KB_WINE_SIDE=native)
#   --no-guest-self-test   leave out the guest self-test
#   --help                 this text
# KB_GUEST_ACCEL=kvm|tcg chooses the guest's accelerator; by default KVM when a stock kernel boots
# with it here, else emulation (TCG), where the Wine tests' time limits are multiplied by 10.
# KB_GUEST_JOBS=N runs the Wine tests in the guest N at a time, each in its own prefix (default 2
# on a machine with two cores or more, else 1).
set -uo pipefail

side=${KB_WINE_SIDE:-auto}
self_test=1
for arg in "$@"; do
  case $arg in
    --wine-in-guest) side=guest ;;
    --wine-native) side=native ;;
    --no-guest-self-test) self_test=0 ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: scripts/test.sh [--wine-in-guest | --wine-native] [--no-guest-self-test]" >&2
       exit 2 ;;
  esac
done
case $side in
  auto|guest|native) ;;
  *) echo "test.sh: KB_WINE_SIDE must be auto, guest or native" >&2; exit 2 ;;
esac

cd "$(dirname "$0")/.."
root=$PWD
passed=0
failed=0
wine_where=
self_test_result=
export HOME=${HOME:-/root}

step() { printf '\n==== %s\n' "$*"; }
seconds_since() { echo $(( $(date +%s) - $1 )); }

# Adds the counts of one ctest log to the totals; a log without ctest's summary (ctest did not
# run, or the run was cut short) counts as one failure. Returns 1 in that case.
count_log() {
  local log=$1 line total bad
  line=$(sed 's/\x1b\[[0-9;]*m//g' "$log" 2>/dev/null |
         grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' | tail -1)
  if [ -n "$line" ]; then
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    return 0
  fi
  grep -q 'No tests were found' "$log" 2>/dev/null && return 0
  failed=$((failed + 1))
  return 1
}

# Configure and build one preset (as far as it goes); a failure counts as one failure of its own.
# Returns 1 when it could not even be configured.
build_preset() {
  local preset=$1
  step "configure $preset"
  if ! cmake --preset "$preset"; then
    failed=$((failed + 1))
    return 1
  fi
  step "build $preset"
  if ! cmake --build --preset "$preset" -j2 -- -k 0; then
    echo "build of $preset failed; running the tests that were built" >&2
    failed=$((failed + 1))
  fi
}

# ctest on the machine itself; further arguments go to ctest.
test_preset() {
  local preset=$1 log=$2
  shift 2
  ctest --preset "$preset" --output-log "$log" "$@"
  count_log "$log"
}

# Runs scripts/wine-tests.sh LOG [CTEST ARGUMENTS] in the guest, on the accelerator KB_GUEST_ACCEL
# names or guest.sh finds, JOBS ctest runs side by side (each with its own Wine prefix and X server).
# Sets status (the guest's; 125: it could not be started), took (seconds) and where (the guest's
# kind, for the summary).
run_in_guest() {
  local jobs=$1 log=$2 factor=1 shares start
  shift 2
  accel=${KB_GUEST_ACCEL:-$(scripts/guest.sh accel)}
  echo "accelerator: $accel"
  where=$(accel_name "$accel")
  [ "$accel" = tcg ] && factor=10
  mapfile -t shares < <(scripts/guest-shares.sh)
  rm -f "$log"  # a guest that never starts leaves none
  start=$(date +%s)
  scripts/guest.sh run --accel "$accel" "${shares[@]}" --time-limit "${KB_GUEST_TIME_LIMIT:-4500}" -- \
    bash scripts/wine-tests.sh --time-factor "$factor" --jobs "$jobs" "$log" "$@"
  status=$?
  took=$(seconds_since "$start")
}

accel_name() { [ "$1" = kvm ] && echo "a KVM guest" || echo "an emulated guest (TCG)"; }

# Wine runs 32-bit Windows programs as 32-bit Linux processes. A kernel without 32-bit support
# (booted with ia32_emulation=off, as some virtual machines are) cannot start them at all; there
# the Wine tests run in the guest, whose kernel can.
why="forced with --wine-in-guest or KB_WINE_SIDE=guest"
if [ "$side" = auto ]; then
  if scripts/guest.sh runs-32bit; then side=native; else side=guest; fi
  why="this machine cannot run 32-bit programs"
fi

# Everything this run needs: the packages, and the guest's parts (QEMU, busybox, its kernel) unless
# no guest is taken. Installed when missing as root; otherwise named, and counted as a failure.
step "dependencies"
deps_options=()
if [ "$self_test" = 0 ] && [ "$side" = native ]; then deps_options=(--no-guest); fi
if missing=$(bash scripts/install-deps.sh --check "${deps_options[@]}"); then
  echo "everything needed is there"
elif [ "$(id -u)" = 0 ]; then
  echo "installing what is missing: ${missing#missing: }"
  bash scripts/install-deps.sh "${deps_options[@]}" ||
    { echo "installing dependencies failed" >&2; failed=$((failed + 1)); }
else
  echo "$missing (run scripts/install-deps.sh as root)" >&2
  failed=$((failed + 1))
fi
mkdir -p build

if build_preset native; then
  step "test native"
  test_preset native "$root/build/ctest-native.log"
fi

# ---- converter fuzz: a short run of the IFC converter's fuzz target (fuzz/run_converter_fuzz.sh,
# clang with the sanitizers, in build/fuzz; a fixed seed and at most 10,000 inputs, so that a run
# is the same on every machine and a failure can be run again); one
# passed test when it finds nothing, else one failed.
step "fuzz the IFC converter (60 s)"
if bash fuzz/run_converter_fuzz.sh 60 -seed=1 -runs=10000 >"$root/build/converter-fuzz.log" 2>&1; then
  passed=$((passed + 1))
  grep -E '^stat::number_of_executed_units' "$root/build/converter-fuzz.log" || true
else
  tail -n 60 "$root/build/converter-fuzz.log"
  echo "the converter fuzz run failed (build/converter-fuzz.log)" >&2
  failed=$((failed + 1))
fi
# ---- end of converter fuzz

if build_preset win32; then
  if [ "$side" = native ]; then
    step "test win32 (Wine on this machine)"
    bash scripts/wine-tests.sh "$root/build/ctest-win32.log"
    if count_log "$root/build/ctest-win32.log"; then
      wine_where="Wine tests: ran natively on this machine"
    else
      wine_where="Wine tests: could NOT run on this machine (see above): counted as a failure"
    fi
    if [ "$self_test" = 1 ]; then
      step "guest self-test: one Wine test and the guest's /dev in the guest"
      run_in_guest 1 "$root/build/ctest-guest-self-test.log" -R '^(wine_bare_host|guest_looks_booted)$'
      if [ "$status" = 0 ] &&
         grep -q '100% tests passed, 0 tests failed out of 2' build/ctest-guest-self-test.log; then
        passed=$((passed + 1))
        self_test_result="guest self-test: wine_bare_host and guest_looks_booted passed in $where in $took s"
      else
        failed=$((failed + 1))
        self_test_result="guest self-test: FAILED in $where after $took s (status $status)"
      fi
    fi
  else
    step "test win32: the build's own checks on this machine"
    test_preset win32 "$root/build/ctest-win32-host.log" -L host
    step "test win32: the Wine tests in a guest"
    # The tests that set up fixtures for the Wine tests (packages) ran on the machine just above.
    # Two at a time, each in its own Wine prefix and X display (scripts/wine-tests.sh --jobs):
    # a test leaves the guest's processor idle much of its time (docs/testing.md, "Two at a time").
    jobs=${KB_GUEST_JOBS:-$(( $(nproc) >= 2 ? 2 : 1 ))}
    run_in_guest "$jobs" "$root/build/ctest-win32.log" -LE host -FS '.*'
    if [ "$status" != 125 ] && count_log "$root/build/ctest-win32.log"; then
      wine_where="Wine tests: ran in $where in $took s ($why)"
    else
      [ "$status" = 125 ] && failed=$((failed + 1))
      wine_where="Wine tests: could NOT run in $where (status $status): counted as a failure"
    fi
  fi
else
  wine_where="Wine tests: could NOT run: the win32 preset did not configure"
fi

step "summary"
echo "$wine_where"
[ -z "$self_test_result" ] || echo "$self_test_result"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
