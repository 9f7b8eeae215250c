#!/usr/bin/env python3
"""Runs bimvision_substitute.exe under Wine with a plugin and checks its log.

    viewer_wine_test.py probe|module|failures --wine-run SH --viewer EXE --plugin DLL --model JSON --work-dir DIR

probe:  the viewer's own probe plugin drives every host function the real module uses.
module: the real kestro_bimvision_32 module loads and answers the version and info queries.
failures: a bad model file, a time-out and an unknown GUID end the viewer with their exit codes
and a message on stderr.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys

COPYDATA_RESULT = 0x4B42
PLUGIN_ID = 17
SELECTED_PSEUDO_ID = 0xFFFFFFFF00000001


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run_viewer(args, script, extra_env=None, timeout=150, model=None, expect_exit=0):
    os.makedirs(args.work_dir, exist_ok=True)
    log = os.path.join(args.work_dir, "viewer.jsonl")
    if os.path.exists(log):
        os.remove(log)
    command = [args.wine_run, args.viewer, "--model", windows_path(model or args.model),
               "--plugin", windows_path(args.plugin), "--log", windows_path(log),
               "--script", script]
    env = dict(os.environ)
    env.setdefault("KB_WINE_TIMEOUT", "120")
    env.update(extra_env or {})
    # Under emulation (scripts/wine-tests.sh --time-factor) every limit is that many times longer;
    # wine-run.sh multiplies its own.
    factor = int(os.environ.get("KB_WINE_TIME_FACTOR") or 1)
    done = subprocess.run(command, cwd=args.work_dir, env=env, capture_output=True, text=True,
                          timeout=timeout * factor)
    events = []
    if os.path.exists(log):
        with open(log, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                try:
                    events.append(json.loads(line))
                except ValueError:
                    raise Failure("log line %d is not JSON: %r" % (number, line))
    if done.returncode != expect_exit:
        raise Failure("viewer exited with %d, expected %d\nstderr:\n%s\nlog:\n%s" % (
            done.returncode, expect_exit, done.stderr, "\n".join(json.dumps(e) for e in events)))
    if expect_exit != 0:
        return events, done.stderr
    return events


def first(events, event, **match):
    for e in events:
        if e.get("event") == event and all(e.get(k) == v for k, v in match.items()):
            return e
    raise Failure("no %s event matching %r in the log" % (event, match))


def calls(events, name):
    return [e for e in events if e.get("event") == "call" and e.get("name") == name]


def model_facts(path):
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    guid_of = {}
    properties = numbers = 0
    for o in doc["objects"]:
        for s in o.get("property_sets", []):
            for p in s.get("properties", []):
                properties += 1
                numbers += isinstance(p.get("value"), (int, float)) and not isinstance(p.get("value"), bool)
                if p["name"] == "Guid" and p.get("value") and o["id"] not in guid_of:
                    guid_of[o["id"]] = p["value"]
    return doc, guid_of, properties, numbers


def test_probe(args):
    doc, guid_of, properties, numbers = model_facts(args.model)
    high = next(o for o in doc["objects"] if o["id"] > 0xFFFFFFFF)
    other = next(o for o in doc["objects"] if o["id"] in guid_of and o is not high)
    report = os.path.join(args.work_dir, "probe_report.txt")
    shot = os.path.join(args.work_dir, "shot.png")
    for stale in (report, shot):
        if os.path.exists(stale):
            os.remove(stale)
    script = ";".join([
        "select %s,%s" % (guid_of[other["id"]], guid_of[high["id"]]),
        "click",
        "copydata %s" % guid_of[high["id"]],
        "drag",
        "screenshot %s" % windows_path(shot),
        "select",
        "select #%d" % high["id"],
        "quit",
    ])
    events = run_viewer(args, script, {"BVS_PROBE_REPORT": windows_path(report)})
    with open(report, encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f]

    # What the viewer read from the plugin at load.
    check(first(events, "api_version")["values"] == [5, 38], "api version pair")
    check(first(events, "api_version")["returned_pair"], "get_api_verion returns its pair")
    info = first(events, "plugin_info")
    check(info["name"] == "viewer_probe" and info["description"] == "Sonda de pruebas", info)
    check(first(events, "plugin_load")["plugin_id"] == PLUGIN_ID, "plugin id handed over")

    # Ribbon and registrations, each with the plugin id first.
    button = calls(events, "create_button")
    check(len(button) == 1 and button[0]["result"] == 7001 and button[0]["arg"] == 0, button)
    text = calls(events, "set_button_text")[0]
    check(text["text"] == "Sonda" and text["hint"] == "Comprobar el anfitrión", text)
    image = calls(events, "set_button_image")[0]
    check(image["path"] == "Z:\\no\\such\\folder\\probe.ico" and image["icon_loaded"] is False, image)
    for name in ("on_selection_change", "on_draw", "on_model_load"):
        check([c["handler"] for c in calls(events, name)] == [True], name)
    check(all(e["plugin"] == PLUGIN_ID for e in events if e.get("event") == "call"),
          "every host call carries the plugin id")

    # What the plugin saw through the host functions.
    expect = [
        "load plugin=17 window=1",
        "button=7001",
        "pseudo=%d" % SELECTED_PSEUDO_ID,
        "objects=%d" % len(doc["objects"]),
        "files=" + "".join(f + "#" for f in doc["files"]),
        "high=%d guid=%s bounds=1 dx=0.30 dz=6.00 vol=0.54 area=7.20" % (high["id"], guid_of[high["id"]]),
        "properties=%d numbers=%d" % (properties, numbers),
        "select=1,0",
        "selection=2 %d %d" % tuple(sorted([other["id"], high["id"]],
                                           key=lambda i: [o["id"] for o in doc["objects"]].index(i))),
        "click",
        "drag",
        "selection=0",
        "selection=1 %d" % high["id"],
        "unload",
    ]
    check(lines == expect, "probe report:\n  got      %s\n  expected %s" % (lines, expect))

    pseudo_select = [c for c in calls(events, "select") if c.get("pseudo") == "selected"]
    check(pseudo_select and pseudo_select[0]["flags"] == [False], "select(pseudo, false) logged")
    active = calls(events, "set_object_active")[0]
    check(active["flags"] == [True, False] and active["object"] == str(doc["objects"][-1]["id"]), active)
    check(calls(events, "zoom_to") and calls(events, "invalidate"), "zoom_to and invalidate logged")

    # The main window's own answer to WM_COPYDATA.
    got = first(events, "copydata")
    check(got["text"] == guid_of[high["id"]] and got["result"] == COPYDATA_RESULT, got)
    check(got["cbData"] == len(guid_of[high["id"]]) + 1 and got["dwData"] == 0, got)
    check(first(events, "copydata_sent")["result"] == COPYDATA_RESULT, "result reaches the sender")
    check(first(events, "drag_enter_done")["result"] == 2, "on_drag_enter result")

    stats = first(events, "stats")
    check(stats["draw_label_calls"] >= 1 and stats["draw_label_nonzero"] == 0, stats)
    check(first(events, "selected")["guids"] == [guid_of[high["id"]]], "final selection")
    with open(shot, "rb") as f:
        check(f.read(8) == b"\x89PNG\r\n\x1a\n", "screenshot is a PNG")


def test_module(args):
    events = run_viewer(args, "quit")
    version = first(events, "api_version")
    check(version["values"] == [5, 38], "api version is 5/38: %r" % version)
    info = first(events, "plugin_info")
    check(info["name"] == "kestro_bimvision", "plugin name: %r" % info)
    check(info["description"] == "Conexion con KESTRO", "plugin description: %r" % info)
    first(events, "plugin_loaded")
    first(events, "selected")


def test_failures(args):
    bad = os.path.join(args.work_dir, "not_a_snapshot.json")
    os.makedirs(args.work_dir, exist_ok=True)
    with open(bad, "w", encoding="utf-8") as f:
        f.write('{"format": "kestro-bimvision-snapshot", "version": 1, "objects": [{"id": -1}]}')
    events, stderr = run_viewer(args, "quit", model=bad, expect_exit=3)
    check("not a valid snapshot" in stderr and "unsigned" in stderr, "stderr: %r" % stderr)
    check(first(events, "error")["message"] in stderr, "the error is logged as well")

    events, stderr = run_viewer(args, "wait-requests 1 200; quit", expect_exit=6)
    check("timeout" in stderr and "0 of 1" in stderr, "stderr: %r" % stderr)
    first(events, "selected")  # the final state is logged on failures too

    events, stderr = run_viewer(args, "select NO-SUCH-GUID; quit", expect_exit=5)
    check("NO-SUCH-GUID" in stderr, "stderr: %r" % stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("which", choices=["probe", "module", "failures"])
    for name in ("--wine-run", "--viewer", "--plugin", "--model", "--work-dir"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    for name in ("wine_run", "viewer", "plugin", "model", "work_dir"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    if "KESTRO" in os.path.abspath(args.viewer).upper():
        print("the viewer's path must not contain KESTRO: %s" % args.viewer, file=sys.stderr)
        return 2
    try:
        {"probe": test_probe, "module": test_module, "failures": test_failures}[args.which](args)
    except Failure as f:
        print("FAILED: %s" % f, file=sys.stderr)
        return 1
    except subprocess.TimeoutExpired:
        print("FAILED: the viewer did not finish in time", file=sys.stderr)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
