#!/usr/bin/env python3
"""The plugin's folders stand in layers, and every #include "..." between them points down.

    platform/   the seam to the system (bottom)
    core/       the long-lived state, the request codes, the element lists, the floating-point guard
    elements/   collector and element records
    peer/       finding KESTRO, transfers, GUID requests
    shell/      entry points, set-up, the instance (top)

One file may reach up: platform/win32/dll_main.cpp, the composition root, which makes the module's
objects and hands them to the shell. Headers outside the plugin (the host table) are below all.

    plugin_layers.py PLUGIN_DIR           fails, naming each include that points up
    plugin_layers.py PLUGIN_DIR --draw    also lists every include between folders
"""
import pathlib
import re
import sys

LAYERS = ["platform", "core", "elements", "peer", "shell"]
COMPOSITION_ROOT = "platform/win32/dll_main.cpp"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(relative):
    """The plugin folder a path inside the plugin belongs to, or None."""
    top = relative.split("/", 1)[0]
    return top if top in LAYERS else None


def edges(plugin):
    """(from-folder, to-folder, file, included) for every include between two plugin folders."""
    found = []
    for path in sorted(plugin.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        relative = path.relative_to(plugin).as_posix()
        source = folder_of(relative)
        if source is None:
            raise SystemExit(f"{relative}: not inside one of the folders {', '.join(LAYERS)}")
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            beside = path.parent / included
            if (plugin / included).is_file():
                target = folder_of(included)
            elif beside.is_file():
                target = folder_of(beside.resolve().relative_to(plugin.resolve()).as_posix())
            else:
                continue  # outside the plugin: the host table and its records
            if target != source:
                found.append((source, target, relative, included))
    return found


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    plugin = pathlib.Path(argv[1])
    if not plugin.is_dir():
        print(f"plugin_layers: no folder {plugin}", file=sys.stderr)
        return 2
    found = edges(plugin)
    if "--draw" in argv[2:]:
        for source, target, relative, included in found:
            print(f"{source} -> {target}  {relative}: {included}")
    upward = [e for e in found
              if LAYERS.index(e[1]) > LAYERS.index(e[0]) and e[2] != COMPOSITION_ROOT]
    for source, target, relative, included in upward:
        print(f'{relative}: includes "{included}", up from {source}/ to {target}/', file=sys.stderr)
    if upward:
        print(f"plugin_layers: {len(upward)} include(s) point up", file=sys.stderr)
        return 1
    print(f"plugin_layers: {len(found)} includes between folders, all pointing down")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
