#!/usr/bin/env python3
"""The installer and its uninstaller under Wine, run silently as an IT department would, beside a
stand-in viewer (the substitute viewer, started from the viewer's folder with the installed module
loaded, as the real viewer holds it).

    installer_wine_test.py --wine-run SH --setup EXE --viewer EXE --monitor EXE --model JSON
                           --module DLL --icon ICO --doc docs/installing.md

Cases, in order (each starts from what the one before left):
  install:      files, registration, the button reaches a KESTRO monitor, install again
  update:       while the viewer runs, an update (same folder or another) changes nothing, exit 3
  uninstall:    while the viewer runs, nothing goes and the entry stays, exit 3; the script
                removal, as docs/installing.md writes it, waits and gives the folder back as it was
  command line: "/D=..." and /D="..." are honoured, a /D= that cannot be read is refused (exit 4)
  refusals:     no viewer, a 64-bit one, no such folder: exit 2, nothing written
Wine keeps a loaded module from being written or deleted as Windows does (sharing violation /
access denied), so the real viewer holding the module is the stand-in.
"""
import argparse
import json
import os
import shutil
import struct
import sys
import time

from wine_machine import DATA, MODULE, WineMachine, check, file_hash, limit, listing, read_lines, windows_path

EXIT_NO_VIEWER, EXIT_IN_USE, EXIT_COMMAND_LINE = 2, 3, 4
# What an install puts into the viewer's folder.
INSTALLED = {"plugins/", "plugins/%s/" % DATA, "plugins/" + MODULE, "plugins/%s/kestro.ico" % DATA,
             "plugins/%s/desinstalar.exe" % DATA}


class Machine(WineMachine):
    """The prefix with the viewers' folders below C:\\kb_tests\\installer."""

    def __init__(self, args):
        super().__init__(args.wine_run, "installer", args.setup)
        self.args = args
        self.viewer_name = os.path.basename(args.viewer)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def win(self, *parts):
        return "\\".join((self.winwork,) + parts)

    def output(self, program, *arguments, timeout=180):
        """Runs a Windows program; returns (exit code, its stdout and stderr in one text)."""
        code, out, err = self.run(program, *arguments, timeout=timeout)
        return code, err + out

    def run_line(self, line):
        """Runs one command line exactly as written, from a batch file (cmd waits for window
        programs in a batch and hands their exit code on)."""
        with open(self.path("line.bat"), "w", newline="\r\n", encoding="ascii") as f:
            f.write("@%s\n@exit /b %%ERRORLEVEL%%\n" % line)
        return self.output("cmd", "/c", self.win("line.bat"))

    def setup(self, *arguments):
        return self.output(self.setup_exe, *arguments)

    def listing(self, folder):
        return listing(self.path(folder))

    def viewer_in(self, folder, seconds=120):
        """The stand-in viewer running from `folder` with the module installed there loaded."""
        return self.viewer_running(self.win(folder, self.viewer_name), self.args.model, seconds)


def installed(m, folder):
    return INSTALLED <= set(m.listing(folder))


def script_uninstall(m, folder):
    """The documented way to remove the module from a script (docs/installing.md), as written
    there: a copy of the uninstaller outside the folder, run with _?= so that it works in place and
    the caller waits for its real result."""
    with open(m.args.doc, encoding="utf-8") as f:
        doc = f.read()
    at = doc.index("**Silent removal from a script.**")
    start = doc.index("```bat\n", at) + len("```bat\n")
    script = doc[start:doc.index("```", start)].replace(r"C:\Ruta\del visor", m.win(folder))
    with open(m.path("uninstall.bat"), "w", newline="\r\n", encoding="ascii") as f:
        f.write("@echo off\n" + script)
    return m.output("cmd", "/c", m.win("uninstall.bat"))


def temp_copies(m):
    found = []
    for here, _, files in os.walk(os.path.join(m.prefix, "drive_c")):
        found += [os.path.join(here, f) for f in files if f == "kb_desinstalar.exe"]
    return found


def case_install(m, args, pristine):
    print("== install: silent install, registration, the button, install again")
    code, err = m.setup("/S", "/D=" + m.win("viewer"))
    check(code == 0, "setup exited with %d: %s" % (code, err))
    m.wait_idle()
    listing = m.listing("viewer")
    check(INSTALLED <= set(listing), "files missing after install: %s" % sorted(listing))
    check(listing["plugins/%s/kestro.ico" % DATA] == file_hash(args.icon), "installed icon differs")
    check(listing["plugins/" + MODULE] == file_hash(args.module), "installed module differs")
    written = set(listing) - set(pristine)
    check(written == INSTALLED, "install wrote other files: %s" % sorted(written))
    reg = m.registry_entry()
    check(reg is not None, "not registered for removal")
    check(reg.get("DisplayName") == "Kestro-BimVision", "entry name %r is not the documented one" % reg.get("DisplayName"))
    check(reg.get("DisplayVersion") == "1.0.4.0", "version %r" % reg.get("DisplayVersion"))
    check(reg.get("InstallLocation", "").lower() == m.win("viewer").lower(), "install location %r" % reg.get("InstallLocation"))
    sizes = sum(os.path.getsize(os.path.join(h, f)) for h, _, fs in os.walk(m.path("viewer", "plugins")) for f in fs)
    estimated = int(reg.get("EstimatedSize", "0"), 16)
    check(abs(estimated - sizes / 1024) <= 3, "EstimatedSize %d KB, installed %d bytes" % (estimated, sizes))

    run = m.start(m.win("peer", os.path.basename(args.monitor)), "--out", m.win("logs", "monitor.jsonl"),
                  "--quit-after", "1", "--timeout", str(limit(120) * 1000), seconds=150)
    deadline = time.time() + limit(30)
    while time.time() < deadline and run.poll() is None:
        if any(e.get("event") == "ready" for e in read_lines(m.path("logs", "monitor.jsonl"))):
            break
        time.sleep(0.1)
    code, err = m.output(m.win("viewer", m.viewer_name), "--model", windows_path(args.model),
                         "--plugin", m.win("viewer", "plugins", MODULE), "--log", m.win("logs", "button.jsonl"),
                         "--script", "click; sleep 1000; quit")
    check(code == 0, "viewer exited with %d: %s" % (code, err))
    check(run.wait(timeout=limit(150)) == 0, "monitor failed")
    with open(m.path("logs", "monitor.jsonl"), encoding="utf-8") as f:
        records = [e for e in map(json.loads, filter(str.strip, f)) if e["event"] == "records"]
    check(records and records[0]["valid"] and records[0]["dwData"] > 0, "the monitor got no records: %r" % records)
    check(all(r["codigo"] == 1026 for r in records[0]["records"]), "not the button's records")

    code, err = m.setup("/S", "/D=" + m.win("viewer"))
    check(code == 0, "second setup exited with %d: %s" % (code, err))
    m.wait_idle()
    check(m.listing("viewer") == listing, "installing again changed the folder")


def case_update_while_viewer_runs(m, args, pristine):
    print("== update while the viewer runs: exit 3, the earlier install intact and registered")
    # The earlier install's module is told apart by bytes after its end (ignored by the loader).
    with open(m.path("viewer", "plugins", MODULE), "ab") as f:
        f.write(b"earlier install\0")
    before, reg_before = m.listing("viewer"), m.registry_entry()
    with m.viewer_in("viewer"):
        code, err = m.setup("/S", "/D=" + m.win("viewer"))
        check(code == EXIT_IN_USE, "update while the viewer runs exited with %d, not 3" % code)
        check("visor está abierto" in err, "no reason on stderr: %r" % err)
        now = m.listing("viewer")
        check(now == before, "update changed the folder: %s" % sorted(set(now) ^ set(before)))
        check(m.registry_entry() == reg_before, "update changed the entry")
        # Into another folder: the earlier install would go, and cannot.
        other_before = m.listing("viewer2")
        code, err = m.setup("/S", "/D=" + m.win("viewer2"))
        check(code == EXIT_IN_USE, "install elsewhere while the viewer runs exited with %d, not 3" % code)
        check(m.listing("viewer2") == other_before, "install elsewhere wrote into the new folder")
        check(m.listing("viewer") == before and m.registry_entry() == reg_before, "install elsewhere touched the earlier one")
    # An earlier install whose uninstaller fails after the new module went in elsewhere: the new
    # module goes again. (Wine's reg.exe stands in for an uninstaller that fails.)
    uninstaller = m.path("viewer", "plugins", DATA, "desinstalar.exe")
    shutil.copy(uninstaller, m.path("logs", "desinstalar.exe"))
    shutil.copy(os.path.join(m.prefix, "drive_c", "windows", "system32", "reg.exe"), uninstaller)
    before, other_before = m.listing("viewer"), m.listing("viewer2")
    code, err = m.setup("/S", "/D=" + m.win("viewer2"))
    check(code == EXIT_IN_USE and "instalación anterior" in err,
          "install elsewhere with a failing earlier uninstaller exited with %d: %r" % (code, err))
    check(m.listing("viewer2") == other_before, "the new module was not taken back: %s" % sorted(m.listing("viewer2")))
    check(m.listing("viewer") == before and m.registry_entry() == reg_before, "the earlier install changed")
    # The same into a folder that already holds a module (not registered): that module stays.
    os.makedirs(m.path("viewer2", "plugins"))
    with open(args.module, "rb") as f, open(m.path("viewer2", "plugins", MODULE), "wb") as g:
        g.write(f.read() + b"left in viewer2\0")
    other_before = m.listing("viewer2")
    code, err = m.setup("/S", "/D=" + m.win("viewer2"))
    check(code == EXIT_IN_USE and "instalación anterior" in err,
          "install over a module elsewhere with a failing earlier uninstaller exited with %d: %r" % (code, err))
    now = m.listing("viewer2")
    check(now == other_before, "the module already in the new folder was not put back: %s" % sorted(set(now) ^ set(other_before)))
    check(m.listing("viewer") == before and m.registry_entry() == reg_before, "the earlier install changed")
    shutil.rmtree(m.path("viewer2", "plugins"))
    shutil.copy(m.path("logs", "desinstalar.exe"), uninstaller)

    code, err = m.setup("/S", "/D=" + m.win("viewer"))
    check(code == 0, "update after the viewer closed exited with %d: %s" % (code, err))
    check(m.listing("viewer")["plugins/" + MODULE] == file_hash(args.module), "module not replaced")


def case_uninstall_while_viewer_runs(m, args, pristine):
    print("== uninstall while the viewer runs: exit 3, nothing goes; the script way waits")
    before, reg_before = m.listing("viewer"), m.registry_entry()
    with m.viewer_in("viewer"):
        code, err = script_uninstall(m, "viewer")
        check(code == EXIT_IN_USE, "script uninstall while the viewer runs exited with %d, not 3: %s" % (code, err))
        check(m.listing("viewer") == before, "uninstall removed files while the module stays")
        check(m.registry_entry() == reg_before, "uninstall changed the entry while the module stays")
    # Started normally, the uninstaller hands over to a copy of itself and returns at once; the
    # copy refuses all the same. The viewer's script outlives the hand-over by far; it is closed
    # once every other program has ended.
    with m.viewer_in("viewer", seconds=15):
        code, _ = m.output(m.win("viewer", "plugins", DATA, "desinstalar.exe"), "/S")
        check(code == 0, "the hand-over exited with %d" % code)
        m.wait_idle_but(m.viewer_name)
    check(m.listing("viewer") == before and m.registry_entry() == reg_before,
          "the handed-over uninstall removed something while the module was loaded")

    code, err = script_uninstall(m, "viewer")
    check(code == 0, "script uninstall exited with %d: %s" % (code, err))
    # Nothing runs on after the script: the folder is back as it was and stays so.
    now = m.listing("viewer")
    check(now == pristine, "folder differs after uninstall: %s" % sorted(set(now) ^ set(pristine)))
    check(m.registry_entry() is None, "still registered after uninstall")
    left = temp_copies(m)
    check(left == [], "the script's copy of the uninstaller was left: %s" % left)
    m.wait_idle()
    check(m.listing("viewer") == pristine, "the folder changed after the script returned")


def case_command_line(m, args, pristine):
    print("== command line: quoted /D= honoured, unreadable /D= refused")
    spaced = m.listing("Visor IFC")
    code, err = m.run_line('"%s" /S "/D=%s"' % (m.win("setup.exe"), m.win("Visor IFC")))
    check(code == 0, '"/D=..." exited with %d: %s' % (code, err))
    check(installed(m, "Visor IFC"), '"/D=..." did not install into the named folder')
    # /D="..." names another folder: the install moves there, the earlier one goes.
    code, err = m.run_line('"%s" /S /D="%s"' % (m.win("setup.exe"), m.win("viewer2")))
    check(code == 0, '/D="..." exited with %d: %s' % (code, err))
    check(installed(m, "viewer2"), '/D="..." did not install into the named folder')
    check(m.listing("Visor IFC") == spaced, "the earlier install was not removed")
    check(m.registry_entry()["InstallLocation"].lower() == m.win("viewer2").lower(), "entry not moved")
    # Without /D= a silent install updates the earlier one where it is.
    code, err = m.setup("/S")
    check(code == 0 and installed(m, "viewer2"), "update without /D= exited with %d: %s" % (code, err))

    state, reg = {f: m.listing(f) for f in ("viewer", "viewer2", "Visor IFC")}, m.registry_entry()
    for line, why in [('/S "/D=%s' % m.win("viewer"), "comilla"),
                      ("/S /D=kb_tests\\installer\\viewer", "ruta completa"),
                      ('/S "/D=%s" /D=%s' % (m.win("viewer"), m.win("viewer")), "más de un"),
                      ('/S /D="%s" /NCRC' % m.win("viewer"), "lo último")]:
        code, err = m.run_line('"%s" %s' % (m.win("setup.exe"), line))
        check(code == EXIT_COMMAND_LINE, "%s exited with %d, not 4" % (line, code))
        check(why in err, "%s: no clear reason on stderr: %r" % (line, err))
        check({f: m.listing(f) for f in state} == state and m.registry_entry() == reg, "%s changed something" % line)

    code, err = script_uninstall(m, "viewer2")
    check(code == 0 and m.registry_entry() is None, "uninstall exited with %d: %s" % (code, err))
    code, err = m.setup("/S")
    check(code == EXIT_COMMAND_LINE and "/D=" in err, "silent install naming no folder exited with %d: %r" % (code, err))


def case_refusals(m, args, pristine):
    print("== refused folders: no viewer, a 64-bit one, no such folder")
    for folder, says in [("empty", "no contiene el visor"), ("viewer64", "64 bits"), ("missing", "no existe")]:
        was = m.listing(folder) if os.path.isdir(m.path(folder)) else None
        code, err = m.setup("/S", "/D=" + m.win(folder))
        check(code == EXIT_NO_VIEWER, "setup into %s exited with %d, not 2" % (folder, code))
        check(says in err, "setup into %s: no reason on stderr: %r" % (folder, err))
        now = m.listing(folder) if os.path.isdir(m.path(folder)) else None
        check(now == was, "setup into %s changed the folder" % folder)
    check(m.registry_entry() is None, "a refused install was registered")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for name in ("wine-run", "setup", "viewer", "monitor", "model", "module", "icon", "doc"):
        ap.add_argument("--" + name, required=True)
    args = ap.parse_args()
    m = Machine(args)
    # No "KESTRO" in the viewers' paths; the monitor's own name carries it.
    for folder in ("viewer", "viewer2", "Visor IFC", "viewer64"):
        os.makedirs(m.path(folder))
        shutil.copy(args.viewer, m.path(folder))
    os.makedirs(m.path("empty"))
    os.makedirs(m.path("peer"))
    os.makedirs(m.path("logs"))
    with open(m.path("empty", "readme.txt"), "w") as f:
        f.write("notes\n")
    shutil.copy(args.monitor, m.path("peer"))
    # The same viewer marked as built for x86-64: the check reads the machine field.
    with open(m.path("viewer64", m.viewer_name), "r+b") as f:
        data = f.read()
        f.seek(struct.unpack_from("<I", data, 0x3C)[0] + 4)
        f.write(struct.pack("<H", 0x8664))
    pristine = m.listing("viewer")

    cases = (case_install, case_update_while_viewer_runs, case_uninstall_while_viewer_runs, case_command_line,
             case_refusals)
    return m.run_cases([lambda case=case: case(m, args, pristine) for case in cases],
                       "installer under Wine: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
