#!/usr/bin/env python3
"""What can be checked of the shipped files on the build machine: the installer is a 32-bit PE
of a plausible size carrying the product version; the release archive holds exactly the
expected files under one top-level folder, and a LEEME.txt that Notepad shows as written and
that names only files the archive holds; the module and the monitor in both are stripped of debug
information and name their symbol files, which are kept beside the build."""
import argparse
import os
import pathlib
import re
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "common"))
from pe_file import PeFile, version_strings  # noqa: E402

# Inside the archive's one folder, kestro_bimvision-<release>-win32/.
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


def check_stripped(label, data, symbols):
    pe = PeFile(data)
    check(not any(n.startswith('.debug') for n in pe.section_names),
          f'{label}: no debug sections ({pe.section_names})')
    link = pe.debuglink()
    check(link is not None and (symbols / link).is_file(), f'{label}: names its symbol file {link} in {symbols}')
    if link and (symbols / link).is_file():
        debug = PeFile((symbols / link).read_bytes())
        check('.debug_info' in debug.section_names, f'{label}: {link} holds .debug_info')


def check_text(text_bytes, files):
    check(text_bytes.startswith(b'\xef\xbb\xbf'), 'LEEME.txt starts with the UTF-8 byte-order mark')
    body = text_bytes[3:]
    check(b'\n' not in body.replace(b'\r\n', b'') and b'\r' not in body.replace(b'\r\n', b''),
          'LEEME.txt ends every line with CR LF')
    try:
        text = body.decode('utf-8')
    except UnicodeDecodeError as error:
        check(False, f'LEEME.txt is UTF-8 ({error})')
        return
    check('plugins' in text and 'Kestro-BimVision' in text, 'LEEME.txt says where the module goes')
    # Every file it names (by its extension) is in the archive; no document it does not hold.
    names = {n.lower() for n in re.findall(r'[\w.-]+\.(?:txt|exe|dll|ico|h|md|pdf)\b', text)}
    held = {pathlib.PurePosixPath(f).name.lower() for f in files}
    check(names <= held, f'LEEME.txt names only files in the archive (others: {sorted(names - held)})')
    check('README' not in text, 'LEEME.txt sends the reader to no README outside the archive')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--setup', required=True)
    ap.add_argument('--zip', required=True)
    ap.add_argument('--symbols', required=True)
    ap.add_argument('--version', required=True)
    a = ap.parse_args()
    symbols = pathlib.Path(a.symbols)

    setup = pathlib.Path(a.setup).read_bytes()
    check(PeFile(setup).machine == 0x14c, 'installer is a 32-bit PE')
    # The module (~500 KB stripped) and the NSIS stub, LZMA-packed: well under 2 MB.
    check(100_000 < len(setup) < 2_000_000, f'installer size {len(setup)} bytes')
    print(f'installer size: {len(setup)} bytes')
    strings = version_strings(setup)
    check(strings.get('FileVersion') == a.version and strings.get('ProductVersion') == a.version,
          f'installer carries version {a.version} in its version resource ({strings})')
    check('Instalador' in strings.get('FileDescription', ''), 'installer version resource is in Spanish')

    top = pathlib.PurePosixPath(a.zip).name[:-len('.zip')] + '/'
    with zipfile.ZipFile(a.zip) as z:
        names = [i.filename for i in z.infolist()]
        check(all(n.startswith(top) for n in names), f'archive holds one folder {top} (has {sorted(names)})')
        files = {n[len(top):] for n in names if not n.endswith('/') and n.startswith(top)}
        check(files == EXPECTED_ZIP, f'archive holds exactly {sorted(EXPECTED_ZIP)} (has {sorted(files)})')
        check(z.testzip() is None, 'archive CRCs are good')
        dll = z.read(top + 'plugins/kestro_bimvision_32.dll')
        check(PeFile(dll).machine == 0x14c, 'archive module is 32-bit')
        check_stripped('archive module', dll, symbols)
        check_stripped('archive monitor', z.read(top + 'monitor/KESTRO_monitor.exe'), symbols)
        ico = z.read(top + 'plugins/kestro_bimvision_data/kestro.ico')
        check(ico[:4] == b'\0\0\1\0', 'archive icon is an icon file')
        header = z.read(top + 'include/kestro_records.h').decode('ascii')
        check('#define KESTRO_RECORD_SIZE 12336' in header, 'archive carries the integrator\'s header')
        installed = pathlib.Path(a.setup).parent / 'stage' / 'plugin'
        check(not list(installed.rglob('kestro_records.h')), 'the installer does not install the header')
        check_text(z.read(top + 'LEEME.txt'), files)
        # The installer packs the same stripped module: the NSIS data is compressed, so the
        # stage copy, which makensis took, stands for it.
        stage = pathlib.Path(a.setup).parent / 'stage' / 'plugin' / 'kestro_bimvision_32.dll'
        check(stage.is_file() and zlib.crc32(stage.read_bytes()) == zlib.crc32(dll),
              'installer and archive ship the same module file')
    if failures:
        print(f'{len(failures)} check(s) failed', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
