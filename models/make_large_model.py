#!/usr/bin/env python3
"""Writes a large model snapshot for load and transfer tests.

    make_large_model.py N OUT.json [--properties P] [--seed S]

N objects in all: a project, a site, a building and one storey per 500 objects (their
"ObjectType" names the spatial container), then walls, slabs, doors, windows and columns.
Every element carries about P properties (default 20) in four property sets, a GUID, bounds,
volume and area. The output depends only on the arguments.
"""
import argparse
import json
import random

GUID_CHARS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_$"
KINDS = [
    ("IfcWallStandardCase", "Muro:Fachada ladrillo 300", "Muro de fachada", "Pset_WallCommon", "Qto_WallBaseQuantities"),
    ("IfcSlab", "Forjado:Losa 300", "Forjado", "Pset_SlabCommon", "Qto_SlabBaseQuantities"),
    ("IfcDoor", "Puerta:Abatible 80×210", "Puerta interior 80×210", "Pset_DoorCommon", "Qto_DoorBaseQuantities"),
    ("IfcWindow", "Ventana:Abatible 120×150", "Ventana abatible 120×150", "Pset_WindowCommon", "Qto_WindowBaseQuantities"),
    ("IfcColumn", "Pilar:HA 30×30", "Pilar", "Pset_ColumnCommon", "Qto_ColumnBaseQuantities"),
]


def guid(index):
    # 22 characters from the 64-character IFC alphabet, unique per index.
    value = (index * 0x9E3779B97F4A7C15 + 0x1234567) & ((1 << 128) - 1)
    chars = []
    for _ in range(22):
        chars.append(GUID_CHARS[value & 63])
        value >>= 6
    chars[0] = GUID_CHARS[index % 4]
    return "".join(chars)


def prop(name, value):
    return {"name": name, "value": value}


def container(oid, index, entity, name, bounds):
    return {
        "id": oid,
        "bounds": bounds,
        "property_sets": [
            {"name": "Atributos", "properties": [
                prop("Guid", guid(index)), prop("Name", name),
                prop("IfcEntity", entity), prop("ObjectType", entity)]},
        ],
    }


def element(oid, index, storey, rng, per_object):
    entity, otype, name, pset, qto = KINDS[index % len(KINDS)]
    x = rng.uniform(0, 200)
    y = rng.uniform(0, 200)
    z = storey * 3.0
    w = round(rng.uniform(0.3, 6.0), 3)
    d = round(rng.uniform(0.1, 0.4), 3)
    h = round(rng.uniform(0.6, 3.0), 3)
    volume = round(w * d * h, 4)
    area = round(w * h, 4)
    common = [
        prop("Reference", otype), prop("IsExternal", "TRUE" if index % 3 == 0 else "FALSE"),
        prop("LoadBearing", "TRUE" if index % 2 == 0 else "FALSE"),
        prop("FireRating", "EI 60"), prop("AcousticRating", "RA 45 dBA"),
        prop("ThermalTransmittance", round(rng.uniform(0.2, 2.0), 3)),
    ]
    quantities = [
        prop("Length", w), prop("Width", d), prop("Height", h),
        prop("GrossArea", area), prop("NetVolume", volume), prop("GrossVolume", volume),
    ]
    other = [
        prop("Material", "Hormigón armado HA-25"), prop("Acabado", "Enlucido de yeso"),
        prop("Capítulo", "%02d Obra" % (index % 12 + 1)),
        prop("Precio unitario", "%d,%02d €/m²" % (20 + index % 80, index % 100)),
        prop("Código", "E%05d" % index), prop("Observaciones", "Elemento generado nº %d" % index),
    ]
    attributes = [prop("Guid", guid(index)), prop("Name", "%s %d" % (name, index)),
                  prop("IfcEntity", entity), prop("ObjectType", otype)]
    # Trim or pad the three sets after the attributes to reach the requested count.
    rest = common + quantities + other
    wanted = max(0, per_object - len(attributes))
    while len(rest) < wanted:
        rest.append(prop("Extra %d" % len(rest), "valor %d" % len(rest)))
    rest = rest[:wanted]
    third = (len(rest) + 2) // 3
    return {
        "id": oid,
        "bounds": [round(x, 3), round(y, 3), z, round(x + w, 3), round(y + d, 3), round(z + h, 3)],
        "volume": volume,
        "area": area,
        "property_sets": [
            {"name": "Atributos", "properties": attributes},
            {"name": pset, "properties": rest[:third]},
            {"name": qto, "properties": rest[third:2 * third]},
            {"name": "Datos económicos", "properties": rest[2 * third:]},
        ],
    }


def build(count, per_object, seed):
    rng = random.Random(seed)
    storeys = max(1, (count + 499) // 500)
    objects = []
    fixed = [("IfcProject", "Proyecto grande"), ("IfcSite", "Parcela"), ("IfcBuilding", "Edificio")]
    for entity, name in fixed:
        if len(objects) < count:
            objects.append(container(10 + len(objects), len(objects), entity, name, [0, 0, 0, 200, 200, storeys * 3.0]))
    for s in range(storeys):
        if len(objects) < count:
            objects.append(container(100 + s, len(objects), "IfcBuildingStorey", "Planta %d" % s,
                                     [0, 0, s * 3.0, 200, 200, s * 3.0 + 3.0]))
    index = len(objects)
    while len(objects) < count:
        objects.append(element(100000 + index, index, (index // 500) % storeys, rng, per_object))
        index += 1
    return {
        "format": "kestro-bimvision-snapshot",
        "version": 1,
        "files": ["Modelo_grande_%d.ifc" % count],
        "objects": objects,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("count", type=int, help="number of objects")
    parser.add_argument("output", help="snapshot file to write")
    parser.add_argument("--properties", type=int, default=20, help="properties per element")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.count < 0:
        parser.error("count must not be negative")
    doc = build(args.count, args.properties, args.seed)
    with open(args.output, "w", encoding="utf-8") as f:
        json.dump(doc, f, ensure_ascii=False, separators=(",", ":"))
        f.write("\n")


if __name__ == "__main__":
    main()
