#!/usr/bin/env bash
# Where the Wine tests run (this machine, or the guest of scripts/guest.sh) looks like a booted
# system to a script: /dev/fd and the standard-stream links are there, and process substitution
# works both ways.
# usage: booted_system_test.sh
set -u
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
for link in /dev/fd /dev/stdin /dev/stdout /dev/stderr; do
  [ -e "$link" ] || fail "no $link"
done
[ "$(cat <(echo read from a substitution))" = "read from a substitution" ] || fail "<(...) does not read"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
echo written to a substitution > >(cat >"$out")
wait $!
[ "$(cat "$out")" = "written to a substitution" ] || fail ">(...) does not write"
[ "$(echo through stdout >/dev/stdout)" = "through stdout" ] || fail "/dev/stdout does not write"
[ "$(echo through stdin | cat /dev/stdin)" = "through stdin" ] || fail "/dev/stdin does not read"
[ "$failures" = 0 ] && echo "booted system: all checks passed"
[ "$failures" = 0 ]
