"""A short tour of kelvaro over the word list next to this file.

Builds an index from examples/words.txt, searches it with typos, saves it,
loads it back and searches again, then asks the kelvaro command the same
thing of the English index that ships inside the package.
"""
from __future__ import annotations

import os
import subprocess
import sys
import tempfile
import time
from typing import List

from kelvaro import Index, Match

HERE = os.path.dirname(os.path.abspath(__file__))
QUERIES = [("speling", 1), ("jalapeno", 1), ("acuracy", 2), ("tre", 1)]


def show(query: str, max_dist: int, matches: List[Match]) -> None:
    found = ", ".join(f"{m.word} ({m.distance})" for m in matches) or "nothing"
    print(f"  {query!r:<12} within {max_dist}: {found}")


def main() -> None:
    with open(os.path.join(HERE, "words.txt"), encoding="utf-8") as f:
        words = [line.strip() for line in f if line.strip()]

    started = time.perf_counter()
    index = Index.from_words(words, normalize=str.casefold)
    elapsed = time.perf_counter() - started
    print(f"Built an index of {len(index)} words ({index.node_count} trie nodes) in {elapsed * 1000:.1f} ms")
    print(f"  get('Spelling') = {index.get('Spelling')}, 'jalapeño' in index = {'jalapeño' in index}")

    print("\nSearching with typos, nearest first:")
    for query, max_dist in QUERIES:
        show(query, max_dist, index.search(query, max_dist, sorted=True))

    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "words.kvx")
        index.save(path)
        started = time.perf_counter()
        loaded = Index.load(path)
        elapsed = time.perf_counter() - started
        print(f"\nSaved to a file of {os.path.getsize(path)} bytes and loaded it back in {elapsed * 1000:.1f} ms:")
        for query, max_dist in QUERIES[:2]:
            show(query, max_dist, loaded.search(query, max_dist, sorted=True))
        same = all(loaded.search(q, d) == index.search(q, d) for q, d in QUERIES)
        print(f"  every answer the same as before: {same}")

    batch = [query for query, _ in QUERIES] * 50
    started = time.perf_counter()
    results = index.search_many(batch, 2, threads=2)
    elapsed = time.perf_counter() - started
    print(f"\n{len(batch)} queries on two threads in {elapsed * 1000:.0f} ms, {sum(map(len, results))} matches")

    print("\nThe command line, with the English index that ships inside the package:")
    command = [sys.executable, "-m", "kelvaro", "search", "speling", "-d", "1"]
    print("  $ kelvaro search speling -d 1")
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    print("".join(f"  {line}\n" for line in output.splitlines()), end="")


if __name__ == "__main__":
    main()
