#!/usr/bin/env bash
# Builds what is handed to users, from the win32 preset:
#   build/win32/package/kestro_bimvision_setup.exe          the installer (NSIS)
#   build/win32/package/kestro_bimvision-1.0.4-win32.zip    the release archive
#   build/win32/package/SHA256SUMS                          the SHA-256 of both, to publish with them
#   build/win32/package/symbols/*.debug                     the symbols of the shipped files
# and checks both (the host-side package tests). Two builds of one commit give the same bytes
# (docs/release.md). Installs nsis first when missing (as root).
#   scripts/package.sh [--help]
set -euo pipefail
case "${1:-}" in
  -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") ;;
  *) echo "usage: scripts/package.sh [--help]" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
die() { echo "package.sh: $*" >&2; exit 1; }
if ! command -v makensis >/dev/null 2>&1 || ! command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1; then
  [ "$(id -u)" = 0 ] || die "makensis or the mingw-w64 compiler is missing (run scripts/install-deps.sh as root)"
  bash scripts/install-deps.sh || die "installing the packages failed"
fi
cmake --preset win32 >/dev/null || die "configuring the win32 preset failed"
cmake --build --preset win32 -j2 --target packages || die "building the packages failed"
(cd build/win32 && ctest -L package -LE wine --output-on-failure) || die "the package checks failed"
ls -l build/win32/package/kestro_bimvision_setup.exe build/win32/package/kestro_bimvision-1.0.4-win32.zip
echo "build/win32/package/SHA256SUMS:"
cat build/win32/package/SHA256SUMS
