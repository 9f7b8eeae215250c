#!/usr/bin/env bash
# The installer under Wine: silent install into a folder holding the stand-in viewer, the files
# where they belong and registered for removal; the viewer started from there loads the installed
# module and its button sends the model to a KESTRO monitor; installing again replaces cleanly;
# the uninstaller leaves the folder as it was. A folder without a viewer, or with a 64-bit one,
# gets no install and exit code 2.
# usage: installer_wine_test.sh SETUP.exe VIEWER.exe KESTRO_monitor.exe MODEL.json
set -euo pipefail
setup=$1 viewer=$2 monitor=$3 model=$4
: "${WINEPREFIX:?WINEPREFIX is not set}"
here=$(cd "$(dirname "$0")" && pwd)
# The whole test has the prefix to itself, and nothing it started outlives it.
[ -n "${KB_WINE_TEST:-}" ] || exec "$here/../../cmake/wine-test.sh" bash "$0" "$@"
# Under emulation (scripts/wine-tests.sh --time-factor) waits are that many times longer.
waits=$((300 * ${KB_WINE_TIME_FACTOR:-1}))
run() { "$here/../../cmake/wine-run.sh" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KestroBimVision'

# No "KESTRO" in the viewer's path; the monitor's own name carries it.
base="$WINEPREFIX/drive_c/kb_tests/installer"
winbase='C:\kb_tests\installer'
rm -rf "$base"
mkdir -p "$base/viewer" "$base/empty" "$base/viewer64" "$base/peer" "$base/logs"
cp "$viewer" "$base/viewer/"
cp "$viewer" "$base/viewer64/"
cp "$monitor" "$base/peer/"
cp "$setup" "$base/setup.exe"
echo "notes" >"$base/empty/readme.txt"
# The same viewer marked as built for x86-64: the check reads the machine field.
python3 - "$base/viewer64/$(basename "$viewer")" <<'PY'
import struct, sys
p = sys.argv[1]
b = bytearray(open(p, 'rb').read())
pe = struct.unpack_from('<I', b, 0x3c)[0]
struct.pack_into('<H', b, pe + 4, 0x8664)
open(p, 'wb').write(b)
PY
listing() { (cd "$1" && find . -printf '%p %s\n' | sort); }
before=$(listing "$base/viewer")

echo "== silent install"
run "$base/setup.exe" /S "/D=$winbase\\viewer" || fail "setup exited with $?"
wineserver -w
for f in plugins/kestro_bimvision_32.dll plugins/kestro_bimvision_data/kestro.ico \
         plugins/kestro_bimvision_data/desinstalar.exe; do
  [ -f "$base/viewer/$f" ] || fail "missing $f after install"
done
cmp -s "$base/viewer/plugins/kestro_bimvision_data/kestro.ico" "$here/../../kestro_bimvision_data/kestro.ico" ||
  fail "installed icon differs"
reg=$(run reg query "$key" 2>/dev/null | tr -d '\r')
grep -q 'DisplayVersion.*1\.0\.4\.0' <<<"$reg" || fail "not registered for removal: $reg"
grep -qi 'InstallLocation.*kb_tests\\installer\\viewer' <<<"$reg" || fail "no install location: $reg"

echo "== the viewer loads the installed module; its button reaches the monitor"
run "$base/peer/KESTRO_monitor.exe" --out "$winbase\\logs\\monitor.jsonl" --quit-after 1 --timeout 120000 \
    >"$base/logs/monitor.out" 2>&1 &
monitor_pid=$!
for _ in $(seq "$waits"); do grep -q '"event":"ready"' "$base/logs/monitor.jsonl" 2>/dev/null && break; sleep 0.1; done
model_win="Z:$(realpath "$model" | sed 's,/,\\,g')"
run "$base/viewer/$(basename "$viewer")" --model "$model_win" \
    --plugin "$winbase\\viewer\\plugins\\kestro_bimvision_32.dll" --log "$winbase\\logs\\viewer.jsonl" \
    --script "click; sleep 1000; quit" || fail "viewer exited with $?"
wait "$monitor_pid" || fail "monitor exited with $?"
python3 - "$base/logs/monitor.jsonl" <<'PY' || fail "the monitor did not get the button's records"
import json, sys
events = [json.loads(l) for l in open(sys.argv[1], encoding='utf-8') if l.strip()]
records = [e for e in events if e['event'] == 'records']
assert records and records[0]['valid'] and records[0]['dwData'] > 0, records
assert all(r['codigo'] == 1026 for r in records[0]['records'])
PY

echo "== install again over the first"
run "$base/setup.exe" /S "/D=$winbase\\viewer" || fail "second setup exited with $?"
wineserver -w
[ "$(find "$base/viewer/plugins" -type f | wc -l)" = 3 ] || fail "second install left other files: $(find "$base/viewer/plugins")"

echo "== uninstall"
run "$base/viewer/plugins/kestro_bimvision_data/desinstalar.exe" /S || fail "uninstaller exited with $?"
# The uninstaller runs on from a copy of itself in the temporary folder.
for _ in $(seq "$waits"); do [ -e "$base/viewer/plugins" ] || break; sleep 0.1; done
wineserver -w
after=$(listing "$base/viewer")
[ "$before" = "$after" ] || fail "folder differs after uninstall: $(diff <(echo "$before") <(echo "$after"))"
if run reg query "$key" >/dev/null 2>&1; then fail "still registered after uninstall"; fi

echo "== refused folders"
for case in empty viewer64; do
  was=$(listing "$base/$case")
  status=0
  run "$base/setup.exe" /S "/D=$winbase\\$case" || status=$?
  wineserver -w
  [ "$status" = 2 ] || fail "setup into $case exited with $status, not 2"
  [ "$(listing "$base/$case")" = "$was" ] || fail "setup into $case changed the folder"
done
if run reg query "$key" >/dev/null 2>&1; then fail "a refused install was registered"; fi
echo "installer under Wine: all checks passed"
