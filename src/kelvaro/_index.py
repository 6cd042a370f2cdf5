"""Index: a dictionary of words searchable by edit distance."""

from __future__ import annotations

import heapq
import operator
import re
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

from . import _builder, _building, _normalization, _storage, _text
from ._building import Parts
from ._normalization import Normalize
from ._storage import PathArg

# Counts are held as unsigned 64-bit integers by the native search; nothing
# is ever farther or more numerous than that.
_MAX_COUNT = 2**64 - 1

# A sorted search with a limit widens its reach one edit at a time up to
# here, and then doubles it, so that a query whose nearest words are far
# away costs a few searches rather than one per distance.
_LAST_SINGLE_STEP = 4

_SURROGATE = re.compile("[\ud800-\udfff]")

T = TypeVar("T")

# What the trie's search reports: a key, its value and its distance.
Found = Tuple[str, int, int]


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

    __slots__ = ("_parts", "_normalize", "_tables", "_stand_in", "_longest", "_weights")

    _parts: Parts
    _normalize: Optional[Normalize]
    # The lookup tables of the native search (its reversed trie), made on the
    # first search that can use them: loading stays as fast as reading the
    # file, and an index that is only ever asked for exact words never pays.
    _tables: Optional[object]
    # A character that no stored key holds, found when first needed.
    _stand_in: Optional[str]
    # At least the length of the longest stored key, found when first needed.
    _longest: Optional[int]
    # The sum of the weights and the least above 0, which give the
    # probability of a word in running text; found when first needed.
    _weights: Optional[Tuple[float, int]]

    def __init__(self) -> None:
        raise TypeError("an Index is made by Index.from_words(words) or Index.load(path)")

    @classmethod
    def _create(cls, parts: Parts, normalize: Optional[Normalize]) -> Index:
        index = cls.__new__(cls)
        index._parts = parts
        index._normalize = normalize
        index._tables = None
        index._stand_in = None
        index._longest = None
        index._weights = None
        return index

    # -- building and loading -------------------------------------------------

    @overload
    @classmethod
    def from_words(
        cls,
        words: Mapping[str, int],
        *,
        normalize: Optional[Callable[[str], str]] = None,
        weighted: bool = False,
    ) -> Index: ...

    @overload
    @classmethod
    def from_words(
        cls,
        words: Iterable[Tuple[str, int]],
        *,
        normalize: Optional[Callable[[str], str]] = None,
        weighted: bool = False,
    ) -> Index: ...

    @overload
    @classmethod
    def from_words(
        cls,
        words: Iterable[str],
        *,
        values: Optional[Iterable[int]] = None,
        normalize: Optional[Callable[[str], str]] = None,
        weighted: bool = False,
    ) -> Index: ...

    @classmethod
    def from_words(
        cls,
        words: Union[Iterable[str], Mapping[str, int], Iterable[Tuple[str, int]]],
        *,
        values: Optional[Iterable[int]] = None,
        normalize: Optional[Callable[[str], str]] = None,
        weighted: bool = False,
    ) -> Index:
        """An index of `words`: an iterable of str, a mapping of word to
        value, or an iterable of (word, value) pairs.

        Without values, a word's value is its position in `words`. A value
        is an int from 0 to 4294967295. When a word repeats, the last one
        wins, with its value. `normalize` (str.casefold, say) is applied to
        every word and every query; words that normalise alike count as the
        same word, and results show each word as it was given.

        weighted=True says that the values are weights, such as counts of
        how often each word occurs: higher is likelier, 0 is unknown, and
        suggest and complete rank by them. A weight above 4294967295 is
        held at 4294967295.
        """
        normalize = _normalization.check(normalize)
        weighted = _flag("weighted", weighted)
        return cls._create(_building.build(words, values, normalize, weighted), normalize)

    @classmethod
    def load(cls, path: PathArg, *, normalize: Optional[Callable[[str], str]] = None) -> Index:
        """The index that save wrote to `path`.

        Raises ValueError for a file that is not a whole, intact index. An
        index built with a normalize function other than str.casefold or
        str.lower needs that function passed again as `normalize`: one of
        the same module and qualified name, which must make the stored keys
        of the stored words.
        """
        normalize = _normalization.check(normalize)
        loaded = _storage.load(path, normalize)
        return cls._create(loaded.parts, loaded.normalize)

    def save(self, path: PathArg) -> None:
        """Writes the index to `path` through a temporary file renamed into
        place, so that a crash never leaves a half-written index there. A
        symbolic link is followed and its target replaced; an existing
        file keeps its permission bits."""
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

    def suggest(self, word: str, max_dist: int = 2, limit: Optional[int] = 5) -> List[Match]:
        """The likeliest corrections of `word`, best first: the stored words
        within `max_dist` edits of it, a swap of two neighbouring characters
        counting as one edit, at most `limit` of them (None: all).

        A stored word is its own best suggestion. The others are ranked by
        how likely the typo is (a weighted edit cost: see the README) and,
        in a weighted index, how common the word is: words with a weight
        before words without, then typo cost less the logarithm of the
        weight, then the heavier word, then the word. Without weights, by
        typo cost alone, then by word.
        """
        key = self._key(word, "word")
        max_dist = _count("max_dist", max_dist)
        limit = None if limit is None else _count("limit", limit)
        found: List[Found] = []
        if limit == 0:
            return []
        # The empty word is stored at the root, which the walks never meet.
        empty_value = self._parts.trie.get_payload(0) if not key else None
        if empty_value is not None:
            found.append(("", empty_value, 0))
            limit = None if limit is None else limit - 1
        found += self._native(_builder.suggest, key, max_dist, limit, self.weighted)
        return self._matches(found)

    def complete(
        self,
        prefix: str,
        max_dist: int = 1,
        limit: Optional[int] = 10,
        *,
        transpositions: bool = False,
    ) -> List[Match]:
        """The stored words that begin with `prefix`, give or take
        `max_dist` edits: a word w completes it when some beginning of w
        (w[:k] for k from 0 to len(w)) is within `max_dist` edits of it, and
        its distance is the least such. With transpositions=True a swap of
        two neighbouring characters is one edit.

        Ordered by (distance, -value, word) in a weighted index and by
        (distance, word) otherwise, the word being its normalised form in an
        index with a normalize function; `limit` keeps the first `limit`
        (None: all).
        """
        key = self._key(prefix, "prefix")
        max_dist = _count("max_dist", max_dist)
        limit = None if limit is None else _count("limit", limit)
        transpositions = _flag("transpositions", transpositions)
        found = self._native(_builder.complete, key, max_dist, limit, self.weighted, transpositions)
        # The empty word, at the root, completes a prefix as short as max_dist.
        empty_value = self._parts.trie.get_payload(0) if len(key) <= max_dist else None
        if empty_value is not None and limit != 0:
            weighted = self.weighted
            place = (len(key), -empty_value if weighted else 0, "")
            at = 0
            while at < len(found) and (found[at][2], -found[at][1] if weighted else 0, found[at][0]) < place:
                at += 1
            found.insert(at, ("", empty_value, len(key)))
            del found[len(found) if limit is None else limit :]
        return self._matches(found)

    # -- running text -----------------------------------------------------------

    def check(
        self,
        text: str,
        max_dist: int = 2,
        limit: Optional[int] = 3,
        *,
        suspects: Optional[float] = _text.DEFAULT_SUSPECTS,
    ) -> List[_text.Misspelling]:
        """The words of `text` that the index does not hold, in order, each
        a Misspelling(start, end, word, suggestions, suspect) with
        text[start:end] == word and at most `limit` suggestions (as suggest
        gives them, within `max_dist` edits).

        Words are runs of letters and marks, with inner apostrophes and
        hyphens; numbers, words with digits, URLs and e-mail addresses are
        skipped, and so are words stored in another case when the index has
        no normalisation ("The" for "the"). A hyphenated word that is not
        stored is checked part by part.

        In a weighted index a stored word is reported too, with
        suspect=True, when a word one edit away is at least `suspects` times
        as common ("wich" for "which"); suspects=None reports none.
        """
        max_dist = _count("max_dist", max_dist)
        limit = None if limit is None else _count("limit", limit)
        return _text.check(self, text, max_dist, limit, suspects)

    def segment(self, text: str, max_dist: int = 0) -> str:
        """`text` with its run-together words split by spaces, the likeliest
        way ("thequickbrownfox" becomes "the quick brown fox"), by the
        weights of a weighted index; everything that is not a letter is kept.
        With `max_dist` above 0 each piece may be a misspelling of a stored
        word, within that many edits, and is replaced by the word."""
        max_dist = _count("max_dist", max_dist)
        return _text.segment(self, text, max_dist)

    def correct(self, text: str, max_dist: int = 2) -> str:
        """`text` with each word the index does not hold replaced by its
        likeliest reading: its best suggestion within `max_dist` edits, the
        words it runs together, or the word it makes with a neighbour it was
        split from. Spacing and punctuation are kept, and the case of the
        replaced word is carried over. A text with no misspelling comes
        back unchanged."""
        max_dist = _count("max_dist", max_dist)
        return _text.correct(self, text, max_dist)

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
    def weighted(self) -> bool:
        """Whether the values are weights (higher is likelier), which
        suggest and complete rank by."""
        return self._parts.weighted

    @property
    def normalize(self) -> Optional[Callable[[str], str]]:
        return self._normalize

    @property
    def node_count(self) -> int:
        return self._parts.node_count

    def __repr__(self) -> str:
        normalization = _normalization.describe(_normalization.name_of(self._normalize))
        suffix = f", normalize={normalization}" if self._normalize is not None else ""
        count = len(self)
        return f"<kelvaro.Index of {count} word{'' if count == 1 else 's'}{suffix}>"

    # Indexes are equal when they hold the same words with the same values
    # under the same normalisation. The builder is canonical, so that is
    # equality of their parts' bytes; the hash, which must agree with it,
    # takes the words alone.
    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Index):
            return NotImplemented
        if self is other:
            return True
        mine, theirs = self._parts, other._parts
        return (
            self._normalize == other._normalize
            and mine.weighted == theirs.weighted
            and mine.node_count == theirs.node_count
            and mine.words.data == theirs.words.data
            and mine.spellings.keys.data == theirs.spellings.keys.data
            and mine.spellings.words.data == theirs.spellings.words.data
            and mine.trie.to_bytes() == theirs.trie.to_bytes()
        )

    def __hash__(self) -> int:
        return hash(self._parts.words.data)

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
            parts.weighted,
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

    def _without_normalization(self) -> Index:
        """This index searched by key: the same answers for queries already
        normalised."""
        return Index._create(self._parts, None)

    def _value_of(self, key: str) -> Optional[int]:
        trie = self._parts.trie
        # The root spells the empty word, and the search never reports the root.
        if not key:
            return trie.get_payload(0)
        try:
            found = trie.exact_match(key)
        except UnicodeEncodeError:
            # A lone surrogate, which no stored word holds.
            return None
        return None if found is None else found[1]

    def _lookup_tables(self) -> object:
        tables = self._tables
        if tables is None:
            tables = self._tables = _builder.prepare(self._parts.trie)
        return tables

    def _text_weights(self) -> Tuple[float, int]:
        if self._weights is None:
            total, least = _builder.weight_stats(self._parts.trie, self._lookup_tables())
            self._weights = (total, least)
        return self._weights

    def _longest_key(self) -> int:
        """A bound on the length of every stored key: the longest in UTF-8
        bytes among the words and the keys that differ from them."""
        if self._longest is None:
            spellings = self._parts.spellings
            self._longest = max(self._parts.words.longest_in_bytes(), spellings.keys.longest_in_bytes())
        return self._longest

    def _searchable(self, key: str) -> str:
        """`key` with every lone surrogate, which the trie cannot take, in
        the form of a character that no stored key holds: it matches nothing
        either, so every distance stays what it was."""
        if self._stand_in is None:
            texts = (self._parts.words.data, self._parts.spellings.keys.data)
            # Plane 16's private use area: 65,534 candidates, and a stored
            # key that held all of them would be 256 KiB long.
            self._stand_in = next(
                candidate
                for candidate in map(chr, range(0x10FFFD, 0xFFFFF, -1))
                if not any(candidate.encode("utf-8") in text for text in texts)
            )
        return _SURROGATE.sub(self._stand_in, key)

    def _native(self, search: Callable[..., List[Found]], key: str, *args: Any) -> List[Found]:
        """A native search of the index, which holds no lone surrogate: a
        key with one searches as with a character that no key holds."""
        trie, tables = self._parts.trie, self._lookup_tables()
        try:
            return search(trie, tables, key, *args)
        except UnicodeEncodeError:
            return search(trie, tables, self._searchable(key), *args)

    def _search(
        self, key: str, max_dist: int, limit: Optional[int], transpositions: bool = False
    ) -> List[Match]:
        return self._matches(self._found(key, max_dist, limit, transpositions))

    def _found(
        self, key: str, max_dist: int, limit: Optional[int], transpositions: bool = False
    ) -> List[Found]:
        """The search's (key, value, distance) triples, in the walk's order."""
        trie = self._parts.trie
        found: List[Found] = []
        # The search never reports the root, which spells the empty word; a
        # walk from the root would meet it first.
        empty_value = trie.get_payload(0) if len(key) <= max_dist else None
        if empty_value is not None:
            if limit == 0:
                return found
            found.append(("", empty_value, len(key)))
            limit = None if limit is None else limit - 1
        # Distance 0 is an exact lookup, which needs no tables.
        tables = self._lookup_tables() if max_dist > 0 else None
        try:
            found.extend(_builder.search(trie, tables, key, max_dist, limit, transpositions))
        except UnicodeEncodeError:
            searchable = self._searchable(key)
            found.extend(_builder.search(trie, tables, searchable, max_dist, limit, transpositions))
        return found

    def _matches(self, found: List[Found]) -> List[Match]:
        spellings = self._parts.spellings
        if len(spellings) == 0:
            return list(map(Match._make, found))
        words = spellings.of_all([text for text, _, _ in found])
        return [Match(word, value, distance) for word, (_, value, distance) in zip(words, found)]

    def _search_sorted(
        self, key: str, max_dist: int, limit: Optional[int], transpositions: bool = False
    ) -> List[Match]:
        if limit is None or limit >= len(self):
            found = self._found(key, max_dist, None, transpositions)
        else:
            # The best `limit` matches lie within any distance that has at
            # least `limit` of them: every match left out is farther than
            # every one found. Once every word is within reach there are
            # that many, so the loop ends, after at most a few single steps
            # and a doubling per power of two of the distance it needs.
            # No stored key is farther from the query than the longer of the two.
            longest = self._longest_key()
            max_dist = min(max_dist, max(len(key), longest))
            distance = 0
            found = self._found(key, distance, None, transpositions)
            while len(found) < limit and distance < max_dist:
                distance += 1 if distance < _LAST_SINGLE_STEP else distance
                # A search that reaches as far as the longest key enters
                # every node, whatever its reach; the widest costs no more.
                distance = max_dist if distance >= longest else min(distance, max_dist)
                found = self._found(key, distance, None, transpositions)
            if 0 < limit < len(found):
                # Only matches as near as the limit-th nearest can be kept.
                farthest = heapq.nsmallest(limit, (distance for _, _, distance in found))[-1]
                found = [triple for triple in found if triple[2] <= farthest]
        matches = self._matches(found)
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
    weighted: bool = False,
) -> Index:
    from ._word_table import Spellings, WordTable

    spellings = Spellings(WordTable(spelling_keys), WordTable(spelling_words))
    parts = Parts(trie, WordTable(words), spellings, node_count, weighted)
    return Index._create(parts, normalize)


