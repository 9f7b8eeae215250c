#!/usr/bin/env bash
# Prints the process ids of the programs running in the Wine prefix $WINEPREFIX, one a line: every
# Windows process of the prefix but those Wine runs as the machine itself (the service manager and
# its services, the device hosts), which stay while its server runs, and the kept desktop (below).
# With --end it ends them (SIGKILL, by process id) and waits, for at most 60 s, until none is left;
# status 1 if some are. With --server it prints the process id of the prefix's Wine server; status
# 1 if none runs. With --desktop it prints those of the kept desktop; status 1 unless both of its
# processes run.
# The kept desktop: the desktop process (explorer.exe /desktop) and a program that does nothing but
# keep it (Wine closes the desktop a second after its last other user has gone), both started with
# KB_WINE_KEPT_DESKTOP=1 in their environment (cmake/wine-test.sh).
#   usage: cmake/wine-programs.sh [--end | --server | --desktop]   (--help: this text)
set -u
case "${1:-}" in
  -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  ""|--end|--server|--desktop) ;;
  *) echo "usage: cmake/wine-programs.sh [--end | --server | --desktop]" >&2; exit 2 ;;
esac
prefix=${WINEPREFIX:-}
if [ -z "$prefix" ]; then
  echo "wine-programs.sh: WINEPREFIX is not set" >&2
  exit 2
fi
prefix=${prefix%/}

of_prefix() { grep -qzxF -e "WINEPREFIX=$prefix" -e "WINEPREFIX=$prefix/" "$1/environ" 2>/dev/null; }
kept_desktop() { grep -qzxF "KB_WINE_KEPT_DESKTOP=1" "$1/environ" 2>/dev/null; }

# The processes whose image is one of `find -lname` PATTERNS, as /proc/PID (one process looks at
# them all: under emulation every process started costs).
with_image() {
  local names=() pattern
  for pattern in "$@"; do names+=(-o -lname "$pattern"); done
  find /proc -mindepth 2 -maxdepth 2 -name exe \( "${names[@]:1}" \) -printf '%h\n' 2>/dev/null
}

# A Windows process is Wine's loader (its image is wine or wine-preloader) with the prefix in its
# environment (Wine hands it on to every program a program starts); its command line is the
# Windows one. Prints "PID KIND", KIND being program, machine, desktop or keeper.
windows_processes() {
  local p args
  for p in $(with_image '*/wine' '*/wine-preloader' '*/wine64' '*/wine64-preloader'); do
    of_prefix "$p" || continue
    args=$({ tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null)
    case ${args,,} in
      'c:\windows\system32\services.exe'*|'c:\windows\system32\winedevice.exe'*|\
      'c:\windows\system32\plugplay.exe'*|'c:\windows\system32\svchost.exe'*|\
      'c:\windows\system32\rpcss.exe'*|'') echo "${p#/proc/} machine" ;;
      # (Wine's own processes carry the mark when the kept desktop started them.)
      *explorer.exe*) kept_desktop "$p" && echo "${p#/proc/} desktop" || echo "${p#/proc/} program" ;;
      *) kept_desktop "$p" && echo "${p#/proc/} keeper" || echo "${p#/proc/} program" ;;
    esac
  done
}
programs() { windows_processes | sed -n 's/ program$//p'; }

case "${1:-}" in
  "") programs; exit 0 ;;
  --server)
    for p in $(with_image '*/wineserver' '*/wineserver32' '*/wineserver64'); do
      of_prefix "$p" && echo "${p#/proc/}" && exit 0
    done
    exit 1 ;;
  --desktop)
    found=$(windows_processes)
    sed -n 's/ \(desktop\|keeper\)$//p' <<<"$found"
    grep -q ' desktop$' <<<"$found" && grep -q ' keeper$' <<<"$found"
    exit ;;
esac
for _ in $(seq 600); do
  left=$(programs)
  [ -z "$left" ] && exit 0
  # shellcheck disable=SC2086
  kill -KILL $left 2>/dev/null
  sleep 0.1
done
echo "wine-programs.sh: still running after 60 s: $left" >&2
exit 1
