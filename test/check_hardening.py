#!/usr/bin/python3
"""Checks that the native Release tarvex is built hardened.

The program file: a static position-independent executable (ELF type DYN, no
interpreter, no shared libraries needed), full RELRO (a GNU_RELRO segment and
BIND_NOW), a stack that is not executable, no symbol table, and the compile
switches it records (.GCC.command.line) all carrying the stack protector,
stack clash protection and control-flow protection.

Its objects, the code those switches produced: the canary check of the stack
protector (calls to __stack_chk_fail), and the CET property note (IBT, SHSTK)
on each. The linked program cannot carry that note on Debian 12, whose libc.a
and start files lack it (`-Wl,-z,cet-report=warning` lists them). Fortify
leaves no mark in this code, which makes no call whose buffer size the
compiler knows; so each object's compile command, from compile_commands.json,
is run again on its source through the preprocessor, which must then define
__USE_FORTIFY_LEVEL 3 (it stays undefined without optimisation).

usage: check_hardening.py PROGRAM COMPILE_COMMANDS_JSON OBJECT...
"""
import json
import os
import re
import shlex
import subprocess
import sys

# As gcc records them: -fcf-protection stands for -fcf-protection=full.
PROTECTION_SWITCHES = ('-fstack-protector-strong', '-fstack-clash-protection',
                       '-fcf-protection=full')


def run(argv, cwd=None):
    return subprocess.run(argv, capture_output=True, text=True, check=True,
                          cwd=cwd).stdout


def check_program(path):
    problems = []
    header = run(['readelf', '-W', '-h', path])
    elf_type = re.search(r'^\s*Type:\s+(\S+)', header, re.M)
    if not elf_type or elf_type.group(1) != 'DYN':
        problems.append('ELF type is not DYN (position independent): '
                        + (elf_type.group(0).strip() if elf_type else 'no Type line'))
    segments = run(['readelf', '-W', '-l', path])
    if re.search(r'^\s*INTERP\s', segments, re.M):
        problems.append('has a PT_INTERP segment: not statically linked')
    if not re.search(r'^\s*GNU_RELRO\s', segments, re.M):
        problems.append('has no PT_GNU_RELRO segment')
    stack = re.search(r'^\s*GNU_STACK\s.*$', segments, re.M)
    if not stack:
        problems.append('has no PT_GNU_STACK segment: the stack would be executable')
    # Type, offset, two addresses, two sizes, the flags (R, W, E), alignment.
    elif 'E' in ''.join(stack.group(0).split()[6:-1]):
        problems.append(f'the stack is executable: {stack.group(0).strip()}')
    dynamic = run(['readelf', '-W', '-d', path])
    needed = re.findall(r'\(NEEDED\).*', dynamic)
    if needed:
        problems.append(f'needs shared libraries: {needed}')
    if not (re.search(r'\(FLAGS\)\s.*\bBIND_NOW\b', dynamic)
            or re.search(r'\(FLAGS_1\)\s.*\bNOW\b', dynamic)):
        problems.append('no BIND_NOW in DT_FLAGS nor NOW in DT_FLAGS_1: '
                        'RELRO is partial')
    sections = run(['readelf', '-W', '-S', path])
    if re.search(r'\]\s+\.symtab\s', sections):
        problems.append('has a symbol table: not stripped')
    if not re.search(r'\]\s+\.GCC\.command\.line\s', sections):
        problems.append('records no compile switches (.GCC.command.line)')
    else:
        records = re.findall(r'^\s*\[\s*\w+\]\s+(.*)$',
                             run(['readelf', '-p', '.GCC.command.line', path]),
                             re.M)
        for record in records or ['(none)']:
            switches = {'-fcf-protection=full' if s == '-fcf-protection' else s
                        for s in record.split()}
            lacking = [s for s in PROTECTION_SWITCHES if s not in switches]
            if lacking:
                problems.append(f'compiled without {lacking}: {record}')
    return problems


def compile_commands_by_output(json_path):
    """Each object's compile command, split, and the directory it runs in."""
    commands = {}
    for entry in json.load(open(json_path)):
        argv = shlex.split(entry['command'])
        output = os.path.join(entry['directory'], argv[argv.index('-o') + 1])
        commands[os.path.realpath(output)] = (argv, entry['directory'])
    return commands


def fortify_level(argv, directory):
    """The __USE_FORTIFY_LEVEL that an object's compile command gives."""
    at = argv.index('-o')
    preprocess = [a for a in argv[:at] + argv[at + 2:] if a != '-c']
    macros = run(preprocess + ['-E', '-dM'], cwd=directory)
    level = re.search(r'^#define __USE_FORTIFY_LEVEL (\d+)$', macros, re.M)
    return level.group(1) if level else None


def check_objects(objects, commands):
    problems = []
    protected = 0
    for path in objects:
        name = os.path.basename(path)
        if ' __stack_chk_fail' in run(['nm', '-u', path]) + '\n':
            protected += 1
        notes = run(['readelf', '-W', '-n', path])
        if not re.search(r'x86 feature: IBT, SHSTK', notes):
            problems.append(f'{name}: no CET property note (IBT, SHSTK)')
        command = commands.get(os.path.realpath(path))
        if not command:
            problems.append(f'{name}: not in compile_commands.json')
            continue
        level = fortify_level(*command)
        if level != '3':
            problems.append(f'{name}: __USE_FORTIFY_LEVEL is {level or "undefined"}'
                            ', not 3')
    if not protected:
        problems.append('no object calls __stack_chk_fail: no stack protector')
    return problems, protected


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    program, json_path = sys.argv[1:3]
    # CMake hands a list of objects over as one argument joined by ';'.
    objects = [o for arg in sys.argv[3:] for o in arg.split(';') if o]
    problems = [f'{program}: {p}' for p in check_program(program)]
    object_problems, protected = check_objects(
        objects, compile_commands_by_output(json_path))
    problems += object_problems
    for p in problems:
        print(f'FAIL: {p}')
    if problems:
        return 1
    print(f'{program}: static PIE, full RELRO, stack not executable, stripped, '
          f'compiled with {" ".join(PROTECTION_SWITCHES)}; '
          f'{len(objects)} objects with the CET note and __USE_FORTIFY_LEVEL 3, '
          f'{protected} of them calling __stack_chk_fail')
    return 0


if __name__ == '__main__':
    sys.exit(main())
