#!/usr/bin/env bash
# The whole link, end to end, on this machine: builds the Windows module and its two stand-ins,
# then on a private X display and Wine prefix starts the KESTRO monitor and the substitute viewer
# with the real module, presses the ribbon button, selects one element, has the monitor send one
# element's GUID back, and shows what each side got, with a screenshot of both windows.
#
#   scripts/demo.sh [--model FILE.json | --ifc FILE.ifc] [--out DIR] [--no-build] [--build-dir DIR]
#
# Run as root on a fresh Debian machine: missing packages are installed first.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
model="$root/models/demo_building.json"
ifc=
out="$root/build/demo"
build=1
bin="$root/build/win32"
while [ $# -gt 0 ]; do
  case $1 in
    --model) model=$(realpath "$2"); shift 2 ;;
    --ifc) ifc=$(realpath "$2"); shift 2 ;;
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --no-build) build=0; shift ;;
    --build-dir) bin=$(realpath "$2"); build=0; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

say() { printf '\n==== %s\n' "$*"; }

# ---- what the machine needs, and the build ------------------------------------------------------
if [ "$(id -u)" = 0 ]; then
  say "installing what is missing"
  scripts/install-deps.sh
fi
if [ "$build" = 1 ]; then
  say "building the win32 preset"
  cmake --preset win32
  cmake --build --preset win32 -j2
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
  [ -x "$converter" ] || { echo "demo.sh: no IFC converter at $converter" >&2; exit 1; }
  say "converting $ifc"
  model="$out/model_from_ifc.json"
  "$converter" "$ifc" "$model"
fi
[ -f "$model" ] || { echo "demo.sh: no model $model" >&2; exit 1; }

# ---- a private desktop ---------------------------------------------------------------------------
stage=$(mktemp -d /tmp/bv-demo-XXXXXX)  # no "KESTRO" in the path but the monitor's own name
export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all
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
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$display_file")"
echo "display $DISPLAY, prefix $WINEPREFIX"

mkdir -p "$stage/viewer" "$stage/peer" "$stage/plugins/kestro_bimvision_data"
cp "$viewer_exe" "$stage/viewer/"
cp "$monitor_exe" "$stage/peer/"
cp "$plugin_dll" "$stage/plugins/"
cp "$root/kestro_bimvision_data/kestro.ico" "$stage/plugins/kestro_bimvision_data/"
win() { printf 'Z:%s' "${1//\//\\}"; }
run() { "$root/cmake/wine-run.sh" "$@"; }

# The element the viewer selects and the one the monitor asks for: the first wall and the first
# door or window of the model (any two elements with a GUID when it has neither).
read -r select_guid request_guid < <(python3 - "$model" <<'EOF'
import json, sys
objects = json.load(open(sys.argv[1], encoding='utf-8'))['objects']
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
    sys.exit('the model has no element with a GUID')
a = first(('IfcWall',), elements[0]['Guid'])
b = first(('IfcDoor', 'IfcWindow'), elements[-1]['Guid'])
print(a, b)
EOF
)

say "starting the KESTRO monitor"
# It asks for the door once it has had both messages (button, then selection).
run "$stage/peer/KESTRO_monitor.exe" --out "$(win "$out/monitor.jsonl")" --send-after 2 \
    --send-guid "$request_guid" --timeout 300000 >"$out/monitor.out" 2>&1 &
monitor_pid=$!
for _ in $(seq 300); do grep -q '"event":"ready"' "$out/monitor.jsonl" 2>/dev/null && break; sleep 0.1; done

say "starting the viewer: button, selection of $select_guid; the monitor asks for $request_guid"
run "$stage/viewer/bimvision_substitute.exe" --model "$(win "$model")" \
    --plugin "$(win "$stage/plugins/kestro_bimvision_32.dll")" --log "$(win "$out/viewer.jsonl")" \
    --script "click; select $select_guid; wait-requests 1 60000; sleep 6000; quit" >"$out/viewer.out" 2>&1 &
viewer_pid=$!
for _ in $(seq 600); do grep -q '"event":"copydata"' "$out/viewer.jsonl" 2>/dev/null && break; sleep 0.1; done
sleep 2  # let both windows repaint
import -window root "$out/demo_screenshot.png"
wait "$viewer_pid" || echo "the viewer ended with status $?"
viewer_pid=
run "$stage/peer/KESTRO_monitor.exe" --close-monitors >/dev/null 2>&1 || true
wait "$monitor_pid" || true
monitor_pid=

# ---- what each side got --------------------------------------------------------------------------
python3 - "$out/monitor.jsonl" "$out/viewer.jsonl" <<'EOF'
import json, sys

def lines(path):
    with open(path, encoding='utf-8') as f:
        return [json.loads(l) for l in f if l.strip()]

monitor, viewer = lines(sys.argv[1]), lines(sys.argv[2])
codes = {1024: 'selection', 1025: 'drag', 1026: 'button'}

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
            r['guid'], r['texto'] or '(empty)', r['entidad'], r['dx'], r['dy'], r['dz'],
            p.get('VOLUMEN', ''), p.get('AREA', '')))
    if recs:
        print('  files: %s' % recs[0]['ficheros'])
for s in (e for e in monitor if e['event'] == 'sent'):
    print('\nKESTRO asked the viewer for %s: delivered %s, answer %d' % (s['guid'], s['delivered'], s['result']))

names = {r['guid']: r['texto'] for e in monitor if e['event'] == 'records' for r in e['records']}
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
