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
import os
import shutil
import sys

from wine_machine import MODULE, WineMachine, check, limit, listing, windows_path

CAPTION = "Kestro-BimVision 1.0.4"
IDOK, IDCANCEL, IDRETRY = "1", "2", "4"
VIEWER_FOLDER = r"C:\Program Files\Visor IFC"


class Session(WineMachine):
    """The prefix with the viewer installed under Program Files; the driver, the installer and the
    folder with "KESTRO" in its name below C:\\kb_tests\\installer_ui."""

    def __init__(self, args):
        super().__init__(args.wine_run, "installer_ui", args.setup)
        self.args = args
        self.viewer_dir = self.unix(VIEWER_FOLDER)
        self.viewer = VIEWER_FOLDER + "\\" + os.path.basename(args.viewer)
        self.shots = os.path.abspath(args.shots)
        self.taken = []

    def drive(self, *steps):
        """Runs driver steps; `shot NAME` becomes a file in the shots folder. Returns what it read."""
        command = []
        for step in steps:
            if isinstance(step, tuple) and step[0] == "shot":
                name = "%02d_%s.png" % (len(self.taken) + 1, step[1])
                self.taken.append(name)
                command += ["shot", windows_path(os.path.join(self.shots, name))]
            elif isinstance(step, tuple):
                command += list(step)
            else:
                command.append(step)
        code, out, err = self.run(self.winwork + r"\ui_driver.exe", *command, timeout=150)
        check(code == 0, "driver: %s\n%s" % (err.strip(), out))
        return out

    def finish(self, process, expected):
        code = process.wait(timeout=limit(300))
        check(code == expected, "exited with %d, expected %d" % (code, expected))

    def listing(self):
        return listing(self.viewer_dir)

    def registered(self):
        return self.registry_entry() is not None

    def viewer_open(self):
        """The stand-in viewer running from VIEWER_FOLDER with the module installed there loaded."""
        return self.viewer_running(self.viewer, self.args.model, seconds=240)


def case_install(s):
    print("== install through the pages")
    setup = s.start(s.setup_exe)
    s.drive("wait", CAPTION, "Siguiente", ("shot", "bienvenida"), "click", "Siguiente >",
            "wait", CAPTION, "Carpeta del visor")
    out = s.drive("wait", CAPTION, "Carpeta del visor", "read", ("shot", "carpeta_encontrada"))
    check('Edit "%s"' % VIEWER_FOLDER in out, "the folder page does not propose the viewer found:\n" + out)
    check("Espacio requerido" in out, out)
    s.drive("wait", CAPTION, "Carpeta del visor", "click", "Examinar...",
            "wait", "", "Elija la carpeta del visor (la", ("shot", "examinar"), "click", IDCANCEL, "gone")
    s.drive("wait", CAPTION, "Carpeta del visor", "edit", s.winwork,
            "click", "Instalar", "wait", CAPTION, "no contiene el visor", ("shot", "carpeta_sin_visor"),
            "click", IDOK, "gone")
    # A folder name apart from the message's words: the page itself, with the name in its edit box,
    # must not pass for the message.
    out = s.drive("wait", CAPTION, "Carpeta del visor", "edit", s.winwork + r"\falta",
                  "click", "Instalar", "wait", CAPTION, "no existe", "read", ("shot", "carpeta_no_existe"),
                  "click", IDOK, "gone")
    check("Pulse Examinar" in out, "no hint for a folder that does not exist:\n" + out)
    out = s.drive("wait", CAPTION, "Carpeta del visor", "edit", s.winwork + r"\KESTRO visor",
                  "click", "Instalar", "wait", CAPTION, "palabra KESTRO", "read", "default", IDCANCEL,
                  ("shot", "aviso_kestro"), "click", IDCANCEL, "gone")
    check("cualquier otro programa" in out, "the KESTRO warning does not name the real risk:\n" + out)
    s.drive("wait", CAPTION, "Carpeta del visor", "edit", VIEWER_FOLDER, "click", "Instalar",
            "wait", CAPTION, "Completado", ("shot", "instalando"), "click", "Siguiente >",
            "wait", CAPTION, "Terminar", ("shot", "fin"), "click", "Terminar")
    s.finish(setup, 0)
    check(os.path.isfile(os.path.join(s.viewer_dir, "plugins", MODULE)), "module not installed")
    check(not os.path.exists(os.path.join(s.work, "KESTRO visor", "plugins")), "installed under the KESTRO path")


def case_update_while_viewer_runs(s):
    print("== update with the viewer running: close it, Retry")
    module = os.path.join(s.viewer_dir, "plugins", MODULE)
    with open(module, "ab") as f:
        f.write(b"earlier install\0")
    with s.viewer_open() as viewer:
        setup = s.start(s.setup_exe)
        out = s.drive("wait", CAPTION, "Siguiente", "click", "Siguiente >",
                      "wait", CAPTION, "Carpeta del visor", "read", "click", "Instalar",
                      "wait", CAPTION, "Cierre el visor", ("shot", "actualizar_visor_abierto"), "click", IDRETRY, "gone",
                      "wait", CAPTION, "Cierre el visor")
        check("instalación anterior" in out, "the folder page does not say it proposes the earlier install:\n" + out)
        with open(module, "rb") as f:
            check(f.read().endswith(b"earlier install\0"), "the module changed while the viewer held it")
        viewer.close()
        s.drive("wait", CAPTION, "Cierre el visor", "click", IDRETRY, "gone",
                "wait", CAPTION, "Completado", "click", "Siguiente >", "wait", CAPTION, "Terminar", "click", "Terminar")
        s.finish(setup, 0)
    with open(module, "rb") as f:
        check(not f.read().endswith(b"earlier install\0"), "the module was not replaced after Retry")


def case_uninstall(s, pristine):
    print("== uninstall with the viewer running: close it, Cancel; then without it")
    before = s.listing()
    uninstaller = VIEWER_FOLDER + r"\plugins\kestro_bimvision_data\desinstalar.exe"
    with s.viewer_open():
        s.start(uninstaller).wait(timeout=limit(60))  # hands over to a copy of itself
        out = s.drive("wait", CAPTION, "Desinstalar", "read", ("shot", "desinstalar"), "click", "Desinstalar",
                      "wait", CAPTION, "Cierre el visor", ("shot", "desinstalar_visor_abierto"), "click", IDCANCEL,
                      "gone")
        check('Edit "%s"' % VIEWER_FOLDER in out, "the uninstaller does not show the viewer's folder:\n" + out)
    # The viewer is closed and every program has ended: the uninstaller left on Cancel, with
    # nothing removed, and did not go on once the module was free.
    check(s.listing() == before and s.registered(), "something was removed while the viewer held the module")
    s.start(uninstaller).wait(timeout=limit(60))
    s.drive("wait", CAPTION, "Desinstalar", "click", "Desinstalar", "wait", CAPTION, "Completado",
            ("shot", "desinstalado"), "click", "Cerrar", "gone")
    s.wait_idle()
    now = s.listing()
    check(now == pristine, "the viewer's folder differs after uninstall: %s" % sorted(set(now) ^ set(pristine)))
    check(not s.registered(), "still registered after uninstall")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for name in ("wine-run", "setup", "driver", "viewer", "model", "shots"):
        ap.add_argument("--" + name, required=True)
    s = Session(ap.parse_args())
    shutil.rmtree(s.viewer_dir, ignore_errors=True)
    shutil.rmtree(s.shots, ignore_errors=True)
    os.makedirs(s.shots)
    os.makedirs(os.path.join(s.work, "KESTRO visor"))
    os.makedirs(s.viewer_dir)
    shutil.copy(s.args.viewer, s.viewer_dir)
    shutil.copy(s.args.viewer, os.path.join(s.work, "KESTRO visor"))
    shutil.copy(s.args.driver, os.path.join(s.work, "ui_driver.exe"))
    pristine = s.listing()
    try:
        status = s.run_cases([lambda: case_install(s), lambda: case_update_while_viewer_runs(s),
                              lambda: case_uninstall(s, pristine)],
                             "installer through its windows: all checks passed")
    finally:
        shutil.rmtree(s.viewer_dir, ignore_errors=True)
    print("screenshots in %s:\n  %s" % (s.shots, "\n  ".join(s.taken)))
    return status


if __name__ == "__main__":
    sys.exit(main())
