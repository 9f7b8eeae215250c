"""What the installer's tests under Wine share: the Wine prefix ($WINEPREFIX) as a user's Windows
machine. Windows programs run through cmake/wine-run.sh with their output through files, a
folder's files with the hash of each, the installer's entry in the list of programs, and the
stand-in viewer running from its folder with the installed module loaded.

Under emulation (scripts/wine-tests.sh --time-factor N sets KB_WINE_TIME_FACTOR) everything runs
about N times slower: every limit here, in seconds, is N times longer (limit()), and so are the
viewer's own (wine-run.sh multiplies KB_WINE_TIMEOUT itself).
"""
import contextlib
import hashlib
import ntpath
import os
import shutil
import subprocess
import sys
import time

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))

from harness import TIME_FACTOR, Failure, check, read_lines, windows_path  # noqa: E402,F401

PROGRAMS = os.path.join(SOURCE_DIR, "cmake", "wine-programs.sh")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KestroBimVision"
MODULE = "kestro_bimvision_32.dll"
DATA = "kestro_bimvision_data"


def limit(seconds):
    """A limit of `seconds` as long as it must be on this machine."""
    return seconds * TIME_FACTOR


def file_hash(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def listing(root):
    """Every file and folder below `root` (folders end in "/") with the hash of each file's bytes."""
    found = {}
    for here, dirs, files in os.walk(root):
        for d in dirs:
            found[os.path.relpath(os.path.join(here, d), root) + "/"] = None
        for name in files:
            found[os.path.relpath(os.path.join(here, name), root)] = file_hash(os.path.join(here, name))
    return found


class RunningViewer:
    """The stand-in viewer while it runs: its Windows process id, and a way to close it."""

    def __init__(self, machine, process, pid):
        self.machine = machine
        self.process = process
        self.pid = pid

    def close(self):
        """Closes it as a user would (WM_CLOSE, through taskkill) and waits until it has ended."""
        if self.process.poll() is None and self.pid is not None:
            self.machine.run("taskkill", "/pid", str(self.pid), timeout=60)
        try:
            self.process.wait(timeout=limit(60))
        except subprocess.TimeoutExpired:
            self.machine.end(self.process)
            raise Failure("the stand-in viewer did not close")


class WineMachine:
    """The prefix as a Windows machine; C:\\kb_tests\\NAME is the test's own folder, made afresh
    with the installer in it as setup.exe, and no install is registered."""

    def __init__(self, wine_run, name, setup):
        self.wine_run = wine_run
        self.prefix = os.environ["WINEPREFIX"]
        self.winwork = "C:\\kb_tests\\" + name
        self.work = self.unix(self.winwork)
        self.setup_exe = self.winwork + "\\setup.exe"
        self.started = []
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        shutil.copy(setup, self.unix(self.setup_exe))
        self.run("reg", "delete", UNINSTALL_KEY, "/f", timeout=60)

    def unix(self, windows_path):
        """The file a C:\\ path names."""
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def run(self, program, *arguments, timeout=180):
        """Runs a Windows program to its end, for at most `timeout` seconds (a limit); returns
        (exit code, stdout, stderr). The output goes through files: a Wine service started
        meanwhile may hold on to a pipe long after."""
        with open(os.path.join(self.work, "out.txt"), "w+b") as out, \
                open(os.path.join(self.work, "err.txt"), "w+b") as err:
            code = subprocess.run([self.wine_run, program, *arguments], stdout=out, stderr=err,
                                  timeout=limit(timeout),
                                  env=dict(os.environ, KB_WINE_TIMEOUT=str(timeout - 10))).returncode
            out.seek(0)
            err.seek(0)
            return code, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")

    def start(self, program, *arguments, seconds=290):
        """Starts a Windows program that runs beside the test for at most `seconds` (a limit)."""
        process = subprocess.Popen([self.wine_run, program, *arguments], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=dict(os.environ, KB_WINE_TIMEOUT=str(seconds)))
        self.started.append(process)
        return process

    def end(self, process):
        """Ends a program started here (wine-run.sh's time limit passes the signal on)."""
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=limit(30))
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=limit(30))

    def stop_all(self):
        """Ends what this test started and still runs (after a failure: an installer waiting at
        a message box, a viewer)."""
        for process in self.started:
            self.end(process)

    def wait_idle(self):
        """Waits until every program of the prefix has ended: with the server kept from test to
        test (KB_WINE_KEEP_SERVER), until cmake/wine-programs.sh lists none (Wine's own services
        stay, as the server does); else until the server has exited with them."""
        if not os.environ.get("KB_WINE_KEEP_SERVER"):
            try:
                subprocess.run(["wineserver", "-w"], timeout=limit(120))
            except subprocess.TimeoutExpired:
                raise Failure("programs of the prefix still run after %d s" % limit(120))
            return
        self._wait_programs_end(lambda line: False)

    def wait_idle_but(self, name):
        """Waits until every program of the prefix has ended but those whose command line holds
        `name` (and the desktop process, which stays while a window is open)."""
        self._wait_programs_end(lambda line: name.lower() in line.lower() or
                                "explorer.exe /desktop" in line.lower())

    def _wait_programs_end(self, may_stay):
        """Waits until cmake/wine-programs.sh lists no program but those whose command line
        may_stay(line) lets stay."""
        deadline = time.time() + limit(120)
        while True:
            left = []
            for pid in subprocess.run([PROGRAMS], stdout=subprocess.PIPE, check=True,
                                      timeout=limit(60)).stdout.split():
                try:
                    with open(b"/proc/%s/cmdline" % pid, "rb") as f:
                        line = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
                except OSError:
                    continue  # ended meanwhile
                if not may_stay(line):
                    left.append(line)
            if not left:
                return
            if time.time() > deadline:
                raise Failure("programs of the prefix still run after %d s: %s" % (limit(120), left))
            time.sleep(0.2)

    def run_cases(self, cases, passed):
        """Runs the cases (functions of no arguments) in order until one fails, then ends what the
        test started and waits for every program of the prefix to end. Prints the first failure
        or, when all went through, `passed`; returns the exit status."""
        try:
            for case in cases:
                case()
        except Failure as failure:
            print("FAIL: %s" % failure, file=sys.stderr)
            return 1
        finally:
            self.stop_all()
            self.wait_idle()
        print(passed)
        return 0

    def registry_entry(self):
        """The installer's entry in the list of programs as {name: value}, or None when there is
        none."""
        code, out, _ = self.run("reg", "query", UNINSTALL_KEY, timeout=60)
        if code != 0:
            return None
        values = {}
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2]
        return values

    @contextlib.contextmanager
    def viewer_running(self, viewer, model, seconds=120):
        """The stand-in viewer (a C:\\ path) started from its folder with the module installed
        there (plugins\\ beside it) loaded, and the model file `model`; yields a RunningViewer.
        Its script keeps it open for `seconds` (a limit). When the block ends, the viewer is
        closed and every program of the prefix has ended."""
        folder = ntpath.dirname(viewer)
        winlog = "%s\\viewer_%s.jsonl" % (self.winwork, ntpath.basename(folder).replace(" ", "_"))
        log = self.unix(winlog)
        if os.path.exists(log):
            os.remove(log)
        process = self.start(viewer, "--model", windows_path(model), "--plugin", folder + "\\plugins\\" + MODULE,
                             "--log", winlog, "--script", "sleep %d; quit" % (limit(seconds) * 1000),
                             seconds=seconds + 30)
        running = RunningViewer(self, process, None)
        try:
            deadline = time.time() + limit(60)
            while True:
                events = read_lines(log)
                loaded = any(e["event"] == "plugin_loaded" for e in events)
                if loaded or process.poll() is not None or time.time() > deadline:
                    break
                time.sleep(0.1)
            check(loaded, "the stand-in viewer in %s did not load the module: %r" % (folder, events))
            running.pid = next(e["pid"] for e in events if e["event"] == "start")
            yield running
        except BaseException:
            self.end(process)
            raise
        running.close()
        self.wait_idle()
