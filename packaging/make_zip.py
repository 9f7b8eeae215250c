#!/usr/bin/env python3
"""Packs a folder into a zip archive whose bytes depend on nothing but the files' contents and the
time given: entries sorted by path (each folder before what it holds), every entry dated TIME
(seconds since 1970, UTC: SOURCE_DATE_EPOCH), fixed permissions (0644 files, 0755 folders) and
no owner, whatever the machine's clock, time zone, umask or user.

  make_zip.py --time SECONDS --out ARCHIVE.zip ROOT TOP
packs ROOT/TOP as TOP/... into ARCHIVE.zip."""
import argparse
import os
import sys
import time
import zipfile


def entry(name, date_time, mode):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = 3  # Unix: the modes below are read as such
    info.external_attr = mode << 16
    if name.endswith('/'):
        info.external_attr |= 0x10  # MS-DOS folder flag
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--time', type=int, required=True, help='seconds since 1970 (UTC)')
    ap.add_argument('--out', required=True)
    ap.add_argument('root')
    ap.add_argument('top')
    a = ap.parse_args()
    if not os.path.isdir(os.path.join(a.root, a.top)):
        print(f'make_zip.py: no folder {os.path.join(a.root, a.top)}', file=sys.stderr)
        return 1
    # A zip entry holds local date and time from 1980 to 2107, two seconds apart: the UTC time.
    date_time = time.gmtime(a.time)[:6]
    if date_time[0] < 1980:
        date_time = (1980, 1, 1, 0, 0, 0)
    names = []
    for folder, dirs, files in os.walk(os.path.join(a.root, a.top)):
        rel = os.path.relpath(folder, a.root).replace(os.sep, '/')
        names.append(rel + '/')
        names.extend(rel + '/' + f for f in files)
    # A folder's name is the start of the names it holds: sorted, it comes first.
    names.sort()
    tmp = a.out + '.tmp'
    with zipfile.ZipFile(tmp, 'w') as z:
        for name in names:
            if name.endswith('/'):
                z.writestr(entry(name, date_time, 0o755), b'')
            else:
                with open(os.path.join(a.root, name), 'rb') as f:
                    z.writestr(entry(name, date_time, 0o644), f.read())
    os.replace(tmp, a.out)
    return 0


if __name__ == '__main__':
    sys.exit(main())
