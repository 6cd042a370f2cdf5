"""Index: a dictionary of words searchable by edit distance."""

from __future__ import annotations

import operator
from typing import (
    Any,
    Callable,
    Iterable,
    Iterator,
    List,
    Mapping,
    NamedTuple,
    Optional,
    Tuple,
    TypeVar,
    Union,
    overload,
)

import _kelvaro

from . import _builder, _building, _normalization, _storage
from ._building import Parts
from ._normalization import Normalize
from ._storage import PathArg

# Counts are held as unsigned 64-bit integers by the native search; nothing
# is ever farther or more numerous than that.
_MAX_COUNT = 2**64 - 1

T = TypeVar("T")


class Match(NamedTuple):
    """One search result: a stored word as it was given, its value, and its
    edit distance from the query (after normalisation, if the index has one)."""

    word: str
    value: int
    distance: int


Match.__module__ = "kelvaro"


class Index:
    """An immutable dictionary of words, each with a value from 0 to
    4294967295, searchable by exact word and by edit distance.

    Build one with Index.from_words or read one with Index.load.
    """

    __slots__ = ("_parts", "_normalize", "_tables")

    _parts: Parts
    _normalize: Optional[Normalize]
    # The lookup tables of the native search (its reversed trie), made on the
    # first search that can use them: loading stays as fast as reading the
    # file, and an index that is only ever asked for exact words never pays.
    _tables: Optional[object]

    def __init__(self) -> None:
        raise TypeError("an Index is made by Index.from_words(words) or Index.load(path)")

    @classmethod
    def _create(cls, parts: Parts, normalize: Optional[Normalize]) -> Index:
        index = cls.__new__(cls)
        index._parts = parts
        index._normalize = normalize
        index._tables = None
        return index

    # -- building and loading -------------------------------------------------

    @overload
    @classmethod
    def from_words(
        cls,
        words: Mapping[str, int],
        *,
        normalize: Optional[Callable[[str], str]] = None,
    ) -> Index: ...

    @overload
    @classmethod
    def from_words(
        cls,
        words: Iterable[Tuple[str, int]],
        *,
        normalize: Optional[Callable[[str], str]] = None,
    ) -> Index: ...

    @overload
    @classmethod
    def from_words(
        cls,
        words: Iterable[str],
        *,
        values: Optional[Iterable[int]] = None,
        normalize: Optional[Callable[[str], str]] = None,
    ) -> Index: ...

    @classmethod
    def from_words(
        cls,
        words: Union[Iterable[str], Mapping[str, int], Iterable[Tuple[str, int]]],
        *,
        values: Optional[Iterable[int]] = None,
        normalize: Optional[Callable[[str], str]] = None,
    ) -> Index:
        """An index of `words`: an iterable of str, a mapping of word to
        value, or an iterable of (word, value) pairs.

        Without values, a word's value is its position in `words`. A value
        is an int from 0 to 4294967295. When a word repeats, the last one
        wins, with its value. `normalize` (str.casefold, say) is applied to
        every word and every query; words that normalise alike count as the
        same word, and results show each word as it was given.
        """
        normalize = _normalization.check(normalize)
        return cls._create(_building.build(words, values, normalize), normalize)

    @classmethod
    def load(cls, path: PathArg, *, normalize: Optional[Callable[[str], str]] = None) -> Index:
        """The index that save wrote to `path`.

        Raises ValueError for a file that is not a whole, intact index. An
        index built with a normalize function other than str.casefold or
        str.lower needs that function passed again as `normalize`.
        """
        normalize = _normalization.check(normalize)
        loaded = _storage.load(path, normalize)
        return cls._create(loaded.parts, loaded.normalize)

    def save(self, path: PathArg) -> None:
        """Writes the index to `path` through a temporary file renamed into
        place, so that a crash never leaves a half-written index there."""
        _storage.save(path, self._parts, self._normalize)

    # -- looking up -----------------------------------------------------------

    @overload
    def get(self, word: str) -> Optional[int]: ...

    @overload
    def get(self, word: str, default: T) -> Union[int, T]: ...

    def get(self, word: str, default: Any = None) -> Any:
        """The value of `word`, or `default` when it is not stored."""
        value = self._value_of(self._key(word, "word"))
        return default if value is None else value

    def search(
        self,
        query: str,
        max_dist: int = 1,
        limit: Optional[int] = None,
        *,
        sorted: bool = False,
        transpositions: bool = False,
    ) -> List[Match]:
        """Every stored word within `max_dist` edits (insertions, deletions,
        substitutions of one character) of `query`. With
        transpositions=True, swapping two neighbouring characters is one
        edit too.

        Results come in the order of the search's walk through the trie,
        which at every node tries first the letter that continues the query;
        `limit` keeps the first `limit` of them. With sorted=True they are
        ordered by (distance, word), and `limit` keeps the best ones.
        """
        key = self._key(query, "query")
        max_dist = _count("max_dist", max_dist)
        limit = None if limit is None else _count("limit", limit)
        transpositions = _flag("transpositions", transpositions)
        if sorted:
            return self._search_sorted(key, max_dist, limit, transpositions)
        return self._search(key, max_dist, limit, transpositions)

    def search_many(
        self,
        queries: Iterable[str],
        max_dist: int = 1,
        limit: Optional[int] = None,
        *,
        sorted: bool = False,
        processes: Optional[int] = None,
    ) -> List[List[Match]]:
        """search for every query, fanned out over a pool of `processes`
        worker processes (as many as CPUs when None), each of which receives
        the index once. processes=1 searches in this process. The results
        are those of a loop of search, in the order of `queries`."""
        from ._parallel import search_many

        max_dist = _count("max_dist", max_dist)
        limit = None if limit is None else _count("limit", limit)
        return search_many(self, queries, max_dist, limit, sorted, processes)

    def __contains__(self, word: object) -> bool:
        if not isinstance(word, str):
            return False
        return self._value_of(self._key(word, "word")) is not None

    def __len__(self) -> int:
        return len(self._parts.words)

    def __iter__(self) -> Iterator[str]:
        """The stored words as they were given, in the code point order of
        their normalised form."""
        return iter(self._parts.words)

    # -- what it is made of ---------------------------------------------------

    @property
    def trie(self) -> _kelvaro.PrefixSearch:
        """The underlying trie, for walking node by node: a word's node
        carries the word's value as its payload, and path texts are
        normalised words."""
        return self._parts.trie

    @property
    def normalize(self) -> Optional[Callable[[str], str]]:
        return self._normalize

    @property
    def node_count(self) -> int:
        return self._parts.node_count

    def __repr__(self) -> str:
        normalization = _normalization.name_of(self._normalize)
        suffix = f", normalize={normalization}" if normalization else ""
        return f"<kelvaro.Index of {len(self)} words{suffix}>"

    # An index never changes, so a copy is the index itself.
    def __copy__(self) -> Index:
        return self

    def __deepcopy__(self, memo: object) -> Index:
        return self

    def __reduce__(self) -> Tuple[Any, ...]:
        parts = self._parts
        state = (
            parts.trie,
            parts.words.data,
            parts.spellings.keys.data,
            parts.spellings.words.data,
            parts.node_count,
            self._normalize,
        )
        return (_restore, state)

    # -- internals ------------------------------------------------------------

    def _key(self, word: object, name: str) -> str:
        if not isinstance(word, str):
            raise TypeError(f"{name} must be a str, not {type(word).__name__}")
        if self._normalize is None:
            return word
        key = self._normalize(word)
        if not isinstance(key, str):
            raise TypeError(f"normalize({word!r}) returned {type(key).__name__}, not str")
        return key

    def _value_of(self, key: str) -> Optional[int]:
        trie = self._parts.trie
        # The root spells the empty word, and the search never reports the root.
        if not key:
            return trie.get_payload(0)
        found = trie.exact_match(key)
        return None if found is None else found[1]

    def _lookup_tables(self) -> object:
        tables = self._tables
        if tables is None:
            tables = self._tables = _builder.prepare(self._parts.trie)
        return tables

    def _search(
        self, key: str, max_dist: int, limit: Optional[int], transpositions: bool = False
    ) -> List[Match]:
        trie = self._parts.trie
        spellings = self._parts.spellings
        results: List[Match] = []
        # The search never reports the root, which spells the empty word; a
        # walk from the root would meet it first.
        empty_value = trie.get_payload(0) if len(key) <= max_dist else None
        if empty_value is not None:
            if limit == 0:
                return results
            results.append(Match(spellings.of(""), empty_value, len(key)))
            limit = None if limit is None else limit - 1
        # Distance 0 is an exact lookup, which needs no tables.
        tables = self._lookup_tables() if max_dist > 0 else None
        found = _builder.search(trie, tables, key, max_dist, limit, transpositions)
        if len(spellings) == 0:
            results.extend(map(Match._make, found))
        else:
            results.extend(Match(spellings.of(text), value, distance) for text, value, distance in found)
        return results

    def _search_sorted(
        self, key: str, max_dist: int, limit: Optional[int], transpositions: bool = False
    ) -> List[Match]:
        if limit is None or limit >= len(self):
            matches = self._search(key, max_dist, None, transpositions)
        else:
            # The best `limit` matches lie within the smallest distance that
            # has at least `limit` of them; once every word is within reach
            # that distance has been found, so the loop ends.
            distance = 0
            matches = self._search(key, distance, None, transpositions)
            while len(matches) < limit and distance < max_dist:
                distance += 1
                matches = self._search(key, distance, None, transpositions)
        matches.sort(key=_distance_then_word)
        return matches if limit is None else matches[:limit]


def _distance_then_word(match: Match) -> Tuple[int, str]:
    return match.distance, match.word


def _flag(name: str, value: object) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return value


def _count(name: str, value: object) -> int:
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if number < 0:
        raise ValueError(f"{name} must be 0 or more, not {number}")
    return min(number, _MAX_COUNT)


def _restore(
    trie: _kelvaro.PrefixSearch,
    words: bytes,
    spelling_keys: bytes,
    spelling_words: bytes,
    node_count: int,
    normalize: Optional[Normalize],
) -> Index:
    from ._word_table import Spellings, WordTable

    parts = Parts(trie, WordTable(words), Spellings(WordTable(spelling_keys), WordTable(spelling_words)), node_count)
    return Index._create(parts, normalize)


