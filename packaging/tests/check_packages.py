#!/usr/bin/env python3
"""What can be checked of the shipped files on the build machine: the installer is a 32-bit PE
of a plausible size carrying the product version; the release archive holds exactly the
expected files under one top-level folder, and a LEEME.txt that Notepad shows as written and
that names only files the archive holds; the module and the monitor in both are stripped of debug
information and name their symbol files, which are kept beside the build.
What makes a build repeatable, byte for byte, is checked here too: every time stamp is the
commit's (SOURCE_DATE_EPOCH), no path of the build machine is in a shipped file or its symbols,
the archive's entries are sorted, and the SHA256SUMS in the archive and beside it are right."""
import argparse
import hashlib
import os
import pathlib
import re
import sys
import time
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "common"))
from pe_file import PeFile, version_strings  # noqa: E402

# Inside the archive's one folder, kestro_bimvision-<release>-win32/.
EXPECTED_ZIP = {
    'LEEME.txt',
    'SHA256SUMS',
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


def read_sums(text, what):
    """{path: sha256} from SHA256SUMS text; a malformed line is a failure."""
    sums = {}
    for line in text.split('\n')[:-1] if text.endswith('\n') else text.split('\n'):
        m = re.fullmatch(r'([0-9a-f]{64})  (\S.*)', line)
        check(m is not None, f'{what}: line {line!r} reads "<sha256>  <file>"')
        if m:
            sums[m.group(2)] = m.group(1)
    check(list(sums) == sorted(sums), f'{what}: sorted by file ({list(sums)})')
    return sums


def check_sums(text, files, what):
    """SHA256SUMS text against {path: bytes}: every file listed once with its hash."""
    sums = read_sums(text, what)
    check(set(sums) == set(files), f'{what} lists exactly {sorted(files)} (lists {sorted(sums)})')
    for name, data in files.items():
        if name in sums:
            check(sums[name] == hashlib.sha256(data).hexdigest(), f'{what}: the hash of {name} is right')


def check_stamped(label, data, epoch, exports=False):
    """The PE header's time stamp (and the export directory's) is the commit's, not the build's."""
    pe = PeFile(data)
    check(pe.time_stamp == epoch, f'{label}: PE time stamp {pe.time_stamp} is SOURCE_DATE_EPOCH {epoch}')
    if exports:
        check(pe.export_time_stamp() == epoch,
              f'{label}: export directory time stamp {pe.export_time_stamp()} is {epoch}')


def check_no_paths(label, data, paths):
    """None of the build machine's folders in the file, as bytes or as UTF-16 text."""
    for path in paths:
        for form in (path.encode(), path.encode('utf-16-le')):
            check(form not in data, f'{label}: holds no {path}')


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
    # The installer is named for checking a download: it is published beside the archive.
    held = {pathlib.PurePosixPath(f).name.lower() for f in files} | {'kestro_bimvision_setup.exe'}
    check(names <= held, f'LEEME.txt names only files in the archive (others: {sorted(names - held)})')
    check('README' not in text, 'LEEME.txt sends the reader to no README outside the archive')
    check('SHA256SUMS' in text and 'certutil -hashfile' in text and 'Get-FileHash' in text,
          'LEEME.txt says how to check a download with SHA256SUMS (certutil, Get-FileHash)')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--setup', required=True)
    ap.add_argument('--zip', required=True)
    ap.add_argument('--symbols', required=True)
    ap.add_argument('--version', required=True)
    ap.add_argument('--sums', required=True, help='the SHA256SUMS beside the installer and the archive')
    ap.add_argument('--checker', required=True, help='the viewer check the installer carries')
    # Read when the check runs: a commit since ctest started makes the packages' build configure
    # again with the new time.
    ap.add_argument('--time-file', required=True, help='the file holding the build\'s SOURCE_DATE_EPOCH')
    ap.add_argument('--no-path', action='append', default=[],
                    help='a folder of the build machine that no shipped file may name')
    a = ap.parse_args()
    a.time = int(pathlib.Path(a.time_file).read_text().strip())
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

    check_sums(pathlib.Path(a.sums).read_text(encoding='ascii'),
               {pathlib.Path(f).name: pathlib.Path(f).read_bytes() for f in (a.setup, a.zip)},
               'SHA256SUMS beside the installer')
    checker = pathlib.Path(a.checker).read_bytes()
    check_stamped('viewer check in the installer', checker, a.time)
    check_no_paths('viewer check in the installer', checker, a.no_path)
    for debug in sorted(symbols.glob('*.debug')):
        check_no_paths(f'symbols {debug.name}', debug.read_bytes(), a.no_path)

    top = pathlib.PurePosixPath(a.zip).name[:-len('.zip')] + '/'
    with zipfile.ZipFile(a.zip) as z:
        infos = z.infolist()
        names = [i.filename for i in infos]
        check(names == sorted(names), 'archive entries are sorted by name')
        # A zip entry's time counts two seconds at a time: an odd second is stored one less.
        dated = max(time.gmtime(a.time - a.time % 2)[:6], (1980, 1, 1, 0, 0, 0))
        check(all(i.date_time == dated for i in infos),
              f'every archive entry is dated {dated} (SOURCE_DATE_EPOCH, UTC) '
              f'({sorted({i.date_time for i in infos})})')
        check(all((i.external_attr >> 16) in (0o644, 0o755) for i in infos),
              'archive entries carry fixed permissions, not the umask\'s')
        check(all(n.startswith(top) for n in names), f'archive holds one folder {top} (has {sorted(names)})')
        files = {n[len(top):] for n in names if not n.endswith('/') and n.startswith(top)}
        check(files == EXPECTED_ZIP, f'archive holds exactly {sorted(EXPECTED_ZIP)} (has {sorted(files)})')
        check(z.testzip() is None, 'archive CRCs are good')
        dll = z.read(top + 'plugins/kestro_bimvision_32.dll')
        check(PeFile(dll).machine == 0x14c, 'archive module is 32-bit')
        check_stripped('archive module', dll, symbols)
        monitor = z.read(top + 'monitor/KESTRO_monitor.exe')
        check_stripped('archive monitor', monitor, symbols)
        check_stamped('archive module', dll, a.time, exports=True)
        check_stamped('archive monitor', monitor, a.time)
        check_no_paths('archive module', dll, a.no_path)
        check_no_paths('archive monitor', monitor, a.no_path)
        check_sums(z.read(top + 'SHA256SUMS').decode('ascii'),
                   {f: z.read(top + f) for f in files if f != 'SHA256SUMS'}, 'SHA256SUMS in the archive')
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
