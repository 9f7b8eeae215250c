#!/usr/bin/env python3
"""Reads the built module file and checks the identity the viewer sees: export directory, imports,
security flags and resources. Runs on the build machine; needs nothing but Python.

usage: check_module.py path/to/kestro_bimvision_32.dll
"""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from pe_file import PeFile, version_blocks  # noqa: E402

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
        dlls = self.pe.imports()
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
