#!/usr/bin/env python3
"""Reads the built module file and checks the identity the viewer sees: export directory, imports,
security flags and resources. Runs on the build machine; needs nothing but Python.

usage: check_module.py path/to/kestro_bimvision_32.dll
"""
import struct
import sys
import unittest

ENTRY_POINTS = sorted([
    "get_api_verion", "get_plugin_info", "on_plugin_load", "on_plugin_unload", "on_drag_enter",
    "on_drag_over", "on_drop", "on_gui_colors_change", "on_model_load_v2", "on_model_save_v2",
])
# Windows' own libraries; anything else (a compiler run-time above all) would have to ship beside
# the module.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll",
               "gdi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "psapi.dll"}
RT_RCDATA, RT_VERSION = 10, 16
DYNAMIC_BASE, NX_COMPAT = 0x0040, 0x0100


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ image")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = pe + 4
        self.machine, nsections, _, _, _, opt_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, coff)
        opt = coff + 20
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic != 0x10B:
            raise ValueError("not a 32-bit image")
        self.image_base = struct.unpack_from("<I", data, opt + 28)[0]
        self.dll_characteristics = struct.unpack_from("<H", data, opt + 70)[0]
        ndirs = struct.unpack_from("<I", data, opt + 92)[0]
        self.dirs = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(ndirs)]
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr))
            self.section_flags = getattr(self, "section_flags", [])
            self.section_flags.append(struct.unpack_from("<I", data, sec + 40 * i + 36)[0])

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA %#x outside every section" % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def exports(self):
        rva, size = self.dirs[0]
        if not rva:
            return None, []
        o = self.off(rva)
        (_, _, _, _, name_rva, _, nfuncs, nnames, _, names_rva, _) = struct.unpack_from(
            "<IIHHIIIIIII", self.data, o)
        names = [self.cstr(struct.unpack_from("<I", self.data, self.off(names_rva) + 4 * i)[0])
                 for i in range(nnames)]
        return self.cstr(name_rva), names

    def imports(self):
        rva, _ = self.dirs[1]
        dlls = []
        o = self.off(rva)
        while True:
            desc = struct.unpack_from("<IIIII", self.data, o)
            if desc == (0, 0, 0, 0, 0):
                return dlls
            dlls.append(self.cstr(desc[3]))
            o += 20

    def imported_names(self):
        """{dll name (lower case): [function names imported by name]}."""
        rva, _ = self.dirs[1]
        found = {}
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
                if not entry & 0x80000000:
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
                return bool(flags & 0x20000000)  # IMAGE_SCN_MEM_EXECUTE
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
    """Parses one version-information block: (key, value, {child key: child})."""
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


class ModuleIdentity(unittest.TestCase):
    path = None

    @classmethod
    def setUpClass(cls):
        with open(cls.path, "rb") as f:
            cls.pe = PeFile(f.read())
        cls.res = cls.pe.resources()

    def test_is_a_32_bit_dll(self):
        self.assertEqual(self.pe.machine, 0x14C)
        self.assertTrue(self.pe.characteristics & 0x2000, "IMAGE_FILE_DLL")

    def test_export_directory_names_the_module_and_exactly_the_ten_entry_points(self):
        name, names = self.pe.exports()
        self.assertEqual(name, "kestro_bimvision_32.dll")
        self.assertEqual(sorted(names), ENTRY_POINTS)  # plain: no "_", no "@N"

    def test_imports_only_windows_own_libraries(self):
        dlls = [d.lower() for d in self.pe.imports()]
        self.assertIn("kernel32.dll", dlls)
        self.assertIn("user32.dll", dlls)
        self.assertEqual([d for d in dlls if d not in SYSTEM_DLLS], [])

    def test_start_up_code_asks_the_modules_own_slot_for_the_shared_gcc_runtime(self):
        # crtbegin.o looks libgcc_s_dw2-1.dll up with GetModuleHandleA through an import slot; the
        # module defines that slot itself (unwind_tables.cpp), so the call must land in the
        # module's code, never in kernel32, and the slot must follow the module when it is moved.
        for names in self.pe.imported_names().values():
            self.assertNotIn("GetModuleHandleA", names)
        text = self.pe.data
        name = text.find(b"libgcc_s_dw2-1.dll\0")
        self.assertGreater(name, 0, "crtbegin's DLL name")
        name_rva = next(va + name - raw for va, size, raw in self.pe.sections
                        if raw <= name < raw + size)
        call = struct.pack("<I", self.pe.image_base + name_rva) + b"\xff\x15"
        at = text.find(b"\xc7\x04\x24" + call)  # movl $name,(%esp); call *slot
        self.assertGreater(at, 0, "crtbegin's GetModuleHandleA call")
        slot_rva = struct.unpack_from("<I", text, at + 9)[0] - self.pe.image_base
        iat_rva, iat_size = self.pe.dirs[12]
        self.assertFalse(iat_rva <= slot_rva < iat_rva + iat_size, "slot is kernel32's import")
        target = struct.unpack_from("<I", text, self.pe.off(slot_rva))[0] - self.pe.image_base
        self.assertTrue(self.pe.in_code(target), "slot points into the module's code")
        self.assertIn(slot_rva, self.pe.relocated())

    def test_keeps_address_randomisation_and_no_execute(self):
        self.assertTrue(self.pe.dll_characteristics & DYNAMIC_BASE, "DYNAMIC_BASE")
        self.assertTrue(self.pe.dll_characteristics & NX_COMPAT, "NX_COMPAT")

    def test_platform_targets_holds_one_16_bit_value_1_in_language_1033(self):
        self.assertEqual(self.res.get((RT_RCDATA, "PLATFORMTARGETS", 1033)), b"\x01\x00")

    def test_version_resource_says_1_0_4_0_with_empty_names(self):
        versions = [k for k in self.res if k[0] == RT_VERSION]
        self.assertEqual(versions, [(RT_VERSION, 1, 0x0409)])
        key, fixed, children, _ = version_blocks(self.res[versions[0]])
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, prod_ms, prod_ls = struct.unpack_from("<6I", fixed)
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual((file_ms, file_ls), (0x00010000, 0x00040000))
        self.assertEqual((prod_ms, prod_ls), (0x00010000, 0x00040000))

        strings = children["StringFileInfo"][2]
        self.assertEqual(list(strings), ["040904E4"])
        values = {k: v[1] for k, v in strings["040904E4"][2].items()}
        for empty in ("CompanyName", "FileDescription", "InternalName", "OriginalFilename",
                      "ProductName"):
            self.assertEqual(values.get(empty), "", empty)
        for version in ("FileVersion", "ProductVersion"):
            self.assertIn(values.get(version, "1.0.4.0"), ("1.0.4.0",), version)

        translation = children["VarFileInfo"][2]["Translation"][1]
        self.assertEqual(struct.unpack("<HH", translation), (0x0409, 1252))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    ModuleIdentity.path = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
