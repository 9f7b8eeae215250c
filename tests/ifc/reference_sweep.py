#!/usr/bin/env python3
"""The converter on copies of real files in which one required single reference is broken.

    reference_sweep.py --converter PATH [--samples DIR] [--full] [--jobs N] [--keep DIR] [--limit N]
    reference_sweep.py --write-copies DIR --sources FILE...     (the copies alone: fuzz seeds)

Goes through the sample files (DIR/*.ifc, ../shared/ifc-samples by default) and a building from
tools/ifc2snapshot/make_sample_ifc.py. For each kind of required single reference that a file
holds (an entity type and one of its attributes, from the schema as
tools/ifc2snapshot/make_required_references.py reads it), it writes copies of the file in which
that attribute of one instance is `$`, and then names an entity of a type the attribute does not
take (an IfcDirection where it can, else another type from the file), and runs the converter on
each. The bounded set (the default, for scripts/test.sh) breaks three instances of each kind in the
generated building and one instance of each kind that only a sample holds. With --full it breaks
up to five instances of every kind in every file, spread over the file, and a third copy names
an entity missing from the file (run with --allow-dangling).

A copy passes when the converter does not crash or hang and either converts it (exit 0) with a
warning that names the instance and the attribute, or refuses it (exit 1) with a message. A copy
that converts without a word, and every crash, fails. The last line reads "N passed, M failed".
The copies that failed are kept under --keep (default: a temporary folder, named at the end).
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "ifc2snapshot"))
import make_required_references as schema_module  # noqa: E402

HEAD = re.compile(r"#(\d+)\s*=\s*([A-Za-z0-9_]+)\s*\(")
# Entity types tried first as the wrong type: plain, common, and taken by few attributes.
WRONG_FIRST = ["IfcDirection", "IfcCartesianPoint", "IfcOwnerHistory", "IfcPropertySingleValue", "IfcSIUnit"]


class Instance:
    def __init__(self, ident, keyword, args):
        self.id = ident
        self.keyword = keyword  # in capitals
        self.args = args        # (start, end) offsets of each top-level argument in the file's text


def instances(text):
    """The simple instances of the DATA section, with where each argument lies in the text."""
    out = []
    data = text.find("DATA;")
    i = data + 5 if data >= 0 else len(text)
    n = len(text)
    while i < n:
        m = HEAD.search(text, i)
        if not m:
            break
        j = m.end()  # just past the opening parenthesis
        depth, start, args = 0, j, []
        while j < n:
            c = text[j]
            if c == "'":
                j += 1
                while j < n:
                    if text[j] == "'" and not (j + 1 < n and text[j + 1] == "'"):
                        break
                    j += 2 if text[j] == "'" else 1
            elif c == "(":
                depth += 1
            elif c == ")":
                if depth == 0:
                    args.append((start, j))
                    break
                depth -= 1
            elif c == "," and depth == 0:
                args.append((start, j))
                start = j + 1
            elif c == ";":
                break
            j += 1
        out.append(Instance(int(m.group(1)), m.group(2).upper(), args))
        end = text.find(";", j)
        i = n if end < 0 else end + 1
    return out


class Case:
    def __init__(self, source, text, instance, rule, fault, replacement, allow_dangling=False):
        self.source = source
        self.text = text
        self.instance = instance
        self.rule = rule  # (entity, argument, attribute, declared type, optional in IFC2X3)
        self.fault = fault  # "empty", "wrong type", "missing"
        self.replacement = replacement
        self.allow_dangling = allow_dangling

    def name(self):
        return "%s-%d-%s-%s" % (os.path.splitext(os.path.basename(self.source))[0], self.instance.id, self.rule[2],
                                self.fault.replace(" ", "_"))

    def describe(self):
        return "%s: #%d %s.%s %s (%s)" % (os.path.basename(self.source), self.instance.id, self.rule[0], self.rule[2],
                                          self.fault, self.replacement)

    def content(self):
        start, end = self.instance.args[self.rule[1]]
        return self.text[:start] + self.replacement + self.text[end:]


def spread(items, count):
    if len(items) <= count:
        return items
    return [items[round(k * (len(items) - 1) / (count - 1))] for k in range(count)] if count > 1 else items[:1]


def cases_for(path, schema, rules, per_kind, covered, full):
    """The copies of one file: `per_kind` instances of each kind not yet in `covered` (which it
    adds to), each with the attribute empty and of a wrong type (and with --full, missing)."""
    text = open(path, encoding="latin-1").read()
    ifc2x3 = "IFC2X3" in text[:text.find("ENDSEC")].upper()
    names = {name.upper(): name for name in schema.entities}
    found = instances(text)
    by_type = {}
    for inst in found:
        by_type.setdefault(inst.keyword, []).append(inst)
    cases = []
    for keyword in sorted(by_type):
        for rule in rules.get(keyword, []):
            entity, argument, attribute, declared, optional_in_ifc2x3 = rule
            if ifc2x3 and optional_in_ifc2x3:
                continue
            if (keyword, attribute) in covered:
                continue
            holders = [i for i in by_type[keyword]
                       if argument < len(i.args) and text[slice(*i.args[argument])].strip().startswith("#")]
            if not holders:
                continue
            wrong = None
            for candidate in WRONG_FIRST + sorted(names[k] for k in by_type if k in names):
                if candidate.upper() in by_type and not schema_module.accepts(schema, declared, candidate):
                    wrong = by_type[candidate.upper()][0]
                    break
            covered.add((keyword, attribute))
            for inst in spread(holders, per_kind):
                cases.append(Case(path, text, inst, rule, "empty", "$"))
                if wrong:
                    cases.append(Case(path, text, inst, rule, "wrong type", "#%d" % wrong.id))
                if full:
                    cases.append(Case(path, text, inst, rule, "missing", "#99999999", allow_dangling=True))
    return cases


def run(case, converter, work, timeout):
    copy = os.path.join(work, case.name() + ".ifc")
    with open(copy, "w", encoding="latin-1") as f:
        f.write(case.content())
    out = copy[:-4] + ".json"
    command = [converter] + (["--allow-dangling"] if case.allow_dangling else []) + [copy, out]
    try:
        p = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        status, err = p.returncode, p.stderr.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        status, err = None, "timed out after %d s" % timeout
    for leftover in (out,):
        if os.path.exists(leftover):
            os.remove(leftover)
    entity, attribute = case.rule[0], case.rule[2]
    if status == 0:
        named = any("warning:" in line and entity + "." + attribute in line and "#%d" % case.instance.id in line
                    for line in err.splitlines())
        verdict = "warned" if named else "silent"
    elif status == 1 and "cannot convert" in err:
        verdict = "refused"
    else:
        verdict = "crashed" if status is None or status < 0 or status > 2 else "failed"
    if verdict in ("warned", "refused"):
        os.remove(copy)
    return case, verdict, status, err


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--converter")
    p.add_argument("--samples", default=os.path.join(ROOT, "..", "shared", "ifc-samples"))
    p.add_argument("--full", action="store_true")
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--keep", help="folder for the copies that failed")
    p.add_argument("--limit", type=int, default=0, help="at most this many copies (0: all)")
    p.add_argument("--timeout", type=int, default=120, help="seconds a copy may take")
    p.add_argument("--storeys", type=int, default=1, help="storeys of the generated building")
    p.add_argument("--write-copies", metavar="DIR",
                   help="only write the copies, one of each kind and fault over --sources, into DIR (fuzz seeds)")
    p.add_argument("--sources", nargs="*", help="with --write-copies: the files to break")
    a = p.parse_args()

    if not a.write_copies and not a.converter:
        p.error("--converter is needed")
    schema = schema_module.schema()
    rules = {}
    for row in schema_module.required_references(schema):
        rules.setdefault(row[0].upper(), []).append(row)

    if a.write_copies:
        os.makedirs(a.write_copies, exist_ok=True)
        covered, written = set(), 0
        for source in a.sources or []:
            for case in cases_for(source, schema, rules, 1, covered, False):
                with open(os.path.join(a.write_copies, case.name() + ".ifc"), "w", encoding="latin-1") as f:
                    f.write(case.content())
                written += 1
        print("reference_sweep: %d copies written to %s (%d kinds)" % (written, a.write_copies, len(covered)))
        return 0

    work = a.keep or tempfile.mkdtemp(prefix="reference-sweep-")
    os.makedirs(work, exist_ok=True)
    generated = os.path.join(work, "generated.ifc")
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "ifc2snapshot", "make_sample_ifc.py"), generated,
                    "--storeys", str(a.storeys)], check=True)
    sources = [generated]
    if os.path.isdir(a.samples):
        sources += sorted(os.path.join(a.samples, f) for f in os.listdir(a.samples) if f.lower().endswith(".ifc"))
    else:
        print("reference_sweep: no sample folder %s: the generated building only" % a.samples)

    # The bounded set: three instances of each kind of the generated building (a few seconds),
    # and one of each further kind of the samples; --full: five of every kind of every file.
    cases = []
    covered = set()
    for k, source in enumerate(sources):
        per_kind = 5 if a.full else 3 if k == 0 else 1
        cases += cases_for(source, schema, rules, per_kind, set() if a.full else covered, a.full)
    if a.limit:
        cases = cases[:a.limit]
    kinds = len({(c.rule[0], c.rule[2]) for c in cases})
    per_file = ", ".join("%d of %s" % (sum(1 for c in cases if c.source == source), os.path.basename(source))
                         for source in sources)
    print("reference_sweep: %d copies (%s), %d kinds of required single reference" % (len(cases), per_file, kinds),
          flush=True)

    started = time.monotonic()
    counts = {}
    failures = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, a.jobs)) as pool:
        for case, verdict, status, err in pool.map(lambda c: run(c, a.converter, work, a.timeout), cases):
            counts[verdict] = counts.get(verdict, 0) + 1
            if verdict not in ("warned", "refused"):
                failures.append((case, verdict, status, err))
    os.remove(generated)
    for case, verdict, status, err in failures:
        print("FAILED (%s, exit %s): %s" % (verdict, status, case.describe()))
        for line in err.strip().splitlines()[-4:]:
            print("    " + line)
    passed = counts.get("warned", 0) + counts.get("refused", 0)
    print("reference_sweep: %d converted with a warning naming the fault, %d refused with a message, "
          "%d silent, %d crashed or hung, %d failed otherwise; %.0f s" %
          (counts.get("warned", 0), counts.get("refused", 0), counts.get("silent", 0), counts.get("crashed", 0),
           counts.get("failed", 0), time.monotonic() - started))
    if failures:
        print("reference_sweep: the copies that failed are in " + work)
    elif not a.keep:
        os.rmdir(work)
    print("%d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
