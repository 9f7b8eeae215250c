#!/usr/bin/env bash
# scripts/install-deps.sh against a mirror caught mid-sync, without the network and without
# touching this machine: stand-ins for apt-get, apt-cache, apt-config, dpkg, dpkg-query and locale
# come first on PATH, over a sources configuration of their own. The stand-in apt-get fails the way
# a mirror in mid-sync does (update names one index that did not load; an install over every suite
# cannot resolve; one without the failing suite installs) and records every call.
# usage: install_deps_test.sh
set -u
script="$(cd "$(dirname "$0")/.." && pwd)/install-deps.sh"
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
failures=0
fail() { echo "FAIL ($case): $*" >&2; failures=$((failures + 1)); }

mkdir -p "$t/bin" "$t/etc/sources.list.d" "$t/kernel"
# The machine's sources as Debian writes them, plus a one-line list and a file apt ignores.
cat >"$t/etc/sources.list.d/debian.sources" <<'SRC'
Types: deb
URIs: http://deb.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.example/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
cat >"$t/etc/sources.list" <<'SRC'
deb [arch=amd64,i386] http://deb.example/debian bookworm-security contrib
deb http://deb.example/extra bookworm main
SRC
echo 'deb http://deb.example/off bookworm-security main' >"$t/etc/sources.list.d/off.list.disabled"
before=$(cd "$t/etc" && find . -type f -exec sha1sum {} + | sort)
# A guest kernel already unpacked: this test is about the packages.
touch "$t/kernel/modules.load" "$t/kernel/vmlinuz"

cat >"$t/bin/apt-config" <<SH
#!/bin/sh
[ "\$*" = "shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d" ] || { echo "apt-config \$*" >>"$t/unexpected"; exit 1; }
echo "list='$t/etc/sources.list'"
echo "parts='$t/etc/sources.list.d/'"
SH
cat >"$t/bin/dpkg-query" <<'SH'
#!/bin/sh
# Everything is there but Wine's 32-bit half and QEMU.
case "$*" in *wine32:i386*|*qemu-system-x86*) exit 1 ;; esac
printf 'install ok installed'
SH
cat >"$t/bin/dpkg" <<SH
#!/bin/sh
[ "\$1" = --print-foreign-architectures ] && { echo i386; exit 0; }
echo "dpkg \$*" >>"$t/unexpected"; exit 1
SH
printf '#!/bin/sh\necho en_US.utf8\n' >"$t/bin/locale"
for tool in locale-gen apt-cache; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/unexpected"; exit 1\n' "$tool" "$t" >"$t/bin/$tool"
done
cat >"$t/bin/apt-get" <<SH
#!/bin/bash
# Modes: midsync (update names one failed index each time; install needs the suite left out),
# broken (as midsync, and no install works), flaky (the first update fails, the next loads all).
echo "\$*" >>"$t/calls"
args=("\$@") parts= list=
while [ "\${1:-}" = -o ]; do
  case \$2 in Dir::Etc::sourceparts=*) parts=\${2#*=} ;; Dir::Etc::sourcelist=*) list=\${2#*=} ;; esac
  shift 2
done
case \$1 in
  update)
    n=\$(grep -c '^update' "$t/calls")
    if [ "\$FAKE_MODE" = flaky ] && [ "\$n" -gt 1 ]; then echo "Hit:1 http://deb.example/debian bookworm InRelease"; exit 0; fi
    echo "Hit:1 http://deb.example/debian bookworm InRelease"
    echo "Get:2 http://deb.example/debian-security bookworm-security/main i386 Packages [99.8 kB]"
    echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (101232 != 99828). Mirror sync in progress? [IP: 192.0.2.1 80]"
    echo "   Hashes of expected file:"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  install)
    [ "\$FAKE_MODE" != flaky ] || exit 0
    if [ -z "\$parts" ]; then
      echo "E: Unable to correct problems, you have held broken packages."; exit 100
    fi
    [ "\$list" = /dev/null ] || { echo "install without the machine's sources.list: got '\$list'" >>"$t/unexpected"; exit 1; }
    cat "\$parts"/* >"$t/reduced-sources"
    ls "\$parts" >"$t/reduced-files"
    [ "\$FAKE_MODE" = broken ] && { echo "E: Unable to correct problems, you have held broken packages."; exit 100; }
    exit 0 ;;
esac
echo "apt-get \$*" >>"$t/unexpected"; exit 1
SH
chmod +x "$t/bin/"*

# run MODE [ARGUMENTS]: runs the script with the stand-ins; sets status, out (both streams).
run() {
  local mode=$1
  shift
  rm -f "$t/calls" "$t/unexpected" "$t/reduced-sources" "$t/reduced-files"
  touch "$t/calls"
  out=$(PATH="$t/bin:$PATH" FAKE_MODE=$mode KB_APT_PAUSE=0 KB_GUEST_KERNEL="$t/kernel" \
        bash "$script" "$@" 2>&1)
  status=$?
  [ ! -s "$t/unexpected" ] || fail "unexpected calls: $(cat "$t/unexpected")"
  [ "$(cd "$t/etc" && find . -type f -exec sha1sum {} + | sort)" = "$before" ] ||
    fail "the machine's own sources were changed"
}
calls() { grep -c "$1" "$t/calls"; }

case="mirror mid-sync"
run midsync
[ "$status" = 0 ] || fail "status $status: $out"
[ "$(calls '^update')" = 3 ] || fail "update not tried three times: $(cat "$t/calls")"
[ "$(calls 'install')" = 2 ] || fail "not one install over all suites and one without the failing one: $(cat "$t/calls")"
grep -q '^install -y -q --no-install-recommends wine32:i386 qemu-system-x86$' "$t/calls" ||
  fail "first install not over every suite with the missing packages: $(cat "$t/calls")"
grep -qx -- "-o Dir::Etc::sourceparts=[^ ]* -o Dir::Etc::sourcelist=/dev/null install -y -q --no-install-recommends wine32:i386 qemu-system-x86" "$t/calls" ||
  fail "second install not with the temporary sources: $(cat "$t/calls")"
grep -q 'did not load.*http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz' <<<"$out" ||
  fail "the index that failed is not named: $out"
[ "$(grep -c 'trying once more without bookworm-security' <<<"$out")" = 1 ] || fail "the fallback is not said in one line: $out"
grep -q 'bookworm-security' "$t/reduced-sources" && fail "the failing suite is still in the sources used: $(cat "$t/reduced-sources")"
grep -qx 'Suites: bookworm bookworm-updates' "$t/reduced-sources" || fail "the main suites are gone: $(cat "$t/reduced-sources")"
grep -qx 'deb http://deb.example/extra bookworm main' "$t/reduced-sources" || fail "the one-line list lost its other entry"
grep -q 'disabled\|/off' "$t/reduced-sources" && fail "a file apt ignores was taken in"
[ "$(grep -c '^Types:' "$t/reduced-sources")" = 1 ] || fail "the emptied stanza was kept: $(cat "$t/reduced-sources")"

case="mirror mid-sync and no install works"
run broken
[ "$status" != 0 ] || fail "reported success"
grep -q 'installing wine32:i386 qemu-system-x86 failed, also without bookworm-security' <<<"$out" ||
  fail "no clear message: $out"

case="update fails once"
run flaky
[ "$status" = 0 ] || fail "status $status: $out"
[ "$(calls '^update')" = 2 ] || fail "update not tried again: $(cat "$t/calls")"
[ "$(calls 'install')" = 1 ] && ! grep -q 'Dir::Etc' "$t/calls" || fail "fell back although every index loaded: $(cat "$t/calls")"
grep -q 'did not load' <<<"$out" && fail "names an index as failed though it loaded in the end"

case="what is missing, installing nothing"
run midsync --check
[ "$status" = 1 ] || fail "status $status"
[ "$out" = "missing: wine32:i386, qemu-system-x86" ] || fail "said: $out"
[ ! -s "$t/calls" ] || fail "apt-get was called: $(cat "$t/calls")"
rm "$t/kernel/vmlinuz"
run midsync --check --no-guest
[ "$out" = "missing: wine32:i386" ] || fail "with --no-guest said: $out"
run midsync --check
[[ $out == *"qemu-system-x86, the guest kernel in $t/kernel" ]] || fail "no word of the guest kernel: $out"

[ "$failures" = 0 ] && echo "install-deps: all checks passed"
[ "$failures" = 0 ]
