#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian machine (run as root).
# Does nothing for packages that are already there.
# The guest that runs the Wine tests where the kernel refuses 32-bit programs (scripts/guest.sh)
# needs QEMU, a static busybox and Debian's amd64 kernel, unpacked (not installed) under
# /var/cache/kb-guest. scripts/test.sh proves that guest on every machine with one small Wine test,
# so they are installed everywhere unless --no-guest is given.
#   --no-guest   leave out the guest (then scripts/test.sh needs --no-guest-self-test)
#   --check      install nothing: name what is missing ("missing: ...") and exit 1 if anything is
#   --help       this text
# A mirror caught mid-sync: a failed `apt-get update` is tried again; an index that still fails is
# named and the lists that loaded are used; an install that then fails is tried once more with the
# failing suites left out (a temporary sources folder; the machine's apt configuration is never
# edited). Only when that fails too does the script fail.
set -euo pipefail
guest=1
check=0
for arg in "$@"; do
  case $arg in
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --no-guest) guest=0 ;;
    --check) check=1 ;;
    *) echo "usage: scripts/install-deps.sh [--no-guest] [--check]" >&2; exit 2 ;;
  esac
done
export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---- apt, when the mirror is caught mid-sync ----------------------------------------------------
# The suites whose index failed to load in the last apt_update, one a line (e.g. bookworm-security).
failed_suites=
# Options that leave those suites out, once apt_without_failed_suites has needed them.
reduced=()

# apt-get update, up to KB_APT_TRIES times (default 3) KB_APT_PAUSE seconds apart (default 20).
# When it still fails, names the indexes that did not load and goes on with the rest.
apt_update() {
  local try tries=${KB_APT_TRIES:-3} out="$work/update.out"
  for ((try = 1; try <= tries; try++)); do
    if apt-get update -q 2>&1 | tee "$out"; then
      grep -q '^[EW]: Failed to fetch' "$out" || { failed_suites=; return 0; }
    fi
    [ "$try" = "$tries" ] || { echo "install-deps.sh: apt-get update failed; trying again in ${KB_APT_PAUSE:-20} s" >&2; sleep "${KB_APT_PAUSE:-20}"; }
  done
  # "E: Failed to fetch http://MIRROR/debian-security/dists/SUITE/main/binary-i386/Packages.xz  ..."
  failed_suites=$(sed -n 's|^[EW]: Failed to fetch [^ ]*/dists/\([^/ ]*\)/.*|\1|p' "$out" | sort -u)
  local index
  while IFS= read -r index; do
    echo "install-deps.sh: an index did not load (the mirror may be mid-sync); going on without it: $index" >&2
  done < <(sed -n 's|^[EW]: Failed to fetch \([^ ]*\).*|\1|p' "$out")
  [ -n "$failed_suites" ] || echo "install-deps.sh: apt-get update failed; going on with the lists there are" >&2
  return 0
}

# A sources folder of this machine's sources less the suites in $failed_suites, both formats
# (one-line .list, deb822 .sources), for apt's -o Dir::Etc::sourceparts.
write_reduced_sources() {
  local dir=$1 list="" parts="" f
  eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
  mkdir -p "$dir"
  local drop
  drop=$(printf '%s\n' "$failed_suites" | paste -sd' ')
  for f in "$list" "$parts"*.list; do
    [ -f "$f" ] || continue
    # deb [OPTIONS] URI SUITE COMPONENTS...: the suite is the field after the URI.
    awk -v drop=" $drop " '{
        line = $0; sub(/^[ \t]+/, "", line)
        if (line ~ /^(deb|deb-src)[ \t]/) {
          n = split(line, w, /[ \t]+/); i = 2
          if (w[2] ~ /^\[/) { while (i <= n && w[i] !~ /\]$/) i++; i++ }
          if (index(drop, " " w[i + 1] " ")) next
        }
        print
      }' "$f" >"$dir/$(basename "$f" .list)-$(echo "$f" | cksum | cut -d' ' -f1).list"
  done
  for f in "$parts"*.sources; do
    [ -f "$f" ] || continue
    # Stanzas apart by blank lines; a stanza whose every suite is dropped goes.
    awk -v drop=" $drop " '
      function flush() { if (n && keep) for (i = 1; i <= n; i++) print s[i]; if (n && keep) print ""; n = 0; keep = 1 }
      BEGIN { keep = 1 }
      /^[ \t]*$/ { flush(); next }
      /^Suites:/ {
        m = split(substr($0, 8), w, /[ \t]+/); out = ""
        for (j = 1; j <= m; j++) if (w[j] != "" && !index(drop, " " w[j] " ")) out = out " " w[j]
        if (out == "") keep = 0
        $0 = "Suites:" out
      }
      { s[++n] = $0 }
      END { flush() }' "$f" >"$dir/$(basename "$f" .sources)-$(echo "$f" | cksum | cut -d' ' -f1).sources"
  done
}

# apt-get ARGUMENTS; when that fails and an index failed to load, once more with the failing
# suites left out (and every later apt command with them).
apt_without_failed_suites() {
  if [ ${#reduced[@]} -gt 0 ]; then apt-get "${reduced[@]}" "$@"; return; fi
  apt-get "$@" && return 0
  [ -n "$failed_suites" ] || return 1
  write_reduced_sources "$work/sources"
  reduced=(-o "Dir::Etc::sourceparts=$work/sources" -o Dir::Etc::sourcelist=/dev/null)
  echo "install-deps.sh: apt-get $1 failed; trying once more without $(printf '%s\n' "$failed_suites" | paste -sd' ') (a temporary sources folder, this machine's left as it is)" >&2
  apt-get "${reduced[@]}" "$@"
}

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          g++-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-apps imagemagick
          nlohmann-json3-dev python3 file
          libifcplusplus-dev libboost-dev locales time nsis zip fonts-dejavu-core
          clang libclang-rt-dev)
if [ "$guest" = 1 ]; then packages+=(qemu-system-x86 busybox-static); fi

kit=${KB_GUEST_KERNEL:-/var/cache/kb-guest/linux-amd64}
has_locale() { locale -a 2>/dev/null | grep -qix 'en_US.utf-\?8'; }
for p in "${packages[@]}"; do have "$p" || need+=("$p"); done

if [ "$check" = 1 ]; then
  missing=("${need[@]}")
  has_locale || missing+=("the en_US.UTF-8 locale")
  if [ "$guest" = 1 ] && { [ ! -f "$kit/vmlinuz" ] || [ ! -f "$kit/modules.load" ]; }; then
    missing+=("the guest kernel in $kit")
  fi
  [ ${#missing[@]} -eq 0 ] && exit 0
  (IFS=,; echo "missing: ${missing[*]}" | sed 's/,/, /g')
  exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  updated=0
fi
if [ ${#need[@]} -gt 0 ] || [ "${updated:-1}" = 0 ]; then
  apt_update
  if [ ${#need[@]} -gt 0 ]; then
    apt_without_failed_suites install -y -q --no-install-recommends "${need[@]}" || {
      echo "install-deps.sh: installing ${need[*]} failed${failed_suites:+, also without $(printf '%s\n' "$failed_suites" | paste -sd' ')}" >&2
      exit 1
    }
  fi
fi

# The IFC reader of tools/ifc2snapshot converts text under a UTF-8 locale.
if ! has_locale; then
  sed -i 's/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

[ "$guest" = 1 ] || exit 0

# Debian's own amd64 kernel for the guest (it runs 32-bit programs whatever this machine's kernel
# does): fetched as a package file and unpacked aside, never installed as this machine's kernel.
# Only vmlinuz and the modules the guest's init loads are kept, with the order to load them in.
if [ ! -f "$kit/modules.load" ] || [ ! -f "$kit/vmlinuz" ]; then
  # The versioned package that linux-image-amd64 stands for (in the sources apt uses now).
  kernel_package() {
    apt-cache "${reduced[@]}" depends linux-image-amd64 2>/dev/null |
      sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -1
  }
  image=$(kernel_package)
  if [ -z "$image" ]; then
    apt_update
    image=$(kernel_package)
  fi
  [ -n "$image" ] || { echo "install-deps.sh: no linux-image-amd64 package to fetch" >&2; exit 1; }
  chown _apt "$work" 2>/dev/null || chmod 777 "$work"  # apt fetches as its own user
  (cd "$work" && apt_without_failed_suites download -q "$image") || {
    echo "install-deps.sh: fetching $image failed" >&2
    exit 1
  }
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
