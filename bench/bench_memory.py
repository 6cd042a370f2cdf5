"""Issue 18: a compact index file that is mapped.

Keys: two-word phrases ("word1 word2") drawn at random, with a fixed seed,
from Debian's wamerican-huge, without repeats: 1,000,000 and 4,000,000 of
them (--quick: 100,000 and 400,000; --sizes picks others). The smaller set
is the start of the larger one.

Every figure comes from a fresh interpreter, so that no measurement inherits
the memory or the caches of another:

  a, b  Index.from_words(keys) and marisa_trie.Trie(keys): the build's time,
        and the memory that the build adds, then its first search
        (index.search(key, 1), which makes the lazily built tables; for
        marisa-trie, `key in trie`), then after malloc_trim(0), which hands
        the allocator's free pages (the build's scratch) back to the
        system. Memory is RSS (/proc/self/statm) and PSS
        (/proc/self/smaps_rollup), less what the process held with the keys
        read and nothing built. kelvaro as it was before this issue (an
        installed copy of commit BEFORE, given by --before-python) is built
        in the same way, alternating with today's.
  c     The saved index: Index.load(path) and its first search, timed in
        several fresh processes, the versions taking turns (the file is in
        the page cache: it was just written), and the memory they add, then
        after 2,000 searches at distance 1. marisa-trie's mmap of its own
        saved file is beside it.
  d     Sharing: 8 worker processes each load the same file and run the
        same 2,000 searches at distance 1, then wait on a pipe while this
        process reads each one's PSS; the PSS that the index added to the 8
        (each worker's PSS less its own PSS before loading, read while all 8
        were alive) is divided by the PSS it adds to one worker alone.
  e     index.memory_usage(), when the version has it: bytes per part.
  f     Speed against the version before: search at d=1 and d=2, suggest,
        complete(prefix, 1, 10) and from_words on wamerican-huge and on the
        generated CJK dictionary of word_lists.py. Each round starts a fresh
        process per version, and they time the same queries in blocks of 20,
        taking turns block by block (and build by build), so that a noisy
        moment of the machine falls on both. A query's time is the fastest
        of its rounds; a row gives the medians, and the median of the
        queries' ratios.

Run alone, it prints its section of BENCHMARKS.md:
    .venv-bench/bin/python bench/bench_memory.py [--quick] [--before-python PYTHON]
(`make bench-memory` does this, with the environment of the version before.)
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from memory_children import child_build, child_load, child_worker  # noqa: E402
from memory_measure import BEFORE, QUICK_SIZES, SIZES, measure  # noqa: E402
from memory_report import report  # noqa: E402
from speed_pass import child_serve  # noqa: E402


def section(quick=False, workdir=None, log=lambda message: print(message, file=sys.stderr), before_python=None,
            sizes=None):
    sizes = tuple(sorted(sizes or (QUICK_SIZES if quick else SIZES)))
    workdir = workdir or tempfile.mkdtemp(prefix="kelvaro-memory-")
    os.makedirs(workdir, exist_ok=True)
    if before_python and not os.path.exists(before_python):
        log(f"issue 18: {before_python} is missing; nothing is compared with the version before")
        before_python = None
    results = measure(sizes, quick, workdir, before_python, log)
    return report(results, sizes, quick, before_python)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--worker":
        child_worker(sys.argv[2], sys.argv[3])
        return
    if len(sys.argv) == 3 and sys.argv[1] == "--serve":
        with open(sys.argv[2], encoding="utf-8") as f:
            child_serve(json.load(f))
        return
    if len(sys.argv) == 4 and sys.argv[1] == "--child":
        with open(sys.argv[3], encoding="utf-8") as f:
            job = json.load(f)
        run = {"build": child_build, "load": child_load}[sys.argv[2]]
        json.dump(run(job), sys.stdout)
        return
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help=f"{QUICK_SIZES[0]:,} and {QUICK_SIZES[1]:,} keys")
    parser.add_argument("--sizes", help="numbers of keys, comma-separated")
    parser.add_argument("--before-python", help=f"a Python with kelvaro as it was at {BEFORE} installed")
    parser.add_argument("--workdir")
    parser.add_argument("--output", help="write the section to this file instead of printing it")
    args = parser.parse_args()
    sizes = [int(s.replace("_", "")) for s in args.sizes.split(",")] if args.sizes else None
    started = time.perf_counter()
    lines = section(args.quick, args.workdir, before_python=args.before_python, sizes=sizes,
                    log=lambda message: print(f"[{time.strftime('%H:%M:%S')}] {message}", file=sys.stderr,
                                              flush=True))
    lines.append(f"(This section took {(time.perf_counter() - started) / 60:.1f} minutes.)")
    if args.output:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
    else:
        print("\n".join(lines))


if __name__ == "__main__":
    main()
