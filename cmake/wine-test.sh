#!/usr/bin/env bash
# Runs one Wine test, COMMAND, as the only user of the Wine prefix ($WINEPREFIX): waits until no
# other test holds the prefix (Wine tests run one at a time), ends whatever an earlier test left
# running in it and waits for its Wine server to exit, runs COMMAND, then does the same with what
# COMMAND left behind. Nothing started by a test (a second program started from a Windows program,
# a peer stand-in) outlives it, even when ctest ended the test at its time limit: the next test
# ends it before it starts. cmake/wine-run.sh goes through here when ctest runs it as a test of its
# own; the harnesses that start several programs run themselves through here.
# With KB_WINE_KEEP_SERVER set (scripts/wine-tests.sh sets it unless told otherwise), the prefix's
# Wine server, the machine's own processes beside it (services, device hosts) and, with DISPLAY
# set, the desktop stay from one test to the next: they are started once, outside any test, and
# before and after each test only the programs in the prefix are ended (cmake/wine-programs.sh).
# Starting them is most of a short test's time under emulation. wine-tests.sh ends them at the end
# of its run (without a desktop the server also ends by itself once no program has run in it for
# 60 s times KB_WINE_TIME_FACTOR).
#   usage: cmake/wine-test.sh COMMAND [ARGUMENTS...]   (--help: this text)
set -u
case "${1:-}" in
  -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") echo "usage: cmake/wine-test.sh COMMAND [ARGUMENTS...]" >&2; exit 2 ;;
esac
prefix=${WINEPREFIX:-}
if [ -z "$prefix" ]; then
  echo "wine-test.sh: WINEPREFIX is not set" >&2
  exit 2
fi
prefix=${prefix%/}

here=$(cd "$(dirname "$0")" && pwd)
factor=${KB_WINE_TIME_FACTOR:-1}

# Ends every process of the prefix (wineserver -k reaches them all, also those whose parent is
# gone) and waits for its server to exit; with a kept server, every program in it (each by its
# process id), and the server too when that fails.
end_prefix_processes() {
  if [ -n "${KB_WINE_KEEP_SERVER:-}" ] && WINEPREFIX=$prefix "$here/wine-programs.sh" --end; then
    return
  fi
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix timeout 60 wineserver -w >/dev/null 2>&1
}

# A kept server that is not running (the first test, or one ended since) is started, and Wine's
# own processes with it by a program that does nothing, before the test: they then carry none of
# its marks (KB_WINE_TEST). With DISPLAY set, so is the kept desktop (cmake/wine-programs.sh): a
# program's first window otherwise starts the desktop process and waits for it for at most 10 s,
# which under emulation on a loaded machine is not always enough (the window then fails), and
# costs a few seconds in every test. None of them holds the prefix's lock (descriptor 9).
wine_env=(env WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win32
          WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d")
start_kept_server() {
  [ -n "${KB_WINE_KEEP_SERVER:-}" ] || return 0
  if ! WINEPREFIX=$prefix "$here/wine-programs.sh" --server >/dev/null; then
    WINEPREFIX=$prefix wineserver -p$((60 * factor)) </dev/null >/dev/null 2>&1 9>&-
    "${wine_env[@]}" timeout $((120 * factor)) wine cmd /c exit </dev/null >/dev/null 2>&1 9>&-
    WINEPREFIX=$prefix "$here/wine-programs.sh" --end 9>&-
  fi
  start_kept_desktop
}

# The keeper is a command interpreter reading a pipe that nobody writes to (it is its own writer).
start_kept_desktop() {
  [ -n "${DISPLAY:-}" ] || return 0
  local left fifo
  left=$(WINEPREFIX=$prefix "$here/wine-programs.sh" --desktop) && return 0
  # shellcheck disable=SC2086
  [ -z "$left" ] || kill -KILL $left 2>/dev/null
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/kb-desktop.XXXXXX") && mkfifo "$fifo" || return 0
  KB_WINE_KEPT_DESKTOP=1 setsid "${wine_env[@]}" wine 'C:\windows\system32\explorer.exe' /desktop \
    </dev/null >/dev/null 2>&1 9>&- &
  ( exec <>"$fifo" >/dev/null 2>&1 9>&-
    rm -f "$fifo"
    KB_WINE_KEPT_DESKTOP=1 exec setsid "${wine_env[@]}" wine cmd.exe /q /k ) &
}

mkdir -p "$(dirname "$prefix")"
exec 9>>"$prefix.test-lock"
flock 9
end_prefix_processes
start_kept_server

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
