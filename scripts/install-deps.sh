#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian machine (run as root).
# Does nothing for packages that are already there.
#   --help   this text
set -euo pipefail
case "${1:-}" in
  -h|--help) sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") ;;
  *) echo "usage: scripts/install-deps.sh [--help]" >&2; exit 2 ;;
esac

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          g++-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-apps imagemagick
          nlohmann-json3-dev python3 file
          libifcplusplus-dev libboost-dev locales time nsis zip fonts-dejavu-core)
if [ "${WITH_FUZZ:-0}" = 1 ]; then packages+=(clang libclang-rt-dev); fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  updated=0
fi
for p in "${packages[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ] || [ "${updated:-1}" = 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  if [ ${#need[@]} -gt 0 ]; then
    apt-get install -y -q --no-install-recommends "${need[@]}"
  fi
fi

# The IFC reader of tools/ifc2snapshot converts text under a UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qix 'en_US.utf-\?8'; then
  sed -i 's/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
