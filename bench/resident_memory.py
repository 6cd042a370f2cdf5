"""Resident memory, and what one structure adds to a fresh interpreter.

The reading is taken in a process of its own (benchmark.py --measure-memory)
so that nothing the benchmark built before counts.
"""
import gc
import os
import subprocess
import sys

import _kelvaro
import kelvaro

HERE = os.path.dirname(os.path.abspath(__file__))


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure_memory(kind, path):
    """Run in a fresh interpreter: what one structure adds to the process."""
    gc.collect()
    before = resident_bytes()
    if kind == "trie":
        with open(path, "rb") as f:
            kept = _kelvaro.from_bytes(f.read())
        gc.collect()
        print(resident_bytes() - before)
    else:
        # An index, then what its first search adds: the reversed trie.
        kept = kelvaro.Index.load(path)
        gc.collect()
        loaded = resident_bytes()
        kept.search(next(iter(kept)), 1)
        gc.collect()
        print(loaded - before, resident_bytes() - loaded)


def memory_in_fresh_process(kind, path):
    output = subprocess.run(
        [sys.executable, os.path.join(HERE, "benchmark.py"), "--measure-memory", kind, path],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return [int(value) for value in output.split()]
