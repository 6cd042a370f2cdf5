"""Index: a dictionary of words searchable by edit distance."""

from __future__ import annotations


from typing import (
    Dict,
    Any,
    Callable,
    Iterable,
    Iterator,
    Mapping,
    List,
    Optional,
    Tuple,
    Union,
    overload,
)

import _kelvaro

from . import _building, _native_index, _normalization, _storage, _text
from ._native_index import NativeIndex
from ._normalization import Normalize
from ._storage import PathArg

# Counts of word pairs: (first, second) to count, or (first, second, count)
# triples.
PairCounts = Union[Mapping[Tuple[str, str], int], Iterable[Tuple[str, str, int]]]


class Index(NativeIndex):
    """An immutable dictionary of words, each with a value from 0 to
    4294967295, searchable by exact word and by edit distance.

    Build one with Index.from_words or read one with Index.load.

    The lookups (get, in, search, suggest, complete and their batch forms
    get_many, search_many, suggest_many, complete_many) are native: each
    takes its arguments once, applies the normalisation, runs without the
    interpreter lock, and returns the finished list of Match, so that any
    number of threads may search one index at once. The batch forms spread
    their queries over a pool of native threads.
    """

    __slots__ = ()

    def __new__(cls, *args: Any, **kwargs: Any) -> Index:
        raise TypeError("an Index is made by Index.from_words(words) or Index.load(path)")

    @classmethod
    def _create(cls, image: Any, normalize: Optional[Normalize]) -> Index:
        """The index whose file holds `image` (bytes, or a memoryview of a
        mapped file), checked whole by the native index."""
        return NativeIndex.__new__(cls, image, normalize)

    # -- building and loading -------------------------------------------------

    @overload
    @classmethod
    def from_words(
        cls,
        words: Mapping[str, int],
        *,
        normalize: Optional[Callable[[str], str]] = None,
        weighted: bool = False,
        sounds: bool = True,
        pairs: Optional[PairCounts] = None,
    ) -> Index: ...

    @overload
    @classmethod
    def from_words(
        cls,
        words: Iterable[Tuple[str, int]],
        *,
        normalize: Optional[Callable[[str], str]] = None,
        weighted: bool = False,
        sounds: bool = True,
        pairs: Optional[PairCounts] = None,
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
        sounds: bool = True,
        pairs: Optional[PairCounts] = None,
    ) -> Index: ...

    @classmethod
    def from_words(
        cls,
        words: Union[Iterable[str], Mapping[str, int], Iterable[Tuple[str, int]]],
        *,
        values: Optional[Iterable[int]] = None,
        normalize: Optional[Callable[[str], str]] = None,
        weighted: bool = False,
        sounds: bool = True,
        pairs: Optional[PairCounts] = None,
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
        suggest and complete rank by them, so they must be given. A weight
        above 4294967295 is held at 4294967295.

        sounds=True (the default) gives the index a table of how its words
        of ASCII letters sound (about 20 bytes a word), so that suggest also
        finds words that sound like the word it is given, however far they
        are spelled from it. With sounds=False, or for words of other
        alphabets, suggest finds only words within its edit distance.

        pairs, in a weighted index, are counts of word pairs in running
        text, on the scale of the words' weights: a mapping of (first,
        second) to count, or an iterable of (first, second, count). Both
        words must be stored (normalised like the words; ValueError names
        one that is not), pairs that normalise alike add their counts, and
        a count is an int held at 4294967295. check, correct and segment
        weigh words in their context by them; pair_count reads them back.
        """
        normalize = _normalization.check(normalize)
        weighted = _flag("weighted", weighted)
        sounds = _flag("sounds", sounds)
        image = _building.build(words, values, normalize, weighted, sounds, pairs)
        return cls._create(image, normalize)

    @classmethod
    def load(
        cls, path: PathArg, *, normalize: Optional[Callable[[str], str]] = None, mapped: bool = True
    ) -> Index:
        """The index that save wrote to `path`.

        Raises ValueError for a file that is not a whole, intact index. An
        index built with a normalize function other than str.casefold or
        str.lower needs that function passed again as `normalize`: one of
        the same module and qualified name, which must make the stored keys
        of the stored words.

        A file that save wrote is mapped, not read: the index is ready at
        once and searches the file in place, and every process that maps
        the same file shares its pages. It is mapped only under a read
        lease, so that another program that rewrites or truncates the file
        in place waits while the index copies the mapped bytes aside: the
        index keeps answering from what it loaded. Where no lease can be
        had (not Linux, a network or FUSE file system, a file that another
        program has open for writing), and always with mapped=False, the
        file is read into memory instead. Files of kelvaro's first format
        are always read.
        """
        normalize = _normalization.check(normalize)
        mapped = _flag("mapped", mapped)
        return _storage.load(path, normalize, mapped, cls._create)

    def save(self, path: PathArg) -> None:
        """Writes the index to `path` through a temporary file renamed into
        place, so that a crash never leaves a half-written index there. A
        symbolic link is followed and its target replaced; an existing
        file keeps its permission bits."""
        _storage.save(path, self._file())

    # -- looking up: native, inherited from NativeIndex ----------------------

    # -- running text ---------------------------------------------------------

    def check(
        self,
        text: str,
        max_dist: int = 2,
        limit: Optional[int] = 3,
        *,
        suspects: Optional[float] = _text.DEFAULT_SUSPECTS,
        code: bool = False,
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

        With code=True the text is read as source code: identifiers are
        split into their words ("parseHTTPResponse2" is parse, HTTP,
        Response; "__init__" is init), an acronym's plural counts as the
        acronym ("IDs"), and what is no word is skipped: numbers with their
        units ("10ms"), hex runs and hashes, UUIDs, base64, paths, escapes
        ("\\n"), printf placeholders ("%s"; "%(name)s" reads name), HTML
        entities, colours ("#fff") and words of one letter. On prose it
        finds what the default finds, but for words of one letter, words
        with digits ("mp3" reads mp) and words with capitals inside
        ("iPhone"), which it splits.

        In a weighted index a stored word of four letters or more is
        reported too, with suspect=True, when a word one plain edit away is
        at least `suspects` times as likely ("wich" for "which"): in its
        context, between the stored words beside it, when the index counts
        word pairs; else overall, by weight. suspects=None reports none.
        """
        return _text.check(self, text, max_dist, limit, suspects, code)

    def segment(self, text: str, max_dist: int = 0) -> str:
        """`text` with its run-together words split by spaces, the likeliest
        way ("thequickbrownfox" becomes "the quick brown fox"), by the
        weights of a weighted index; everything that is not a letter is kept.
        With `max_dist` above 0 each piece may be a misspelling of a stored
        word, within that many edits, and is replaced by the word."""
        return _text.segment(self, text, max_dist)

    def correct(self, text: str, max_dist: int = 2) -> str:
        """`text` with each word the index does not hold replaced by its
        likeliest reading: its best suggestion within `max_dist` edits, the
        words it runs together, or the word it makes with a neighbour it was
        split from. Spacing and punctuation are kept, and the case of the
        replaced word is carried over. In an index with counts of word
        pairs, the candidates are weighed by their fit with the words beside
        them, and a stored word that check reports as a suspect (at its
        default ratio) is replaced too; otherwise a text with no misspelling
        comes back unchanged."""
        return _text.correct(self, text, max_dist)

    def memory_usage(self) -> Dict[str, int]:
        """The bytes each part of the index takes, by name. "mapped" is the
        share of them read in place from a mapped index file: the operating
        system shares those pages between every process that maps the
        file."""
        forward, reversed_trie, best, sounds, weighted, image, made, unfolded, pairs, near = self._memory()
        _, word_data, key_data, spelling_data = self._sections()
        words = len(word_data)
        spellings = len(key_data) + len(spelling_data)
        usage = {
            "forward trie": forward,
            "reversed trie": reversed_trie,
            "best payloads": best,
            "sound table": sounds,
            "weighted words": weighted,
            "table of deletions": near,
            "word pairs": pairs,
            "words": words,
            "spellings": spellings,
            "unfolded trie": unfolded,
        }
        # The image holds the forward trie, and the reversed trie and the
        # table once saved; made here, they live beside it.
        usage["total"] = image + made + words + spellings + unfolded
        usage["mapped"] = image + words + spellings if self._mapped() else 0
        return usage

    def __iter__(self) -> Iterator[str]:
        """The stored words as they were given, in the code point order of
        their normalised form."""
        # Read from the trie a batch at a time: the index keeps no table of
        # its words, and listing a few million at once would cost as much
        # memory again as the index.
        after: Optional[str] = None
        while True:
            words, after = self._words(after, _WORDS_AT_ONCE)
            yield from words
            if len(words) < _WORDS_AT_ONCE:
                return

    # -- what it is made of ---------------------------------------------------

    @property
    def trie(self) -> _kelvaro.PrefixSearch:
        """The underlying trie, for walking node by node: a word's node
        carries the word's value as its payload, and path texts are
        normalised words. The index keeps its trie folded: the first call
        unfolds it, in about as long as building it took, and the index
        keeps the result (26 bytes a node)."""
        return self._trie()

    def __repr__(self) -> str:
        normalization = _normalization.describe(_normalization.name_of(self.normalize))
        suffix = f", normalize={normalization}" if self.normalize is not None else ""
        if self.weighted:
            suffix += ", weighted"
        pair_total = self._pair_total()
        if pair_total:
            suffix += f", {pair_total} pair{'' if pair_total == 1 else 's'}"
        count = len(self)
        return f"<kelvaro.Index of {count} word{'' if count == 1 else 's'}{suffix}>"

    # Indexes are equal when they hold the same words with the same values
    # under the same normalisation. The builder is canonical, so that is
    # equality of their parts' bytes: the tries and the spelling tables,
    # which hold the words (a file written before the words were read from
    # the trie holds a table of them too, which says nothing more); the
    # hash, which must agree with it, takes a checksum of the trie.
    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Index):
            return NotImplemented
        if self is other:
            return True
        mine, theirs = self._sections(), other._sections()
        return (
            self.normalize == other.normalize
            and self.weighted == other.weighted
            and self.node_count == other.node_count
            and len(self) == len(other)
            and mine[2:] == theirs[2:]
            and self._image(False) == other._image(False)
        )

    def __hash__(self) -> int:
        return hash((len(self), self._fingerprint()))

    # An index never changes, so a copy is the index itself.
    def __copy__(self) -> Index:
        return self

    def __deepcopy__(self, memo: object) -> Index:
        return self

    def __reduce__(self) -> Tuple[Any, ...]:
        _, words, spelling_keys, spelling_words = self._sections()
        state = (
            self._image(False),
            bytes(words),
            bytes(spelling_keys),
            bytes(spelling_words),
            self.node_count,
            self.normalize,
            self.weighted,
        )
        return (_restore, state)

    def _mapped(self) -> bool:
        """Whether the index reads a mapped file in place: not once its
        bytes were copied aside, because another program came to write the
        file, since those pages are no longer shared."""
        image = self._sections()[0].obj
        return isinstance(image, _native_index.MappedFile) and not image.copied


# How many words __iter__ asks the native index for at a time: enough that
# the descent each batch starts with costs nothing, few enough to keep the
# batch small.
_WORDS_AT_ONCE = 1024


def _flag(name: str, value: object) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return value


def _restore(
    image: Any,
    words: bytes,
    spelling_keys: bytes,
    spelling_words: bytes,
    node_count: int,
    normalize: Optional[Normalize],
    weighted: bool = False,
) -> Index:
    if isinstance(image, _kelvaro.PrefixSearch):
        # Pickled before indexes kept their tries folded.
        image = _native_index.check_index(image.to_bytes(), words, (spelling_keys, spelling_words), 0)[3]
    elif not isinstance(image, bytes):
        raise TypeError(f"an index's image must be bytes, not {type(image).__name__}")
    name = _normalization.name_of(normalize)
    file = _native_index.index_file(name, image, words, (spelling_keys, spelling_words), node_count, weighted)
    return Index._create(file, normalize)
