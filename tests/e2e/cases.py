#!/usr/bin/env python3
"""End-to-end cases: the substitute viewer with the real module, and the KESTRO monitor.

    cases.py CASE --viewer EXE --monitor EXE --plugin DLL --wine-run SCRIPT --prefix DIR

Each case starts real processes under Wine (WINEPREFIX and DISPLAY from the environment when
set; otherwise the given prefix and a private Xvfb) and checks what the two programs logged.
"""
import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import threading
import time

import expected
from harness import (TIME_FACTOR, calls, calls_per_request, check, final_selection, limit_ms, main_window, of,
                     read_lines, record_messages, run_case, the_only_message, windows_path)

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO_MODEL = os.path.join(os.path.dirname(os.path.dirname(HERE)), 'models', 'demo_building.json')

# Limits, as long as they must be on this machine (harness.limit_ms).
WAIT = limit_ms(30000)  # ms a viewer script waits for a GUID request
DIALOG = limit_ms(20000)  # ms a viewer script waits for the plugin's message box
MONITOR = str(limit_ms(120000))  # ms the monitor waits for what a case sends before it gives up
INBOUND_CALLS = ('select', 'set_object_active', 'invalidate', 'unselect_openings', 'zoom_to')
PSEUDO = 'selected'


def load_demo():
    with open(DEMO_MODEL, encoding='utf-8') as f:
        return json.load(f)


def obj(object_id, guid=None, name='', entity='IfcWall', object_type='Muro', extra=None,
        bounds=(0, 0, 0, 1, 2, 3), volume=1.5, area=12.0):
    identity = [{'name': 'Name', 'value': name}, {'name': 'IfcEntity', 'value': entity},
                {'name': 'ObjectType', 'value': object_type}]
    if guid is not None:
        identity.insert(0, {'name': 'Guid', 'value': guid})
    sets = [{'name': 'Atributos', 'properties': identity}]
    if extra:
        sets.append({'name': 'Pset', 'properties': [{'name': k, 'value': v} for k, v in extra]})
    return {'id': object_id, 'bounds': list(bounds), 'volume': volume, 'area': area,
            'property_sets': sets}


def model(objects, files=('a.ifc',)):
    return {'format': 'kestro-bimvision-snapshot', 'version': 1, 'files': list(files),
            'objects': objects}


SMALL = model([
    obj(1, 'GUID-A', 'Muro A', extra=[('Width', 0.3), ('Material', 'Hormigón')]),
    obj(2, 'GUID-B', 'Muro B', entity='IfcSlab', object_type='Forjado', extra=[('Espesor', 0.25)]),
    obj(3, 'GUID-C', 'Pilar C', entity='IfcColumn', object_type='Pilar'),
], files=('a.ifc', 'b.ifc'))


def assert_records(message, want):
    check(message['valid'], 'the monitor rejected the message: %s' % message.get('reason'))
    problems = expected.compare_records(message['records'], want)
    check(not problems, 'records differ from the model:\n  ' + '\n  '.join(problems[:40]))
    check(message['dwData'] == len(want), 'dwData %s for %d records' % (message['dwData'], len(want)))
    check(message['cbData'] == 12336 * len(want), 'cbData %s for %d records' % (message['cbData'], len(want)))


def bmp_shades(path):
    """The share of dark and of light pixels in a 24-bit BMP file."""
    with open(path, 'rb') as f:
        data = f.read()
    check(data[:2] == b'BM', '%s is not a BMP file' % path)
    offset, = struct.unpack_from('<I', data, 10)
    width, height, _, bits = struct.unpack_from('<iiHH', data, 18)
    check(bits == 24 and width > 0 and height != 0, 'BMP %dx%d, %d bits' % (width, height, bits))
    stride = (width * 3 + 3) & ~3
    dark = light = 0
    for y in range(abs(height)):
        row = data[offset + y * stride: offset + y * stride + width * 3]
        for x in range(0, len(row), 3):
            level = row[x] + row[x + 1] + row[x + 2]
            dark += level < 3 * 96
            light += level > 3 * 200
    total = width * abs(height)
    return dark / total, light / total


# ---- cases ---------------------------------------------------------------------------------

def button_click_sends_every_element_of_the_model(d):
    demo = load_demo()
    shot = d.path('monitor.bmp')
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR, '--screenshot', windows_path(shot))
    viewer = d.run_viewer(DEMO_MODEL, 'click; quit')
    events = d.end_monitor(monitor)
    message = the_only_message(events)
    assert_records(message, expected.records(demo, expected.REQUEST_UPDATE))
    # The monitor's picture of its list: text on a light background (it was all black once).
    check(of(events, 'screenshot') and of(events, 'screenshot')[0]['ok'], 'no screenshot: %s' % of(events, 'screenshot'))
    dark, light = bmp_shades(shot)
    check(light > 0.5 and 0.01 < dark < 0.3, 'the screenshot is not a list on a light background: '
          '%.3f dark, %.3f light' % (dark, light))
    check(message['wParam'] == main_window(viewer), 'wParam is not the viewer main window')
    # The button carries the icon from the folder beside the module.
    images = calls(viewer, ('set_button_image',))
    check(images and images[0]['path'].lower().endswith('\\kestro_bimvision_data\\kestro.ico'),
          'button image path: %s' % images)
    check(images[0].get('icon_loaded') is True, 'the viewer could not load the button icon')
    texts = calls(viewer, ('set_button_text',))
    check(texts and (texts[0]['text'], texts[0]['hint']) == ('Kestro-BimVision', 'Actualizar KESTRO'),
          'button texts: %s' % texts)


def button_click_without_peer_shows_the_error_box(d):
    viewer = d.run_viewer(SMALL, 'click; dismiss-dialog %d; quit' % DIALOG)
    dialogs = of(viewer, 'dialog')
    check(len(dialogs) == 1, 'expected one dialog, got %s' % dialogs)
    check(dialogs[0]['caption'] == 'Error', 'caption %r' % dialogs[0]['caption'])
    check(dialogs[0]['text'] == 'Debe ejecutar el progrma KESTRO', 'text %r' % dialogs[0]['text'])
    check(int(dialogs[0]['owner']) == main_window(viewer), 'the box is not owned by the main window')


def selection_change_sends_only_a_single_selected_element(d):
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR)
    # Two selected, none selected, then exactly one: only the last change goes out.
    viewer = d.run_viewer(SMALL, 'select GUID-A,GUID-C; sleep 300; select; sleep 300; select GUID-B; quit')
    events = d.end_monitor(monitor)
    check(len(of(viewer, 'selection_change')) == 3, 'the viewer did not report three selection changes')
    message = the_only_message(events)
    assert_records(message, expected.records(SMALL, expected.REQUEST_SELECTION, [SMALL['objects'][1]]))


def drag_sends_the_selected_elements_and_returns_2(d):
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR)
    viewer = d.run_viewer(SMALL, 'select GUID-A,GUID-C; drag; quit')
    events = d.end_monitor(monitor)
    message = the_only_message(events)
    assert_records(message, expected.records(SMALL, expected.REQUEST_DRAG,
                                             [SMALL['objects'][0], SMALL['objects'][2]]))
    done = of(viewer, 'drag_enter_done')
    check(done and done[0]['result'] == 2, 'on_drag_enter returned %s' % done)


def without_peer_selection_and_drag_stay_silent(d):
    # Time for a dialog that must not come.
    viewer = d.run_viewer(SMALL, 'select GUID-A; drag; sleep %d; quit' % limit_ms(200))
    done = of(viewer, 'drag_enter_done')
    check(done and done[0]['result'] == 2, 'on_drag_enter returned %s' % done)
    check(not of(viewer, 'dialog'), 'a dialog appeared')
    check(final_selection(viewer) == ['GUID-A'], 'the selection changed')


def empty_model_button_sends_an_empty_message(d):
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR)
    d.run_viewer(model([], files=()), 'click; quit')
    message = the_only_message(d.end_monitor(monitor))
    check(message['valid'] and message['dwData'] == 0 and message['cbData'] == 0 and not message['records'],
          'expected an accepted message with 0 records, got %s' % message)


def only_the_first_window_of_the_peer_receives(d):
    monitor = d.start_monitor('--windows', '2', '--quit-after', '2', '--timeout', MONITOR)
    d.run_viewer(SMALL, 'click; select GUID-A; quit')
    events = d.end_monitor(monitor)
    messages = record_messages(events)
    check(len(messages) == 2, 'expected two messages (button, selection), got %d' % len(messages))
    receivers = {m['hwnd'] for m in messages}
    check(len(receivers) == 1, 'more than one monitor window received: %s' % receivers)
    for m in messages:
        check(m['hwnd'] == m['first_own_window'],
              'window %s received, the first in system order is %s' % (m['hwnd'], m['first_own_window']))


def guid_request_selects_activates_and_zooms(d):
    target = SMALL['objects'][2]
    monitor = d.start_monitor('--send-guid', 'GUID-C', '--quit-after', '1', '--timeout', MONITOR)
    # The selection of GUID-A reaches the monitor, which then asks for GUID-C.
    viewer = d.run_viewer(SMALL, 'select GUID-A; wait-requests 1 %d; quit' % WAIT)
    events = d.end_monitor(monitor)
    groups = calls_per_request(viewer, INBOUND_CALLS)
    check(len(groups) == 1, 'expected one GUID request at the viewer, got %d' % len(groups))
    copydata, made = groups[0]
    seen = [(c['name'], c.get('pseudo') or c.get('object'), c.get('flags')) for c in made]
    oid = str(target['id'])
    want = [('select', PSEUDO, [False]), ('set_object_active', PSEUDO, [False, False]),
            ('invalidate', None, None), ('select', oid, [True]), ('set_object_active', oid, [True, False]),
            ('unselect_openings', oid, None), ('zoom_to', oid, None), ('invalidate', None, None)]
    check(seen == want, 'host calls for the request:\n  got  %s\n  want %s' % (seen, want))
    check(copydata['text'] == 'GUID-C' and copydata['cbData'] == 7, 'the request reached the viewer as %s' % copydata)
    sent = of(events, 'sent')
    check(len(sent) == 1 and sent[0]['delivered'], 'the monitor did not deliver its request: %s' % sent)
    check(sent[0]['result'] == copydata['result'],
          'the monitor got %s, the viewer answered %s' % (sent[0]['result'], copydata['result']))
    check(sent[0]['to'] == main_window(viewer), 'the request went to %s, not the main window' % sent[0]['to'])
    check(final_selection(viewer) == ['GUID-C'], 'final selection %s' % final_selection(viewer))


def hostile_guid_requests_are_passed_on_without_harm(d):
    # The first message is the selection of GUID-B; the monitor then sends, built on that GUID:
    # null data, 200 bytes without NUL, 150 characters, cbData 0, the GUID without its NUL.
    modes = ['null', 'nonul', 'long', 'empty', 'bare']
    options = [o for m in modes for o in ('--send-raw', m)]
    monitor = d.start_monitor(*options, '--quit-after', '1', '--timeout', MONITOR)
    viewer = d.run_viewer(SMALL, 'select GUID-B; wait-requests %d %d; quit' % (len(modes), WAIT))
    events = d.end_monitor(monitor)
    sent = of(events, 'sent')
    check([s['mode'] for s in sent] == modes, 'sent %s' % sent)
    groups = calls_per_request(viewer, INBOUND_CALLS)
    check(len(groups) == len(modes), 'expected %d requests at the viewer, got %d' % (len(modes), len(groups)))
    for s, (copydata, _) in zip(sent, groups):
        check(s['delivered'] and s['result'] == copydata['result'],
              '%s: the message was not passed on to the viewer (%s / %s)' % (s['mode'], s, copydata))
    by_mode = dict(zip(modes, groups))

    def picked(mode):
        return [c.get('guid') for c in by_mode[mode][1] if c['name'] == 'select' and c.get('flags') == [True]]

    null_msg, null_calls = by_mode['null']
    check(null_msg['text'] is None and not null_calls, 'null data: host calls %s' % null_calls)
    for mode, length in (('nonul', 200), ('long', 150)):
        text = by_mode[mode][0]['text']
        check(len(text) == length, '%s: the viewer saw %d characters' % (mode, len(text)))
        check(text.startswith('GUID-B'), '%s: the text does not begin with the GUID: %r' % (mode, text))
        check(not picked(mode), '%s: an object was selected: %s' % (mode, picked(mode)))
    check(not picked('empty'), 'an empty request selected %s' % picked('empty'))
    check(picked('bare') == ['GUID-B'], 'a GUID without NUL within cbData selected %s' % picked('bare'))
    check(final_selection(viewer) == ['GUID-B'], 'final selection %s' % final_selection(viewer))


def ten_thousand_elements_arrive_in_one_message(d):
    count = 10000
    objects = [obj(i + 1, 'G%05d' % i, 'Elemento %d' % i, extra=[('Indice', float(i)), ('Lote', 'L%d' % (i % 7))],
                   bounds=(0, 0, 0, i % 13, 1, 2), volume=i / 8.0, area=i / 4.0) for i in range(count)]
    big = model(objects, files=('grande.ifc',))
    monitor = d.start_monitor('--quit-after', '1', '--timeout', str(limit_ms(600000)))
    d.run_viewer(big, 'click; quit')
    message = the_only_message(d.end_monitor(monitor))
    check(message['dwData'] == count and message['cbData'] == count * 12336,
          'dwData %s cbData %s' % (message['dwData'], message['cbData']))
    assert_records(message, expected.records(big, expected.REQUEST_UPDATE))


def monitor_rejects_malformed_messages_and_keeps_running(d):
    monitor = d.start_monitor('--quit-after', '4', '--timeout', MONITOR)
    cls = ['--to-class', 'KestroMonitorWindow', '--timeout', str(limit_ms(20000))]
    short = d.monitor_tool('--send-raw-bytes', '100', '--dwdata', '1', *cls)
    unterminated = d.monitor_tool('--send-raw-bytes', '12336', '--fill', '65', *cls)
    miscounted = d.monitor_tool('--send-raw-bytes', '24672', '--dwdata', '1', *cls)
    good = d.monitor_tool('--send-raw-bytes', '12336', *cls)
    events = d.end_monitor(monitor)
    results = [t[0]['result'] for t in (short, unterminated, miscounted, good)]
    check(results == [0, 0, 0, 1], 'window procedure results %s' % results)
    messages = record_messages(events)
    check([m['valid'] for m in messages] == [False, False, False, True], 'validity %s' % messages)
    check('guid' in messages[1]['reason'], 'reason for the unterminated text: %s' % messages[1]['reason'])
    check(of(events, 'quit') and of(events, 'quit')[0]['why'] == 'quit-after', 'the monitor did not end normally')


# ---- real hosts: the viewer under a KESTRO folder, peers answering inside, a hung peer --------

KESTRO_FOLDER = os.path.join('Programas', 'KESTRO', 'Visor')  # the viewer installed beside KESTRO


def viewer_under_a_kestro_folder_without_peer_is_not_its_own_peer(d):
    exe = d.viewer_in(KESTRO_FOLDER)
    viewer = d.run_viewer(SMALL, 'click; dismiss-dialog %d; select GUID-A; sleep %d; quit' % (DIALOG, limit_ms(300)),
                          viewer=exe, options=('--host-select-sync',))
    dialogs = of(viewer, 'dialog')
    check(len(dialogs) == 1, 'expected one dialog, got %s' % dialogs)
    check(dialogs[0]['caption'] == 'Error', 'caption %r' % dialogs[0]['caption'])
    check(dialogs[0]['text'] == 'Debe ejecutar el progrma KESTRO', 'text %r' % dialogs[0]['text'])
    check(not of(viewer, 'copydata'), 'the module sent to its own viewer: %s' % of(viewer, 'copydata'))
    check(final_selection(viewer) == ['GUID-A'], 'final selection %s' % final_selection(viewer))


def viewer_under_a_kestro_folder_sends_to_the_running_monitor(d):
    exe = d.viewer_in(KESTRO_FOLDER)
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR)
    viewer = d.run_viewer(SMALL, 'click; quit', viewer=exe)
    events = d.end_monitor(monitor)
    message = the_only_message(events)
    assert_records(message, expected.records(SMALL, expected.REQUEST_UPDATE))
    check(message['wParam'] == main_window(viewer), 'wParam is not the viewer main window')
    check(not of(viewer, 'copydata'), 'the module sent to its own viewer: %s' % of(viewer, 'copydata'))
    check(not of(viewer, 'dialog'), 'a dialog appeared: %s' % of(viewer, 'dialog'))


def _peer_answering_inside_its_handler(d, mode):
    # The monitor answers the update with the GUID of its first record (GUID-A) while the viewer
    # still waits in its send; the viewer reports the selection that causes from inside `select`.
    monitor = d.start_monitor('--answer-inside', mode, '--timeout', MONITOR)
    viewer = d.run_viewer(SMALL, 'click; wait-requests 1 %d; sleep %d; quit' % (WAIT, limit_ms(2000)),
                          options=('--host-select-sync',))
    events = d.end_monitor(monitor)
    message = the_only_message(events)
    assert_records(message, expected.records(SMALL, expected.REQUEST_UPDATE))
    sent = of(events, 'sent')
    check(len(sent) == 1 and sent[0]['delivered'], 'the monitor sent %s' % sent)
    check(len(of(events, 'answer-inside')) == 1, 'the monitor answered %s' % of(events, 'answer-inside'))
    groups = calls_per_request(viewer, INBOUND_CALLS)
    check(len(groups) == 1, 'expected one GUID request at the viewer, got %d' % len(groups))
    copydata, made = groups[0]
    check(copydata['text'] == 'GUID-A', 'the request reached the viewer as %s' % copydata)
    picked = [c.get('guid') for c in made if c['name'] == 'select' and c.get('flags') == [True]]
    zoomed = [c.get('guid') for c in made if c['name'] == 'zoom_to']
    check(picked == ['GUID-A'] and zoomed == ['GUID-A'], 'selected %s, zoomed %s' % (picked, zoomed))
    reports = [e for e in of(viewer, 'selection_change') if e.get('source') == 'host']
    check(reports, 'the viewer did not report the selection from inside select')
    check(final_selection(viewer) == ['GUID-A'], 'final selection %s' % final_selection(viewer))


def peer_answering_inside_its_handler_once(d):
    _peer_answering_inside_its_handler(d, 'once')


def peer_answering_inside_its_handler_every_time(d):
    _peer_answering_inside_its_handler(d, 'always')


def hung_peer_is_given_up_and_the_next_click_arrives_whole(d):
    # The monitor takes no messages from its ready line on; Windows (and Wine) count it as hung
    # after 5 s, however fast the machine is. The viewer waits 7 s, past those 5 s, then changes
    # the selection and clicks while the monitor is hung, and clicks again once it has woken:
    # the test wakes the monitor when the viewer has shown the error, and lets the viewer click
    # once the monitor takes messages again. The stall's own length only ends a run gone wrong.
    wake, go = d.path('wake'), d.path('go')
    monitor = d.start_monitor('--stall', str(limit_ms(120000) // 1000), '--stall-until', windows_path(wake),
                              '--quit-after', '1', '--timeout', str(limit_ms(180000)))
    signals = threading.Thread(target=wake_then_go, args=(d.path('viewer.jsonl'), monitor.log, wake, go),
                               daemon=True)
    signals.start()
    viewer = d.run_viewer(SMALL, 'sleep 7000; select GUID-A; click; dismiss-dialog %d; wait-file %d %s; click; quit'
                                 % (DIALOG, limit_ms(120000), windows_path(go)))
    signals.join(timeout=limit_ms(10000) / 1000)
    events = d.end_monitor(monitor)
    dialogs = of(viewer, 'dialog')
    check(len(dialogs) == 1, 'expected one dialog, got %s' % dialogs)
    check(dialogs[0]['caption'] == 'Error', 'caption %r' % dialogs[0]['caption'])
    check(dialogs[0]['text'] == 'KESTRO no responde. Inténtelo de nuevo cuando termine la operación en curso.',
          'text %r' % dialogs[0]['text'])
    # Neither the selection change nor the first click waited for the monitor: only the second
    # click arrived, after it woke, with every element.
    message = the_only_message(events)
    assert_records(message, expected.records(SMALL, expected.REQUEST_UPDATE))
    awake = of(events, 'awake')
    check(awake and message['time_ms'] >= awake[0]['time_ms'], 'the update arrived before the monitor woke')


def wake_then_go(viewer_log, monitor_log, wake, go):
    """Creates `wake` once the viewer has logged its dialog, then `go` once the monitor has logged
    that it takes messages again; gives up after two minutes (as long as they must be here)."""
    deadline = time.time() + limit_ms(120000) / 1000
    for log, event, signal in ((viewer_log, 'dialog', wake), (monitor_log, 'awake', go)):
        while not of(read_lines(log), event):
            if time.time() > deadline:
                return
            time.sleep(0.1)
        open(signal, 'w').close()


# ---- the largest update: at the ceiling and just beyond it ----------------------------------
# Measured (docs/update-size.md), the viewer runs out of address space
# for the record block first. A 500 MB update takes minutes under emulation, so the limit is put
# in reach with a few MB: the viewer's free ranges held down to 16 MiB (--address-space-left).
# 1,200 records (14.1 MiB) fit, 1,400 (16.5 MiB, "17 MB" in the message) do not.
CEILING_MB = 16
AT_CEILING = 1200
BEYOND = 1400


def numbered_model(count, prefix):
    return model([obj(i + 1, '%s%05d' % (prefix, i), 'Elemento %d' % i, extra=[('Indice', float(i))])
                  for i in range(count)], files=('grande.ifc',))


def saved(d, name, content):
    path = d.path(name)
    with open(path, 'w', encoding='utf-8') as f:
        json.dump(content, f, ensure_ascii=False)
    return path


def update_beyond_the_viewers_address_space_is_told_and_the_next_smaller_arrives(d):
    beyond, at_ceiling = numbered_model(BEYOND, 'B'), numbered_model(AT_CEILING, 'C')
    smaller = saved(d, 'at-ceiling.json', at_ceiling)
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR)
    viewer = d.run_viewer(beyond, 'click; dismiss-dialog %d; load %s; click; quit' % (DIALOG, windows_path(smaller)),
                          options=('--address-space-left', str(CEILING_MB)))
    held = of(viewer, 'address_space_held')
    check(held and held[0]['largest_free'] <= CEILING_MB << 20, 'the address space was not held: %s' % held)
    dialogs = of(viewer, 'dialog')
    check(len(dialogs) == 1, 'expected one dialog, got %s' % dialogs)
    check(dialogs[0]['caption'] == 'Error', 'caption %r' % dialogs[0]['caption'])
    # 1,400 records of 12,336 bytes: 17.3 MB.
    check(dialogs[0]['text'] == 'El modelo tiene 1.400 elementos (17 MB): el visor no puede reservar la memoria para '
          'enviarlos a KESTRO de una vez. Puede enviar una parte: seleccione elementos y arrástrelos al visor.',
          'text %r' % dialogs[0]['text'])
    # Nothing of the update that could not be built went out; the smaller one arrived whole.
    message = the_only_message(d.end_monitor(monitor))
    assert_records(message, expected.records(at_ceiling, expected.REQUEST_UPDATE))


def wine_debugstr(quoted):
    r"""The text of a string as Wine's trace quotes it ("...", with \\, \", \n, \xNN escapes)."""
    body = quoted[:quoted.rindex('"')]
    escapes = {'n': '\n', 'r': '\r', 't': '\t', '"': '"', '\\': '\\'}
    return re.sub(r'\\(x[0-9a-fA-F]{2}|.)',
                  lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 3 else escapes.get(m.group(1), m.group(1)),
                  body)


def diagnostics_reach_wine_trace_and_a_debug_output_viewer(d):
    # The recipes of docs/diagnostics.md: under Wine the "seh" channel's warnings carry OutputDebugStringW
    # (Wine 8 shows nothing of it under +debugstr); on Windows a debug-output viewer reads the
    # same lines through DBWIN_BUFFER, which Wine implements too.
    listened = d.path('debug-output.txt')
    listener = d.start('listener', d.args.listener, [windows_path(listened)])

    def ready():
        if not os.path.exists(listened):
            return False
        with open(listened, 'rb') as f:
            return f.read(5) == b'ready'
    d.wait_ready(listener, ready, 30 * TIME_FACTOR)
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR)
    d.run_viewer(SMALL, 'click; quit', env={'WINEDEBUG': '-all,warn+seh'})
    viewer_output = d.processes[-1].output()
    d.end_monitor(monitor)
    traced = [wine_debugstr(line.split('OutputDebugStringA "', 1)[1]).rstrip('\n')
              for line in viewer_output.splitlines() if 'OutputDebugStringA "kestro_bimvision: ' in line]
    listener.stop()
    with open(listened, 'rb') as f:
        shown = [line.split(' ', 1)[1] for line in f.read().decode('latin-1').splitlines()[1:]]
    check(any(t.startswith('kestro_bimvision: ') and 'delivered' in t for t in traced),
          'no transfer line in the Wine trace:\n' + '\n'.join(traced))
    check(shown == traced, 'the debug-output viewer shows other lines than the trace:\n%s\n--\n%s'
          % ('\n'.join(shown), '\n'.join(traced)))


# ---- updates that take long or do not complete ------------------------------------------------

def start_viewer(d, model_objects, script, name='viewer', options=(), env=None):
    """The viewer with the module, started and left running; returns the process and its log."""
    model_path = d.path(name + '-model.json')
    with open(model_path, 'w', encoding='utf-8') as f:
        json.dump(model_objects, f, ensure_ascii=False)
    log = d.path(name + '.jsonl')
    p = d.start(name, d.viewer, ['--model', windows_path(model_path), '--plugin', windows_path(d.plugin),
                                 '--log', windows_path(log), '--script', script] + list(options), env)
    return p, log


def kestro_ending_while_it_takes_an_update_is_named_and_the_next_update_arrives(d):
    # The first monitor ends inside its handler of the update; the viewer names that cause. Once
    # a second monitor runs, a GUID request from a monitor tool lets the viewer's script go on to
    # its second click, which that monitor takes whole.
    dying = d.start_monitor('--exit-inside', '1', '--timeout', MONITOR, name='dying')
    viewer, log = start_viewer(d, SMALL, 'click; dismiss-dialog %d; wait-requests 1 %d; click; quit' % (DIALOG, WAIT))
    code = dying.wait(d.process_timeout)
    check(code == 8, 'the first monitor ended with %s, not inside its handler:\n%s' % (code, dying.output()))
    check(of(read_lines(dying.log), 'exit-inside'), 'the first monitor did not log its exit inside the handler')
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR)
    # The monitor's sender mode under a name without the token: a KESTRO process still ending
    # when the viewer clicks could be taken for the peer.
    os.makedirs(d.path('go'))
    sender = shutil.copy(d.args.monitor, d.path(os.path.join('go', 'sender.exe')))
    go = d.start('go', sender, ['--send-raw-bytes', '1', '--to-class', 'BvsSubstituteMain',
                                '--timeout', str(limit_ms(20000))])
    check(go.wait(d.process_timeout) == 0, 'the go-ahead was not delivered:\n%s' % go.output())
    code = viewer.wait(d.process_timeout)
    events = read_lines(log)
    check(code == 0, 'the viewer ended with %s:\n%s\n%s' % (code, viewer.output(), '\n'.join(json.dumps(e) for e in events[-30:])))
    dialogs = of(events, 'dialog')
    check(len(dialogs) == 1, 'expected one dialog, got %s' % dialogs)
    check(dialogs[0]['caption'] == 'Error', 'caption %r' % dialogs[0]['caption'])
    check(dialogs[0]['text'] == 'KESTRO se cerró o falló mientras recibía los datos (3 elementos). '
                                'Vuelva a abrir KESTRO y repita la actualización.', 'text %r' % dialogs[0]['text'])
    message = the_only_message(d.end_monitor(monitor))
    assert_records(message, expected.records(SMALL, expected.REQUEST_UPDATE))


def x_window_named(display, title):
    """Whether the X screen shows a window with this exact title (Wine's windows are X windows)."""
    out = subprocess.run(['xwininfo', '-root', '-tree', '-display', display], capture_output=True,
                         text=True, timeout=30).stdout
    return any(('"%s"' % title) in line and 'has no name' not in line for line in out.splitlines())


def long_update_shows_its_progress_and_a_short_one_does_not(d):
    # KESTRO takes 3 s (ten times that under emulation) over each update, or until the test has
    # seen the progress window: past the second, it shows over the viewer while the viewer waits
    # in its send, and it is gone when the update has arrived. Seen from outside Wine, as an X
    # window titled "KESTRO".
    slow = 3000 * TIME_FACTOR
    seen_file = d.path('seen')
    monitor = d.start_monitor('--slow-inside', str(slow), '--slow-until', windows_path(seen_file),
                              '--quit-after', '1', '--timeout', MONITOR)
    viewer, log = start_viewer(d, SMALL, 'click; sleep %d; quit' % limit_ms(2000))
    seen = None
    shot = d.path('progress.png')
    deadline = time.time() + slow / 1000.0 + 60 * TIME_FACTOR
    while viewer.running() and time.time() < deadline and seen is None:
        if x_window_named(d.display, 'KESTRO'):
            seen = time.time()
            subprocess.run(['import', '-display', d.display, '-window', 'root', shot], timeout=60)
            open(seen_file, 'w').close()
        time.sleep(0.2)
    code = viewer.wait(d.process_timeout)
    check(code == 0, 'the viewer ended with %s:\n%s' % (code, viewer.output()))
    check(seen is not None, 'no progress window appeared during a %d ms update' % slow)
    message = the_only_message(d.end_monitor(monitor))
    assert_records(message, expected.records(SMALL, expected.REQUEST_UPDATE))
    check(not x_window_named(d.display, 'KESTRO'), 'the progress window outlived the update')
    check(not of(read_lines(log), 'dialog'), 'a dialog appeared')
    if os.environ.get('KB_PROGRESS_SHOT') and os.path.exists(shot):
        shutil.copy(shot, os.environ['KB_PROGRESS_SHOT'])

    # A short update: no progress window at any time (watched until the viewer has quit).
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR, name='short-monitor')
    viewer, log = start_viewer(d, SMALL, 'click; sleep %d; quit' % limit_ms(1000), name='short')
    # Watched once the viewer has its window (a stream of X queries while Wine starts the viewer
    # slowed its start under emulation until its window could not be made).
    shown = False
    while viewer.running():
        if of(read_lines(log), 'window'):
            shown = shown or x_window_named(d.display, 'KESTRO')
        time.sleep(0.5)
    check(viewer.wait(d.process_timeout) == 0, 'the short update\'s viewer failed:\n%s' % viewer.output())
    the_only_message(d.end_monitor(monitor))
    check(not shown, 'a progress window showed on a short update')


# A read long enough to watch: the stand-in viewer takes this long over each object (--slow-read),
# longer under emulation, where the progress window itself takes seconds to come up.
SLOW_READ_MS = 10 * TIME_FACTOR
SLOW_READ_OBJECTS = 300


def reading_views(events):
    """The progress window's texts while the objects were read (the viewer's progress watch)."""
    return [e for e in of(events, 'progress') if e['text'].startswith('Leyendo ')]


def receiving_views(events):
    return [e for e in of(events, 'progress') if e['text'].startswith('KESTRO est')]


def check_whole(views, where):
    """Every text the window showed fits its label, in the label's own font."""
    check(views, 'the progress watch saw no text %s' % where)
    for v in views:
        check(v['text_width'] <= v['label_width'] and v['text_height'] <= v['label_height'],
              '"%s" is cut %s: text %dx%d in a label of %dx%d' % (v['text'], where, v['text_width'],
                                                                 v['text_height'], v['label_width'],
                                                                 v['label_height']))


def cancel_during_a_long_read_sends_nothing_and_the_next_update_arrives_whole(d):
    # The user presses "Cancelar" with the mouse while the objects are read: nothing reaches
    # KESTRO, no message box follows (the click handler returns before the script's next step),
    # the viewer keeps the focus, a diagnostics line tells the stop, and the next update is whole.
    objects = numbered_model(SLOW_READ_OBJECTS, 'CANCEL')
    monitor = d.start_monitor('--quit-after', '1', '--timeout', MONITOR)
    watch = limit_ms(120000)
    events = d.run_viewer(objects, 'watch-progress %d cancel; click; watch-progress %d; click; quit' % (watch, watch),
                          options=('--slow-read', str(SLOW_READ_MS)), env={'WINEDEBUG': '-all,warn+seh'})
    output = d.processes[-1].output()
    message = the_only_message(d.end_monitor(monitor))
    assert_records(message, expected.records(objects, expected.REQUEST_UPDATE))

    actions = [i for i, e in enumerate(events) if e.get('event') == 'action']
    first_click, after_it = actions[1], actions[2]
    check(of(events[first_click:after_it], 'memory'),
          'the cancelled click did not return before the next step (a message box?)')
    pressed = of(events, 'progress_cancel')
    check(len(pressed) == 1, 'progress_cancel events: %s' % pressed)
    press = pressed[0]
    check(press['sent'] == 2 and not press['cancel_enabled'], '"Cancelar" did not take the click: %s' % press)
    check(press['viewer_foreground'] and not press.get('progress_active') and not press.get('progress_focus'),
          'the click on "Cancelar" took the focus: %s' % press)
    before = [e for e in reading_views(events[:events.index(press)])]
    check(before and all(e['cancel_enabled'] and not e['moving'] and e['bar_max'] == SLOW_READ_OBJECTS
                         for e in before), 'the read showed no bar with "Cancelar": %s' % before)
    check_whole(of(events, 'progress'), 'at 96 DPI')
    # The first click stopped, the second arrived (the monitor's one message is the second's).
    lines = [line for line in output.splitlines() if 'OutputDebugStringA "kestro_bimvision: transfer' in line]
    stopped = [line for line in lines if 'transfer stopped: trigger update, cancelled by the user after' in line]
    delivered = [line for line in lines if 'transfer: trigger update' in line and 'delivered' in line]
    check(len(stopped) == 1 and len(delivered) == 1 and lines.index(stopped[0]) < lines.index(delivered[0]),
          'the diagnostics do not tell one stop and then one delivery:\n' + '\n'.join(lines))
    # The second update read its objects to the end, then KESTRO received them.
    check(receiving_views(events), 'the second update showed no "KESTRO está recibiendo"')


def progress_window_is_whole_at_every_scaling(d):
    # At 100, 125, 150 and 200 % (Wine's LogPixels): the window's texts fit while the objects are
    # read and while KESTRO receives. Pictures of both go to KB_PROGRESS_SHOTS when it is set.
    shots = os.environ.get('KB_PROGRESS_SHOTS')
    objects = numbered_model(SLOW_READ_OBJECTS, 'ESCALA')
    for dpi in (96, 120, 144, 192):
        d.set_dpi(dpi)
        go_on = d.path('go-on-%d' % dpi)
        monitor = d.start_monitor('--slow-inside', str(limit_ms(60000)), '--slow-until', windows_path(go_on),
                                  '--quit-after', '1', '--timeout', MONITOR, name='monitor-%d' % dpi)
        viewer, log = start_viewer(d, objects, 'watch-progress %d; click; quit' % limit_ms(120000),
                                   name='viewer-%d' % dpi, options=('--slow-read', str(SLOW_READ_MS)))
        taken = set()
        deadline = time.time() + 120 * TIME_FACTOR
        while viewer.running() and time.time() < deadline and not os.path.exists(go_on):
            events = read_lines(log)
            for phase, views in (('reading', reading_views(events)), ('receiving', receiving_views(events))):
                if views and phase not in taken:
                    taken.add(phase)
                    picture = d.path('%s-%d.png' % (phase, dpi))
                    subprocess.run(['import', '-display', d.display, '-window', 'root', picture], timeout=60)
                    if shots and os.path.exists(picture):
                        os.makedirs(shots, exist_ok=True)
                        shutil.copy(picture, shots)
            if 'receiving' in taken:
                open(go_on, 'w').close()
            time.sleep(0.2)
        open(go_on, 'w').close()
        code = viewer.wait(d.process_timeout)
        check(code == 0, 'the viewer ended with %s at %d DPI:\n%s' % (code, dpi, viewer.output()))
        events = read_lines(log)
        check(taken == {'reading', 'receiving'}, 'at %d DPI the watch saw only %s' % (dpi, sorted(taken)))
        check(all(v['dpi'] == dpi for v in of(events, 'progress')), 'the screen is not at %d DPI' % dpi)
        check_whole(of(events, 'progress'), 'at %d DPI' % dpi)
        message = the_only_message(d.end_monitor(monitor))
        check(message['valid'] and message['dwData'] == SLOW_READ_OBJECTS, 'at %d DPI: %s' % (dpi, message))


CASES = {f.__name__: f for f in [
    button_click_sends_every_element_of_the_model,
    button_click_without_peer_shows_the_error_box,
    selection_change_sends_only_a_single_selected_element,
    drag_sends_the_selected_elements_and_returns_2,
    without_peer_selection_and_drag_stay_silent,
    empty_model_button_sends_an_empty_message,
    only_the_first_window_of_the_peer_receives,
    guid_request_selects_activates_and_zooms,
    hostile_guid_requests_are_passed_on_without_harm,
    ten_thousand_elements_arrive_in_one_message,
    monitor_rejects_malformed_messages_and_keeps_running,
    viewer_under_a_kestro_folder_without_peer_is_not_its_own_peer,
    viewer_under_a_kestro_folder_sends_to_the_running_monitor,
    peer_answering_inside_its_handler_once,
    peer_answering_inside_its_handler_every_time,
    hung_peer_is_given_up_and_the_next_click_arrives_whole,
    diagnostics_reach_wine_trace_and_a_debug_output_viewer,
    update_beyond_the_viewers_address_space_is_told_and_the_next_smaller_arrives,
    kestro_ending_while_it_takes_an_update_is_named_and_the_next_update_arrives,
    long_update_shows_its_progress_and_a_short_one_does_not,
    cancel_during_a_long_read_sends_nothing_and_the_next_update_arrives_whole,
    progress_window_is_whole_at_every_scaling,
]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('case', choices=sorted(CASES) + ['list'])
    parser.add_argument('--viewer')
    parser.add_argument('--monitor')
    parser.add_argument('--plugin')
    parser.add_argument('--listener')
    parser.add_argument('--wine-run')
    parser.add_argument('--prefix')
    parser.add_argument('--process-timeout', type=int, default=240)
    args = parser.parse_args()
    if args.case == 'list':
        print('\n'.join(CASES))
        return 0
    return run_case(args, args.case, CASES[args.case])


if __name__ == '__main__':
    sys.exit(main())
