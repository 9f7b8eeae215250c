#!/usr/bin/env python3
"""Cuts small, complete IFC files out of a large one, as seeds for the converter's fuzz target.

    converter_seeds.py IN.ifc OUT_DIR [--count N]

Each seed holds the project (with its units and contexts) and one building element of IN with
everything it references, its openings and what fills them, and its property sets; the
relationships are cut down to name only what the seed holds. Fuzzing small seeds runs many
times faster than fuzzing the whole model, on the same kinds of entity.
"""
import argparse
import os
import re

ENTITY = re.compile(r"^#(\d+)\s*=\s*([A-Za-z0-9_]*)\s*\((.*)\)\s*;\s*$", re.S)
REF = re.compile(r"#(\d+)")
# Building elements worth a seed each, taken in this order of kinds.
KINDS = ["IFCWALLSTANDARDCASE", "IFCWALL", "IFCSLAB", "IFCWINDOW", "IFCDOOR", "IFCBEAM", "IFCCOVERING",
         "IFCFURNITURE", "IFCFURNISHINGELEMENT", "IFCRAILING", "IFCMEMBER", "IFCFOOTING", "IFCSTAIRFLIGHT",
         "IFCROOF", "IFCSPACE", "IFCCOLUMN", "IFCBUILDINGELEMENTPROXY"]


def refs_outside_strings(body):
    return [int(m) for m in REF.findall(re.sub(r"'(?:[^']|'')*'", "''", body))]


def rel_targets(body):
    """The references of a relationship past its owner history: what it relates."""
    depth, start, args = 0, 0, []
    plain = re.sub(r"'(?:[^']|'')*'", "''", body)
    for i, c in enumerate(plain):
        if c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
        elif c == "," and depth == 0:
            args.append(plain[start:i])
            start = i + 1
    args.append(plain[start:])
    return [int(m) for a in args[4:] for m in REF.findall(a)]


def read(path):
    text = open(path, encoding="latin-1").read()
    header, _, rest = text.partition("DATA;")
    data = rest.rsplit("ENDSEC;", 1)[0]
    entities = {}
    for statement in re.split(r";\s*\n", data):
        m = ENTITY.match(statement.strip() + ";")
        if m:
            entities[int(m.group(1))] = (m.group(2).upper(), m.group(3))
    return header, entities


def closure(start, entities, keep):
    todo = [start]
    while todo:
        n = todo.pop()
        if n in keep or n not in entities:
            continue
        keep.add(n)
        todo.extend(refs_outside_strings(entities[n][1]))


def seed_for(product, entities, rels, project):
    keep = set()
    closure(project, entities, keep)
    closure(product, entities, keep)
    lines = {}
    # Openings of the element and what fills them, then property sets and types.
    for n, (kind, body) in rels:
        r = rel_targets(body)
        if kind == "IFCRELVOIDSELEMENT" and product in r:
            for t in r:
                closure(t, entities, keep)
    for n, (kind, body) in rels:
        r = rel_targets(body)
        if kind == "IFCRELFILLSELEMENT" and any(t in keep for t in r):
            for t in r:
                closure(t, entities, keep)
    for n, (kind, body) in rels:
        if kind in ("IFCRELVOIDSELEMENT", "IFCRELFILLSELEMENT"):
            if all(t in keep for t in rel_targets(body)):
                lines[n] = "#%d=%s(%s);" % (n, kind, body)
        elif kind in ("IFCRELDEFINESBYPROPERTIES", "IFCRELDEFINESBYTYPE"):
            # The list of related objects cut down to the ones kept.
            m = re.match(r"(.*?,)\(([^()]*)\),(#\d+)$", body, re.S)
            if not m:
                continue
            related = [t for t in refs_outside_strings(m.group(2)) if t in keep]
            if not related:
                continue
            closure(int(m.group(3)[1:]), entities, keep)
            lines[n] = "#%d=%s(%s(%s),%s);" % (n, kind, m.group(1), ",".join("#%d" % t for t in related), m.group(3))
    for n in keep:
        kind, body = entities[n]
        lines.setdefault(n, "#%d=%s(%s);" % (n, kind, body))
    return [lines[n] for n in sorted(lines)]


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("input")
    p.add_argument("out_dir")
    p.add_argument("--count", type=int, default=12)
    a = p.parse_args()
    header, entities = read(a.input)
    project = next((n for n, (k, _) in entities.items() if k == "IFCPROJECT"), None)
    if project is None:
        raise SystemExit("converter_seeds.py: no IFCPROJECT in " + a.input)
    rels = [(n, e) for n, e in sorted(entities.items()) if e[0].startswith("IFCREL")]
    chosen = []
    for kind in KINDS:
        chosen += [n for n, (k, _) in sorted(entities.items()) if k == kind][:2]
    os.makedirs(a.out_dir, exist_ok=True)
    base = os.path.splitext(os.path.basename(a.input))[0]
    for product in chosen[:a.count]:
        lines = seed_for(product, entities, rels, project)
        with open(os.path.join(a.out_dir, "%s-%d.ifc" % (base, product)), "w", encoding="latin-1") as out:
            out.write(header + "DATA;\n" + "\n".join(lines) + "\nENDSEC;\nEND-ISO-10303-21;\n")


if __name__ == "__main__":
    main()
