"""kelvaro: a dictionary of words, searchable by edit distance.

    >>> import kelvaro
    >>> index = kelvaro.Index.from_words(["spelling", "spelt", "swelling"])
    >>> index.search("speling", max_dist=1)
    [Match(word='spelling', value=0, distance=1)]

Index builds, searches, saves, loads and pickles an index; default_index()
is a ready-made English one. The trie underneath is _kelvaro.PrefixSearch,
which importing kelvaro makes picklable.
"""

from ._default import default_index
from ._index import Index
from ._match import Match
from ._pickling import register as _register_pickling
from ._storage import FORMAT_VERSION
from ._text import Misspelling

__all__ = ["FORMAT_VERSION", "Index", "Match", "Misspelling", "default_index"]

_register_pickling()
