#!/usr/bin/env bash
# Runs every test: installs what is missing (as root), then configures, builds and tests the native
# preset and the win32 preset; the win32 tests run under Wine in a private prefix with their own X
# server. The last line is the sum of both presets: "N passed, M failed" (", K skipped" when this
# machine cannot run 32-bit code and the Wine tests were left out); the exit status is 0 only when
# nothing failed.
#   --help   this text
set -uo pipefail

case "${1:-}" in
  -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--help]" >&2; exit 2 ;;
esac

cd "$(dirname "$0")/.."
root=$PWD
passed=0
failed=0
skipped=0
xvfb_pid=
export WINEPREFIX="$root/build/win32/wineprefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
export HOME=${HOME:-/root}

cleanup() {
  if command -v wineserver >/dev/null 2>&1 && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { printf '\n==== %s\n' "$*"; }

# One preset: configure, build (as far as it goes), then ctest; adds its counts to the totals.
# A failed configure or build counts as one failure of its own. Further arguments go to ctest.
run_preset() {
  local preset=$1 log="$root/build/ctest-$1.log"
  shift
  step "configure $preset"
  if ! cmake --preset "$preset"; then
    failed=$((failed + 1))
    return
  fi
  step "build $preset"
  if ! cmake --build --preset "$preset" -j2 -- -k 0; then
    echo "build of $preset failed; running the tests that were built" >&2
    failed=$((failed + 1))
  fi
  step "test $preset"
  ctest --preset "$preset" "$@" 2>&1 | tee "$log"
  local line total bad
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif ! grep -q 'No tests were found' "$log"; then
    failed=$((failed + 1))  # ctest itself did not run
  fi
}

start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$root/build/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  export DISPLAY=":$n"
  echo "Xvfb on $DISPLAY (pid $xvfb_pid)"
}

step "dependencies"
if [ "$(id -u)" = 0 ]; then
  bash scripts/install-deps.sh || { echo "installing dependencies failed" >&2; failed=$((failed + 1)); }
else
  echo "not root: skipping scripts/install-deps.sh"
fi
mkdir -p build

run_preset native

# Wine runs 32-bit Windows programs as 32-bit Linux processes. A kernel without 32-bit support
# (booted with ia32_emulation=off, as some virtual machines are) cannot start them at all: the
# win32 preset is then still built, and its tests that only inspect built files (label "host")
# still run; the ones that need Wine are counted as skipped, loudly.
wine_works() {
  timeout 60 wine --version >/dev/null 2>&1
}

if wine_works; then
  step "wine prefix and X server"
  start_xvfb
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$root/build/wineboot.log" 2>&1 || echo "wineboot reported an error" >&2
    wineserver -w >/dev/null 2>&1 || true
  fi
  run_preset win32
else
  step "wine cannot run here"
  echo "This machine cannot run 32-bit programs (wine --version fails; see dmesg for" >&2
  echo "'32-bit emulation disabled'). The win32 tests that need Wine are SKIPPED." >&2
  run_preset win32 -L host
  if [ -d build/win32 ]; then
    all=$(cd build/win32 && ctest -N | sed -n 's/^Total Tests: //p')
    host=$(cd build/win32 && ctest -N -L host | sed -n 's/^Total Tests: //p')
    skipped=$(( ${all:-0} - ${host:-0} ))
    echo "skipped under Wine: $skipped tests" >&2
  fi
fi

step "summary"
if [ "$skipped" -gt 0 ]; then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
