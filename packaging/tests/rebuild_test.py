#!/usr/bin/env python3
"""Builds what is shipped a second time and compares it byte for byte with the first build: the
module, the monitor, the viewer check, their symbols, the installer, the release archive and its
SHA256SUMS. The second build differs from the first in everything that must not matter: the
checkout's folder (a copy of the checkout's files in another place), the build folder (outside
the copy, at another depth), the clock (later, and another time zone), TMPDIR and the umask. It
takes the first build's SOURCE_DATE_EPOCH, as a build of the same commit would.

  rebuild_test.py --source CHECKOUT --build FIRST_WIN32_BUILD [--jobs N] [--keep]

The work lies in FIRST_WIN32_BUILD/rebuild (removed first; kept after a difference, to compare).
"""
import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time


def copy_checkout(source, to):
    """The checkout's files as git lists them (tracked, and new ones not ignored), or without git
    every file outside build/ and .git."""
    try:
        listed = subprocess.run(['git', '-C', str(source), 'ls-files', '-z', '-co', '--exclude-standard'],
                                check=True, capture_output=True).stdout.decode().split('\0')
        files = [f for f in listed if f and (source / f).is_file()]
    except (OSError, subprocess.CalledProcessError):
        files = [str(p.relative_to(source)) for p in source.rglob('*')
                 if p.is_file() and p.relative_to(source).parts[0] not in ('build', '.git')]
    for f in files:
        (to / f).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source / f, to / f, follow_symlinks=False)
    return len(files)


def shipped(build):
    """{path relative to the build folder: bytes} of every file the packages target makes that
    is shipped or kept for the release, and the linked programs before stripping."""
    package = build / 'package'
    found = {}
    for top in ('stage', 'symbols'):
        for p in sorted((package / top).rglob('*')):
            if p.is_file() and p.name != 'stamp':
                found[str(p.relative_to(build))] = p.read_bytes()
    for p in sorted(package.glob('*')):
        if p.is_file():
            found[str(p.relative_to(build))] = p.read_bytes()
    for name in ('plugins/kestro_bimvision/platform/win32/kestro_bimvision_32.dll',
                 'tools/monitor/KESTRO_monitor.exe', 'packaging/viewer_check.exe'):
        if (build / name).is_file():
            found[name] = (build / name).read_bytes()
    return found


def differences(a, b):
    """Where two byte strings differ: a line for the report."""
    offsets = [i for i in range(min(len(a), len(b))) if a[i] != b[i]]
    text = f'{len(offsets)} bytes differ'
    if len(a) != len(b):
        text += f', sizes {len(a)} and {len(b)}'
    if offsets:
        text += ', at ' + ' '.join(f'{o:#x}' for o in offsets[:8]) + (' ...' if len(offsets) > 8 else '')
    return text


def run(command, **kw):
    print('+ ' + ' '.join(str(c) for c in command), flush=True)
    return subprocess.run([str(c) for c in command], **kw).returncode


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--source', required=True, type=pathlib.Path)
    ap.add_argument('--build', required=True, type=pathlib.Path)
    ap.add_argument('--jobs', default='2')
    ap.add_argument('--keep', action='store_true', help='keep the second build even when it matches')
    a = ap.parse_args()
    source, first = a.source.resolve(), a.build.resolve()
    try:
        epoch = (first / 'source_date_epoch.txt').read_text().strip()
    except OSError as error:
        print(f'rebuild_test.py: the first build has no SOURCE_DATE_EPOCH ({error}): configure it first',
              file=sys.stderr)
        return 1
    before = shipped(first)
    if not any(name.endswith('.zip') for name in before):
        print(f'rebuild_test.py: {first}/package holds no release: build the packages target first', file=sys.stderr)
        return 1

    work = first / 'rebuild'
    shutil.rmtree(work, ignore_errors=True)
    # Names without the KESTRO token: the stand-in viewer's folder must not hold it.
    copy = work / 'another' / 'place' / 'checkout'
    second = work / 'b2'
    tmp = work / 'tmp'
    for d in (copy, second, tmp):
        d.mkdir(parents=True)
    print(f'copied {copy_checkout(source, copy)} files of {source} to {copy}')

    # The first build's configuration, where it differs from the preset's.
    build_type = re.search(r'^CMAKE_BUILD_TYPE:\w+=(.*)$', (first / 'CMakeCache.txt').read_text(), re.M)
    options = [f'-DCMAKE_BUILD_TYPE={build_type.group(1)}'] if build_type else []

    env = dict(os.environ, SOURCE_DATE_EPOCH=epoch, TMPDIR=str(tmp), TZ='XYZ-14', LC_ALL='C')
    env.pop('MAKEFLAGS', None)
    start = time.monotonic()
    if run(['cmake', '-S', copy, '-B', second, '--preset', 'win32'] + options, cwd=copy, env=env, umask=0o077,
           stdout=subprocess.DEVNULL) != 0:
        print('rebuild_test.py: configuring the second build failed', file=sys.stderr)
        return 1
    if run(['cmake', '--build', second, '-j', a.jobs, '--target', 'packages'], cwd=copy, env=env,
           umask=0o077, stdout=subprocess.DEVNULL) != 0:
        print('rebuild_test.py: the second build failed', file=sys.stderr)
        return 1
    took = time.monotonic() - start
    after = shipped(second)

    failed = 0
    for name in sorted(set(before) | set(after)):
        if name not in after:
            continue  # made by the first build's other targets (tests, screenshots)
        if name not in before:
            print(f'FAIL  {name}: only in the second build')
            failed += 1
        elif before[name] == after[name]:
            print(f'same  {name} ({len(after[name])} bytes)')
        else:
            print(f'FAIL  {name}: {differences(before[name], after[name])}')
            failed += 1
    print(f'the second build took {took:.0f} s (configure and the packages target, -j{a.jobs})')
    if failed:
        print(f'{failed} file(s) differ; both builds kept: {first} and {second}', file=sys.stderr)
        return 1
    if not a.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
