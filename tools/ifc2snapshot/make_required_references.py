#!/usr/bin/env python3
"""Writes required_references.cpp: every required single reference of the IFC4 schema, and every
entity's attribute names, from the IFC++ headers.

    make_required_references.py [--include DIR] OUT.cpp     (DIR: /usr/include/ifcpp/IFC4/include)

The IFC library describes its entities at run time only in part: the attribute names
(getAttributes), their number (getNumAttributes) and which entity types an attribute takes (its
reader keeps a reference of another type as unset). Which attributes the schema requires, and
which of them hold a reference to an entity, it does not say. Its headers do: they were generated
from the EXPRESS schema and keep, for every entity, every attribute in STEP order (the inherited
ones as comments), its type and an "//optional" mark, and for every select type its members. This
script reads them; the converter's test checks the table against the library.

What the headers leave out are the schema's DERIVE redeclarations, attributes that a subtype
computes from others and that files write as `*`; they are listed below (DERIVED) from the
IFC4 ADD2 TC1 EXPRESS schema and are not required. The headers are IFC4's; the one required
single reference that IFC2X3 leaves optional is listed below too (OPTIONAL_IN_IFC2X3).

Importable: the sweep (tests/ifc/reference_sweep.py) uses schema() and accepts() to pick a wrong
type for each attribute.
"""
import argparse
import os
import re
import sys

DEFAULT_INCLUDE = "/usr/include/ifcpp/IFC4/include"

# ENTITY ... DERIVE SELF\Supertype.Attribute : ... ; in IFC4 ADD2 TC1: written as `*`.
DERIVED = {
    ("IfcGeometricRepresentationSubContext", "WorldCoordinateSystem"),
    ("IfcGeometricRepresentationSubContext", "CoordinateSpaceDimension"),
    ("IfcGeometricRepresentationSubContext", "TrueNorth"),
    ("IfcGeometricRepresentationSubContext", "Precision"),
    ("IfcOrientedEdge", "EdgeStart"),
    ("IfcOrientedEdge", "EdgeEnd"),
    ("IfcSIUnit", "Dimensions"),
    ("IfcMirroredProfileDef", "Operator"),
}

# Required in IFC4 but OPTIONAL in IFC2X3, whose files the library reads into its IFC4 classes: for
# those files they are not required (IFC2X3 TC1 EXPRESS; a space boundary without a building
# element is a virtual one there).
OPTIONAL_IN_IFC2X3 = {
    ("IfcRelSpaceBoundary", "RelatedBuildingElement"),
}

CLASS = re.compile(r"^class IFCQUERY_EXPORT (\w+)\s*:(.*)$", re.M)
SELECT = re.compile(r"^// TYPE (\w+) = SELECT\s*\(([^)]*)\);", re.M)
TYPE = re.compile(r"^// TYPE (\w+) = ", re.M)
# A member: "shared_ptr<IfcLabel> m_Name; //optional", "std::vector<shared_ptr<IfcFace> > m_CfsFaces;",
# "int m_Exponent;", "LogicalEnum m_ImpliedOrder;" (the inherited ones behind "//").
ATTRIBUTE = re.compile(r"^\s*(?://\s*)?([A-Za-z0-9_:<>, ]+?)\s+m_(\w+);\s*(//optional)?")
POINTEE = re.compile(r"shared_ptr<(\w+)>")


class Schema:
    def __init__(self):
        self.entities = {}  # name -> {"parent": name or None, "attributes": [(name, type, optional, list)]}
        self.selects = {}   # name -> [member names]
        self.types = set()  # defined types and enumerations


def schema(include=DEFAULT_INCLUDE):
    s = Schema()
    for file in sorted(os.listdir(include)):
        if not file.endswith(".h"):
            continue
        text = open(os.path.join(include, file), encoding="utf-8", errors="replace").read()
        m = SELECT.search(text)
        if m:
            s.selects[m.group(1)] = [x.strip() for x in m.group(2).split(",") if x.strip()]
            continue
        if "//ENTITY" not in text:
            m = TYPE.search(text)
            if m:
                s.types.add(m.group(1))
            continue
        c = CLASS.search(text)
        name = c.group(1)
        parent = None
        for base in c.group(2).split(","):
            words = base.split()
            if words and words[0] == "public" and words[-1] != "BuildingEntity":
                parent = words[-1]
        attributes, mode = [], None
        for line in text[c.end():].splitlines():
            stripped = line.strip()
            if re.match(r"^// Ifc\w+ -+$", stripped):
                mode = None
            elif stripped == "// attributes:":
                mode = "attributes"
            elif stripped == "// inverse attributes:":
                mode = "inverse"
            elif mode == "attributes":
                a = ATTRIBUTE.match(line)
                if a and "weak_ptr" not in a.group(1):
                    kind = a.group(1).strip()
                    pointee = POINTEE.search(kind)
                    declared = pointee.group(1) if pointee else kind
                    attributes.append((a.group(2), declared, bool(a.group(3)), kind.startswith("std::vector")))
        s.entities[name] = {"parent": parent, "attributes": attributes}
    return s


def is_subtype(s, name, of):
    while name:
        if name == of:
            return True
        name = s.entities.get(name, {}).get("parent")
    return False


def accepts(s, declared, entity):
    """Whether an attribute of type `declared` takes an instance of the entity `entity`."""
    if declared in s.entities:
        return is_subtype(s, entity, declared)
    return any(accepts(s, member, entity) for member in s.selects.get(declared, []))


def holds_entities(s, declared, seen=None):
    """Whether an attribute of type `declared` can hold a reference to an entity."""
    if declared in s.entities:
        return True
    seen = seen or set()
    if declared in seen:
        return False
    seen.add(declared)
    return any(holds_entities(s, member, seen) for member in s.selects.get(declared, []))


def required_references(s):
    """(entity, argument, attribute, declared type, optional in IFC2X3) for every required single reference."""
    rows = []
    for name in sorted(s.entities):
        for k, (attribute, declared, optional, is_list) in enumerate(s.entities[name]["attributes"]):
            if optional or is_list or (name, attribute) in DERIVED or not holds_entities(s, declared):
                continue
            rows.append((name, k, attribute, declared, (name, attribute) in OPTIONAL_IN_IFC2X3))
    return rows


def write(s, out):
    rows = required_references(s)
    lines = [
        "// generated — do not edit. Made by tools/ifc2snapshot/make_required_references.py from the",
        "// IFC++ headers (IFC4); run it again after the library changes:",
        "//   python3 tools/ifc2snapshot/make_required_references.py tools/ifc2snapshot/required_references.cpp",
        "#include \"required_references.h\"",
        "",
        "namespace ifc2snapshot {",
        "",
        "// Every attribute that the schema requires and that holds a reference to an entity: the entity",
        "// (in capitals, as STEP writes it), the attribute's place counted from 0, its name and type, and",
        "// whether IFC2X3 leaves it optional.",
        "const RequiredReference required_reference_table[] = {",
    ]
    for name, k, attribute, declared, optional_in_ifc2x3 in rows:
        lines.append('    {"%s", %d, "%s", "%s", %s},' % (name.upper(), k, attribute, declared,
                                                       "true" if optional_in_ifc2x3 else "false"))
    lines += [
        "};",
        "const size_t required_reference_count = sizeof(required_reference_table) / sizeof(required_reference_table[0]);",
        "",
        "// Every entity's attributes in STEP order, inherited ones first: the names of the references",
        "// that cannot be resolved, and what the test holds against the library.",
        "const EntityAttributes entity_attribute_table[] = {",
    ]
    for name in sorted(s.entities):
        names = ",".join(a[0] for a in s.entities[name]["attributes"])
        lines.append('    {"%s", "%s", "%s"},' % (name.upper(), name, names))
    lines += [
        "};",
        "const size_t entity_attribute_count = sizeof(entity_attribute_table) / sizeof(entity_attribute_table[0]);",
        "",
        "} // namespace ifc2snapshot",
        "",
    ]
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return len(rows)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("out")
    p.add_argument("--include", default=DEFAULT_INCLUDE)
    a = p.parse_args()
    s = schema(a.include)
    n = write(s, a.out)
    print("%s: %d required single references of %d entities" % (a.out, n, len(s.entities)), file=sys.stderr)


if __name__ == "__main__":
    main()
