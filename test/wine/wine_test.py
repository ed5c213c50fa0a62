#!/usr/bin/python3
"""Tests of the Windows tarvex.exe under Wine, in one fresh Wine prefix.

1. The system.reg reader against Wine itself: the same values, stored through
   Wine, read by RegQueryValueExA in a Windows program (tarvex_regtool) and by
   the Linux reader (tarvex_regdump) over the prefix's system.reg: a table of
   cases, and every one of the 65,536 UTF-16 units as string data.
2. tarvex.exe end to end: the cases of test/end_to_end_test.cc, with CR LF at
   every line end, and the native tarvex on the same prefix, whose output must
   be the same once CR LF is read as LF.

usage: wine_test.py WIN64_BUILD_DIR NATIVE_BUILD_DIR
Prints every difference and exits non-zero when there is one.

Wine runs under LC_ALL=C.UTF-8, whatever the caller's locale: Wine then takes
the English (US) locale, whose ANSI code page is 1252, the narrowing the
reader follows.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

WINE = '/usr/lib/wine/wine64'
ZOLP_KEY = r'SOFTWARE\Brek Computer Corporation\BrekZOLP\CurrentVersion'
DIFF_KEY = r'SOFTWARE\Tarvex Diff'
UNITS_KEY = r'SOFTWARE\Tarvex Units'

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7

failures = []
wine_starts = 0


def fail(message):
    failures.append(message)
    print('FAIL: ' + message)


class Prefix:
    """A Wine prefix in work/prefix, run by `wine` (a loader under
    /usr/lib/wine), each process given `timeout` seconds."""

    def __init__(self, work, wine=WINE, timeout=120):
        self.work = work
        self.loader = wine
        self.timeout = timeout
        self.env = dict(os.environ, WINEPREFIX=os.path.join(work, 'prefix'),
                        WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=',
                        LC_ALL='C.UTF-8')
        self.env.pop('DISPLAY', None)
        self.env.pop('WAYLAND_DISPLAY', None)

    def wine(self, args, check=True, timeout=None):
        global wine_starts
        wine_starts += 1
        # Files, not pipes: the wineserver and Wine's services that the first
        # start launches inherit them, and a pipe would not close until they
        # exit.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            r = subprocess.run([self.loader] + args, env=self.env, cwd=self.work,
                               stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                               timeout=timeout or self.timeout)
            out.seek(0)
            err.seek(0)
            r.stdout, r.stderr = out.read(), err.read()
        if check and r.returncode != 0:
            fail(f'{os.path.basename(self.loader)} {args!r} exited {r.returncode}: '
                 f'{r.stdout!r} {r.stderr!r}')
        return r

    def server(self, *flags):
        subprocess.run(['wineserver'] + list(flags), env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       timeout=self.timeout, check=False)

    def flush(self):
        """Ends the prefix's wineserver, which writes system.reg as it goes."""
        self.server('-k')
        self.server('-w')

    def system_reg(self):
        return os.path.join(self.env['WINEPREFIX'], 'system.reg')


def utf16(text, nul=True):
    return (text + ('\0' if nul else '')).encode('utf-16-le')


# --- 1. The reader against Wine ----------------------------------------------

# Each case has a key of its own below DIFF_KEY, written and then queried
# ("Version") as a 32-bit program sees it. `add` are reg add arguments after
# the key, `raw` exact (view, value name, type, bytes) for what reg add cannot
# store.
def diff_cases():
    c = []

    def add(name, *args, view='32', query=None):
        c.append(dict(name=name, add=[(view, list(args))], raw=[], query=query))

    def raw(name, type_, data, value='Version', view='32'):
        c.append(dict(name=name, add=[], raw=[(view, value, type_, data)], query=None))

    add('sz', '/v', 'Version', '/d', '5.60')
    add('sz 0 chars', '/v', 'Version', '/d', '')
    add('sz 1 char', '/v', 'Version', '/d', '5')
    for n in (258, 259, 260, 261):  # With the NUL: 259 to 262 narrow bytes.
        add(f'sz {n} chars', '/v', 'Version', '/d', '7' * n)
    add('sz spaces', '/v', 'Version', '/d', ' ' * 255 + '1.2')
    add('expand sz', '/v', 'Version', '/t', 'REG_EXPAND_SZ', '/d', r'%SystemRoot%\5.60')
    add('multi sz', '/v', 'Version', '/t', 'REG_MULTI_SZ', '/d', r'5.60\0b\0c')
    add('binary 260', '/v', 'Version', '/t', 'REG_BINARY', '/d', '35' * 260)
    add('binary 261', '/v', 'Version', '/t', 'REG_BINARY', '/d', '35' * 261)
    add('binary 4', '/v', 'Version', '/t', 'REG_BINARY', '/d', '352e3630')
    add('dword', '/v', 'Version', '/t', 'REG_DWORD', '/d', '0x00302e35')
    add('qword', '/v', 'Version', '/t', 'REG_QWORD', '/d', '0x0102030405302e35')
    for i, text in enumerate(['5.60\u00e9', '\u20ac5.60', '\u0101\u0107 5.60',
                              '\u4e2d5.60', '5.60\U0001f600x', '\u00ff' * 259,
                              '\uff15.\uff16\uff10', '\u2075.\u2086\u20800\u2212']):
        add(f'non-ascii {i}', '/v', 'Version', '/d', text)
    add('missing value', '/v', 'Other', '/d', '5.60')
    c.append(dict(name='missing key', add=[], raw=[], query=None))
    add('64-bit view only', '/v', 'Version', '/d', '5.60', view='64')
    c.append(dict(name='both views', add=[('64', ['/v', 'Version', '/d', '6.4']),
                                         ('32', ['/v', 'Version', '/d', '3.2'])],
                  raw=[], query=None))
    add('Mixed Case', '/v', 'vErSiOn', '/d', '5.60',
        query=DIFF_KEY.upper() + r'\mIXED cASE')

    raw('raw sz 0 bytes', REG_SZ, b'')
    raw('raw sz 1 byte', REG_SZ, b'5')
    raw('raw sz 2 bytes', REG_SZ, utf16('5', nul=False))
    raw('raw sz no nul', REG_SZ, utf16('5.60', nul=False))
    raw('raw sz odd length', REG_SZ, utf16('5.6', nul=False) + b'0')
    raw('raw sz odd length nul', REG_SZ, utf16('5.60') + b'\0')
    raw('raw sz embedded nul', REG_SZ, utf16('5\0.60'))
    raw('raw sz nul first', REG_SZ, utf16('\0005.60'))
    for n in (259, 260, 261):
        raw(f'raw sz {n} units no nul', REG_SZ, utf16('8' * n, nul=False))
    raw('raw sz 259 units and nul', REG_SZ, utf16('8' * 259))
    units = b'\x35\x00\xe9\x00\x2e\xd8\x36\x00'  # "5", "é", a lone surrogate, "6"
    raw('raw sz non-ascii units', REG_SZ, units)
    raw('raw expand sz no nul', REG_EXPAND_SZ, utf16('5.60', nul=False))
    raw('raw multi sz', REG_MULTI_SZ, utf16('5.60\0x\0'))
    raw('raw binary 0 bytes', REG_BINARY, b'')
    raw('raw dword 3 bytes', REG_DWORD, b'5.6')
    raw('raw none', 0, b'5.60')
    raw('raw type 11 sz bytes', 11, utf16('5.60'))
    raw('raw custom type', 0x12345, b'5.60\0')
    return c


def run_differential(prefix, win64, native):
    start = time.monotonic()
    cases = diff_cases()
    raw_lines = []
    for i, case in enumerate(cases):
        key = DIFF_KEY + '\\' + case['name']
        for view, args in case['add']:
            prefix.wine(['reg', 'add', 'HKLM\\' + key] + args + [f'/reg:{view}', '/f'])
        for view, value, type_, data in case['raw']:
            raw_lines.append(f'{view}\t{key}\t{value}\t{type_}\t{data.hex()}\n')
    with open(os.path.join(prefix.work, 'set.txt'), 'w') as f:
        f.writelines(raw_lines)
    write_keys(prefix, cases)
    regtool = os.path.join(win64, 'tarvex_regtool.exe')
    print(f'values written in {time.monotonic() - start:.1f} s')
    prefix.wine([regtool, 'set', 'set.txt'])
    wine = prefix.wine([regtool, 'dump', 'keys.txt'])
    prefix.flush()
    print(f'dumped in {time.monotonic() - start:.1f} s')
    compare_differential(cases, prefix, native, wine.stdout)


def write_keys(prefix, cases):
    """keys.txt in the prefix's folder: each case's key, as the dumps read it."""
    with open(os.path.join(prefix.work, 'keys.txt'), 'w', encoding='utf-8') as f:
        for case in cases:
            f.write((case['query'] or DIFF_KEY + '\\' + case['name']) + '\n')


def compare_differential(cases, prefix, native, wine_out):
    """Compares `wine_out`, a tarvex_regtool dump of keys.txt, with the Linux
    reader's dump over the prefix's system.reg (no wineserver running)."""
    linux = subprocess.run([os.path.join(native, 'tarvex_regdump'), prefix.system_reg(),
                            os.path.join(prefix.work, 'keys.txt')],
                           capture_output=True, timeout=60)
    wine_lines = wine_out.decode('latin-1').replace('\r\n', '\n').splitlines()
    linux_lines = linux.stdout.decode('latin-1').splitlines()
    if linux.returncode != 0 or len(wine_lines) != len(cases) or len(linux_lines) != len(cases):
        fail(f'dumps incomplete: wine {wine_lines!r} linux {linux_lines!r} {linux.stderr!r}')
        return
    same = 0
    for case, w, l in zip(cases, wine_lines, linux_lines):
        if w == l:
            same += 1
            continue
        fail(f'reader differs from Wine for case "{case["name"]}"\n'
             f'    wine:  {w}\n    linux: {l}')
    print(f'differential: {len(cases)} cases, {same} agree')


def unit_values():
    """Every UTF-16 unit as string data, (value name, bytes) for 256 values of
    256 units: once with a NUL at the end, which Wine writes to system.reg as
    an escaped string, and once without, which it writes as hex(1)."""
    values = []
    for nul in (True, False):
        for high in range(256):
            units = b''.join((high << 8 | low).to_bytes(2, 'little') for low in range(256))
            values.append((f'{high:02x}' + ('' if nul else ' no nul'),
                           units + (b'\0\0' if nul else b'')))
    return values


def parse_dump_line(line):
    head, _, data = line.partition(' data=')
    return head, bytes.fromhex(data)


def run_units(prefix, win64, native):
    """Each UTF-16 unit narrows to the same byte in the reader as in Wine's
    RegQueryValueExA."""
    start = time.monotonic()
    values = unit_values()
    with open(os.path.join(prefix.work, 'units-set.txt'), 'w') as f:
        for name, data in values:
            f.write(f'32\t{UNITS_KEY}\t{name}\t{REG_SZ}\t{data.hex()}\n')
    with open(os.path.join(prefix.work, 'units-keys.txt'), 'w') as f:
        for name, _ in values:
            f.write(f'{UNITS_KEY}\t{name}\n')
    regtool = os.path.join(win64, 'tarvex_regtool.exe')
    prefix.wine([regtool, 'set', 'units-set.txt'])
    wine = prefix.wine([regtool, 'dump', 'units-keys.txt'])
    prefix.flush()
    linux = subprocess.run([os.path.join(native, 'tarvex_regdump'), prefix.system_reg(),
                            os.path.join(prefix.work, 'units-keys.txt')],
                           capture_output=True, timeout=60)
    wine_lines = wine.stdout.decode('ascii').replace('\r\n', '\n').splitlines()
    linux_lines = linux.stdout.decode('ascii').splitlines()
    if linux.returncode != 0 or len(wine_lines) != len(values) or len(linux_lines) != len(values):
        fail(f'units: dumps incomplete ({len(wine_lines)} Wine lines, {len(linux_lines)} '
             f'reader lines for {len(values)} values): {linux.stderr!r}')
        return
    agree = {True: 0, False: 0}
    differences = []
    for (name, stored), w, l in zip(values, wine_lines, linux_lines):
        nul = not name.endswith('no nul')
        (w_head, w_data), (l_head, l_data) = parse_dump_line(w), parse_dump_line(l)
        want_head = f'open=0 query=0 size={len(stored) // 2}'
        if w_head != want_head or l_head != want_head:
            fail(f'units: value "{name}" not read whole\n    wine:  {w_head}\n'
                 f'    linux: {l_head} (want {want_head})')
            continue
        for i in range(256):
            unit = stored[2 * i] | stored[2 * i + 1] << 8
            if w_data[i] == l_data[i]:
                agree[nul] += 1
            else:
                differences.append(f'U+{unit:04X} ({"string" if nul else "hex(1)"}): '
                                   f'Wine {w_data[i]:#04x}, reader {l_data[i]:#04x}')
        if w_data[256:] != l_data[256:]:
            differences.append(f'value "{name}": Wine ends {w_data[256:].hex()}, '
                               f'reader {l_data[256:].hex()}')
    euro = parse_dump_line(wine_lines[0x20])[1][0xac:0xad]
    if euro != b'\x80':
        fail(f'units: Wine narrows U+20AC to {euro.hex()}, not 80: its ANSI code page is '
             f'not 1252 (the locale is LC_ALL={prefix.env["LC_ALL"]})')
    for d in differences[:20]:
        print('    ' + d)
    if differences:
        fail(f'units: {len(differences)} differences from Wine')
    print(f'units: {agree[True]} of 65536 UTF-16 units agree as escaped strings, '
          f'{agree[False]} of 65536 as hex(1), in {time.monotonic() - start:.1f} s')


# --- 2. tarvex.exe end to end ---------------------------------------------------

# The usage text with its line end, as the native tests expect it too.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'usage.txt'),
          encoding='ascii', newline='') as usage_file:
    USAGE = usage_file.read()
NOT_INSTALLED = 'No version of ZOLP is installed.\n'
UNREADABLE = ('Unable to read the ZOLP "Version" registry value.\n'
              'Appears that no version of ZOLP is installed.\n')
UNPARSABLE = ('Unable to parse version information out of the ZOLP "Version" '
              'registry value.\nAppears that no version of ZOLP is installed.\n')
LESS = 'Installed version of ZOLP is less than specified version.\n'
NOT_LESS = ('Installed version of ZOLP is equal to or greater than the specified '
            'version.\n')
MISSING = 'Error: Required VERSION parameter is missing.\n'


def installed(v): return f'The version of ZOLP installed is: {v}\n'
def specified(v): return f'The version of ZOLP specified is: {v}\n'
def invalid(word): return f'Error: Invalid command specified: {word}\n\n' + USAGE
def malformed(v):
    return ('Error: The format of the VERSION parameter is invalid.\n'
            f'       The specified VERSION parameter string is: {v}\n')


# The dispatch cases of test/end_to_end_test.cc. Arguments are bytes as Linux
# passes them; the non-ASCII word reaches the program in the ANSI code page
# (1252), so it is echoed as that, where native tarvex echoes the UTF-8 bytes.
DISPATCH = [
    ([], USAGE, 0),
    (['help'], USAGE, 0),
    (['HELP'], USAGE, 0),
    (['HeLp', 'more', 'words'], USAGE, 0),
    (['helpx'], invalid('helpx'), 1),
    (['hel'], invalid('hel'), 1),
    (['bogus', 'help'], invalid('bogus'), 1),
    ([''], invalid(''), 1),
    ([' help'], invalid(' help'), 1),
    (['h\u00e9lp\x01\x7f'], invalid('h\u00e9lp\x01\x7f'), 1),
    (['zolpversionlessthanx', '5.60'], invalid('zolpversionlessthanx'), 1),
    (['zolpversionlessthan'], MISSING, 3),
    (['ZOLPVERSIONLESSTHAN'], MISSING, 3),
]

V560 = '"Version"="5.60"'
# ChecksTheInstalledVersion of test/end_to_end_test.cc, grouped by the stored
# value (a .reg line; None: no ZOLP key at all). "nonsense" there is a value
# line whose data the reader cannot read, which it returns as empty data of
# type 0: here that is stored as such, hex(0) with no bytes.
VERSIONS = [
    (V560, [
        ('5.60', installed('5.60') + specified('5.60') + NOT_LESS, 2),
        ('5.61', installed('5.60') + specified('5.61') + LESS, 0),
        ('6.0', installed('5.60') + specified('6.0') + LESS, 0),
        ('5.59', installed('5.60') + specified('5.59') + NOT_LESS, 2),
        ('5.6', installed('5.60') + specified('5.6') + NOT_LESS, 2),
        ('4.99', installed('5.60') + specified('4.99') + NOT_LESS, 2),
        (' \t+05.060 and more', installed('5.60') + specified('5.60') + NOT_LESS, 2),
        ('5.60.', installed('5.60') + specified('5.60') + NOT_LESS, 2),
        ('5.60.x', installed('5.60') + specified('5.60') + NOT_LESS, 2),
        ('-1.0', installed('5.60') + specified('-1.0') + NOT_LESS, 2),
        ('5.-60', installed('5.60') + specified('5.-60') + NOT_LESS, 2),
        ('4294967301.0', installed('5.60') + specified('5.0') + NOT_LESS, 2),
        ('5.6.0', malformed('5.6.0'), 4),
        ('5.60.7.8', malformed('5.60.7.8'), 4),
        ('5.60. 7', malformed('5.60. 7'), 4),
        ('5 .60', malformed('5 .60'), 4),
        ('', malformed(''), 4),
    ]),
    ('"Version"="5.6.0"', [('5.60', installed('5.6') + specified('5.60') + LESS, 0)]),
    ('"version"=" 5.60 final"', [('5.61', installed('5.60') + specified('5.61') + LESS, 0)]),
    ('"Version"=hex(2):' + ','.join(f'{b:02x}' for b in utf16('7.1')),
     [('7.2', installed('7.1') + specified('7.2') + LESS, 0)]),
    ('"Version"=hex:35,2e,36,30', [('6.0', installed('5.60') + specified('6.0') + LESS, 0)]),
    ('"Version"="\uff15.\uff16\uff10"', [('5.61', installed('5.60') + specified('5.61') + LESS, 0)]),
    ('"Version"="' + ' ' * 255 + '1.2"', [('1.3', installed('1.2') + specified('1.3') + LESS, 0)]),
    ('"Version"="' + '5' * 260 + '"', [('5.60', UNREADABLE, 1)]),
    ('"Other"="5.60"', [('5.60', UNREADABLE, 1)]),
    ('"Version"="abc"', [('5.60', UNPARSABLE, 1)]),
    ('"Version"=""', [('5.60', UNPARSABLE, 1)]),
    ('"Version"=dword:00000005', [('5.60', UNPARSABLE, 1)]),
    ('"Version"=hex(0):', [('5.60', UNPARSABLE, 1)]),
    (None, [('6.0', NOT_INSTALLED, 1)]),
]


def check_run(what, out, code, want_out, want_code):
    if out != want_out or code != want_code:
        fail(f'{what}: exit {code} (want {want_code})\n    got:  {out!r}\n'
             f'    want: {want_out!r}')
        return False
    return True


def crlf(text):
    return text.replace('\n', '\r\n')


def check_native_agrees(native, prefix, args, what, exe_out, exe_code):
    """Runs the native tarvex with `args` on `prefix`, flushed, and checks that
    it prints what tarvex.exe printed, with LF line ends, and exits alike."""
    r = subprocess.run([os.path.join(native, 'tarvex')] + args, capture_output=True,
                       timeout=60, env={'WINEPREFIX': prefix.env['WINEPREFIX']})
    return check_run(f'native tarvex {what} against tarvex.exe', r.stdout.decode('latin-1'),
                     r.returncode, exe_out.replace('\r\n', '\n'), exe_code)


def run_tarvex_exe(prefix, exe, args):
    r = prefix.wine([exe] + args, check=False)
    return r.stdout.decode('cp1252'), r.returncode, r.stderr


def run_end_to_end(prefix, win64, native):
    exe = os.path.join(win64, 'tarvex.exe')
    passed = 0
    total = 0
    for args, want, code in DISPATCH:
        total += 1
        out, got_code, err = run_tarvex_exe(prefix, exe, args)
        passed += check_run(f'tarvex.exe {args!r}', out, got_code, crlf(want), code) and err == b''
    compared = 0
    for line, runs in VERSIONS:
        # Both views hold the same: tarvex.exe (64-bit here) reads the 64-bit
        # one, native tarvex the 32-bit one. One import in the 64-bit view
        # writes both: Wine 8's reg import deletes keys in the 64-bit view
        # whatever view it is given, so the 32-bit one is named by its place.
        body = ['Windows Registry Editor Version 5.00', '']
        for key in (ZOLP_KEY, ZOLP_KEY.replace('SOFTWARE', r'SOFTWARE\Wow6432Node')):
            body += ['[-HKEY_LOCAL_MACHINE\\' + key.rsplit('\\', 2)[0] + ']', '']
            if line is not None:
                body += ['[HKEY_LOCAL_MACHINE\\' + key + ']', line, '']
        with open(os.path.join(prefix.work, 'zolp.reg'), 'wb') as f:
            f.write(('\ufeff' + '\r\n'.join(body) + '\r\n').encode('utf-16-le'))
        prefix.wine(['reg', 'import', 'zolp.reg', '/reg:64'])
        exe_outs = []
        for version, want, code in runs:
            total += 1
            args = ['zolpversionlessthan', version, 'extra']
            out, got_code, err = run_tarvex_exe(prefix, exe, args)
            exe_outs.append((out, got_code))
            passed += check_run(f'tarvex.exe {args!r} with {line!r}', out, got_code,
                                crlf(want), code) and err == b''
        prefix.flush()
        for (version, _, _), (exe_out, exe_code) in zip(runs, exe_outs):
            compared += 1
            check_native_agrees(native, prefix, ['zolpversionlessthan', version, 'extra'],
                                f'{version!r} with {line!r}', exe_out, exe_code)
    print(f'end to end: {passed} of {total} tarvex.exe runs as expected; '
          f'{compared} native runs compared with tarvex.exe')


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    win64, native = (os.path.abspath(p) for p in sys.argv[1:])
    work = tempfile.mkdtemp(prefix='tarvex-wine-')
    prefix = Prefix(work)
    start = time.monotonic()
    try:
        # With 32-bit programs able to run (qemu-i386 registered), wineboot
        # sets up the prefix's 32-bit side too, emulated: several minutes.
        r = prefix.wine(['wineboot', '-i'], check=False, timeout=900)
        if not os.path.isdir(os.path.join(prefix.env['WINEPREFIX'], 'drive_c')):
            fail(f'wineboot made no prefix: {r.stderr!r}')
            return 1
        print(f'prefix ready in {time.monotonic() - start:.1f} s')
        run_differential(prefix, win64, native)
        run_units(prefix, win64, native)
        run_end_to_end(prefix, win64, native)
    finally:
        prefix.server('-k')
        shutil.rmtree(work, ignore_errors=True)
    print(f'{wine_starts} wine64 starts, {time.monotonic() - start:.1f} s, '
          f'{len(failures)} failures')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
