#!/usr/bin/python3
"""The system.reg reader judged by Wine, on generated registry files.

A generator writes registry files the way a hand edit, another tool or a crash
can leave them, never the way Wine's own writer does: escaped and unclosed
section headers, sections that repeat and merge, value lines of every form,
continuation lines, comment and option lines, links and chains of them,
Wow6432Node at several depths, ends cut short. Each file is the prepared
prefix's own system.reg with the generated cases after it, every case under a
key of its own, so one Wine start answers them all; a case that spoils the
rest of its file (an end cut short) comes last, in a file of its own kind.

Every file is read twice: by the Linux reader (tarvex_regdump) before Wine has
touched it, and by RegQueryValueExA in a 64-bit Windows program asking for the
32-bit view (tarvex_regtool) in the prefix with that file. Every line of the
two dumps must be the same.

usage: reg_campaign.py WIN64_BUILD_DIR NATIVE_BUILD_DIR [--seed N] [--files N]
       [--show N] [--keep DIR]
Prints each disagreement (the case, its file text, both answers) and exits
non-zero when there is one.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

WINE = '/usr/lib/wine/wine64'
# A key of HKEY_LOCAL_MACHINE that has no Wow6432Node child, so that the
# cases choose where the 32-bit view is redirected.
ROOT = 'TarvexCampaign'


# --- Spelling names and strings the way a file may hold them -----------------

def octal(unit, next_char):
    digits = f'{unit:o}'
    if next_char is not None and next_char in '01234567':
        digits = digits.rjust(3, '0')
    return '\\' + digits


def hexesc(unit, next_char, rng):
    digits = f'{unit:x}'
    if rng.random() < 0.5:
        digits = digits.upper()
    if next_char is not None and next_char in '0123456789abcdefABCDEF':
        digits = digits.rjust(4, '0')
    elif rng.random() < 0.3:
        digits = digits.rjust(4, '0')
    return '\\x' + digits


def spell(text, rng, end, plain=False):
    """`text` as escaped file text for a string that ends with `end`: each
    character as itself (UTF-8 when non-ASCII), in another letter case or as
    an escape, at random."""
    out = []
    for i, ch in enumerate(text):
        nxt = text[i + 1] if i + 1 < len(text) else None
        unit = ord(ch)
        must = ch in ('\\', end, '\n', '\r', '\0') or (end == '"' and ch == '"')
        r = rng.random()
        if plain and not must:
            out.append(ch)
        elif must or r < 0.15:
            if ch == '\\' and rng.random() < 0.6:
                out.append('\\\\')
            elif unit <= 0o377 and rng.random() < 0.4:
                out.append(octal(unit, nxt))
            elif unit <= 0xffff:
                out.append(hexesc(unit, nxt, rng))
            else:
                out.append(ch)
        else:
            out.append(ch)
    return ''.join(out)


def recase(text, rng):
    return ''.join(c.swapcase() if (c.isascii() or c in NAME_CHARS_WIDE[:4]) and
                   rng.random() < 0.3 else c for c in text)


def header_path(elements, rng, plain=False):
    """A section header's path, the separators spelled in any way Wine reads."""
    parts = []
    for i, element in enumerate(elements):
        if i:
            r = rng.random()
            sep = '\\\\' if plain or r < 0.8 else ('\\x5c' if r < 0.9 else '\\134')
            if not plain and rng.random() < 0.05:
                sep += '\\\\'  # An empty element.
            parts.append(sep)
        parts.append(spell(recase(element, rng) if not plain else element, rng, ']', plain))
    return ''.join(parts)


def utf16_hex(text, nul=True):
    data = (text + ('\0' if nul else '')).encode('utf-16-le', 'surrogatepass')
    return data


def hex_list(data, rng, continued=True):
    """Bytes as a hex list, in any spacing Wine reads, over several lines."""
    items = []
    for b in data:
        digits = f'{b:02x}'
        if rng.random() < 0.2:
            digits = digits.upper()
        if rng.random() < 0.1:
            digits = f'{b:x}'
        items.append(digits)
    out = ''
    for i, item in enumerate(items):
        out += item
        if i + 1 < len(items):
            r = rng.random()
            out += ',' if r < 0.85 else (' ,' if r < 0.9 else (', ' if r < 0.95 else ' '))
            if continued and rng.random() < 0.08:
                out += rng.choice(['\\\n  ', '\\\n', '\\\r\n\t', '\\ \n  '])
    return out


# --- Cases ---------------------------------------------------------------------

class Case:
    def __init__(self, name):
        self.name = name
        self.text = ''
        self.queries = []  # (key, value name)
        # Why the reader may read this case differently from Wine, on purpose
        # (one of STATED), or None.
        self.stated = None

    def line(self, text):
        self.text += text + '\n'

    def section(self, path, rng, plain=False, tail=None):
        if tail is None:
            tail = rng.choice([' 1700000000', '', ' 1700000000 junk', '  12', ' x', ''])
        self.line('[' + header_path(path, rng, plain) + ']' + tail)

    def ask(self, key, value='Version'):
        self.queries.append((key, value))


NAME_CHARS = 'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .-_{}()'
# Letters beyond ASCII that the query can name (Latin-1, the same in code page
# 1252), in both cases.
NAME_CHARS_WIDE = 'éÉüÜÿ'


def random_name(rng, lo=1, hi=10):
    n = rng.randint(lo, hi)
    chars = NAME_CHARS + (NAME_CHARS_WIDE if rng.random() < 0.2 else '')
    s = ''.join(rng.choice(chars) for _ in range(n))
    return s.strip() or 'n'


def random_text(rng):
    """String data: ASCII text, escapes and the control characters."""
    r = rng.random()
    if r < 0.4:
        return rng.choice(['5.60', '1.2.3', '', ' 6.0 beta', '7', 'x'])
    chars = NAME_CHARS + '\\"\t[]=@#;,' + ('é€中５．\u2074\u3000' if rng.random() < 0.3 else '')
    return ''.join(rng.choice(chars) for _ in range(rng.randint(0, 20)))


def random_data(rng):
    """One value's data as file text, of any form."""
    r = rng.random()
    if r < 0.25:
        return '"' + spell(random_text(rng), rng, '"') + '"'
    if r < 0.35:
        n = rng.choice(['2', '7', '1', '0', '3', '4', '02', '8', 'b', 'x', ''])
        return f'str({n}):"' + spell(random_text(rng), rng, '"') + '"'
    if r < 0.5:
        data = bytes(rng.randrange(256) for _ in range(rng.randint(0, 12)))
        return 'hex:' + hex_list(data, rng)
    if r < 0.7:
        t = rng.choice(['0', '1', '2', '3', '4', '7', 'b', '100', '01', 'B', '80000000',
                        'ffffffff', '100000001', 'x', ''])
        if t in ('1', '2', '7', '01') and rng.random() < 0.7:
            data = utf16_hex(random_text(rng), nul=rng.random() < 0.7)
            if rng.random() < 0.2:
                data += b'\x35'
        else:
            data = bytes(rng.randrange(256) for _ in range(rng.randint(0, 10)))
        return f'hex({t}):' + hex_list(data, rng)
    if r < 0.85:
        digits = rng.choice(['00302e35', '5', '0', 'ffffffff', '100000000', '0000000100',
                             'zz', '', ' 35', '0x35', '35 junk', '-1', '+5', 'DEADbeef',
                             '123456789abcdef0'])
        return 'dword:' + digits
    return rng.choice(['garbage', 'hex', 'hex(', 'hex(2)', 'hex:35,,36', 'hex:350',
                       'hex:0x35', 'hex: 35', 'hex:35,100', 'hex:35;36', 'str(2)"a"',
                       'dword', 'dword 5', '"unterminated', 'hex:\\', 'hex(2):\\',
                       '"a"junk', 'str(7):"a\\0b\\0"', 'hex:35,\\ junk', 'hex:1000000035'])


# How the forms of value data start, each of which a line may end inside.
DATA_STARTS = ['"5.60"', 'str:"5.60"', 'str(2):"5.60"', 'str(7):"5.60"', 'hex:35,2e',
               'hex(2):35,00', 'dword:00302e35']


def cut_short(data, rng):
    """The data cut off anywhere, as at a line end a hand edit put there: half
    the time a form's start, so each place a form can end is met often."""
    if rng.random() < 0.5:
        data = rng.choice(DATA_STARTS)
    return data[:rng.randint(0, len(data))]


def value_line(name, data, rng):
    """A value line, its name spelled and the "=" spaced at random."""
    if name is None:
        left = '@'
    else:
        left = '"' + spell(recase(name, rng) if rng.random() < 0.3 else name, rng, '"') + '"'
    eq = rng.choice(['=', '=', '=', ' =', '= ', ' \t= \t', '\t='])
    lead = rng.choice([''] * 12 + [' ', '\t', '  '])
    return lead + left + eq + data


def option_lines(rng):
    return rng.sample(['#time=1d9a0f1e2b3c4d5', '; a comment', '', '#class="x"',
                       ';[Software\\\\Nope]', '#arch=win32', '  ; indented comment'],
                      rng.randint(0, 2))


def case_values(c, key, rng):
    """A key's section with a few values of every form; asks for each."""
    names = ['Version'] + [random_name(rng) for _ in range(rng.randint(0, 3))]
    c.section(key, rng)
    for o in option_lines(rng):
        c.line(o)
    for name in names:
        if rng.random() < 0.15:
            c.line(value_line(None, random_data(rng), rng))
        c.line(value_line(name, random_data(rng), rng))
        if rng.random() < 0.2:
            c.line(value_line(name, random_data(rng), rng))  # Again: the last wins.
    path = '\\'.join(key)
    for name in names:
        c.ask(path, name)
    c.ask(path, '')
    c.ask(path, 'Missing')


def gen_values(c, base, rng):
    case_values(c, base + [random_name(rng)], rng)


def gen_merge(c, base, rng):
    """One key in several sections, spelled differently, other keys between."""
    key = base + [random_name(rng, 3)]
    other = base + [random_name(rng, 3)]
    for i in range(rng.randint(2, 4)):
        c.section(key, rng)
        c.line(value_line('Version', random_data(rng), rng))
        if rng.random() < 0.5:
            c.line(value_line(f'V{i}', random_data(rng), rng))
        if rng.random() < 0.5:
            c.section(other if rng.random() < 0.5 else key + ['Sub'], rng)
            c.line(value_line('Version', random_data(rng), rng))
    path = '\\'.join(key)
    for q in (path, recase(path, rng), '\\'.join(other), path + '\\Sub'):
        c.ask(q)
    for i in range(4):
        c.ask(path, f'V{i}')


def gen_lines(c, base, rng):
    """Lines Wine's writer never writes: indented sections, values and options,
    continuations into other lines, headers with trailing text or no "]"."""
    key = base + ['K']
    forms = [
        lambda: c.line(rng.choice([' ', '\t', '  ']) + '[' + header_path(key, rng) + ']'),
        lambda: c.line('[' + header_path(key, rng)),  # No "]".
        lambda: c.line('[' + header_path(key, rng) + ' 1700000000'),
        lambda: c.line('[' + header_path(key + ['Sub'], rng) + ']'),
        lambda: c.line('[' + header_path(key, rng) + ']]'),
        lambda: c.line('[' + header_path(key, rng) + '\\\\]'),
        lambda: c.line(rng.choice(['', ' ', '\t']) + rng.choice(['#link', '#linkx', '# link'])),
        lambda: c.line(value_line('Version', random_data(rng), rng)),
        lambda: c.line(value_line('Version', 'hex:35,\\', rng)),
        lambda: c.line(value_line('Version', 'hex:35,36\\', rng)),
        lambda: c.line(value_line('Other', 'hex(2):35,00,\\', rng)),
        lambda: c.line(value_line('Version', cut_short(random_data(rng), rng), rng)),
        lambda: c.line(rng.choice(['  36,00,\\', '37,00', '', '; x', 'junk', '  ,\\'])),
        lambda: c.line(rng.choice(['"Version"', '"Version"="5.60', 'Version="5.60"',
                                   '"Version"=="5.60"', '"Ver"sion"="5.60"',
                                   '"Version"="5.60"\r', '"Version"="5.\r60"'])),
        lambda: c.line('\r'),
    ]
    c.section(key, rng)
    c.line(value_line('Version', '"1.0"', rng))
    for _ in range(rng.randint(2, 7)):
        rng.choice(forms)()
    path = '\\'.join(key)
    for q in (path, path + '\\Sub'):
        c.ask(q)
        c.ask(q, 'Other')
        c.ask(q, 'SymbolicLinkValue')


def gen_cut(c, base, rng):
    """A value line cut short right before a section line, in the key's own
    section and in one that is only read to tell where sections start."""
    key = base + ['K']
    other = base + ['Other']
    c.section(key, rng)
    c.line(value_line('Version', '"1.0"', rng))
    c.line(value_line('Version', cut_short(random_data(rng), rng), rng))
    c.section(other, rng)
    c.line(value_line('Version', cut_short(random_data(rng), rng), rng))
    c.section(key + ['Sub'], rng)
    c.line(value_line('Version', random_data(rng), rng))
    for q in (key, other, key + ['Sub']):
        c.ask('\\'.join(q))


def link_target(path, rng):
    """A link target naming `path`, spelled in any way Wine follows, or now and
    then one that names no key: returns it and whether it names `path`."""
    machine = rng.choice(['\\Registry\\Machine', '\\REGISTRY\\MACHINE', '\\registry\\machine'])
    tail = '\\' + path
    r = rng.random()
    if r < 0.05:
        tail = '\\\\' + path
    elif r < 0.1:
        tail += '\\'
    elif r < 0.13:
        return '\\Registry\\\\Machine' + tail, False  # Wine finds no key there.
    elif r < 0.16:
        return '\\Registry\\User\\' + path, False
    elif r < 0.19:
        return machine + 'x' + tail, False
    return machine + tail, True


def link_value(target, rng):
    """A SymbolicLinkValue's data; a NUL after the target, which Wine keeps
    as part of the last name, makes it name no key."""
    r = rng.random()
    nul = rng.random() < 0.2
    if r < 0.85:
        return 'hex(6):' + hex_list(utf16_hex(target, nul), rng), not nul
    if r < 0.92:
        return '"' + spell(target, rng, '"') + '"', False
    return 'hex(1):' + hex_list(utf16_hex(target, nul), rng), not nul


def gen_links(c, base, rng):
    """Links, chains of links, sections below a link, links to nowhere."""
    names = [f'L{i}' for i in range(rng.randint(1, 3))]
    target = base + ['T']
    c.section(target + ['Sub'], rng, plain=True)
    c.line('"Version"="target"')
    c.section(target, rng, plain=True)
    c.line('"Version"="target key"')
    for i, name in enumerate(names):
        nxt = names[i + 1] if i + 1 < len(names) else None
        dest = base + [nxt] if nxt else target
        if rng.random() < 0.15:
            dest = base + [rng.choice(names)]  # A cycle.
        if rng.random() < 0.1:
            dest = base + ['Missing']
        below = rng.random() < 0.3
        if below and rng.random() < 0.5:
            c.section(base + [name, 'Sub'], rng)  # Before the link's own section.
            c.line('"Version"="below the link"')
        c.section(base + [name], rng)
        if rng.random() < 0.9:
            c.line(rng.choice(['#link'] * 6 + [' #link', '#linked', '#lin']))
        for o in option_lines(rng):
            c.line(o)
        name_form = rng.choice(['SymbolicLinkValue'] * 5 + ['symboliclinkvalue', 'SymbolicLink'])
        target, names_it = link_target('\\'.join(dest), rng)
        data, whole = link_value(target, rng)
        c.line(value_line(name_form, data, rng))
        if dest[-1] not in ('T', nxt) or not names_it or not whole:
            c.stated = 'a link to no key'

        if rng.random() < 0.3:
            c.line('"Version"="on the link"')
        if below and rng.random() < 0.7:
            c.section(base + [name, 'Sub'], rng)
            c.line('"Version"="below the link"')
            c.stated = c.stated or 'a section below a link'
        if rng.random() < 0.1:
            c.section(base + [name, 'Wow6432Node', 'Sub'], rng)
            c.line('"Version"="wow below the link"')
            c.stated = c.stated or 'a section below a link'
    for name in names:
        p = '\\'.join(base + [name])
        c.ask(p)
        c.ask(p + '\\Sub')
        c.ask(p + '\\Sub\\Deeper')
        c.ask(p, 'SymbolicLinkValue')


def gen_wow(c, base, rng):
    """Wow6432Node at several depths, with or without the 64-bit twin."""
    a, b, d = 'A', 'B', 'D'
    layouts = [[a, b], [a, 'Wow6432Node', b], ['Wow6432Node', a, b], [a, b, 'Wow6432Node'],
               [a, 'Wow6432Node', 'Wow6432Node', b], [a, 'Wow6432Node', b, 'Wow6432Node', d],
               [a, b, d], [a, 'wow6432node', b, d], ['WOW6432NODE', a], [a, 'Wow6432Nodex', b]]
    chosen = rng.sample(layouts, rng.randint(1, 4))
    for layout in chosen:
        c.section(base + layout, rng)
        c.line('"Version"="' + '/'.join(layout) + '"')
        if rng.random() < 0.2:
            c.line('"SymbolicLinkValue"=hex(6):' +
                   hex_list(utf16_hex('\\Registry\\Machine\\' + '\\'.join(base + [a])), rng))
            if rng.random() < 0.7:
                c.line('#link')  # Its target ends in a NUL.
                c.stated = 'a link to no key'
    for q in ([a], [a, b], [a, b, d], [a, 'Wow6432Node', b], [a, 'Wow6432Node'],
              ['Wow6432Node', a], [a, 'wow6432node', b, d]):
        c.ask('\\'.join(base + q))


def gen_under_wow(c, base, rng):
    """A key that only the 32-bit view sees, the whole tree redirected."""
    name = random_name(rng, 3)
    c.section(['Software', 'Wow6432Node'] + base + [name], rng)
    c.line(value_line('Version', random_data(rng), rng))
    if rng.random() < 0.5:
        c.section(['Software'] + base + [name], rng)
        c.line(value_line('Version', random_data(rng), rng))
    c.ask('\\'.join(['Software'] + base + [name]))
    c.ask('\\'.join(['Software', 'Wow6432Node'] + base + [name]))


def gen_strings(c, base, rng):
    """Escapes and raw bytes in value names and string data."""
    key = base + ['S']
    c.section(key, rng)
    pieces = ['\\x35', '\\x2E', '\\066', '\\60', '\\q', '\\\\', '\\"', '\\t', '\\x4142',
              '\\x', '\\xg', '\\0', '\\08', '\\400', '\\777', '\\a\\b\\e\\f\\n\\r\\v',
              '5', '.', '60', ' ', '\\x00350', '\\]']
    for i in range(rng.randint(1, 4)):
        data = ''.join(rng.choice(pieces) for _ in range(rng.randint(0, 6)))
        c.line(f'"V{i}"="{data}"')
        c.ask('\\'.join(key), f'V{i}')
    name = random_name(rng, 2, 6)
    c.line('"' + spell(name, rng, '"') + '"="named"')
    c.ask('\\'.join(key), name)


GENERATORS = [gen_values] * 4 + [gen_merge] * 2 + [gen_lines] * 3 + [gen_links] * 3 + \
    [gen_wow] * 2 + [gen_under_wow, gen_strings, gen_cut]

# Ends cut short, each the last text of its file.
TAILS = [
    '[{k}] 1\n"Version"="5.60"',
    '[{k}] 1\n"Version"="5.60',
    '[{k}] 1\n"Version"=hex:35,2e,\\',
    '[{k}] 1\n"Version"=hex:35,2e,\\\n',
    '[{k}] 1\n"Version"=hex:35,2e,\\\n36,',
    '[{k}] 1\n"Version"=hex:35,2e,\\\n36,30',
    '[{k}] 1\n"Version"=dword:0000',
    '[{k}] 1\n"Version"=str(2):"5.60',
    '[{k}] 1\n"Version"="5.60"\r',
    '[{k}] 1\n"Version"',
    '[{k}] 1\n"Vers',
    '[{k}] 1\n@=',
    '[{k}',
    '[{k}]',
    '[{k}\\\\',
    '[{k}] 1\n#link',
    '[{k}] 1\n"Version"="5.60"\n[{k}',
    '[{k}] 1\n"Version"="5.60"\n[{k}\\\\Sub',
]


def make_file(rng, index, cases_per_file):
    cases = []
    for i in range(cases_per_file):
        name = f'f{index}c{i}'
        gen = rng.choice(GENERATORS)
        c = Case(f'{name} ({gen.__name__[4:]})')
        gen(c, ROOT.split('\\') + [name], rng)
        if rng.random() < 0.1:
            c.text = c.text.replace('\n', '\r\n')
        c.text += '\n'
        cases.append(c)
    # The file's last case, which may end the file anywhere.
    c = Case(f'f{index}tail (end)')
    key = ROOT + '\\' + f'f{index}tail'
    tail = rng.choice(TAILS)
    c.text = tail.replace('{k}', key.replace('\\', '\\\\'))
    c.ask(key)
    c.ask(key + '\\Sub')
    cases.append(c)
    return cases


# Where the reader reads a case differently from Wine on purpose, and why.
# Wine does both while it loads the file or follows a link, and both lead a
# program to a key the file does not put there; the reader reads the file as
# it stands.
STATED = {
    # Wine creates the keys of a section line through every link the file has
    # set up before that line, so a section below a link key, after it, fills
    # the link's target instead. The reader takes a section for the key it
    # names: following Wine would mean resolving every section line of the file
    # against every link before it, in a pass that now gives most lines up
    # after a few bytes.
    'a section below a link',
    # A link whose target names no key stands, in Wine, for the key that holds
    # the link: its values are read as the values of the key asked for, and a
    # path goes on below it as if the link were not there. A cycle of links
    # fails with ERROR_INVALID_PARAMETER. Reading another key's values as the
    # one asked for is plainly unsound; the reader finds no key, which the
    # program takes as no ZOLP, as it takes every failure to open.
    'a link to no key',
}


# --- Running -------------------------------------------------------------------

class Wine:
    def __init__(self, work, prefix):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all',
                        WINEDLLOVERRIDES='mscoree,mshtml=', LC_ALL='C')
        for var in ('DISPLAY', 'WAYLAND_DISPLAY', 'LANG', 'LANGUAGE'):
            self.env.pop(var, None)
        self.work = work

    def run(self, args, timeout=600):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            r = subprocess.run([WINE] + args, env=self.env, cwd=self.work,
                               stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return r.returncode, out.read(), err.read()

    def server(self, *flags):
        subprocess.run(['wineserver'] + list(flags), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, timeout=300, check=False)

    def stop(self):
        self.server('-k')
        self.server('-w')

    def system_reg(self):
        return os.path.join(self.env['WINEPREFIX'], 'system.reg')


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('win64')
    ap.add_argument('native')
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--files', type=int, default=10)
    ap.add_argument('--cases', type=int, default=40, help='cases a file, besides its end')
    ap.add_argument('--show', type=int, default=20, help='disagreements printed in full')
    ap.add_argument('--keep', help='folder to keep the files that disagree in')
    ap.add_argument('--prefix', help='a prepared win64 prefix to use in place of a new one; '
                    'its system.reg is put back at the end')
    args = ap.parse_args()
    regtool = os.path.join(os.path.abspath(args.win64), 'tarvex_regtool.exe')
    regdump = os.path.join(os.path.abspath(args.native), 'tarvex_regdump')
    for tool in (regtool, regdump):
        if not os.path.isfile(tool):
            print(f'FAIL: step "find the tools": {tool} is missing (build it first)')
            return 1
    start = time.monotonic()
    work = tempfile.mkdtemp(prefix='tarvex-campaign-')
    wine = Wine(work, os.path.abspath(args.prefix) if args.prefix else os.path.join(work, 'prefix'))
    rng = random.Random(args.seed)
    files = cases_total = queries_total = 0
    disagreements = []
    own = None
    found = opened = 0
    stated = {}
    try:
        if not args.prefix:
            code, out, err = wine.run(['wineboot', '-i'])
            wine.stop()
        if not os.path.isfile(wine.system_reg()):
            print(f'FAIL: step "make the prefix": no system.reg in {wine.env["WINEPREFIX"]}')
            return 1
        with open(wine.system_reg(), 'rb') as f:
            own = f.read()
        print(f'prefix ready in {time.monotonic() - start:.1f} s')
        keys_file = os.path.join(work, 'keys.txt')
        for index in range(args.files):
            cases = make_file(rng, index, args.cases)
            text = own + b'\n' + ''.join(c.text for c in cases).encode('utf-8', 'surrogatepass')
            with open(wine.system_reg(), 'wb') as f:
                f.write(text)
            queries = [(c, q) for c in cases for q in c.queries]
            with open(keys_file, 'wb') as f:
                for _, (key, value) in queries:
                    f.write(f'{key}\t{value}\n'.encode('latin-1'))
            linux = subprocess.run([regdump, wine.system_reg(), keys_file],
                                   capture_output=True, timeout=300)
            code, out, err = wine.run([regtool, 'dump', keys_file])
            wine.stop()
            wine_lines = out.decode('latin-1').replace('\r\n', '\n').splitlines()
            linux_lines = linux.stdout.decode('latin-1').splitlines()
            if (linux.returncode != 0 or code != 0 or len(wine_lines) != len(queries)
                    or len(linux_lines) != len(queries)):
                print(f'FAIL: step "dump file {index}": wine exit {code}, '
                      f'{len(wine_lines)} lines, linux exit {linux.returncode}, '
                      f'{len(linux_lines)} lines, {len(queries)} asked; {err[-500:]!r}')
                return 1
            files += 1
            cases_total += len(cases)
            queries_total += len(queries)
            found += sum(1 for w in wine_lines if w.startswith('open=0 query=0'))
            opened += sum(1 for w in wine_lines if w.startswith('open=0'))
            bad_cases = {}
            for (c, q), w, l in zip(queries, wine_lines, linux_lines):
                if w != l:
                    bad_cases.setdefault(c.name, (c, []))[1].append((q, w, l))
            for name, (c, diffs) in bad_cases.items():
                if c.stated in STATED:
                    stated[c.stated] = stated.get(c.stated, 0) + 1
                    continue
                disagreements.append((c, diffs))
                if len(disagreements) <= args.show:
                    print(f'DISAGREE: case {name}, file text:\n{c.text!r}')
                    for (key, value), w, l in diffs:
                        print(f'    {key} [{value}]\n      wine:  {w}\n      linux: {l}')
            if args.keep and bad_cases:
                os.makedirs(args.keep, exist_ok=True)
                shutil.copy(wine.system_reg(), os.path.join(args.keep, f'file{index}.reg'))
                shutil.copy(keys_file, os.path.join(args.keep, f'file{index}.keys'))
    finally:
        wine.stop()
        if args.prefix and own is not None:
            with open(wine.system_reg(), 'wb') as f:
                f.write(own)
        shutil.rmtree(work, ignore_errors=True)
    kinds = {}
    for c, _ in disagreements:
        kind = c.name.split('(')[1].rstrip(')')
        kinds[kind] = kinds.get(kind, 0) + 1
    print(f'campaign seed {args.seed}: {files} files, {cases_total} cases, {queries_total} '
          f'queries ({opened} keys opened, {found} values read), {len(disagreements)} cases disagree {kinds or ""}, '
          f'{time.monotonic() - start:.1f} s')
    for reason, count in sorted(stated.items()):
        print(f'  read differently on purpose: {count} cases with {reason}')
    return 1 if disagreements else 0


if __name__ == '__main__':
    sys.exit(main())
