"""Counts of word pairs for an index, read from the package's data.

A pair file is gzip-compressed UTF-8 text, one pair a line,
`first<TAB>second<TAB>count`, the counts on the scale of the word list's
own counts, so that a pair's count over its first word's weighs how likely
the second is to follow it.
"""

from __future__ import annotations

import gzip
from importlib import resources
from typing import Container, Iterable, List, Optional, Tuple

Pair = Tuple[str, str, int]

ENGLISH_PAIRS = "english-pairs.txt.gz"


def read_pairs(data: bytes, stored: Container[str]) -> List[Pair]:
    """The pairs of a compressed pair file whose words are both in `stored`
    (the index's keys: its words as its normalisation makes them, so that
    Index.from_words takes every pair): a pair of another word list's words
    is left out, as is a line that is not two words and a count."""
    pairs: List[Pair] = []
    for line in gzip.decompress(data).decode("utf-8").splitlines():
        fields = line.split("\t")
        if len(fields) != 3 or not fields[2].isdigit():
            continue
        first, second, count = fields
        if first in stored and second in stored:
            pairs.append((first, second, int(count)))
    return pairs


def english_pairs(words: Iterable[str]) -> Optional[List[Pair]]:
    """The English pairs that the package ships, over the English index's
    words (spelled as the word list spells them, which is how the pair
    file spells them too), or None when it ships none. The
    English index takes them as
        Index.from_words(counts, normalize=str.casefold, weighted=True,
                         pairs=english_pairs(counts))
    """
    source = resources.files("kelvaro").joinpath("data").joinpath(ENGLISH_PAIRS)
    if not source.is_file():
        return None
    return read_pairs(source.read_bytes(), set(words))
