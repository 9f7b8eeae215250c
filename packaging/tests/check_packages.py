#!/usr/bin/env python3
"""What can be checked of the shipped files on the build machine: the installer is a 32-bit PE
of a plausible size carrying the product version; the release archive holds exactly the
expected files; the module and the monitor in both are stripped of debug information and name
their symbol files, which are kept beside the build."""
import argparse
import struct
import subprocess
import sys
import zipfile
import zlib

EXPECTED_ZIP = {
    'LEEME.txt',
    'plugins/kestro_bimvision_32.dll',
    'plugins/kestro_bimvision_data/kestro.ico',
    'monitor/KESTRO_monitor.exe',
    'include/kestro_records.h',
}

failures = []


def check(ok, what):
    print(('ok    ' if ok else 'FAIL  ') + what)
    if not ok:
        failures.append(what)


def pe_machine(data):
    if data[:2] != b'MZ':
        return None
    pe = struct.unpack_from('<I', data, 0x3c)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        return None
    return struct.unpack_from('<H', data, pe + 4)[0]


def sections(objdump, path):
    """Section name -> (size, file offset), from objdump -h."""
    out = subprocess.run([objdump, '-h', path], capture_output=True, text=True, check=True).stdout
    found = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 7 and parts[0].isdigit():
            found[parts[1]] = (int(parts[2], 16), int(parts[5], 16))
    return found


def debuglink(data, objdump, path):
    """The file name in .gnu_debuglink, or None."""
    link = sections(objdump, path).get('.gnu_debuglink')
    if not link:
        return None
    size, offset = link
    return data[offset:offset + size].split(b'\0', 1)[0].decode('latin-1')


def check_stripped(label, data, objdump, symbols, tmp):
    tmp.write_bytes(data)
    names = sections(objdump, str(tmp))
    check(not any(n.startswith('.debug') for n in names), f'{label}: no debug sections ({sorted(names)})')
    link = debuglink(data, objdump, str(tmp))
    check(link is not None and (symbols / link).is_file(), f'{label}: names its symbol file {link} in {symbols}')
    if link and (symbols / link).is_file():
        debug_names = sections(objdump, str(symbols / link))
        check(any(n.startswith('.debug_info') for n in debug_names), f'{label}: {link} holds .debug_info')


def main():
    import pathlib
    import tempfile
    ap = argparse.ArgumentParser()
    ap.add_argument('--setup', required=True)
    ap.add_argument('--zip', required=True)
    ap.add_argument('--symbols', required=True)
    ap.add_argument('--objdump', required=True)
    ap.add_argument('--version', required=True)
    a = ap.parse_args()
    symbols = pathlib.Path(a.symbols)

    setup = pathlib.Path(a.setup).read_bytes()
    check(pe_machine(setup) == 0x14c, 'installer is a 32-bit PE')
    # The module (~300 KB stripped) and the NSIS stub, LZMA-packed: well under 1 MB.
    check(100_000 < len(setup) < 2_000_000, f'installer size {len(setup)} bytes')
    print(f'installer size: {len(setup)} bytes')
    version = a.version.encode('utf-16-le')
    check(version in setup, f'installer carries version {a.version} in its version resource')
    check('Instalador'.encode('utf-16-le') in setup, 'installer version resource is in Spanish')

    with zipfile.ZipFile(a.zip) as z:
        files = {i.filename for i in z.infolist() if not i.is_dir()}
        check(files == EXPECTED_ZIP, f'archive holds exactly {sorted(EXPECTED_ZIP)} (has {sorted(files)})')
        check(z.testzip() is None, 'archive CRCs are good')
        with tempfile.TemporaryDirectory() as d:
            tmp = pathlib.Path(d) / 'file.bin'
            dll = z.read('plugins/kestro_bimvision_32.dll')
            check(pe_machine(dll) == 0x14c, 'archive module is 32-bit')
            check_stripped('archive module', dll, a.objdump, symbols, tmp)
            check_stripped('archive monitor', z.read('monitor/KESTRO_monitor.exe'), a.objdump, symbols, tmp)
            ico = z.read('plugins/kestro_bimvision_data/kestro.ico')
            check(ico[:4] == b'\0\0\1\0', 'archive icon is an icon file')
            header = z.read('include/kestro_records.h').decode('ascii')
            check('#define KESTRO_RECORD_SIZE 12336' in header, 'archive carries the integrator\'s header')
            installed = pathlib.Path(a.setup).parent / 'stage' / 'plugin'
            check(not list(installed.rglob('kestro_records.h')), 'the installer does not install the header')
            text = z.read('LEEME.txt').decode('utf-8')
            check('plugins' in text and 'Kestro-BimVision' in text, 'archive text says where the module goes')
            # The installer packs the same stripped module: its CRC appears nowhere else, but the
            # NSIS data is compressed; the stage copy is what makensis took.
            stage = pathlib.Path(a.setup).parent / 'stage' / 'plugin' / 'kestro_bimvision_32.dll'
            check(stage.is_file() and zlib.crc32(stage.read_bytes()) == zlib.crc32(dll),
                  'installer and archive ship the same module file')
    if failures:
        print(f'{len(failures)} check(s) failed', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
