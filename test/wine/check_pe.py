#!/usr/bin/python3
"""Checks the shipped 32-bit tarvex.exe: a PE32 console program that needs
nothing but the system (KERNEL32, ADVAPI32, msvcrt), reads the registry with
the narrow functions and carries its version resource; it may be loaded at a
random address (DYNAMIC_BASE, with the relocations that needs) and its data
is not executable (NX_COMPAT); and it is stripped: no COFF symbol table, no
debugging sections.

usage: check_pe.py OBJDUMP TARVEX_EXE PROJECT_VERSION
"""
import re
import struct
import subprocess
import sys


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    objdump, exe, version = sys.argv[1:]
    dump = subprocess.run([objdump, '-p', exe], capture_output=True, text=True,
                          check=True).stdout
    problems = []
    magic = re.search(r'^Magic\s+(\S+)\s+\((\S+)\)', dump, re.M)
    if not magic or magic.group(2) != 'PE32':
        problems.append(f'not PE32: {magic.group(0) if magic else "no Magic line"}')
    subsystem = re.search(r'^Subsystem\s+\S+\s+\((.*)\)', dump, re.M)
    if not subsystem or subsystem.group(1) != 'Windows CUI':
        problems.append(f'not a console program: {subsystem.group(0) if subsystem else "no Subsystem line"}')
    dlls = {d.lower() for d in re.findall(r'DLL Name: (\S+)', dump)}
    if dlls != {'kernel32.dll', 'advapi32.dll', 'msvcrt.dll'}:
        problems.append(f'imports {sorted(dlls)}, not exactly kernel32, advapi32, msvcrt')
    for function in ('RegOpenKeyExA', 'RegQueryValueExA', 'RegCloseKey'):
        if not re.search(r'^\s+\S+\s+\d+\s+' + function + '$', dump, re.M):
            problems.append(f'does not import {function}')
    flags = re.search(r'^DllCharacteristics\s+([0-9a-fA-F]+)', dump, re.M)
    flags = int(flags.group(1), 16) if flags else 0
    for name, bit in (('DYNAMIC_BASE', 0x40), ('NX_COMPAT', 0x100)):
        if not flags & bit:
            problems.append(f'DllCharacteristics {flags:#06x} lack {name}')
    sections = re.findall(r'^\s*\d+\s+(\S+)\s+[0-9a-f]{8}\s',
                          subprocess.run([objdump, '-h', exe], capture_output=True,
                                         text=True, check=True).stdout, re.M)
    if '.reloc' not in sections:
        problems.append('no .reloc section: it cannot be loaded elsewhere')
    debug = [s for s in sections if s.startswith('.debug')]
    if debug:
        problems.append(f'not stripped: has {debug}')
    data = open(exe, 'rb').read()
    # The COFF file header follows the "PE\0\0" signature; after the machine,
    # the section count and the time stamp come the symbol table's offset
    # and its number of symbols.
    header = struct.unpack_from('<I', data, 0x3c)[0]
    symbols = struct.unpack_from('<II', data, header + 12)
    if data[header:header + 4] != b'PE\0\0':
        problems.append('no PE signature where the DOS header points')
    elif symbols != (0, 0):
        problems.append(f'not stripped: {symbols[1]} COFF symbols at {symbols[0]:#x}')
    for text in ('VS_VERSION_INFO', 'FileDescription', 'ProductName', 'tarvex',
                 version):
        if text.encode('utf-16-le') not in data:
            problems.append(f'version resource lacks "{text}"')
    for p in problems:
        print(f'FAIL: {exe}: {p}')
    if not problems:
        print(f'{exe}: PE32 console program, imports {sorted(dlls)}, '
              f'version resource {version}, DllCharacteristics {flags:#06x}, '
              f'stripped')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
