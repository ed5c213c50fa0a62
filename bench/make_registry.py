#!/usr/bin/env python3
"""Writes a system.reg shaped like the one of a fresh win64 Wine prefix.

Usage: make_registry.py OUT SECTIONS KEY_FRACTION
A fresh prefix has about 8,700 sections in 1.7 MB; ZOLP's key is put at
KEY_FRACTION of the way in (0.97, or 1.0 for the very end), under
Software\\Wow6432Node as a 32-bit installer would have written it.
"""
import random
import sys

out, sections, fraction = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
rng = random.Random(1)
roots = [("Software\\\\Classes", 40), ("Software\\\\Microsoft\\\\Windows\\\\CurrentVersion", 12),
         ("Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion", 8),
         ("Software\\\\Wow6432Node\\\\Classes", 25), ("Software\\\\Wow6432Node\\\\Microsoft", 8),
         ("System\\\\CurrentControlSet\\\\Services", 4), ("System\\\\ControlSet001\\\\Control", 3)]
weights = [w for _, w in roots]


def name():
    kind = rng.random()
    if kind < 0.4:
        return "{%08X-%04X-%04X-%04X-%012X}" % tuple(rng.getrandbits(b) for b in (32, 16, 16, 16, 48))
    return "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 14)))


paths = []
for _ in range(sections):
    root = rng.choices(roots, weights)[0][0]
    paths.append(root + "".join("\\\\" + name() for _ in range(rng.randint(1, 3))))
paths.sort(key=str.lower)

zolp = ("[Software\\\\Wow6432Node\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1796966759\n"
        "#time=1dd89301ab6f24e\n\"Version\"=\"5.60\"\n\n")
key_at = int(len(paths) * fraction)
with open(out, "w", newline="\n") as f:
    f.write("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n")
    f.write("[Software\\\\Wow6432Node\\\\Policies] 1796966759\n#time=1dd89301ab6f24e\n#link\n"
            "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,00,5c,00\n\n")
    for i, path in enumerate(paths):
        if i == key_at:
            f.write(zolp)
        f.write("[%s] 1796966759\n#time=1dd89301%07x\n" % (path, rng.getrandbits(28)))
        for _ in range(rng.choice((0, 1, 2, 2, 3))):
            if rng.random() < 0.7:
                f.write("\"%s\"=\"%s\"\n" % (name(), name()))
            else:
                f.write("\"%s\"=dword:%08x\n" % (name(), rng.getrandbits(32)))
        f.write("\n")
    if key_at >= len(paths):
        f.write(zolp)
