#!/usr/bin/env bash
# The whole link, end to end, on this machine: builds the Windows module and its two stand-ins,
# then on a private X display and Wine prefix starts the KESTRO monitor and the substitute viewer
# with the real module, presses the ribbon button, selects one element, has the monitor send one
# element's GUID back, and shows what each side got, with a screenshot of both windows.
#
#   scripts/demo.sh [--model FILE.json | --ifc FILE.ifc] [--out DIR] [--no-build] [--build-dir DIR]
#                   [--wine-in-guest | --wine-native]
#
# Run as root on a fresh Debian machine: missing packages are installed first. The Wine prefix is
# build/demo-wineprefix, made once and reused. On a machine that cannot run 32-bit programs (or
# with --wine-in-guest, or KB_WINE_SIDE=guest) the part under Wine runs in a throw-away QEMU guest
# (scripts/guest.sh); the build and an IFC conversion stay on the machine. Any failed step ends the
# script with a one-line reason on stderr and a non-zero status: 2 bad command line, 1 anything else.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
model="$root/models/demo_building.json"
ifc=
out="$root/build/demo"
build=1
bin="$root/build/win32"
side=${KB_WINE_SIDE:-auto}
usage() { sed -n '7,8p' "$0" | sed 's/^# *//' >&2; }
die() { echo "demo.sh: $*" >&2; exit 1; }
# An option's value: present and not the next option.
value() {
  if [ $# -lt 2 ] || [ -z "$2" ] || [[ $2 == --* ]]; then
    echo "demo.sh: $1 needs a value" >&2
    usage
    exit 2
  fi
}
while [ $# -gt 0 ]; do
  case $1 in
    --model) value "$@"; model=$(realpath -m "$2"); shift 2 ;;
    --ifc) value "$@"; ifc=$(realpath -m "$2"); shift 2 ;;
    --out) value "$@"; out=$(realpath -m "$2"); shift 2 ;;
    --no-build) build=0; shift ;;
    --build-dir) value "$@"; bin=$(realpath -m "$2"); build=0; shift 2 ;;
    --wine-in-guest) side=guest; shift ;;
    --wine-native) side=native; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown argument $1" >&2; usage; exit 2 ;;
  esac
done
[ -z "$ifc" ] || [ -f "$ifc" ] || die "no IFC file $ifc"

say() { printf '\n==== %s\n' "$*"; }

# ---- what the machine needs, and the build ------------------------------------------------------
# Wine runs the 32-bit programs as 32-bit Linux processes: a kernel without 32-bit support cannot
# start them at all; there the part under Wine runs in the guest, whose kernel can.
if [ "$side" = auto ]; then
  if "$root/scripts/guest.sh" runs-32bit; then side=native; else side=guest; fi
fi
# Everything this path needs: the packages, and the guest's parts (QEMU, busybox, its kernel) when
# the guest is taken. Inside the guest the machine's check already ran.
if [ -z "${KB_IN_GUEST:-}" ]; then
  deps=()
  [ "$side" = guest ] || deps=(--no-guest)
  if ! missing=$(scripts/install-deps.sh --check "${deps[@]}"); then
    [ "$(id -u)" = 0 ] || die "$missing (run scripts/install-deps.sh as root)"
    say "installing what is missing: ${missing#missing: }"
    scripts/install-deps.sh "${deps[@]}" || die "installing the packages failed (scripts/install-deps.sh said why above)"
  fi
fi
if [ "$build" = 1 ]; then
  say "building the win32 preset"
  cmake --preset win32 >/dev/null || die "configuring the win32 preset failed"
  cmake --build --preset win32 -j2 || die "building the win32 preset failed"
fi
viewer_dir=$(sed -n 's/^BVS_VIEWER_DIR:[A-Z]*=//p' "$bin/CMakeCache.txt" 2>/dev/null || true)
viewer_exe="${viewer_dir:-$bin/tools/viewer/bin}/bimvision_substitute.exe"
monitor_exe="$bin/tools/monitor/KESTRO_monitor.exe"
plugin_dll="$bin/plugins/kestro_bimvision/platform/win32/kestro_bimvision_32.dll"
for f in "$viewer_exe" "$monitor_exe" "$plugin_dll"; do
  [ -n "$f" ] && [ -f "$f" ] || { echo "demo.sh: missing build output ${f:-bimvision_substitute.exe}" >&2; exit 1; }
done

mkdir -p "$out"
rm -f "$out"/*.jsonl "$out"/*.png "$out"/*.bmp

# ---- the model: a snapshot, or one made from an IFC file ----------------------------------------
# Hook for IFC input: scripts/ifc_to_model.sh turns IN.ifc into the snapshot the viewer reads
# (building its native converter when needed). IFC2SNAPSHOT names another converter with the same
# command line (IN.ifc OUT.json).
if [ -n "$ifc" ]; then
  converter=${IFC2SNAPSHOT:-$root/scripts/ifc_to_model.sh}
  [ -x "$converter" ] || die "no IFC converter at $converter"
  say "converting $ifc"
  model="$out/model_from_ifc.json"
  "$converter" "$ifc" "$model" || die "converting $ifc failed"
fi
[ -f "$model" ] || die "no model $model"

# ---- in the guest, when Wine cannot run here ------------------------------------------------------
# The rest runs there as it would here: the build folder and the output folder shared read-write,
# the model and the build output as on the machine.
if [ "$side" = guest ]; then
  accel=${KB_GUEST_ACCEL:-$("$root/scripts/guest.sh" accel)}
  [ "$accel" = tcg ] && export KB_WINE_TIME_FACTOR=10  # everything is that much slower
  say "running the rest in $([ "$accel" = kvm ] && echo "a KVM guest" || echo "an emulated guest (TCG)")"
  status=0
  "$root/scripts/guest.sh" run --accel "$accel" --share "$root/build" --share "$out" --need "$root" \
      --need "$bin" --need "$(dirname "$model")" --need "$(dirname "$viewer_exe")" -- \
      bash "$root/scripts/demo.sh" --wine-native --build-dir "$bin" --model "$model" --out "$out" ||
    status=$?
  [ "$status" != 125 ] || die "the guest could not run the demo (scripts/guest.sh said why above)"
  exit "$status"
fi
# The demo has its prefix to itself: its programs run side by side (cmake/wine-run.sh).
export KB_WINE_TEST=demo
factor=${KB_WINE_TIME_FACTOR:-1}

# ---- a private desktop ---------------------------------------------------------------------------
stage=$(mktemp -d /tmp/bv-demo-XXXXXX)  # no "KESTRO" in the path but the monitor's own name
export WINEPREFIX="$root/build/demo-wineprefix" WINEARCH=win32 WINEDEBUG=-all
xvfb_pid= viewer_pid= monitor_pid=
cleanup() {
  set +e
  for pid in $viewer_pid $monitor_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$stage"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "starting a private X display and Wine prefix"
display_file="$stage/display"
Xvfb -displayfd 3 -screen 0 1280x1260x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq $((100 * factor))); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || die "the X server (Xvfb) did not start"
export DISPLAY=":$(head -1 "$display_file")"
echo "display $DISPLAY, prefix $WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$out/wineboot.log" 2>&1 || die "creating the Wine prefix failed (log: $out/wineboot.log)"
  wineserver -w
fi

mkdir -p "$stage/viewer" "$stage/peer" "$stage/plugins/kestro_bimvision_data"
cp "$viewer_exe" "$stage/viewer/"
cp "$monitor_exe" "$stage/peer/"
cp "$plugin_dll" "$stage/plugins/"
cp "$root/kestro_bimvision_data/kestro.ico" "$stage/plugins/kestro_bimvision_data/"
win() { printf 'Z:%s' "${1//\//\\}"; }
run() { "$root/cmake/wine-run.sh" "$@"; }

# The whole screen cut into one picture per window, each under a strip with its title (there is
# no window manager to draw frames), stacked top to bottom.
take_screenshot() {
  local file=$1 shot="$stage/screen.png" parts=() n=0 line geometry title windows
  import -window root "$shot" || return 1
  # '0x... "Title": ("class" "Class")  WxH+X+Y  +X+Y' for each top-level window
  windows=$(xwininfo -root -children 2>/dev/null | grep -E '^ +0x[0-9a-f]+ "(Monitor de KESTRO|BimVision substitute)' || true)
  if [ -z "$windows" ]; then
    # Where the two programs put their windows.
    windows=$'  0x0 "BimVision substitute - (viewer)": ()  1200x800+0+0\n  0x0 "Monitor de KESTRO": ()  1200x420+0+810'
  fi
  while IFS= read -r line; do
    title=$(sed -n 's/^ *0x[0-9a-f]* "\(.*\)": (.*/\1/p' <<<"$line")
    geometry=$(grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' <<<"$line" | head -1)
    [ -n "$geometry" ] || continue
    n=$((n + 1))
    convert "$shot" -crop "$geometry" +repage -background '#1f3f6f' -fill white -font DejaVu-Sans \
        -pointsize 16 -gravity northwest -splice 0x28 -annotate +8+5 "$title" "$stage/part$n.png" || return 1
    parts+=("$stage/part$n.png")
  done <<<"$windows"
  [ "$n" -gt 0 ] || return 1
  convert "${parts[@]}" -background white -gravity northwest -append +repage "$file"
}

# The element the viewer selects and the one the monitor asks for: the first wall and the first
# door or window of the model (any two elements with a GUID when it has neither).
# The viewer's own one-line reason for a failure, from what it wrote.
viewer_reason() { grep -m1 '^bimvision_substitute:' "$out/viewer.out" | tr -d '\r'; }
# A model that does not read is left to the viewer, which says what is wrong with it.
viewer_says() {
  local status=0
  run "$stage/viewer/bimvision_substitute.exe" --model "$(win "$model")" --script quit \
      >"$out/viewer.out" 2>&1 || status=$?
  [ "$status" != 0 ] || return 1
  viewer_reason || echo "the viewer ended with status $status"
}
picked=$(python3 - "$model" <<'EOF'
import json, sys
try:
    objects = json.load(open(sys.argv[1], encoding='utf-8'))['objects']
    if not isinstance(objects, list):
        raise TypeError
except (ValueError, KeyError, TypeError, OSError):
    sys.exit(3)
def identity(o):
    t = {}
    for s in o.get('property_sets') or []:
        for p in s.get('properties') or []:
            if p['name'] in ('Guid', 'IfcEntity', 'ObjectType') and isinstance(p.get('value'), str):
                t[p['name']] = p['value']
    return t
containers = ('IfcProject', 'IfcSite', 'IfcBuilding', 'IfcBuildingStorey')
elements = [identity(o) for o in objects]
elements = [t for t in elements if t.get('Guid') and t.get('ObjectType') not in containers]
def first(kinds, default):
    return next((t['Guid'] for t in elements if t.get('IfcEntity', '').startswith(kinds)), default)
if not elements:
    sys.exit(4)
a = first(('IfcWall',), elements[0]['Guid'])
b = first(('IfcDoor', 'IfcWindow'), elements[-1]['Guid'])
print(a, b)
EOF
) || case $? in
  3) die "the viewer rejects the model $model: $(viewer_says || echo 'no reason given')" ;;
  4) die "the model $model has no element with a GUID" ;;
  *) die "reading the model $model failed" ;;
esac
read -r select_guid request_guid <<<"$picked"

say "starting the KESTRO monitor"
# It asks for the door once it has had both messages (button, then selection).
run "$stage/peer/KESTRO_monitor.exe" --out "$(win "$out/monitor.jsonl")" --send-after 2 \
    --send-guid "$request_guid" --timeout $((300000 * factor)) >"$out/monitor.out" 2>&1 &
monitor_pid=$!
for _ in $(seq $((300 * factor))); do grep -q '"event":"ready"' "$out/monitor.jsonl" 2>/dev/null && break; sleep 0.1; done
grep -q '"event":"ready"' "$out/monitor.jsonl" 2>/dev/null ||
  die "the KESTRO monitor did not start (output: $out/monitor.out)"

say "starting the viewer: button, selection of $select_guid; the monitor asks for $request_guid"
run "$stage/viewer/bimvision_substitute.exe" --model "$(win "$model")" \
    --plugin "$(win "$stage/plugins/kestro_bimvision_32.dll")" --log "$(win "$out/viewer.jsonl")" \
    --script "click; select $select_guid; wait-requests 1 $((60000 * factor)); sleep $((6000 * factor)); quit" >"$out/viewer.out" 2>&1 &
viewer_pid=$!
for _ in $(seq $((600 * factor))); do
  grep -q '"event":"copydata"' "$out/viewer.jsonl" 2>/dev/null && break
  kill -0 "$viewer_pid" 2>/dev/null || break
  sleep 0.1
done
sleep $((2 * factor))  # let both windows repaint
screenshot_ok=0
if take_screenshot "$out/demo_screenshot.png"; then screenshot_ok=1; fi
viewer_status=0
wait "$viewer_pid" || viewer_status=$?
viewer_pid=
run "$stage/peer/KESTRO_monitor.exe" --close-monitors >/dev/null 2>&1 || true
wait "$monitor_pid" || true
monitor_pid=
if [ "$viewer_status" != 0 ]; then
  reason=$(viewer_reason || true)
  die "the viewer ended with status $viewer_status: ${reason:-see $out/viewer.out}"
fi
grep -q '"event":"records"' "$out/monitor.jsonl" ||
  die "nothing arrived at the KESTRO monitor (logs: $out/monitor.jsonl, $out/viewer.jsonl)"
if grep -q '"event":"records".*"valid":false' "$out/monitor.jsonl"; then
  die "the KESTRO monitor rejected a message (log: $out/monitor.jsonl)"
fi
[ "$screenshot_ok" = 1 ] || die "the screenshot failed"

# ---- what each side got --------------------------------------------------------------------------
python3 - "$out/monitor.jsonl" "$out/viewer.jsonl" <<'EOF'
import json, sys

def lines(path):
    with open(path, encoding='utf-8') as f:
        return [json.loads(l) for l in f if l.strip()]

monitor, viewer = lines(sys.argv[1]), lines(sys.argv[2])
codes = {1024: 'selection', 1025: 'drag', 1026: 'button'}

def shown(text):
    # The log keeps each byte as the character of its value; KESTRO reads them as Windows-1252.
    return text.encode('latin-1').decode('cp1252', 'replace')

def pairs(text):
    parts = text[1:].split('#') if text.startswith('#') else []
    return dict(zip(parts[0::2], parts[1::2]))

print('\n==== what KESTRO received')
for m in (e for e in monitor if e['event'] == 'records'):
    recs = m['records']
    code = recs[0]['codigo'] if recs else None
    print('\nmessage %d: %d records, %d bytes, %s, from viewer window %d%s' % (
        m['sequence'], m['dwData'], m['cbData'], codes.get(code, 'no records'), m['wParam'],
        '' if m['valid'] else ' REJECTED: ' + m['reason']))
    print('  %-22s  %-38s  %-20s  %7s %7s %7s  %10s  %10s' % ('GUID', 'Name', 'Entity', 'dx', 'dy', 'dz', 'Volume', 'Area'))
    for r in recs:
        p = pairs(r['propiedad'])
        print('  %-22s  %-38.38s  %-20.20s  %7.2f %7.2f %7.2f  %10s  %10s' % (
            r['guid'], shown(r['texto']) or '(empty)', shown(r['entidad']), r['dx'], r['dy'], r['dz'],
            p.get('VOLUMEN', ''), p.get('AREA', '')))
    if recs:
        print('  files: %s' % shown(recs[0]['ficheros']))
for s in (e for e in monitor if e['event'] == 'sent'):
    print('\nKESTRO asked the viewer for %s: delivered %s, answer %d' % (s['guid'], s['delivered'], s['result']))

names = {r['guid']: shown(r['texto']) for e in monitor if e['event'] == 'records' for r in e['records']}
def named(guid):
    return '%s (%s)' % (guid, names[guid]) if guid in names else guid

print('\n==== what the viewer did with the request')
for e in viewer:
    if e['event'] == 'call' and e['name'] in ('select', 'set_object_active', 'zoom_to', 'unselect_openings'):
        target = named(e['guid']) if 'guid' in e else ('the selection (pseudo id)' if e.get('pseudo') else e.get('object'))
        print('  %-18s %-60s %s' % (e['name'], target, e.get('flags', '')))
final = [e for e in viewer if e['event'] == 'selected']
if final:
    guids = final[-1]['guids']
    print('selected at the end: %s' % (', '.join(named(g) if g else '(no GUID)' for g in guids) or 'nothing'))
EOF

say "done"
echo "screenshot of both windows: $out/demo_screenshot.png"
echo "logs: $out/monitor.jsonl, $out/viewer.jsonl"
