#!/usr/bin/env python3
"""The Duplex sample model end to end: converted by ifc2snapshot (native), loaded by the
substitute viewer with the real module under Wine, sent to the KESTRO monitor by a click on the
ribbon button.

    duplex_e2e.py --samples DIR --viewer EXE --monitor EXE --plugin DLL --wine-run SCRIPT --prefix DIR

Exits 77 (skipped) when DIR holds no Duplex_A_20110907.ifc. The model is converted into the
test's own stage folder and never kept.
"""
import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE_DIR, 'tests', 'e2e'))

import expected  # noqa: E402
from harness import TIME_FACTOR, check, limit_ms, main_window, run_case, the_only_message  # noqa: E402

DUPLEX = 'Duplex_A_20110907.ifc'
SKIPPED = 77


def convert(ifc, out):
    result = subprocess.run([os.path.join(SOURCE_DIR, 'scripts', 'ifc_to_model.sh'), '--quiet', ifc, out],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=1200 * TIME_FACTOR)
    check(result.returncode == 0, 'ifc_to_model.sh failed (%d):\n%s' %
          (result.returncode, result.stdout.decode('utf-8', 'replace')))
    with open(out, encoding='utf-8') as f:
        return json.load(f)


def identity(obj):
    return {p['name']: p['value'] for p in obj['property_sets'][0]['properties']}


def button_click_sends_every_element_of_the_duplex(d, ifc):
    snapshot_path = d.path('duplex.json')
    model = convert(ifc, snapshot_path)
    with_guid = [o for o in model['objects'] if identity(o).get('Guid')]
    containers = [o for o in with_guid if identity(o).get('ObjectType') in expected.CONTAINERS]
    check(len(model['objects']) == 246, '%d objects in the snapshot' % len(model['objects']))
    check(len(containers) == 7, '%d spatial containers' % len(containers))

    monitor = d.start_monitor('--quit-after', '1', '--timeout', str(limit_ms(180000)))
    viewer = d.run_viewer(snapshot_path, 'click; quit')
    events = d.end_monitor(monitor)
    message = the_only_message(events)
    check(message['valid'], 'the monitor rejected the message: %s' % message.get('reason'))

    records = message['records']
    check(len(records) == len(with_guid) - len(containers) == 239,
          '%d records for %d objects with a GUID and %d containers' %
          (len(records), len(with_guid), len(containers)))
    check(message['dwData'] == len(records) and message['cbData'] == 12336 * len(records),
          'dwData %s / cbData %s for %d records' % (message['dwData'], message['cbData'], len(records)))
    check(message['wParam'] == main_window(viewer), 'wParam is not the viewer main window')

    want = expected.records(model, expected.REQUEST_UPDATE)
    problems = expected.compare_records(records, want)
    check(not problems, 'records differ from the snapshot:\n  ' + '\n  '.join(problems[:40]))

    # The measured volumes and areas came through, not zeros.
    with_volume = [r for r in records if '#VOLUMEN#0.000000#' not in r['propiedad']]
    check(len(with_volume) >= 150, 'only %d records carry a volume' % len(with_volume))
    check(all(r['ficheros'] == DUPLEX + '#' for r in records), 'file names: %s' % records[0]['ficheros'])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--samples', required=True)
    parser.add_argument('--viewer', required=True)
    parser.add_argument('--monitor', required=True)
    parser.add_argument('--plugin', required=True)
    parser.add_argument('--wine-run', required=True)
    parser.add_argument('--prefix', required=True)
    parser.add_argument('--process-timeout', type=int, default=240)
    args = parser.parse_args()
    ifc = os.path.join(args.samples, DUPLEX)
    if not os.path.exists(ifc):
        print('skipped: %s is not there' % ifc)
        return SKIPPED
    return run_case(args, 'duplex',
                    lambda desktop: button_click_sends_every_element_of_the_duplex(desktop, ifc))


if __name__ == '__main__':
    sys.exit(main())
