#!/usr/bin/python3
"""Tests of the shipped 32-bit tarvex.exe, run by 32-bit Wine in a win64
prefix, where the system gives a 32-bit program the 32-bit registry view.

Needs 32-bit programs to run (tools/with-qemu-i386). Every 32-bit Wine process
start costs about a minute under emulation, so values are written by one
process or straight into system.reg, and only a few runs are made:

1. The system.reg reader against Wine, as wine_test.py compares them, over the
   same table of stored values: written by one run of the 32-bit
   tarvex_regtool, dumped by one more, which opens keys as tarvex.exe does.
2. tarvex.exe itself, in the cases only the 32-bit program shows, each with
   its exact bytes and exit code, and the native tarvex on the same prefix
   agreeing once CR LF is read as LF.

usage: wine32_test.py WIN32_BUILD_DIR NATIVE_BUILD_DIR
Prints every difference and exits non-zero when there is one.
"""
import os
import shutil
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # No __pycache__ in the source tree.
import wine_test as w  # noqa: E402
from wine_test import fail  # noqa: E402

WINE32 = '/usr/lib/wine/wine'
# A start under emulation takes about a minute; a busy machine, several.
TIMEOUT = 900

REG_TYPES = {'REG_SZ': w.REG_SZ, 'REG_EXPAND_SZ': w.REG_EXPAND_SZ,
             'REG_MULTI_SZ': w.REG_MULTI_SZ, 'REG_BINARY': w.REG_BINARY,
             'REG_DWORD': w.REG_DWORD, 'REG_QWORD': 11}


def reg_add_value(args):
    """The value name, type and bytes `reg add` stores for `args` (the
    arguments after the key), or None for a form not known here."""
    if len(args) % 2 or not set(args[::2]) <= {'/v', '/t', '/d'}:
        return None
    opts = dict(zip(args[::2], args[1::2]))
    type_ = REG_TYPES.get(opts.get('/t', 'REG_SZ'))
    text = opts.get('/d', '')
    if type_ is None or '/v' not in opts:
        return None
    if type_ in (w.REG_SZ, w.REG_EXPAND_SZ):
        data = w.utf16(text)
    elif type_ == w.REG_MULTI_SZ:
        data = b''.join(w.utf16(s) for s in text.split('\\0')) + w.utf16('')
    elif type_ == w.REG_BINARY:
        data = bytes.fromhex(text)
    else:
        data = int(text, 0).to_bytes(4 if type_ == w.REG_DWORD else 8, 'little')
    return opts['/v'], type_, data


def timed_wine(prefix, what, args, check=True):
    start = time.monotonic()
    r = prefix.wine(args, check=check)
    print(f'  32-bit Wine start, {what}: {time.monotonic() - start:.1f} s')
    return r


def run_differential(prefix, win32, native):
    """The table of wine_test.py, every value written by one process."""
    cases = w.diff_cases()
    lines = []
    for case in cases:
        key = w.DIFF_KEY + '\\' + case['name']
        values = list(case['raw'])
        for view, args in case['add']:
            stored = reg_add_value(args)
            if stored is None:
                fail(f'case "{case["name"]}": cannot store reg add {args!r} '
                     'in one process; teach reg_add_value that form')
                return
            values.append((view,) + stored)
        lines += [f'{view}\t{key}\t{value}\t{type_}\t{data.hex()}\n'
                  for view, value, type_, data in values]
    with open(os.path.join(prefix.work, 'set.txt'), 'w', encoding='utf-8') as f:
        f.writelines(lines)
    w.write_keys(prefix, cases)
    regtool = os.path.join(win32, 'tarvex_regtool.exe')
    timed_wine(prefix, 'tarvex_regtool set', [regtool, 'set', 'set.txt'])
    dump = timed_wine(prefix, 'tarvex_regtool dump', [regtool, 'dump', 'keys.txt'])
    prefix.flush()
    w.compare_differential(cases, prefix, native, dump.stdout)


# --- 2. tarvex.exe ------------------------------------------------------------

KEY64 = w.ZOLP_KEY
KEY32 = w.ZOLP_KEY.replace('SOFTWARE', r'SOFTWARE\Wow6432Node')


def reg_section(key, value_line):
    path = key.replace('SOFTWARE', 'Software', 1).replace('\\', '\\\\')
    return f'\n[{path}] 1700000000\n{value_line}\n'


# (what, args, sections added to system.reg, output, exit code). Each needs
# what only the 32-bit program shows: that it asks the view the system gives
# it, and its own buffer, with its own line ends.
RUNS = [
    ('help', ['help'], [], w.USAGE, 0),
    ('the two views hold different versions', ['zolpversionlessthan', '5.61'],
     [(KEY64, '"Version"="9.0"'), (KEY32, '"Version"="5.60"')],
     w.installed('5.60') + w.specified('5.61') + w.LESS, 0),
    ('the key only in the 64-bit view', ['zolpversionlessthan', '5.61'],
     [(KEY64, '"Version"="5.60"')], w.NOT_INSTALLED, 1),
    ('261 characters in the 32-bit view', ['zolpversionlessthan', '5.61'],
     [(KEY64, '"Version"="5.60"'), (KEY32, '"Version"="' + '7' * 261 + '"')],
     w.UNREADABLE, 1),
]


def run_tarvex_exe(prefix, win32, native):
    exe = os.path.join(win32, 'tarvex.exe')
    with open(prefix.system_reg(), 'rb') as f:
        base = f.read()
    passed = agreed = 0
    for what, args, sections, want, code in RUNS:
        # No wineserver runs here (flushed), so the next start loads this.
        with open(prefix.system_reg(), 'wb') as f:
            f.write(base + ''.join(reg_section(k, v) for k, v in sections).encode('ascii'))
        r = timed_wine(prefix, f'tarvex.exe {" ".join(args)}, {what}', [exe] + args,
                       check=False)
        out = r.stdout.decode('cp1252')
        shown = r.stdout if len(r.stdout) < 200 else r.stdout[:60] + b'...'
        print(f'  tarvex.exe {args!r}, {what}: exit {r.returncode}, '
              f'{len(r.stdout)} bytes {shown!r}')
        passed += w.check_run(f'tarvex.exe {args!r}, {what}', out, r.returncode,
                              w.crlf(want), code) and r.stderr == b''
        prefix.flush()
        agreed += w.check_native_agrees(native, prefix, args, f'{args!r}, {what},', out,
                                        r.returncode)
    print(f'tarvex.exe: {passed} of {len(RUNS)} runs as expected; '
          f'native tarvex agrees on {agreed}')


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    win32, native = (os.path.abspath(p) for p in sys.argv[1:])
    work = tempfile.mkdtemp(prefix='tarvex-wine32-')
    prefix = w.Prefix(work, wine=WINE32, timeout=TIMEOUT)
    start = time.monotonic()
    try:
        r = timed_wine(prefix, 'wineboot -i, making the prefix', ['wineboot', '-i'],
                       check=False)
        # wineboot's own helpers may still be at work: wait, do not end them.
        prefix.server('-w')
        with open(prefix.system_reg(), 'rb') as f:
            head = f.read(4096)
        if not os.path.isdir(os.path.join(prefix.env['WINEPREFIX'], 'drive_c')):
            fail(f'wineboot made no prefix: {r.stderr!r}')
            return 1
        if b'#arch=win64' not in head:
            fail(f'32-bit Wine made no win64 prefix: {head[:200]!r}')
            return 1
        print(f'prefix ready in {time.monotonic() - start:.1f} s')
        run_differential(prefix, win32, native)
        run_tarvex_exe(prefix, win32, native)
    finally:
        prefix.server('-k')
        shutil.rmtree(work, ignore_errors=True)
    print(f'{w.wine_starts} 32-bit Wine starts, {time.monotonic() - start:.1f} s, '
          f'{len(w.failures)} failures')
    return 1 if w.failures else 0


if __name__ == '__main__':
    sys.exit(main())
