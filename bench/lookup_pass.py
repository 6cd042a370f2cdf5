"""The lookups of _kelvaro.PrefixSearch, timed per query; shared by the
benchmark and its PyPy pass.

    python bench/lookup_pass.py JOB.json     prints the times as JSON

The benchmark runs this file under PyPy, in a virtual environment that has
kelvaro and nothing else (PyPy cannot install the peers), with a job it
wrote: per dictionary, the path of its saved trie and the rows to time, each
a kind ("fuzzy" or "exact"), a distance and a list of queries. Under CPython
the benchmark calls time_rows directly, so both interpreters are measured in
exactly the same way.
"""
import json
import math
import sys
import time


def seconds_per_call(call, *args, target=50e-6, rounds=3):
    """Seconds per call: the fastest of `rounds` rounds, each repeating the
    call for at least `target` seconds. The first call tells how many
    repetitions that takes. A call of over 2 ms gets one round, and one of
    over 20 ms counts as timed: a call that long is measured well enough
    once, and more would add minutes to the run."""
    start = time.perf_counter()
    call(*args)
    first = time.perf_counter() - start
    if first > 20e-3:
        return first
    if first > 2e-3:
        rounds = 1
    repeats = max(1, math.ceil(target / max(first, 1e-9)))
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        for _ in range(repeats):
            call(*args)
        best = min(best, (time.perf_counter() - start) / repeats)
    return best


def time_row(trie, kind, max_dist, queries):
    """Seconds per query of one row, after a warm-up over its first queries
    (which lets PyPy's JIT compile the calling code before it is timed)."""
    if kind == "fuzzy":
        call, extra = trie.fuzzy_match, (max_dist, None)
    else:
        call, extra = trie.exact_match, ()
    for query in queries[:50]:
        call(query, *extra)
    return [seconds_per_call(call, query, *extra) for query in queries]


def main():
    import _kelvaro

    with open(sys.argv[1], encoding="utf-8") as f:
        job = json.load(f)
    times = {}
    for dictionary in job:
        with open(dictionary["trie"], "rb") as f:
            trie = _kelvaro.from_bytes(f.read())
        for row in dictionary["rows"]:
            times[row["key"]] = time_row(trie, row["kind"], row["max_dist"], row["queries"])
        del trie
    implementation = sys.implementation
    version = ".".join(map(str, implementation.version[:3]))
    json.dump({"interpreter": f"{implementation.name} {version}", "times": times}, sys.stdout)


if __name__ == "__main__":
    main()
