"""Timing calls, and the figures drawn from their times."""
import gc
import statistics
import time


def median(values):
    return statistics.median(values) if values else float("nan")


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def best_of(call, runs):
    """The shortest of `runs` timings of call(), each after a collection."""
    best = float("inf")
    for _ in range(runs):
        gc.collect()
        start = time.perf_counter()
        kept = call()
        best = min(best, time.perf_counter() - start)
        del kept
    return best


def native_share(walk_timer, index, kind, words, *args):
    """The C++ lookup behind suggest or complete (the index's WordIndex),
    timed alone on the same words' keys: what is left of the public call's
    time goes to Python."""
    trie = walk_timer.load(index.trie.to_bytes())
    keys = [index.normalize(w) if index.normalize else w for w in words]
    return [ns / 1e9 for ns in walk_timer.time_index(trie, kind, keys, *args, index.weighted, 3)]
