#!/usr/bin/env bash
# Runs a command inside a throw-away QEMU guest that boots Debian's own amd64 kernel on a view of
# this machine's filesystem: for machines whose kernel refuses 32-bit programs, where Wine cannot
# start. The root is shared read-only with a memory overlay on top (the same packages and absolute
# paths inside); the folders given with --share are shared read-write at the same paths; /tmp,
# /dev/shm and /run are fresh, so a folder given with --need is shared as well when it lies in one
# of those. The command runs as the caller, in the caller's folder, with the caller's environment
# (less DISPLAY, plus KB_IN_GUEST=1); its output comes out here; its exit status is this script's.
#
#   scripts/guest.sh run [--accel auto|kvm|tcg] [--share DIR]... [--need DIR]...
#                        [--time-limit SECONDS] -- COMMAND [ARGUMENT...]
#   scripts/guest.sh runs-32bit   exit 0 when this machine itself runs 32-bit x86 programs
#   scripts/guest.sh accel        prints "kvm" when a stock kernel boots under KVM here, else "tcg"
#
# The kernel and its modules come from scripts/install-deps.sh (KB_GUEST_KERNEL names another
# folder). KB_GUEST_MEMORY sets the guest's memory (default 4G). With --accel auto, KVM is used
# when it boots the guest within 30 s, else QEMU emulates the processor (TCG), about ten times
# slower. Under TCG the guest's processor has no SMAP: with it, Wine's 32-bit code crashes the
# guest kernel. Status 125: the guest could not be started, or not set up, or ran out of time.
set -uo pipefail

self=$(realpath "$0")
kit=${KB_GUEST_KERNEL:-/var/cache/kb-guest/linux-amd64}
usage() { sed -n '9,12p' "$self" | sed 's/^# \{0,1\}//' >&2; }
die() { echo "guest.sh: $*" >&2; exit 125; }

# A 32-bit x86 program of 96 bytes that exits with status 42 through the 32-bit system call:
# ELF header, one loadable segment, then mov eax,1; mov ebx,42; int 0x80. A kernel without 32-bit
# support refuses to start it ("Exec format error"); a filter that kills 32-bit system calls ends
# it with a signal. Only a status of 42 means that 32-bit programs run.
runs_32bit() {
  local dir status
  dir=$(mktemp -d) || return 1
  # Lines: identity (32-bit, little-endian); executable, i386, entry 0x8048054, program headers
  # at 52; header sizes, one program header; PT_LOAD of the file at 0x8048000; 96 bytes, r-x;
  # the code.
  {
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
    printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
    printf '\270\001\000\000\000\273\052\000\000\000\315\200'
  } >"$dir/probe32"
  chmod +x "$dir/probe32"
  # In a subshell whose own error output is dropped: a shell reports a child killed by a signal.
  status=$(exec 2>/dev/null; "$dir/probe32" >/dev/null; echo $?)
  rm -rf "$dir"
  [ "$status" = 42 ]
}

# ---- the guest's init ------------------------------------------------------------------------------
# Runs as process 1 from the initramfs (busybox). /ctl is this run's folder on the machine: the job,
# the list of shares, and the exit status written back.
guest_init() {
  cat <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# The command's output goes to the first serial port (this script's output); the kernel's own
# messages to the second (a log file, shown when the guest fails).
exec </dev/null >/dev/ttyS0 2>&1
stty -F /dev/ttyS0 -opost -echo 2>/dev/null
fail() {
  echo "guest: $*" >&2
  [ -d /ctl/job ] && echo 125 >/ctl/status && sync
  poweroff -f
  sleep 60
}
while read -r m; do insmod "/modules/$m.ko" || fail "cannot load module $m"; done </modules.load
p9() { mount -t 9p -o "trans=virtio,version=9p2000.L,msize=524288,cache=loose$3" "$1" "$2"; }
p9 ctl /ctl "" || fail "cannot mount the run's folder"
p9 root /lower ",ro" || fail "cannot mount the machine's root"
mount -t tmpfs -o mode=0755 upper /upper
mkdir -p /upper/u /upper/w
mount -t overlay -o lowerdir=/lower,upperdir=/upper/u,workdir=/upper/w root /newroot ||
  fail "cannot lay the overlay over the root"
r=/newroot
mount -t proc proc $r/proc
mount -t sysfs sysfs $r/sys
mount -t devtmpfs devtmpfs $r/dev
# What a booted system's /dev holds beyond the devices: the links that process substitution and
# scripts naming /dev/stdin, /dev/stdout or /dev/stderr need.
ln -sfn /proc/self/fd $r/dev/fd
ln -sf /proc/self/fd/0 $r/dev/stdin
ln -sf /proc/self/fd/1 $r/dev/stdout
ln -sf /proc/self/fd/2 $r/dev/stderr
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts $r/dev/pts
mount -t tmpfs -o mode=1777 shm $r/dev/shm
mount -t tmpfs -o mode=1777 tmp $r/tmp
mount -t tmpfs -o mode=0755 run $r/run
n=0
while IFS= read -r dir; do
  mkdir -p "$r$dir" && p9 "share$n" "$r$dir" "" || fail "cannot mount $dir"
  n=$((n + 1))
done </ctl/job/shares
ip link set lo up 2>/dev/null
cp /ctl/job/run $r/run/kb-guest-job
read -r ids </ctl/job/ids
echo started >/ctl/booted
# The command writes into a pipe, as it would on the machine under a script, not onto a terminal;
# a reader copies it to the console and is ended last, once nothing can write any more.
mkfifo /output
cat /output >/dev/ttyS0 &
reader=$!
chroot $r /bin/sh -c "exec /usr/bin/setpriv $ids /bin/bash /run/kb-guest-job" >/output 2>&1 &
wait $!
status=$?
echo "$status" >/ctl/status
# Nothing may outlive the command: end what is left (but the reader), then write everything back.
others() {
  for p in /proc/[0-9]*; do p=${p#/proc/}; [ "$p" = 1 ] || [ "$p" = "$reader" ] || echo "$p"; done
}
kill -TERM $(others) 2>/dev/null; sleep 1; kill -KILL $(others) 2>/dev/null
wait "$reader"
sync
n=$(wc -l </ctl/job/shares)
while [ "$n" -gt 0 ]; do
  n=$((n - 1))
  dir=$(sed -n "$((n + 1))p" /ctl/job/shares)
  umount "$r$dir" 2>/dev/null
done
sync
umount /ctl
poweroff -f
sleep 60
INIT
}

# The initramfs: busybox, the modules in load order, the init. newc cpio, uncompressed.
make_initramfs() {
  local out=$1 tree=$2 m
  mkdir -p "$tree"/{bin,proc,sys,dev,ctl,lower,upper,newroot,modules}
  cp "$(command -v busybox)" "$tree/bin/busybox"
  file -L "$tree/bin/busybox" 2>/dev/null | grep -q 'statically linked' ||
    die "busybox is not the static one (install busybox-static)"
  cp "$kit/modules.load" "$tree/modules.load"
  while read -r m; do cp "$kit/modules/$m.ko" "$tree/modules/" || return 1; done <"$kit/modules.load"
  guest_init >"$tree/init"
  chmod 755 "$tree/init"
  (cd "$tree" && find . | busybox cpio -o -H newc 2>/dev/null) >"$out"
}

# The job: the caller's environment and folder, then the command.
write_job() {
  local job=$1
  shift
  {
    echo '# written by scripts/guest.sh'
    echo 'export KB_IN_GUEST=1'
    export -p | grep -Ev '^declare -[a-zA-Z-]* (DISPLAY|XAUTHORITY|SHLVL|OLDPWD|PWD|_)(=|$)'
    printf 'cd -- %q || { echo "guest: no folder %s inside" >&2; exit 125; }\n' "$PWD" "$PWD"
    printf 'exec'
    printf ' %q' "$@"
    printf '\n'
  } >"$job/run"
  local groups
  groups=$(id -G | tr ' ' ',')
  echo "--reuid=$(id -u) --regid=$(id -g) --groups=$groups" >"$job/ids"
}

# Boots the guest and runs the job in folder $work; returns the command's status (125: no start).
boot() {
  local accel=$1 limit=$2 work=$3
  local qemu=(qemu-system-x86_64 -nodefaults -no-user-config -display none -no-reboot
              -m "${KB_GUEST_MEMORY:-4G}" -smp "$(nproc)"
              -kernel "$kit/vmlinuz" -initrd "$work/initramfs.cpio"
              -append "console=ttyS1 loglevel=4 panic=-1 rdinit=/init"
              -chardev stdio,id=out,signal=off -serial chardev:out
              -serial "file:$work/kernel.log"
              -virtfs "local,path=$work/ctl,mount_tag=ctl,security_model=none"
              -virtfs "local,path=/,mount_tag=root,security_model=none,readonly=on,multidevs=remap")
  local n=0 dir
  while IFS= read -r dir; do
    qemu+=(-virtfs "local,path=$dir,mount_tag=share$n,security_model=none,multidevs=remap")
    n=$((n + 1))
  done <"$work/ctl/job/shares"
  if [ "$accel" = kvm ]; then
    qemu+=(-accel kvm -cpu host)
  else
    qemu+=(-accel tcg,thread=multi -cpu max,-smap)
  fi
  rm -f "$work/ctl/status" "$work/ctl/booted"
  timeout --kill-after=10 "$limit" "${qemu[@]}" </dev/null
  local qemu_status=$?
  if [ -f "$work/ctl/status" ]; then
    return "$(cat "$work/ctl/status")"
  fi
  if [ "$qemu_status" = 124 ] || [ "$qemu_status" = 137 ]; then
    if [ -f "$work/ctl/booted" ]; then
      echo "guest.sh: the guest ran out of its $limit s and was stopped" >&2
    else
      echo "guest.sh: the guest did not boot within $limit s ($accel)" >&2
    fi
  else
    echo "guest.sh: QEMU ended with status $qemu_status before the command finished ($accel)" >&2
  fi
  if [ -s "$work/kernel.log" ]; then
    echo "guest.sh: the guest kernel's last messages:" >&2
    tail -n 25 "$work/kernel.log" | sed 's/^/  /' >&2
  fi
  return 125
}

kvm_usable() { [ -r /dev/kvm ] && [ -w /dev/kvm ]; }

# Boots the guest under KVM with a command that does nothing, within a time limit: on some
# machines /dev/kvm is there but boots no stock kernel (QEMU aborts or the guest spins).
probe_kvm() {
  kvm_usable || return 1
  "$self" run --accel kvm --time-limit "${KB_GUEST_KVM_PROBE_LIMIT:-30}" -- true >/dev/null 2>&1
}

run_guest() {
  local accel=auto limit=86400 shares=() dir
  while [ $# -gt 0 ]; do
    case $1 in
      --accel) accel=${2:-}; shift 2 ;;
      --share) dir=$(realpath -e "${2:-}") || die "no folder ${2:-}"; shares+=("$dir"); shift 2 ;;
      --need)
        dir=$(realpath -e "${2:-}") || die "no folder ${2:-}"
        case $dir/ in /tmp/*|/dev/shm/*|/run/*) shares+=("$dir") ;; esac
        shift 2 ;;
      --time-limit) limit=${2:-}; shift 2 ;;
      --) shift; break ;;
      *) usage; exit 2 ;;
    esac
  done
  [ $# -gt 0 ] || { usage; exit 2; }
  case $accel in
    auto) if probe_kvm; then accel=kvm; else accel=tcg; fi ;;
    kvm|tcg) ;;
    *) usage; exit 2 ;;
  esac
  command -v qemu-system-x86_64 >/dev/null ||
    die "qemu-system-x86_64 is missing (scripts/install-deps.sh)"
  command -v busybox >/dev/null || die "busybox is missing (scripts/install-deps.sh)"
  [ -f "$kit/vmlinuz" ] && [ -f "$kit/modules.load" ] ||
    die "no guest kernel in $kit (scripts/install-deps.sh fetches it)"
  work=$(mktemp -d "${TMPDIR:-/tmp}/kb-guest-XXXXXX") || die "no temporary folder"
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/ctl/job"
  # Exported by QEMU as this user; the guest writes its status there.
  # Parents before children; a folder inside another share is already there.
  printf '%s\n' "${shares[@]}" | sed '/^$/d' | sort -u | awk '
    { for (i = 1; i <= n; i++) if (index($0 "/", kept[i] "/") == 1) next; kept[++n] = $0; print }
  ' >"$work/ctl/job/shares"
  write_job "$work/ctl/job" "$@"
  make_initramfs "$work/initramfs.cpio" "$work/initramfs" || die "cannot build the initramfs"
  local status=0
  boot "$accel" "$limit" "$work" || status=$?
  return "$status"
}

case "${1:-}" in
  run) shift; run_guest "$@"; exit $? ;;
  runs-32bit) runs_32bit; exit $? ;;
  accel) if probe_kvm; then echo kvm; else echo tcg; fi ;;
  -h|--help) sed -n '2,19p' "$self" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) usage; exit 2 ;;
esac
