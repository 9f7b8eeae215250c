#!/usr/bin/env python3
"""How large an update goes through: button clicks on generated models of N objects in the
stand-in viewer with the real module, KESTRO monitor as receiver, under Wine. For every run, one
JSON line: whether the update arrived whole, the time from the click (seen in the viewer's log)
to the monitor's handler, the viewer's memory figures around the click (its "memory" log event:
private bytes now and the peak sampled during the click, the largest free range of its address
space), and the message box the user got instead, if any.

    benchmarks/transfer_ceiling.sh [--sizes N,N,...] [--viewers plain,laa] [--out FILE.jsonl]
                                   [--build-dir DIR] [--monitor-stack-mb MB]

"laa" is a copy of the stand-in viewer with the large-address-aware flag set in its PE header
(the default build stays a plain 32-bit program). Models are made by models/make_large_model.py
into build/bench-models/ once and kept. Run through cmake/wine-test.sh (the .sh does).
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import time
from types import SimpleNamespace

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
from harness import Desktop, Failure, of, read_lines, windows_path, TIME_FACTOR  # noqa: E402

RECORD = 12336
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020


def set_large_address_aware(path):
    """Sets the flag in the COFF header's Characteristics (the PE checksum is not checked for
    executables)."""
    with open(path, 'r+b') as f:
        data = f.read(4096)
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise SystemExit('%s: not a PE file' % path)
        at = pe + 4 + 18
        flags = struct.unpack_from('<H', data, at)[0] | IMAGE_FILE_LARGE_ADDRESS_AWARE
        f.seek(at)
        f.write(struct.pack('<H', flags))


def model_file(count):
    folder = os.path.join(ROOT, 'build', 'bench-models')
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, 'model-%d.json' % count)
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(ROOT, 'models', 'make_large_model.py'), str(count), path + '.part'],
                       check=True)
        os.replace(path + '.part', path)
    return path


def records_of(count):
    """The records a model of make_large_model.py sends: its objects but the spatial containers
    (project, site, building and one storey per 500 objects), which the module leaves out."""
    return max(0, count - min(count, 3 + max(1, (count + 499) // 500)))


def one_run(d, viewer, variant, count, monitor_options, dialog_wait_ms):
    model = model_file(count)
    name = '%s-%d' % (variant, count)
    for attempt in range(10):
        try:
            monitor = d.start_monitor('--quit-after', '1', '--timeout', str(3600000 * TIME_FACTOR), *monitor_options,
                                      name='monitor-%s-%d' % (name, attempt))
            break
        except Failure as failure:
            print('the monitor did not start (exit %s): %s' % (d.processes[-1].popen.returncode, failure), flush=True)
    else:
        raise SystemExit('transfer_ceiling: the monitor does not start')
    ready = of(read_lines(monitor.log), 'ready')[0]
    log = d.path('viewer-%s.jsonl' % name)
    # A message box opened by the click handler runs the next action (dismiss-dialog) in its own
    # loop; without one, dismiss-dialog runs after the handler returned and ends the viewer with
    # exit code 6 when its wait is over.
    p = d.start('viewer-' + name, viewer, ['--model', windows_path(model), '--plugin', windows_path(d.plugin),
                                           '--log', windows_path(log),
                                           '--script', 'click; dismiss-dialog %d; quit' % dialog_wait_ms])
    clicked = None
    started = time.time()
    while clicked is None and p.running():
        if os.path.exists(log) and any(e.get('event') == 'click' for e in read_lines(log)):
            clicked = time.time() * 1000.0
        else:
            time.sleep(0.01)
    code = p.wait(d.process_timeout)
    events = read_lines(log)
    if monitor.running():
        # Nothing arrived: the monitor is closed; a monitor that died is seen in its exit code.
        d.close_monitors()
    monitor_code = monitor.wait(d.process_timeout)
    got = of(read_lines(monitor.log), 'records')
    memory = of(events, 'memory')
    dialogs = of(events, 'dialog')
    records = records_of(count)
    arrived = [m for m in got if m.get('valid') and m['dwData'] == records and m['cbData'] == records * RECORD]
    row = {
        'viewer': variant, 'elements': count, 'records': records, 'bytes': records * RECORD,
        'arrived_whole': bool(arrived),
        'click_to_arrival_ms': round(arrived[0]['time_ms'] - clicked, 1) if arrived and clicked else None,
        'messages_at_monitor': [(m['dwData'], m['cbData'], m.get('valid')) for m in got],
        'dialog': dialogs[0]['text'] if dialogs else None,
        'viewer_exit': code, 'monitor_exit': monitor_code,
        'monitor_stack_reserve': ready.get('stack_reserve'),
        'run_s': round(time.time() - started, 1),
        'time_factor': TIME_FACTOR,
    }
    if memory:
        for key in ('private_bytes', 'peak_private_bytes', 'peak_pagefile_usage', 'largest_free',
                    'large_address_aware'):
            row[key] = memory[0].get(key)
    return row


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--sizes', default='1000,10000,20000,40000')
    parser.add_argument('--viewers', default='plain,laa')
    parser.add_argument('--out', required=True)
    parser.add_argument('--build-dir', required=True)
    parser.add_argument('--viewer-dir', required=True)
    parser.add_argument('--monitor-stack-mb', type=int, default=0)
    parser.add_argument('--dialog-wait-ms', type=int, default=3000)
    a = parser.parse_args()
    sizes = [int(s) for s in a.sizes.split(',') if s]
    variants = [v for v in a.viewers.split(',') if v]
    args = SimpleNamespace(
        viewer=os.path.join(a.viewer_dir, 'bimvision_substitute.exe'),
        monitor=os.path.join(a.build_dir, 'tools', 'monitor', 'KESTRO_monitor.exe'),
        plugin=os.path.join(a.build_dir, 'plugins', 'kestro_bimvision', 'platform', 'win32', 'kestro_bimvision_32.dll'),
        wine_run=os.path.join(ROOT, 'cmake', 'wine-run.sh'), prefix=os.environ['WINEPREFIX'], process_timeout=3000)
    for f in (args.viewer, args.monitor, args.plugin):
        if not os.path.exists(f):
            sys.exit('transfer_ceiling: missing %s (build the win32 preset first)' % f)
    for count in sizes:
        model_file(count)
    monitor_options = ['--stack-mb', str(a.monitor_stack_mb)] if a.monitor_stack_mb else []
    with Desktop(args) as d:
        # One Wine server and its desktop process for all runs, started first: under emulation the
        # desktop process that the first window starts may come up too late for it (the program
        # then has no windows and ends), so the monitor's start is tried again until it is up.
        subprocess.run(['wineserver', '-p'], env=dict(os.environ, WINEPREFIX=d.prefix), check=False)
        d.start('desktop', 'explorer.exe', ['/desktop'])
        viewers = {'plain': d.viewer}
        if 'laa' in variants:
            viewers['laa'] = d._copy(args.viewer, 'viewer-laa')
            set_large_address_aware(viewers['laa'])
        for count in sizes:
            for variant in variants:
                row = one_run(d, viewers[variant], variant, count, monitor_options, a.dialog_wait_ms * TIME_FACTOR)
                print(json.dumps(row), flush=True)
                with open(a.out, 'a') as f:
                    f.write(json.dumps(row) + '\n')
    return 0


if __name__ == '__main__':
    sys.exit(main())
