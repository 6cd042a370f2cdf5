# The native part of kelvaro.Index (src/lib/native_index.cpp) and the
# builder's functions (src/lib/builder_functions.cpp). Texts travel to the
# builder joined into one str, with their lengths in characters as bytes of
# little-endian unsigned 32-bit integers, or None when newlines separate
# them; values travel as such bytes too.

from typing import Any, Callable, Iterable, List, Optional, TypeVar, Union, overload

import _kelvaro

from ._building import Parts
from ._index import Match

_T = TypeVar("_T")
_Self = TypeVar("_Self", bound="NativeIndex")

class NativeIndex:
    def __new__(
        cls: type[_Self],
        image: Union[bytes, memoryview],
        spelling_keys: Union[bytes, memoryview],
        spelling_words: Union[bytes, memoryview],
        word_count: int,
        weighted: bool,
        normalize: Optional[Callable[[str], str]],
        parts: Parts,
    ) -> _Self: ...
    @property
    def _parts(self) -> Parts: ...
    def _image(self, complete: bool) -> bytes: ...
    def _trie(self) -> _kelvaro.PrefixSearch: ...
    def _memory(self) -> tuple[int, int, int, int, int, int, int, int]: ...
    @property
    def normalize(self) -> Optional[Callable[[str], str]]: ...
    @property
    def weighted(self) -> bool: ...
    def __contains__(self, word: object) -> bool: ...
    @overload
    def get(self, word: str) -> Optional[int]: ...
    @overload
    def get(self, word: str, default: _T) -> Union[int, _T]: ...
    def search(
        self,
        query: str,
        max_dist: int = 1,
        limit: Optional[int] = None,
        *,
        sorted: bool = False,
        transpositions: bool = False,
    ) -> List[Match]: ...
    def suggest(self, word: str, max_dist: int = 2, limit: Optional[int] = 5) -> List[Match]: ...
    def complete(
        self, prefix: str, max_dist: int = 1, limit: Optional[int] = 10, *, transpositions: bool = False
    ) -> List[Match]: ...
    @overload
    def get_many(self, words: Iterable[str], *, threads: Optional[int] = None) -> List[Optional[int]]: ...
    @overload
    def get_many(
        self, words: Iterable[str], default: _T, *, threads: Optional[int] = None
    ) -> List[Union[int, _T]]: ...
    def search_many(
        self,
        queries: Iterable[str],
        max_dist: int = 1,
        limit: Optional[int] = None,
        *,
        sorted: bool = False,
        transpositions: bool = False,
        threads: Optional[int] = None,
    ) -> List[List[Match]]: ...
    def suggest_many(
        self, words: Iterable[str], max_dist: int = 2, limit: Optional[int] = 5, *, threads: Optional[int] = None
    ) -> List[List[Match]]: ...
    def complete_many(
        self,
        prefixes: Iterable[str],
        max_dist: int = 1,
        limit: Optional[int] = 10,
        *,
        transpositions: bool = False,
        threads: Optional[int] = None,
    ) -> List[List[Match]]: ...

def _set_match_type(match: type) -> None: ...
def crc32c(data: Union[bytes, memoryview], crc: int = 0) -> int: ...
def sound_key(word: str) -> Optional[str]: ...
def check_word_tables(
    words: Union[bytes, memoryview], spelling_keys: Union[bytes, memoryview], spelling_words: Union[bytes, memoryview]
) -> int: ...
def build_index(
    keys: tuple[str, bytes | None],
    words: tuple[str, bytes | None] | None,
    values: bytes | None,
    sounds: bool,
) -> tuple[bytes, int, bytes, bytes, bytes]:
    """(image, node_count, word_table, spelling_keys, spelling_words) for an
    index of keys; words are the spellings that normalisation made the keys
    from, or None; with sounds, the image holds a sound-alike table."""

def check_index(
    trie: bytes, words: bytes, spellings: tuple[bytes, bytes], texts: int
) -> tuple[
    int, int, tuple[int, tuple[str, bytes | None], tuple[str, bytes | None]] | None, bytes
]:
    """(node_count, word_count, words_and_keys, image) of a saved index whose
    sections agree with each other, image being the decoded trie, folded; ValueError
    saying what is wrong if not. spellings is the pair of the spelling
    keys' and words' tables. texts asks for words with their keys: 0 none
    (words_and_keys is None), 1 every word, 2 only those that a case
    mapping could have changed; words_and_keys is (count, words, keys),
    joined the way build_index takes them."""

# The running-text functions (src/lib/text_functions.cpp): folded is the
# text folded as the index makes keys, character for character as long.

def check_text(
    index: NativeIndex,
    text: str,
    folded: str,
    normalized: bool,
    weighted: bool,
    max_dist: int,
    limit: int | None,
    suspect_ratio: float,
) -> list[tuple[int, int, bool, list[Match]]]:
    """(start, end, suspect, suggestions) of every word of text not stored,
    and of every suspect when suspect_ratio is above 0."""

def segment_text(
    index: NativeIndex,
    text: str,
    folded: str,
    normalized: bool,
    weighted: bool,
    total: float,
    least: int,
    max_dist: int,
) -> list[tuple[int, int, list[tuple[int, int, str | None, int]]]]:
    """(start, end, pieces) of every word of text better cut, each piece
    (start, end, word or None for no word, distance)."""

def correct_text(
    index: NativeIndex,
    text: str,
    folded: str,
    normalized: bool,
    weighted: bool,
    total: float,
    least: int,
    max_dist: int,
) -> list[tuple[int, int, list[tuple[int, int, str | None]]]]:
    """(start, end, words) of every correction of text, each word (start,
    end, word or None for the text as written)."""

def weight_stats(index: NativeIndex) -> tuple[float, int]:
    """The sum of the index's values and the least of them above 0."""
