#!/usr/bin/env python3
"""The installer and the uninstaller used through their windows under Wine (needs DISPLAY), with
ui_driver.exe playing the user, and a screenshot of every page and message on the way.

    installer_ui_test.py --wine-run SH --setup EXE --driver EXE --viewer EXE --model JSON
                         --shots DIR

A stand-in viewer is installed under C:\\Program Files\\Visor IFC first: the folder page must
propose it, found by what its executable exports. Then, in order:
  install:   welcome, folder page (found folder, browse dialog, a folder without the viewer, one
             that does not exist, a path with KESTRO: Cancel is the default), details, finish
  update:    with the viewer running, "close the viewer" and Retry until it is closed; exit 0
  uninstall: with the viewer running, "close the viewer", Cancel: nothing removed; then with it
             closed, the folder as it was before the install
Screenshots go to DIR as NN_name.png (the window as on screen; without a window manager under
Xvfb the title bar is not drawn). ctest runs it as installer_wine_ui; run by hand, it takes the
pictures again.
"""
import argparse
import contextlib
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time

KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KestroBimVision"
MODULE = "kestro_bimvision_32.dll"
CAPTION = "Kestro-BimVision 1.0.4"
IDOK, IDCANCEL, IDRETRY = "1", "2", "4"
VIEWER_FOLDER = r"C:\Program Files\Visor IFC"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Session:
    def __init__(self, args):
        self.args = args
        self.prefix = os.environ["WINEPREFIX"]
        self.base = os.path.join(self.prefix, "drive_c", "kb_tests", "installer_ui")
        self.viewer_dir = os.path.join(self.prefix, "drive_c", "Program Files", "Visor IFC")
        self.viewer_name = os.path.basename(args.viewer)
        self.shots = os.path.abspath(args.shots)
        self.taken = []
        self.started = []

    def unix(self, windows_path):
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def wine(self, *command, timeout=120):
        """Runs a Windows program to its end; (exit code, stdout, stderr). The output goes through
        files: a Wine service started meanwhile may hold on to a pipe long after."""
        with open(os.path.join(self.base, "out.txt"), "w+b") as out, \
                open(os.path.join(self.base, "err.txt"), "w+b") as err:
            code = subprocess.run([self.args.wine_run, *command], stdout=out, stderr=err, timeout=timeout,
                                  env=dict(os.environ, KB_WINE_TIMEOUT=str(timeout - 10))).returncode
            out.seek(0)
            err.seek(0)
            return code, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")

    def drive(self, *steps):
        """Runs driver steps; `shot NAME` becomes a file in the shots folder. Returns what it read."""
        command = []
        for step in steps:
            if isinstance(step, tuple) and step[0] == "shot":
                name = "%02d_%s.png" % (len(self.taken) + 1, step[1])
                self.taken.append(name)
                command += ["shot", "Z:" + os.path.join(self.shots, name).replace("/", "\\")]
            elif isinstance(step, tuple):
                command += list(step)
            else:
                command.append(step)
        code, out, err = self.wine(r"C:\kb_tests\installer_ui\ui_driver.exe", *command, timeout=150)
        check(code == 0, "driver: %s\n%s" % (err.strip(), out))
        return out

    def start(self, program, *arguments):
        process = subprocess.Popen([self.args.wine_run, program, *arguments], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=dict(os.environ, KB_WINE_TIMEOUT="290"))
        self.started.append(process)
        return process

    def stop_all(self):
        """Ends what this test started and is still running (after a failure: an installer
        waiting at a message box)."""
        for process in self.started:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(timeout=30)

    def finish(self, process, expected):
        code = process.wait(timeout=300)
        check(code == expected, "exited with %d, expected %d" % (code, expected))

    def listing(self):
        found = {}
        for here, dirs, files in os.walk(self.viewer_dir):
            for name in files:
                with open(os.path.join(here, name), "rb") as f:
                    found[os.path.relpath(os.path.join(here, name), self.viewer_dir)] = hashlib.sha256(f.read()).hexdigest()
            for d in dirs:
                found[os.path.relpath(os.path.join(here, d), self.viewer_dir) + "/"] = None
        return found

    def registered(self):
        return self.wine("reg", "query", KEY, timeout=60)[0] == 0

    @contextlib.contextmanager
    def viewer_running(self):
        log = os.path.join(self.base, "viewer.jsonl")
        if os.path.exists(log):
            os.remove(log)
        viewer = self.start(VIEWER_FOLDER + "\\" + self.viewer_name,
                            "--model", "Z:" + os.path.abspath(self.args.model).replace("/", "\\"),
                            "--plugin", VIEWER_FOLDER + "\\plugins\\" + MODULE,
                            "--log", r"C:\kb_tests\installer_ui\viewer.jsonl", "--script", "sleep 240000; quit")
        events = []
        try:
            for _ in range(600):
                if os.path.exists(log):
                    with open(log, encoding="utf-8") as f:
                        events = [json.loads(l) for l in f if l.strip()]
                if any(e["event"] == "plugin_loaded" for e in events) or viewer.poll() is not None:
                    break
                time.sleep(0.1)
            check(any(e["event"] == "plugin_loaded" for e in events), "the viewer did not load the module")
            pid = next(e["pid"] for e in events if e["event"] == "start")

            def close():
                self.wine("taskkill", "/pid", str(pid), timeout=60)
                viewer.wait(timeout=60)
            yield close
        finally:
            if viewer.poll() is None:
                pid = next((e["pid"] for e in events if e["event"] == "start"), None)
                if pid is not None:
                    self.wine("taskkill", "/pid", str(pid), timeout=60)
                try:
                    viewer.wait(timeout=60)
                except subprocess.TimeoutExpired:
                    viewer.terminate()
                    viewer.wait(timeout=30)


def case_install(s):
    print("== install through the pages")
    setup = s.start(r"C:\kb_tests\installer_ui\setup.exe")
    s.drive("wait", CAPTION, "Siguiente", ("shot", "bienvenida"), "click", "Siguiente >",
            "wait", CAPTION, "Carpeta del visor")
    out = s.drive("wait", CAPTION, "Carpeta del visor", "read", ("shot", "carpeta_encontrada"))
    check('Edit "%s"' % VIEWER_FOLDER in out, "the folder page does not propose the viewer found:\n" + out)
    check("Espacio requerido" in out, out)
    s.drive("wait", CAPTION, "Carpeta del visor", "click", "Examinar...",
            "wait", "", "Elija la carpeta del visor (la", ("shot", "examinar"), "click", IDCANCEL, "gone")
    s.drive("wait", CAPTION, "Carpeta del visor", "edit", r"C:\kb_tests\installer_ui",
            "click", "Instalar", "wait", CAPTION, "no contiene el visor", ("shot", "carpeta_sin_visor"),
            "click", IDOK, "gone")
    out = s.drive("wait", CAPTION, "Carpeta del visor", "edit", r"C:\kb_tests\installer_ui\no existe",
                  "click", "Instalar", "wait", CAPTION, "no existe", "read", ("shot", "carpeta_no_existe"),
                  "click", IDOK, "gone")
    check("Pulse Examinar" in out, "no hint for a folder that does not exist:\n" + out)
    out = s.drive("wait", CAPTION, "Carpeta del visor", "edit", r"C:\kb_tests\installer_ui\KESTRO visor",
                  "click", "Instalar", "wait", CAPTION, "palabra KESTRO", "read", "default", IDCANCEL,
                  ("shot", "aviso_kestro"), "click", IDCANCEL, "gone")
    check("cualquier otro programa" in out, "the KESTRO warning does not name the real risk:\n" + out)
    s.drive("wait", CAPTION, "Carpeta del visor", "edit", VIEWER_FOLDER, "click", "Instalar",
            "wait", CAPTION, "Completado", ("shot", "instalando"), "click", "Siguiente >",
            "wait", CAPTION, "Terminar", ("shot", "fin"), "click", "Terminar")
    s.finish(setup, 0)
    check(os.path.isfile(os.path.join(s.viewer_dir, "plugins", MODULE)), "module not installed")
    check(not os.path.exists(os.path.join(s.base, "KESTRO visor", "plugins")), "installed under the KESTRO path")


def case_update_while_viewer_runs(s):
    print("== update with the viewer running: close it, Retry")
    module = os.path.join(s.viewer_dir, "plugins", MODULE)
    with open(module, "ab") as f:
        f.write(b"earlier install\0")
    with s.viewer_running() as close_viewer:
        setup = s.start(r"C:\kb_tests\installer_ui\setup.exe")
        out = s.drive("wait", CAPTION, "Siguiente", "click", "Siguiente >",
                      "wait", CAPTION, "Carpeta del visor", "read", "click", "Instalar",
                      "wait", CAPTION, "Cierre el visor", ("shot", "actualizar_visor_abierto"), "click", IDRETRY, "gone",
                      "wait", CAPTION, "Cierre el visor")
        check("instalación anterior" in out, "the folder page does not say it proposes the earlier install:\n" + out)
        with open(module, "rb") as f:
            check(f.read().endswith(b"earlier install\0"), "the module changed while the viewer held it")
        close_viewer()
        s.drive("wait", CAPTION, "Cierre el visor", "click", IDRETRY, "gone",
                "wait", CAPTION, "Completado", "click", "Siguiente >", "wait", CAPTION, "Terminar", "click", "Terminar")
        s.finish(setup, 0)
    with open(module, "rb") as f:
        check(not f.read().endswith(b"earlier install\0"), "the module was not replaced after Retry")


def case_uninstall(s, pristine):
    print("== uninstall with the viewer running: close it, Cancel; then without it")
    before = s.listing()
    uninstaller = VIEWER_FOLDER + r"\plugins\kestro_bimvision_data\desinstalar.exe"
    with s.viewer_running():
        s.start(uninstaller).wait(timeout=60)  # hands over to a copy of itself
        out = s.drive("wait", CAPTION, "Desinstalar", "read", ("shot", "desinstalar"), "click", "Desinstalar",
                      "wait", CAPTION, "Cierre el visor", ("shot", "desinstalar_visor_abierto"), "click", IDCANCEL,
                      "gone", "sleep", "2000")
        check('Edit "%s"' % VIEWER_FOLDER in out, "the uninstaller does not show the viewer's folder:\n" + out)
        check(s.listing() == before and s.registered(), "something was removed while the viewer held the module")
    s.start(uninstaller).wait(timeout=60)
    s.drive("wait", CAPTION, "Desinstalar", "click", "Desinstalar", "wait", CAPTION, "Completado",
            ("shot", "desinstalado"), "click", "Cerrar", "gone", "sleep", "2000")
    check(s.listing() == pristine, "the viewer's folder differs after uninstall: %s" % sorted(set(s.listing()) ^ set(pristine)))
    check(not s.registered(), "still registered after uninstall")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for name in ("wine-run", "setup", "driver", "viewer", "model", "shots"):
        ap.add_argument("--" + name, required=True)
    s = Session(ap.parse_args())
    shutil.rmtree(s.base, ignore_errors=True)
    shutil.rmtree(s.viewer_dir, ignore_errors=True)
    shutil.rmtree(s.shots, ignore_errors=True)
    os.makedirs(s.shots)
    os.makedirs(os.path.join(s.base, "KESTRO visor"))
    os.makedirs(s.viewer_dir)
    shutil.copy(s.args.viewer, s.viewer_dir)
    shutil.copy(s.args.viewer, os.path.join(s.base, "KESTRO visor"))
    shutil.copy(s.args.setup, os.path.join(s.base, "setup.exe"))
    shutil.copy(s.args.driver, os.path.join(s.base, "ui_driver.exe"))
    s.wine("reg", "delete", KEY, "/f", timeout=60)
    pristine = s.listing()
    try:
        case_install(s)
        case_update_while_viewer_runs(s)
        case_uninstall(s, pristine)
    except Failure as failure:
        print("FAIL: %s" % failure, file=sys.stderr)
        return 1
    finally:
        s.stop_all()
        subprocess.run(["wineserver", "-w"], timeout=120)
        shutil.rmtree(s.viewer_dir, ignore_errors=True)
    print("screenshots in %s:\n  %s" % (s.shots, "\n  ".join(s.taken)))
    print("installer through its windows: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
