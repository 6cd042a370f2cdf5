"""Building, saving and loading a kelvaro.Index, against peers timed in the same run.

    python bench/bench_build.py [--words N]      (default 1,000,000)

The words are the English list that ships with kelvaro, extended with
suffixed variants up to N. Every figure is the best of three runs; each
line compares kelvaro with a peer doing related work on the same words:

  build   Index.from_words over a list of str, sorted and shuffled, against
          dict(zip(words, range(n))) (a hash map of the same words) and
          sorted(words), and against the pure-Python builder of
          bench/trie_arrays.py plus from_internal_data.
  handoff the two ways a trie built elsewhere can enter _kelvaro, for the
          same trie: from_bytes of its binary form, and from_internal_data
          of four Python lists.
  files   Index.save and Index.load against reading the same number of
          bytes and pickling the list of words.
"""
import argparse
import gc
import gzip
import os
import pickle
import random
import sys
import tempfile
import time
from importlib import resources

import _kelvaro
from kelvaro import Index

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from trie_arrays import build_arrays  # noqa: E402

RUNS = 3


def best_of(function, runs=RUNS):
    """The shortest of `runs` timings of function(), and its last result."""
    best, result = float("inf"), None
    for _ in range(runs):
        gc.collect()
        started = time.perf_counter()
        result = function()
        best = min(best, time.perf_counter() - started)
    return best, result


def english_words(count):
    data = resources.files("kelvaro").joinpath("data").joinpath("english.txt.gz").read_bytes()
    base = [word for word in gzip.decompress(data).decode("utf-8").split("\n") if word]
    words = list(base)
    suffix = 0
    while len(words) < count:
        words.extend(f"{word}{suffix}" for word in base[: count - len(words)])
        suffix += 1
    return words[:count]


def report(name, seconds, count, peers):
    rate = count / seconds / 1e6
    ratios = ", ".join(f"{peer_seconds / seconds:.2f}x {peer}" for peer, peer_seconds in peers)
    print(f"  {name:<34} {seconds * 1000:8.1f} ms  {rate:5.2f} M words/s   speed vs {ratios}")


def bench_build(words):
    count = len(words)
    ordered = sorted(words)
    shuffled = list(words)
    random.Random(1).shuffle(shuffled)
    print(f"build: {count:,} words")
    for name, data in [("sorted", ordered), ("shuffled", shuffled)]:
        dict_seconds, _ = best_of(lambda: dict(zip(data, range(count))))
        sort_seconds, _ = best_of(lambda: sorted(data))
        peers = [("dict", dict_seconds), ("sorted()", sort_seconds)]
        seconds, _ = best_of(lambda: Index.from_words(data))
        report(f"from_words, {name}", seconds, count, peers)
        seconds, _ = best_of(lambda: Index.from_words(data, normalize=str.casefold))
        report(f"from_words casefold, {name}", seconds, count, peers)

    sample = shuffled[: min(count, 200_000)]
    python_seconds, _ = best_of(
        lambda: _kelvaro.from_internal_data(*build_arrays(sample, range(len(sample)))), runs=1
    )
    seconds, _ = best_of(lambda: Index.from_words(sample))
    report(f"from_words, {len(sample):,} shuffled", seconds, len(sample), [("pure-Python builder", python_seconds)])


def bench_handoff(words):
    sample = words[: min(len(words), 200_000)]
    arrays = build_arrays(sample, range(len(sample)))
    data = _kelvaro.from_internal_data(*arrays).to_bytes()
    lists_seconds, _ = best_of(lambda: _kelvaro.from_internal_data(*arrays))
    bytes_seconds, _ = best_of(lambda: _kelvaro.from_bytes(data))
    print(f"handoff: a trie of {len(arrays[0]):,} nodes ({len(sample):,} words)")
    print(
        f"  from_bytes {bytes_seconds * 1000:.1f} ms, from_internal_data of four lists "
        f"{lists_seconds * 1000:.1f} ms: {lists_seconds / bytes_seconds:.2f}x"
    )


def bench_files(words):
    index = Index.from_words(words)
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "words.kvx")
        save_seconds, _ = best_of(lambda: index.save(path))
        load_seconds, loaded = best_of(lambda: Index.load(path))
        assert len(loaded) == len(index)
        size = os.path.getsize(path)

        def read():
            with open(path, "rb") as file:
                return file.read()

        read_seconds, _ = best_of(read)
    pickled = pickle.dumps(words)
    unpickle_seconds, _ = best_of(lambda: pickle.loads(pickled))
    print(f"files: {len(words):,} words, {size / 2**20:.1f} MiB")
    print(f"  save {save_seconds * 1000:.1f} ms")
    print(
        f"  load {load_seconds * 1000:.1f} ms: {load_seconds / read_seconds:.1f}x reading the file, "
        f"{load_seconds / unpickle_seconds:.2f}x unpickling the list of words"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--words", type=int, default=1_000_000)
    args = parser.parse_args()
    words = english_words(args.words)
    implementation = sys.implementation.name
    print(f"{implementation} {sys.version.split()[0]}, best of {RUNS}\n")
    bench_build(words)
    bench_handoff(words)
    bench_files(words)


if __name__ == "__main__":
    main()
