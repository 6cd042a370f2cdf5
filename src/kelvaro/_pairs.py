"""Counts of word pairs for an index, read from the package's data.

A pair file is gzip-compressed UTF-8 text, one pair a line,
`first<TAB>second<TAB>count`, the counts on the scale of the word list's
own counts, so that a pair's count over its first word's weighs how likely
the second is to follow it.
"""

from __future__ import annotations

import gzip
from typing import Container, List, Tuple

Pair = Tuple[str, str, int]


def read_pairs(data: bytes, stored: Container[str]) -> List[Pair]:
    """The pairs of a compressed pair file whose words are both in `stored`
    (the index's words as given): a pair of another word list's words is
    left out, as is a line that is not a pair and a count."""
    pairs: List[Pair] = []
    for line in gzip.decompress(data).decode("utf-8").splitlines():
        fields = line.split("\t")
        if len(fields) != 3 or not fields[2].isdigit():
            continue
        first, second, count = fields
        if first in stored and second in stored:
            pairs.append((first, second, int(count)))
    return pairs
