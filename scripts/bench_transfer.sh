#!/usr/bin/env bash
# Times one button-click transfer of a 10,000-element model (the click seen in the viewer's log
# until the KESTRO monitor starts handling the message) and, in the same run, a raw WM_COPYDATA of
# the same byte count from one process to the monitor; prints both times and their ratio.
#
#   scripts/bench_transfer.sh [--elements N] [--runs R] [--build-dir DIR]
#
# Needs a built win32 preset (cmake --preset win32 && cmake --build --preset win32).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
elements=10000
runs=3
bin="$root/build/win32"
# An option's value: present, and a whole number where one is expected.
value() {
  if [ $# -lt 2 ] || [ -z "$2" ] || [[ $2 == --* ]]; then
    echo "bench_transfer.sh: $1 needs a value" >&2
    exit 2
  fi
}
number() {
  value "$@"
  [[ $2 =~ ^[0-9]+$ ]] || { echo "bench_transfer.sh: $1: \"$2\" is not a whole number" >&2; exit 2; }
}
while [ $# -gt 0 ]; do
  case $1 in
    --elements) number "$@"; elements=$2; shift 2 ;;
    --runs) number "$@"; runs=$2; shift 2 ;;
    --build-dir) value "$@"; bin=$(realpath -m "$2"); shift 2 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench_transfer.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
viewer_dir=$(sed -n 's/^BVS_VIEWER_DIR:[A-Z]*=//p' "$bin/CMakeCache.txt" 2>/dev/null || true)
export WINEPREFIX=${WINEPREFIX:-$bin/wineprefix}
unset DISPLAY  # the harness starts a private X server

# The run has the prefix to itself, and nothing it starts outlives it (cmake/wine-test.sh).
exec "$root/cmake/wine-test.sh" python3 - "$root" "$bin" "${viewer_dir:-$bin/tools/viewer/bin}" "$elements" "$runs" <<'EOF'
import json, os, statistics, sys, time
root, bin_dir, viewer_dir, elements, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
sys.path.insert(0, os.path.join(root, 'tests', 'e2e'))
from harness import Desktop, of, read_lines, windows_path
from types import SimpleNamespace

RECORD = 12336
args = SimpleNamespace(
    viewer=os.path.join(viewer_dir, 'bimvision_substitute.exe'),
    monitor=os.path.join(bin_dir, 'tools', 'monitor', 'KESTRO_monitor.exe'),
    plugin=os.path.join(bin_dir, 'plugins', 'kestro_bimvision', 'platform', 'win32', 'kestro_bimvision_32.dll'),
    wine_run=os.path.join(root, 'cmake', 'wine-run.sh'), prefix=os.environ['WINEPREFIX'], process_timeout=900)
for f in (args.viewer, args.monitor, args.plugin):
    if not os.path.exists(f):
        sys.exit('bench_transfer.sh: missing %s (build the win32 preset first)' % f)

def element(i):
    return {'id': i + 1, 'bounds': [0, 0, 0, 1 + i % 5, 2, 3], 'volume': i / 8.0, 'area': i / 4.0,
            'property_sets': [
                {'name': 'Atributos', 'properties': [
                    {'name': 'Guid', 'value': 'G%021d' % i}, {'name': 'Name', 'value': 'Elemento %d' % i},
                    {'name': 'IfcEntity', 'value': 'IfcWall'}, {'name': 'ObjectType', 'value': 'Muro'}]},
                {'name': 'Pset', 'properties': [
                    {'name': 'Indice', 'value': float(i)}, {'name': 'Material', 'value': 'Hormigón'}]}]}

model = {'format': 'kestro-bimvision-snapshot', 'version': 1, 'files': ['bench.ifc'],
         'objects': [element(i) for i in range(elements)]}

transfer, raw = [], []
with Desktop(args) as d:
    model_path = d.path('bench-model.json')
    with open(model_path, 'w', encoding='utf-8') as f:
        json.dump(model, f)
    for run in range(runs):
        # The module's transfer: the click seen in the viewer's log, the monitor's arrival time.
        monitor = d.start_monitor('--quit-after', '1', '--timeout', '900000', name='monitor%d' % run)
        log = d.path('viewer%d.jsonl' % run)
        viewer = d.start('viewer', d.viewer, ['--model', windows_path(model_path), '--plugin', windows_path(d.plugin),
                                              '--log', windows_path(log), '--script', 'click; quit'])
        clicked = None
        while clicked is None and viewer.running():
            if os.path.exists(log) and any(e.get('event') == 'click' for e in read_lines(log)):
                clicked = time.time() * 1000.0
            else:
                time.sleep(0.001)
        viewer.wait(900)
        events = d.end_monitor(monitor)
        got = of(events, 'records')
        if clicked is None or len(got) != 1 or got[0]['dwData'] != elements:
            sys.exit('the transfer did not arrive whole: %s' % [(m['dwData'], m['cbData']) for m in got])
        transfer.append(got[0]['time_ms'] - clicked)

        # The same bytes sent by a plain process.
        monitor = d.start_monitor('--quit-after', '1', '--timeout', '900000', name='rawmonitor%d' % run)
        sent = d.monitor_tool('--send-raw-bytes', str(elements * RECORD), '--to-class', 'KestroMonitorWindow',
                              '--timeout', '60000')
        events = d.end_monitor(monitor)
        got = of(events, 'records')
        if len(got) != 1 or got[0]['cbData'] != elements * RECORD:
            sys.exit('the raw message did not arrive whole')
        raw.append(got[0]['time_ms'] - sent[0]['start_ms'])

t, r = statistics.median(transfer), statistics.median(raw)
print('%d elements, %d bytes, median of %d runs' % (elements, elements * RECORD, runs))
print('  button click to arrival at KESTRO: %9.1f ms   (%s)' % (t, ', '.join('%.1f' % x for x in transfer)))
print('  raw WM_COPYDATA of the same bytes: %9.1f ms   (%s)' % (r, ', '.join('%.1f' % x for x in raw)))
print('  ratio: %.2f' % (t / r if r > 0 else float('inf')))
EOF
