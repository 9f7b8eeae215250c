#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian machine (run as root).
# Does nothing for packages that are already there.
# The guest that runs the Wine tests where the kernel refuses 32-bit programs (scripts/guest.sh)
# needs QEMU, a static busybox and Debian's amd64 kernel, unpacked (not installed) under
# /var/cache/kb-guest. scripts/test.sh proves that guest on every machine with one small Wine test,
# so they are installed everywhere unless --no-guest is given.
#   --no-guest   leave out the guest (then scripts/test.sh needs --no-guest-self-test)
#   --help       this text
set -euo pipefail
guest=1
case "${1:-}" in
  -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  --no-guest) guest=0 ;;
  "") ;;
  *) echo "usage: scripts/install-deps.sh [--no-guest]" >&2; exit 2 ;;
esac

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          g++-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-apps imagemagick
          nlohmann-json3-dev python3 file
          libifcplusplus-dev libboost-dev locales time nsis zip fonts-dejavu-core
          clang libclang-rt-dev)
if [ "$guest" = 1 ]; then packages+=(qemu-system-x86 busybox-static); fi

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

[ "$guest" = 1 ] || exit 0

# Debian's own amd64 kernel for the guest (it runs 32-bit programs whatever this machine's kernel
# does): fetched as a package file and unpacked aside, never installed as this machine's kernel.
# Only vmlinuz and the modules the guest's init loads are kept, with the order to load them in.
kit=${KB_GUEST_KERNEL:-/var/cache/kb-guest/linux-amd64}
if [ ! -f "$kit/modules.load" ]; then
  export DEBIAN_FRONTEND=noninteractive
  # The versioned package that linux-image-amd64 stands for.
  kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
      sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -1
  }
  image=$(kernel_package)
  if [ -z "$image" ]; then
    apt-get update -q
    image=$(kernel_package)
  fi
  [ -n "$image" ] || { echo "install-deps.sh: no linux-image-amd64 package to fetch" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  chown _apt "$work" 2>/dev/null || chmod 777 "$work"  # apt fetches as its own user
  (cd "$work" && apt-get download -q "$image")
  dpkg-deb -x "$work"/"$image"_*.deb "$work/x"
  version=$(ls "$work/x/lib/modules")
  busybox depmod -b "$work/x" "$version"
  moddir="$work/x/lib/modules/$version"
  # Each module after the ones it needs (modules.dep lists a module's dependencies).
  order=()
  add_module() {
    local m=$1 d
    for d in $(sed -n "s|^kernel/\(.*/\)\{0,1\}$m\\.ko: *||p" "$moddir/modules.dep"); do
      add_module "$(basename "$d" .ko)"
    done
    [[ " ${order[*]} " == *" $m "* ]] || order+=("$m")
  }
  for m in virtio_pci 9pnet_virtio 9p overlay; do add_module "$m"; done
  rm -rf "$kit.new"
  mkdir -p "$kit.new/modules"
  cp "$work/x/boot/vmlinuz-$version" "$kit.new/vmlinuz"
  for m in "${order[@]}"; do
    f=$(sed -n "s|^\(kernel/\(.*/\)\{0,1\}$m\.ko\):.*|\1|p" "$moddir/modules.dep")
    [ -n "$f" ] || { echo "install-deps.sh: module $m not in $image" >&2; exit 1; }
    cp "$moddir/$f" "$kit.new/modules/$m.ko"
  done
  printf '%s\n' "${order[@]}" >"$kit.new/modules.load"
  echo "$image $version" >"$kit.new/version"
  chmod -R a+rX "$kit.new"
  rm -rf "$kit"
  mv "$kit.new" "$kit"
  echo "guest kernel $version in $kit"
fi
