#!/usr/bin/env bash
# Runs a Windows test once at each display scaling users have: 96, 120, 144 and 192 DPI (100 % to
# 200 %), set through Wine's LogPixels (HKCU\Control Panel\Desktop) for the run and put back as it
# was afterwards, also when a run fails. Every Wine program started after the change sees it.
# Runs itself through cmake/wine-test.sh, as the only test in the prefix while the setting holds.
#   usage: tests/wine/at_each_dpi.sh COMMAND [ARGUMENTS...]   (every run must pass)
set -u
case "${1:-}" in
  -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") echo "usage: tests/wine/at_each_dpi.sh COMMAND [ARGUMENTS...]" >&2; exit 2 ;;
esac
: "${WINEPREFIX:?WINEPREFIX is not set}"
[ -n "${KB_WINE_TEST:-}" ] || exec "$(dirname "$0")/../../cmake/wine-test.sh" bash "$0" "$@"
export WINEDEBUG=-all WINEARCH=win32
key='HKCU\Control Panel\Desktop'
limit=$((60 * ${KB_WINE_TIME_FACTOR:-1}))
reg() { timeout "$limit" wine reg "$@" >/dev/null 2>&1; }
# "    LogPixels    REG_DWORD    0xc0", or nothing when the prefix has never had it set.
original=$(timeout "$limit" wine reg query "$key" /v LogPixels 2>/dev/null | awk '$1 == "LogPixels" {print $3}')
restore() {
  if [ -n "$original" ]; then reg add "$key" /v LogPixels /t REG_DWORD /d $((original)) /f
  else reg delete "$key" /v LogPixels /f; fi
}
trap restore EXIT
failed=0
for dpi in 96 120 144 192; do
  echo "==== at $dpi DPI"
  if ! reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f; then
    echo "at_each_dpi.sh: could not set $dpi DPI"
    failed=1
    continue
  fi
  "$@" || { echo "at_each_dpi.sh: failed at $dpi DPI"; failed=1; }
done
exit $failed
