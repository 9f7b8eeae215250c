#!/usr/bin/env bash
# Runs a Windows test executable from a folder of its own on the prefix's C: drive, with the files it
# needs copied beside it. The plugin takes any process whose image path holds "KESTRO" for the peer,
# so a test viewer must not run from the build tree, whose path may well hold the token.
# usage: run_in_prefix.sh NAME EXE [FILE...]
set -eu
case "${1:-}" in
  -h|--help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
if [ $# -lt 2 ]; then
  echo "usage: run_in_prefix.sh NAME EXE [FILE...]" >&2
  exit 2
fi
name=$1 exe=$2
shift 2
: "${WINEPREFIX:?WINEPREFIX is not set}"
dir="$WINEPREFIX/drive_c/kb_tests/$name"
rm -rf "$dir"
mkdir -p "$dir"
cp "$exe" "$@" "$dir/"
cd "$dir"
exec "$(dirname "$0")/../../cmake/wine-run.sh" "C:\\kb_tests\\$name\\$(basename "$exe")"
