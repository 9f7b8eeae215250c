"""Reads Windows PE files (programs and DLLs) as bytes, for the checks that run on the build
machine: the module's identity (tests/wine/check_module.py) and the shipped files
(packaging/tests/check_packages.py). Needs nothing but Python.
"""
import struct

IMAGE_SCN_MEM_EXECUTE = 0x20000000


class PeFile:
    """Headers, sections, exports, imports, relocations and resources of one 32-bit PE image
    (PE32). Raises ValueError for anything that is not one."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise ValueError("not an MZ image")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = pe + 4
        (self.machine, nsections, self.time_stamp, symbols_at, nsymbols, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, coff)
        opt = coff + 20
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic != 0x10B:
            raise ValueError("not a PE32 optional header (magic %#x)" % self.magic)
        self.image_base = struct.unpack_from("<I", data, opt + 28)[0]
        self.checksum = struct.unpack_from("<I", data, opt + 64)[0]
        directories = opt + 96
        self.dll_characteristics = struct.unpack_from("<H", data, opt + 70)[0]
        ndirs = struct.unpack_from("<I", data, directories - 4)[0]
        self.dirs = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(ndirs)]
        # Names longer than eight characters ("/4") index the COFF string table after the symbols.
        strings = symbols_at + 18 * nsymbols if symbols_at else None
        self.sections = []        # (rva, size, file offset)
        self.section_flags = []
        self.section_names = []
        self.section_raw = []     # (file offset, size in the file)
        sec = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            name = name.rstrip(b"\0").decode("latin-1")
            if name.startswith("/") and name[1:].isdigit() and strings is not None:
                at = strings + int(name[1:])
                name = data[at:data.index(b"\0", at)].decode("latin-1")
            self.sections.append((va, max(vsize, rawsize), rawptr))
            self.section_flags.append(struct.unpack_from("<I", data, sec + 40 * i + 36)[0])
            self.section_names.append(name)
            self.section_raw.append((rawptr, rawsize))

    def section_data(self, name):
        """The bytes of the named section as stored in the file, or None."""
        if name not in self.section_names:
            return None
        raw, size = self.section_raw[self.section_names.index(name)]
        return self.data[raw:raw + size]

    def debuglink(self):
        """The symbol file named in .gnu_debuglink, or None."""
        link = self.section_data(".gnu_debuglink")
        return None if link is None else link.split(b"\0", 1)[0].decode("latin-1")

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA %#x outside every section" % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def exports(self):
        """(the DLL's own name, [exported names]); (None, []) without an export directory."""
        rva, _ = self.dirs[0]
        if not rva:
            return None, []
        o = self.off(rva)
        (_, _, _, _, name_rva, _, _, nnames, _, names_rva, _) = struct.unpack_from(
            "<IIHHIIIIIII", self.data, o)
        names = [self.cstr(struct.unpack_from("<I", self.data, self.off(names_rva) + 4 * i)[0])
                 for i in range(nnames)]
        return self.cstr(name_rva), names

    def export_time_stamp(self):
        """The TimeDateStamp of the export directory, or None without one."""
        rva, _ = self.dirs[0]
        return struct.unpack_from("<I", self.data, self.off(rva) + 4)[0] if rva else None

    def imports(self):
        """The names of the imported DLLs, in the order of the import directory."""
        return list(self.imported_names())

    def imported_names(self):
        """{dll name (lower case): [function names imported by name]}."""
        rva, _ = self.dirs[1]
        found = {}
        if not rva:
            return found
        o = self.off(rva)
        while True:
            lookup, _, _, name_rva, address = struct.unpack_from("<IIIII", self.data, o)
            if name_rva == 0:
                return found
            names = found.setdefault(self.cstr(name_rva).lower(), [])
            t = self.off(lookup or address)
            while True:
                entry = struct.unpack_from("<I", self.data, t)[0]
                if entry == 0:
                    break
                if not entry & 0x80000000:  # by name (the high bit marks an ordinal)
                    names.append(self.cstr(entry + 2))
                t += 4
            o += 20

    def relocated(self):
        """The RVAs of every 32-bit word the base relocations adjust."""
        rva, size = self.dirs[5]
        words = set()
        o, end = self.off(rva), self.off(rva) + size
        while o < end:
            page, block = struct.unpack_from("<II", self.data, o)
            if block < 8:
                break
            for i in range((block - 8) // 2):
                entry = struct.unpack_from("<H", self.data, o + 8 + 2 * i)[0]
                if entry >> 12 == 3:  # IMAGE_REL_BASED_HIGHLOW
                    words.add(page + (entry & 0xFFF))
            o += block
        return words

    def in_code(self, rva):
        for (va, size, _), flags in zip(self.sections, self.section_flags):
            if va <= rva < va + size:
                return bool(flags & IMAGE_SCN_MEM_EXECUTE)
        return False

    def resources(self):
        """{(type, name, language): bytes}; numeric ids as ints, named ones as str."""
        rva, _ = self.dirs[2]
        base = self.off(rva)
        found = {}

        def entry_id(word):
            if word & 0x80000000:
                o = base + (word & 0x7FFFFFFF)
                n = struct.unpack_from("<H", self.data, o)[0]
                return self.data[o + 2:o + 2 + 2 * n].decode("utf-16-le")
            return word

        def walk(o, path):
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                key = path + (entry_id(ident),)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.off(data_rva)
                    found[key] = self.data[start:start + size]

        walk(base, ())
        return found


def version_blocks(data, o=0):
    """Parses one version-information block: (key, value, {child key: child}, length)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, o)
    end = o + length
    p = o + 6
    key_end = p
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[p:key_end].decode("utf-16-le")
    p = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    raw = data[p:p + value_bytes]
    value = raw.decode("utf-16-le").rstrip("\0") if kind == 1 else raw
    p = (p + value_bytes + 3) & ~3
    children = {}
    while p < end:
        child = version_blocks(data, p)
        children[child[0]] = child
        p = (p + child[3] + 3) & ~3
    return key, value, children, length


def version_strings(data):
    """{name: value} of the first string table in a PE file's version resource (RT_VERSION)."""
    pe = PeFile(data)
    blocks = [v for k, v in pe.resources().items() if k[0] == 16]
    if not blocks:
        return {}
    _, _, children, _ = version_blocks(blocks[0])
    tables = children.get("StringFileInfo", (None, None, {}))[2]
    if not tables:
        return {}
    return {k: v[1] for k, v in next(iter(tables.values()))[2].items()}
