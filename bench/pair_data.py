"""Counts of English word pairs for measuring before the package ships its
own: symspellpy's bigram table (MIT; derived from Google Books n-grams,
CC BY 3.0), restricted to pairs of words the English index stores, and
brought to the scale of the index's counts by the ratio of the two tables'
counts of the words they share. Used by the bench and the tests alone."""

from __future__ import annotations

import functools
import os
from typing import Dict, List, Optional, Tuple


def symspell_folder() -> Optional[str]:
    """Where symspellpy's tables are, if it is installed."""
    try:
        import symspellpy
    except ImportError:
        return None
    return os.path.dirname(symspellpy.__file__)


def symspell_pairs(counts: Dict[str, int]) -> List[Tuple[str, str, int]]:
    """(first, second, count) for every bigram of symspellpy whose two words
    are keys of `counts` (casefolded words and their counts), each count
    made the share of its first word's count that the bigram has in
    symspellpy's tables, times the first word's count here.

    symspellpy's bigram counts come from a larger corpus than its unigram
    counts: a common word's bigrams add up to as much as 56 times its
    unigram count. Dividing by that factor keeps every word's shares below
    one, so that a pair is never likelier than its first word."""
    folder = symspell_folder()
    if folder is None:
        return []
    unigrams: Dict[str, int] = {}
    with open(os.path.join(folder, "frequency_dictionary_en_82_765.txt"), encoding="utf-8") as f:
        for line in f:
            word, count = line.split()
            unigrams[word] = int(count)
    bigrams = []
    rows: Dict[str, int] = {}
    with open(os.path.join(folder, "frequency_bigramdictionary_en_243_342.txt"), encoding="utf-8") as f:
        for line in f:
            first, second, count = line.split()
            bigrams.append((first, second, int(count)))
            rows[first] = rows.get(first, 0) + int(count)
    commonest = sorted(unigrams, key=unigrams.__getitem__, reverse=True)[:200]
    factor = max(rows.get(word, 0) / unigrams[word] for word in commonest)
    shared = [w for w in unigrams if counts.get(w, 0) > 0]
    overall = sum(counts[w] for w in shared) / sum(unigrams[w] for w in shared)
    pairs = []
    for first, second, count in bigrams:
        if first not in counts or second not in counts:
            continue
        share = count / factor / unigrams.get(first, count / factor)
        scaled = share * counts[first] if counts[first] else count / factor * overall
        pairs.append((first, second, max(1, round(scaled))))
    return pairs


@functools.lru_cache(maxsize=None)
def english_with_pairs():
    """The default English index, with pairs: its own if it ships them,
    else one built from the same words with symspellpy's."""
    import gzip
    from importlib import resources

    import kelvaro
    from kelvaro import Index

    index = kelvaro.default_index()
    if index._pair_total():
        return index
    data = resources.files("kelvaro").joinpath("data").joinpath("english-counts.txt.gz").read_bytes()
    counts = {}
    for line in gzip.decompress(data).decode("utf-8").splitlines():
        word, _, count = line.partition("\t")
        counts[word] = int(count)
    folded = {}
    for word, count in counts.items():
        folded[word.casefold()] = max(folded.get(word.casefold(), 0), count)
    return Index.from_words(counts, normalize=str.casefold, weighted=True, pairs=symspell_pairs(folded))
