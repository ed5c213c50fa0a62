#!/usr/bin/env python3
"""Times whole processes against /bin/true, alternating, and reports medians.

Usage: measure.py RUNS NAME -- COMMAND... [:: NAME -- COMMAND...]
Each round starts /bin/true and every command once, in turn, so that the
machine's drift affects all alike.
"""
import os
import statistics
import sys
import time

runs = int(sys.argv[1])
specs, group = [], []
for arg in sys.argv[2:] + ["::"]:
    if arg != "::":
        group.append(arg)
        continue
    assert len(group) >= 3 and group[1] == "--", group
    specs.append((group[0], group[2:]))
    group = []
commands = [("/bin/true", ["/bin/true"])] + specs
devnull = os.open(os.devnull, os.O_WRONLY)


def run(argv):
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
    os.waitpid(pid, 0)
    return time.perf_counter() - start


times = {name: [] for name, _ in commands}
for name, argv in commands:  # Warm the caches.
    for _ in range(5):
        run(argv)
for _ in range(runs):
    for name, argv in commands:
        times[name].append(run(argv))
base = statistics.median(times["/bin/true"])
print("%-28s %10s %8s" % ("command", "median ms", "ratio"))
for name, _ in commands:
    median = statistics.median(times[name])
    print("%-28s %10.3f %8.3f" % (name, median * 1e3, median / base))
