#!/usr/bin/env python3
"""Writes an IFC4 building model with the faults real exporters put into their files, for
measuring the converter on a model of known content.

    make_sample_ifc.py OUT.ifc [--storeys N]

Each storey (3 m high) holds 4 outer walls with 2 windows each (openings cut out of the
extruded walls; the windows are faceted frames whose faces list their hole first), 8 inner
walls, a slab, 6 spaces (closed shells with one face turned inward), 10 beds (surface models
with the top in two halves, so the sides meet it at T-junctions, and one face turned), 2
ceilings (one open face each, with a NetArea quantity), a stair (an aggregate of 2 flights) and
3 proxies without geometry but with quantities. Names and properties carry apostrophes and
escaped characters. The output depends only on the arguments.
"""
import argparse

GUID_CHARS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_$"


class Writer:
    def __init__(self):
        self.next = 100
        self.lines = []
        self.guids = 0

    def add(self, text):
        n = self.next
        self.next += 1
        self.lines.append("#%d=%s;" % (n, text))
        return n

    def guid(self):
        self.guids += 1
        value = (self.guids * 0x9E3779B97F4A7C15 + 0x1234567) & ((1 << 128) - 1)
        chars = []
        for _ in range(22):
            chars.append(GUID_CHARS[value & 63])
            value >>= 6
        return "".join(chars)

    def point(self, p):
        return self.add("IFCCARTESIANPOINT((%s))" % ",".join("%r" % float(c) for c in p))

    def placement(self, relative_to, at):
        axis = self.add("IFCAXIS2PLACEMENT3D(#%d,$,$)" % self.point(at))
        return self.add("IFCLOCALPLACEMENT(%s,#%d)" % ("#%d" % relative_to if relative_to else "$", axis))

    def shape(self, item, kind):
        rep = self.add("IFCSHAPEREPRESENTATION(#20,'Body','%s',(#%d))" % (kind, item))
        return self.add("IFCPRODUCTDEFINITIONSHAPE($,$,(#%d))" % rep)

    def extrusion(self, x, y, depth):
        centre = self.add("IFCAXIS2PLACEMENT2D(#%d,$)" % self.point((x / 2, y / 2)))
        profile = self.add("IFCRECTANGLEPROFILEDEF(.AREA.,$,#%d,%r,%r)" % (centre, float(x), float(y)))
        return self.shape(self.add("IFCEXTRUDEDAREASOLID(#%d,#21,#23,%r)" % (profile, float(depth))), "SweptSolid")

    def loop(self, polygon):
        return self.add("IFCPOLYLOOP((%s))" % ",".join("#%d" % self.point(p) for p in polygon))

    def face(self, outer, holes=(), holes_first=False):
        o = self.add("IFCFACEOUTERBOUND(#%d,.T.)" % self.loop(outer))
        hs = [self.add("IFCFACEBOUND(#%d,.T.)" % self.loop(h)) for h in holes]
        bounds = hs + [o] if holes_first else [o] + hs
        return self.add("IFCFACE((%s))" % ",".join("#%d" % b for b in bounds))

    def faces_shape(self, faces, brep):
        refs = ",".join("#%d" % f for f in faces)
        if brep:
            return self.shape(self.add("IFCFACETEDBREP(#%d)" % self.add("IFCCLOSEDSHELL((%s))" % refs)), "Brep")
        item = self.add("IFCFACEBASEDSURFACEMODEL((#%d))" % self.add("IFCCONNECTEDFACESET((%s))" % refs))
        return self.shape(item, "SurfaceModel")

    def quantities(self, objects, items):
        qs = []
        for kind, name, value in items:
            qs.append(self.add("IFCQUANTITY%s('%s',$,$,%r,$)" % (kind, name, float(value))))
        qset = self.add("IFCELEMENTQUANTITY('%s',$,'BaseQuantities',$,$,(%s))" %
                        (self.guid(), ",".join("#%d" % q for q in qs)))
        self.add("IFCRELDEFINESBYPROPERTIES('%s',$,$,$,(%s),#%d)" %
                 (self.guid(), ",".join("#%d" % o for o in objects), qset))

    def properties(self, objects, name, values):
        props = [self.add("IFCPROPERTYSINGLEVALUE('%s',$,IFCLABEL('%s'),$)" % (k, v)) for k, v in values]
        pset = self.add("IFCPROPERTYSET('%s',$,'%s',$,(%s))" % (self.guid(), name, ",".join("#%d" % p for p in props)))
        self.add("IFCRELDEFINESBYPROPERTIES('%s',$,$,$,(%s),#%d)" %
                 (self.guid(), ",".join("#%d" % o for o in objects), pset))


def turned(p):
    return list(reversed(p))


def box_faces(lo, hi):
    (x0, y0, z0), (x1, y1, z1) = lo, hi
    return [[(x0, y0, z0), (x0, y0, z1), (x0, y1, z1), (x0, y1, z0)],
            [(x1, y0, z0), (x1, y1, z0), (x1, y1, z1), (x1, y0, z1)],
            [(x0, y0, z0), (x1, y0, z0), (x1, y0, z1), (x0, y0, z1)],
            [(x0, y1, z0), (x0, y1, z1), (x1, y1, z1), (x1, y1, z0)],
            [(x0, y0, z0), (x0, y1, z0), (x1, y1, z0), (x1, y0, z0)],
            [(x0, y0, z1), (x1, y0, z1), (x1, y1, z1), (x0, y1, z1)]]


def window_frame(w, width, height, depth, bar):
    """A frame in the xz plane, its front and back faces listing the hole first."""
    faces = []
    inner = ((bar, bar), (width - bar, height - bar))
    for y, front in ((0.0, True), (depth, False)):
        outer = [(0, y, 0), (width, y, 0), (width, y, height), (0, y, height)]
        hole = [(inner[0][0], y, inner[0][1]), (inner[0][0], y, inner[1][1]),
                (inner[1][0], y, inner[1][1]), (inner[1][0], y, inner[0][1])]
        if not front:
            outer, hole = turned(outer), turned(hole)
        faces.append(w.face(outer, [hole], holes_first=True))
    outside = box_faces((0, 0, 0), (width, depth, height))
    inside = box_faces((inner[0][0], 0, inner[0][1]), (inner[1][0], depth, inner[1][1]))
    for k in (0, 1, 4, 5):
        faces.append(w.face(outside[k]))
        faces.append(w.face(turned(inside[k])))
    return w.faces_shape(faces, True)


def bed(w, size):
    x, y, z = size
    faces = box_faces((0, 0, 0), (x, y, z))
    shape = [w.face(turned(f) if k == 2 else f) for k, f in enumerate(faces[:5])]
    shape.append(w.face([(0, 0, z), (x / 2, 0, z), (x / 2, y, z), (0, y, z)]))
    shape.append(w.face([(x / 2, 0, z), (x, 0, z), (x, y, z), (x / 2, y, z)]))
    return w.faces_shape(shape, False)


def space(w, size):
    faces = box_faces((0, 0, 0), size)
    return w.faces_shape([w.face(turned(f) if k == 1 else f) for k, f in enumerate(faces)], True)


def write(out, storeys):
    w = Writer()
    header = [
        "#1=IFCPROJECT('%s',$,'Muestra de O''Brien',$,$,$,$,(#20),#10);" % w.guid(),
        "#10=IFCUNITASSIGNMENT((#11,#12,#13));",
        "#11=IFCSIUNIT(*,.LENGTHUNIT.,$,.METRE.);",
        "#12=IFCSIUNIT(*,.AREAUNIT.,$,.SQUARE_METRE.);",
        "#13=IFCSIUNIT(*,.VOLUMEUNIT.,$,.CUBIC_METRE.);",
        "#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);",
        "#21=IFCAXIS2PLACEMENT3D(#22,$,$);",
        "#22=IFCCARTESIANPOINT((0.,0.,0.));",
        "#23=IFCDIRECTION((0.,0.,1.));",
        "#30=IFCSITE('%s',$,'Parcela',$,$,#31,$,$,.ELEMENT.,$,$,$,$,$);" % w.guid(),
        "#31=IFCLOCALPLACEMENT($,#21);",
        "#32=IFCBUILDING('%s',$,'Edificio',$,$,#33,$,$,.ELEMENT.,$,$,$);" % w.guid(),
        "#33=IFCLOCALPLACEMENT(#31,#21);",
    ]
    w.add("IFCRELAGGREGATES('%s',$,$,$,#1,(#30))" % w.guid())
    w.add("IFCRELAGGREGATES('%s',$,$,$,#30,(#32))" % w.guid())
    storey_ids = []
    common = []
    for s in range(storeys):
        z = 3.0 * s
        splace = w.placement(33, (0, 0, z))
        storey = w.add("IFCBUILDINGSTOREY('%s',$,'Planta %d',$,$,#%d,$,$,.ELEMENT.,%r)" % (w.guid(), s, splace, z))
        storey_ids.append(storey)
        contained = []
        # Outer walls of a 20 x 12 m plan, 0.3 thick, 2.8 high, two windows each.
        for k, (at, length, turn) in enumerate((((0, 0, 0), 20, False), ((0, 11.7, 0), 20, False),
                                                ((0, 0.3, 0), 11.4, True), ((19.7, 0.3, 0), 11.4, True))):
            size = (0.3, length) if turn else (length, 0.3)
            wplace = w.placement(splace, at)
            wall = w.add("IFCWALL('%s',$,'Muro exterior %d-%d',$,'Fachada: ladrillo de 30 (Wall''s side)',#%d,#%d,$,.SOLIDWALL.)"
                         % (w.guid(), s, k, wplace, w.extrusion(size[0], size[1], 2.8)))
            contained.append(wall)
            common.append(wall)
            for n in range(2):
                pos = length * (n + 1) / 3 - 0.6
                op_at = (-0.1, pos, 0.9) if turn else (pos, -0.1, 0.9)
                oplace = w.placement(wplace, op_at)
                opening = w.add("IFCOPENINGELEMENT('%s',$,'Hueco',$,$,#%d,#%d,$,.OPENING.)" %
                                (w.guid(), oplace, w.extrusion(0.5 if turn else 1.2, 1.2 if turn else 0.5, 1.2)))
                w.add("IFCRELVOIDSELEMENT('%s',$,$,$,#%d,#%d)" % (w.guid(), wall, opening))
                win_at = (0.3, pos, 0.9) if turn else (pos, 0.1, 0.9)
                window = w.add("IFCWINDOW('%s',$,'Ventana \\X2\\00D1\\X0\\ %d-%d-%d',$,$,#%d,#%d,$,1.2,1.2,.WINDOW.,.SINGLE_PANEL.,$)"
                               % (w.guid(), s, k, n, w.placement(splace, win_at), window_frame(w, 1.2, 1.2, 0.1, 0.08)))
                w.add("IFCRELFILLSELEMENT('%s',$,$,$,#%d,#%d)" % (w.guid(), opening, window))
                contained.append(window)
        for k in range(8):
            wall = w.add("IFCWALL('%s',$,'Tabique %d-%d',$,$,#%d,#%d,$,.PARTITIONING.)"
                         % (w.guid(), s, k, w.placement(splace, (2.5 * (k + 1), 0.3, 0)), w.extrusion(0.1, 11.4, 2.8)))
            contained.append(wall)
        contained.append(w.add("IFCSLAB('%s',$,'Forjado %d',$,$,#%d,#%d,$,.FLOOR.)"
                               % (w.guid(), s, w.placement(splace, (0, 0, -0.2)), w.extrusion(20, 12, 0.2))))
        spaces = []
        for k in range(6):
            spaces.append(w.add("IFCSPACE('%s',$,'Local %d-%d',$,$,#%d,#%d,'Sala d''estar',.ELEMENT.,.INTERNAL.,$)"
                                % (w.guid(), s, k, w.placement(splace, (0.3 + 3.2 * k, 0.3, 0)), space(w, (3.0, 11.4, 2.8)))))
        w.quantities(spaces, [("AREA", "NetFloorArea", 34.2)])
        w.add("IFCRELAGGREGATES('%s',$,$,$,#%d,(%s))" % (w.guid(), storey, ",".join("#%d" % x for x in spaces)))
        for k in range(10):
            contained.append(w.add("IFCFURNISHINGELEMENT('%s',$,'Cama %d-%d',$,$,#%d,#%d,$)"
                                   % (w.guid(), s, k, w.placement(splace, (0.5 + 1.9 * k, 5, 0)), bed(w, (1.5, 2.0, 0.5)))))
        for k in range(2):
            c = w.add("IFCCOVERING('%s',$,'Falso techo %d-%d',$,$,#%d,#%d,$,.CEILING.)"
                      % (w.guid(), s, k, w.placement(splace, (10 * k, 0, 2.6)),
                         w.faces_shape([w.face([(0, 0, 0), (10, 0, 0), (10, 12, 0), (0, 12, 0)])], False)))
            w.quantities([c], [("AREA", "NetArea", 119.0)])
            contained.append(c)
        flights = [w.add("IFCSTAIRFLIGHT('%s',$,'Tramo %d-%d',$,$,#%d,#%d,$,10,10,0.175,0.28,.STRAIGHT.)"
                         % (w.guid(), s, k, w.placement(splace, (17, 2 + 1.2 * k, 1.4 * k)), w.extrusion(1.0, 1.1, 1.4)))
                   for k in range(2)]
        stair = w.add("IFCSTAIR('%s',$,'Escalera %d',$,$,#%d,$,$,.STRAIGHT_RUN_STAIR.)"
                      % (w.guid(), s, w.placement(splace, (0, 0, 0))))
        w.add("IFCRELAGGREGATES('%s',$,$,$,#%d,(%s))" % (w.guid(), stair, ",".join("#%d" % f for f in flights)))
        contained.append(stair)
        for k in range(3):
            p = w.add("IFCBUILDINGELEMENTPROXY('%s',$,'Instalaci\\X2\\00F3\\X0\\n %d-%d',$,$,#%d,$,$,$)"
                      % (w.guid(), s, k, w.placement(splace, (0, 0, 0))))
            w.quantities([p], [("VOLUME", "NetVolume", 0.25), ("AREA", "NetSurfaceArea", 2.5)])
            contained.append(p)
        w.add("IFCRELCONTAINEDINSPATIALSTRUCTURE('%s',$,$,$,(%s),#%d)"
              % (w.guid(), ",".join("#%d" % c for c in contained), storey))
    w.add("IFCRELAGGREGATES('%s',$,$,$,#32,(%s))" % (w.guid(), ",".join("#%d" % s for s in storey_ids)))
    w.properties(common, "Pset_WallCommon", [("Reference", "Muro d''Arco \\\\ exterior"), ("FireRating", "EI 60")])
    with open(out, "w", encoding="ascii", newline="\n") as f:
        f.write("ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION(('ViewDefinition [CoordinationView]'),'2;1');\n"
                "FILE_NAME('muestra.ifc','2024-01-01T00:00:00',(''),(''),'make_sample_ifc.py','',"
                "'');\nFILE_SCHEMA(('IFC4'));\nENDSEC;\nDATA;\n")
        f.write("\n".join(header + w.lines))
        f.write("\nENDSEC;\nEND-ISO-10303-21;\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out")
    parser.add_argument("--storeys", type=int, default=20)
    args = parser.parse_args()
    write(args.out, args.storeys)


if __name__ == "__main__":
    main()
