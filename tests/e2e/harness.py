"""Runs the substitute viewer with the real module and the KESTRO monitor as real processes
under Wine, and reads what both logged.

The programs are copied into a fresh folder whose path holds no "KESTRO" apart from the
monitor's own file name: the module takes any process whose image path contains that token (in
any letter case) for the peer, the viewer's own process included.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
WINE_TEST = os.path.join(SOURCE_DIR, 'cmake', 'wine-test.sh')
# Under emulation (scripts/wine-tests.sh --time-factor) every time limit is that many times longer.
TIME_FACTOR = int(os.environ.get('KB_WINE_TIME_FACTOR') or 1)


def limit_ms(ms):
    """A limit given to a Windows program in milliseconds (a viewer script's wait, the monitor's
    --timeout), as long as it must be on this machine. Pauses whose length is what a case is
    about are not limits."""
    return ms * TIME_FACTOR


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def windows_path(path):
    """The path as a Windows program sees it (Wine's Z: drive is the Unix root)."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def read_lines(path):
    events = []
    if not os.path.exists(path):
        return events
    with open(path, 'rb') as f:
        for raw in f.read().decode('utf-8', 'replace').splitlines():
            raw = raw.strip()
            if raw:
                try:
                    events.append(json.loads(raw))
                except ValueError:
                    events.append({'event': 'unreadable', 'line': raw})
    return events


class Process:
    def __init__(self, name, popen, stdout_path):
        self.name = name
        self.popen = popen
        self.stdout_path = stdout_path

    def wait(self, timeout):
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            raise Failure('%s did not end within %d s' % (self.name, timeout))

    def running(self):
        return self.popen.poll() is None

    def stop(self):
        """Ends the process this harness started, by its id (the time limit in wine-run.sh
        passes the signal on to the Windows program)."""
        if self.popen.poll() is None:
            self.popen.terminate()
            try:
                self.popen.wait(timeout=15 * TIME_FACTOR)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait(timeout=15 * TIME_FACTOR)

    def output(self):
        with open(self.stdout_path, 'rb') as f:
            return f.read().decode('utf-8', 'replace')


class Desktop:
    """One Wine desktop (prefix and X display) with the staged programs."""

    def __init__(self, args):
        self.args = args
        self.process_timeout = args.process_timeout * TIME_FACTOR
        self.wine_run = os.path.abspath(args.wine_run)
        self.prefix = os.environ.get('WINEPREFIX') or os.path.abspath(args.prefix)
        self.processes = []
        self.dpi_before = None  # (LogPixels or None) as the prefix had it before set_dpi
        self.xvfb = None
        self.display = os.environ.get('DISPLAY')
        base = tempfile.gettempdir()
        if 'kestro' in base.lower():
            base = '/tmp'
        self.stage = tempfile.mkdtemp(prefix='bv-e2e-', dir=base)
        check('kestro' not in self.stage.lower(), 'no folder without "KESTRO" in its path for the stage')
        self.viewer = self._copy(args.viewer, 'viewer')
        self.monitor = self._copy(args.monitor, 'peer')
        plugin_dir = os.path.join(self.stage, 'plugins')
        self.plugin = self._copy(args.plugin, 'plugins')
        os.makedirs(os.path.join(plugin_dir, 'kestro_bimvision_data'))
        shutil.copy(os.path.join(SOURCE_DIR, 'kestro_bimvision_data', 'kestro.ico'),
                    os.path.join(plugin_dir, 'kestro_bimvision_data', 'kestro.ico'))

    def _copy(self, path, folder):
        target = os.path.join(self.stage, folder)
        os.makedirs(target, exist_ok=True)
        return shutil.copy(path, target)

    def path(self, name):
        return os.path.join(self.stage, name)

    def __enter__(self):
        if not self.display:
            self._start_xvfb()
        return self

    def __exit__(self, *exc):
        for p in reversed(self.processes):
            p.stop()
        if self.dpi_before is not None:
            self._put_dpi(self.dpi_before[0])
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait(timeout=10)
        if os.environ.get('KB_E2E_KEEP'):
            print('kept', self.stage)
        else:
            shutil.rmtree(self.stage, ignore_errors=True)
        return False

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1280x1280x24', '-nolisten', 'tcp'],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b''
        deadline = time.time() + 30 * TIME_FACTOR
        while not number.endswith(b'\n') and time.time() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        check(number.strip(), 'Xvfb did not start')
        self.display = ':' + number.decode().strip()

    # ---- the display's scaling ---------------------------------------------------------------

    DPI_KEY = r'HKCU\Control Panel\Desktop'

    def _reg(self, *arguments):
        env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=self.display, WINEDEBUG='-all')
        return subprocess.run(['wine', 'reg'] + list(arguments), env=env, capture_output=True, text=True,
                              timeout=60 * TIME_FACTOR)

    def _put_dpi(self, dpi):
        if dpi is None:
            self._reg('delete', self.DPI_KEY, '/v', 'LogPixels', '/f')
        else:
            check(self._reg('add', self.DPI_KEY, '/v', 'LogPixels', '/t', 'REG_DWORD', '/d', str(dpi),
                            '/f').returncode == 0, 'could not set %s DPI' % dpi)

    def set_dpi(self, dpi):
        """Sets the display's DPI (Wine's LogPixels) for the programs started from now on; the
        prefix gets its own setting back when the case ends."""
        if self.dpi_before is None:
            out = self._reg('query', self.DPI_KEY, '/v', 'LogPixels').stdout
            found = [line.split()[-1] for line in out.splitlines() if line.split()[:1] == ['LogPixels']]
            self.dpi_before = (int(found[0], 0) if found else None,)
        self._put_dpi(dpi)

    def start(self, name, exe, arguments, env=None):
        # wine-run.sh multiplies its limit by the time factor itself.
        env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=self.display,
                   KB_WINE_TIMEOUT=str(self.args.process_timeout), **(env or {}))
        stdout_path = self.path('%s-%d.out' % (name, len(self.processes)))
        with open(stdout_path, 'wb') as out:
            popen = subprocess.Popen([self.wine_run, exe] + arguments, env=env, stdout=out,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                     start_new_session=True, cwd=self.stage)
        p = Process(name, popen, stdout_path)
        self.processes.append(p)
        return p

    # ---- the monitor -----------------------------------------------------------------------

    def start_monitor(self, *options, name='monitor'):
        out = self.path(name + '.jsonl')
        # A log of its own: readiness is read from it, and an earlier monitor's "ready" line would
        # pass for this one's before its window is there (the viewer then finds no KESTRO).
        check(not os.path.exists(out), 'a monitor named %r has run in this case already' % name)
        # A program that is the first to open a window on a fresh Wine server starts the desktop
        # process; when that comes up too late (under emulation on a loaded machine) the program
        # gets no windows and ends with the monitor's exit code 5. Tried three times.
        for attempt in range(3):
            p = self.start(name, self.monitor, ['--out', windows_path(out)] + list(options))
            p.log = out
            try:
                self.wait_ready(p, lambda: any(e.get('event') == 'ready' for e in read_lines(out)),
                                self.process_timeout)
                return p
            except Failure:
                if attempt == 2 or p.running() or p.popen.returncode != 5:
                    raise
                print('the %s got no windows (exit 5), trying again' % name, flush=True)

    @staticmethod
    def wait_ready(p, is_ready, seconds):
        """Waits up to `seconds` until is_ready(); fails when the process ends first."""
        deadline = time.time() + seconds
        while not is_ready():
            check(p.running(), 'the %s ended before it was ready:\n%s' % (p.name, p.output()))
            check(time.time() < deadline, 'the %s did not get ready' % p.name)
            time.sleep(0.1)

    def monitor_tool(self, *options):
        """A short run of the monitor's sender modes; returns its JSON lines."""
        out = self.path('tool-%d.jsonl' % len(self.processes))
        p = self.start('monitor-tool', self.monitor, ['--out', windows_path(out)] + list(options))
        code = p.wait(self.process_timeout)
        check(code == 0, 'monitor tool %s failed with %s:\n%s' % (options, code, p.output()))
        return read_lines(out)

    def close_monitors(self):
        p = self.start('close-monitors', self.monitor, ['--close-monitors'])
        p.wait(self.process_timeout)

    def end_monitor(self, monitor):
        """Closes the monitor's windows if it still runs and returns its log."""
        if monitor.running():
            self.close_monitors()
        monitor.wait(self.process_timeout)
        return read_lines(monitor.log)

    # ---- the viewer ------------------------------------------------------------------------

    def viewer_in(self, folder):
        """A copy of the viewer in its own folder of the stage (e.g. one whose name has the
        token); returns its path."""
        return self._copy(self.args.viewer, folder)

    def run_viewer(self, model, script, name='viewer', expect_exit=0, screenshot=None, options=(),
                   viewer=None, env=None):
        """Runs the viewer with the module until its script has quit; returns its log. `options`
        are further command-line options; `viewer` another copy of the viewer to run; `env` more
        environment (its output is then in self.processes[-1].output())."""
        model_path = self.path(name + '-model.json')
        if isinstance(model, str):
            model_path = model
        else:
            with open(model_path, 'w', encoding='utf-8') as f:
                json.dump(model, f, ensure_ascii=False)
        log = self.path(name + '.jsonl')
        arguments = ['--model', windows_path(model_path), '--plugin', windows_path(self.plugin),
                     '--log', windows_path(log), '--script', script]
        if screenshot:
            arguments += ['--screenshot', windows_path(screenshot)]
        arguments += list(options)
        p = self.start(name, viewer or self.viewer, arguments, env)
        code = p.wait(self.process_timeout)
        events = read_lines(log)
        check(code == expect_exit, 'viewer ended with %s, expected %s:\n%s\n%s' %
              (code, expect_exit, p.output(), '\n'.join(json.dumps(e) for e in events[-30:])))
        return events


# ---- reading the logs ----------------------------------------------------------------------

def of(events, kind):
    return [e for e in events if e.get('event') == kind]


def main_window(viewer_events):
    windows = of(viewer_events, 'window')
    check(windows, 'the viewer logged no main window')
    return int(windows[0]['main'])


def record_messages(monitor_events):
    return of(monitor_events, 'records')


def the_only_message(monitor_events):
    messages = record_messages(monitor_events)
    check(len(messages) == 1, 'expected one message at the monitor, got %d' % len(messages))
    return messages[0]


def calls(viewer_events, names=None):
    return [e for e in viewer_events if e.get('event') == 'call' and (names is None or e['name'] in names)]


def calls_per_request(viewer_events, names):
    """The host calls made while each WM_COPYDATA reached the viewer's window: the module's
    window procedure runs first, the viewer logs the message when it is passed on."""
    groups, current = [], []
    for e in viewer_events:
        if e.get('event') == 'call' and e['name'] in names:
            current.append(e)
        elif e.get('event') == 'copydata':
            groups.append((e, current))
            current = []
    return groups


def final_selection(viewer_events):
    selected = of(viewer_events, 'selected')
    check(selected, 'the viewer logged no final selection')
    return selected[-1]['guids']


def own_the_prefix(args):
    """Runs this test through cmake/wine-test.sh unless it already is: it then has the Wine prefix
    to itself, and every process it started (also those the Windows programs started) is ended,
    and the prefix's Wine server gone, before the next test starts."""
    if os.environ.get('KB_WINE_TEST'):
        return
    os.environ.setdefault('WINEPREFIX', os.path.abspath(args.prefix))
    sys.stdout.flush()
    sys.stderr.flush()
    os.execv(WINE_TEST, [WINE_TEST, sys.executable] + sys.argv)


def run_case(args, name, case):
    """Runs case(desktop) on a fresh desktop, as the only test in the Wine prefix; prints the
    outcome and the closing count line. Returns the exit status."""
    own_the_prefix(args)
    try:
        with Desktop(args) as desktop:
            case(desktop)
    except Failure as failure:
        print('FAILED %s: %s' % (name, failure))
        print('0 passed, 1 failed')
        return 1
    except Exception:
        traceback.print_exc()
        print('0 passed, 1 failed')
        return 1
    print('passed %s' % name)
    print('1 passed, 0 failed')
    return 0
