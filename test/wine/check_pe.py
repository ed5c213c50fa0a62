#!/usr/bin/python3
"""Checks the shipped 32-bit tarvex.exe: a PE32 console program that needs
nothing but the system (KERNEL32, ADVAPI32, msvcrt), reads the registry with
the narrow functions and carries its version resource.

usage: check_pe.py OBJDUMP TARVEX_EXE PROJECT_VERSION
"""
import re
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
    data = open(exe, 'rb').read()
    for text in ('VS_VERSION_INFO', 'FileDescription', 'ProductName', 'tarvex',
                 version):
        if text.encode('utf-16-le') not in data:
            problems.append(f'version resource lacks "{text}"')
    for p in problems:
        print(f'FAIL: {exe}: {p}')
    if not problems:
        print(f'{exe}: PE32 console program, imports {sorted(dlls)}, '
              f'version resource {version}')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
