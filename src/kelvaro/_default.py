"""The default English index that ships inside the package.

The package holds the word list, not the index: SCOWL's American English
list as Debian packages it in wamerican-huge (data/english.txt.gz, notice in
data/english.LICENSE), about 350,000 words in under a megabyte. The index is
built from it on first use in a process, casefolded, which takes a few
tenths of a second and needs neither the network nor a writable directory.
"""

from __future__ import annotations

import functools
import gzip
from importlib import resources

from ._index import Index

WORD_LIST = "english.txt.gz"


@functools.lru_cache(maxsize=None)
def default_index() -> Index:
    """The default English index: casefolded, each word's value its line in
    the word list, counted from 0."""
    data = resources.files("kelvaro").joinpath("data").joinpath(WORD_LIST).read_bytes()
    words = [word for word in gzip.decompress(data).decode("utf-8").split("\n") if word]
    return Index.from_words(words, normalize=str.casefold)
