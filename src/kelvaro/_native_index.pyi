# The native part of kelvaro.Index (src/binding/native_index.cpp and
# lookups.cpp) and the functions that make and read index files
# (src/binding/file_functions.cpp). Texts travel to the
# builder joined into one str, with their lengths in characters as bytes of
# little-endian unsigned 32-bit integers, or None when newlines separate
# them; values travel as such bytes too.

from typing import Any, Callable, Iterable, List, Optional, TypeVar, Union, overload

import _kelvaro

from ._match import Match

_T = TypeVar("_T")
_Self = TypeVar("_Self", bound="NativeIndex")

class NativeIndex:
    def __new__(
        cls: type[_Self],
        image: Union[bytes, memoryview],
        normalize: Optional[Callable[[str], str]],
    ) -> _Self: ...
    def _image(self, complete: bool) -> bytes: ...
    def _file(self) -> bytes: ...
    def _sections(self) -> tuple[memoryview, memoryview, memoryview, memoryview]: ...
    def _words(self, after: Optional[str], count: int) -> tuple[List[str], Optional[str]]: ...
    def _fingerprint(self) -> int: ...
    def __len__(self) -> int: ...
    @property
    def node_count(self) -> int: ...
    def _trie(self) -> _kelvaro.PrefixSearch: ...
    def _memory(self) -> tuple[int, int, int, int, int, int, int, int, int, int]: ...
    def _pair_total(self) -> int: ...
    def _weight_total(self) -> float: ...
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
    def pair_count(self, first: str, second: str) -> Optional[int]: ...
    def _word_number(self, word: str) -> Optional[int]: ...
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

def sound_key(word: str) -> Optional[str]: ...
def typo_cost(meant: str, typed: str) -> int: ...
class MappedFile:
    """An index file mapped read-only under a lease (src/binding/mapped_file.cpp)."""

    def __buffer__(self, flags: int, /) -> memoryview: ...
    @property
    def copied(self) -> bool: ...

def map_file(descriptor: int, size: int, /) -> Optional[MappedFile]: ...
def read_file_header(
    data: Union[bytes, memoryview],
) -> tuple[int, int, int, int, str, bool, tuple[tuple[int, int], ...]]:
    """(version, file size, word count, node count, normalization, weighted,
    the (start, end) of the tries, words, spelling keys and spelling words)
    of an index file whose checksum, version, flags and section sizes hold;
    ValueError saying why not."""

def index_file(
    normalization: str,
    tries: bytes,
    words: bytes,
    spellings: tuple[bytes, bytes],
    node_count: int,
    weighted: bool,
) -> bytes:
    """The index file of these sections."""

def build_index(
    keys: tuple[str, bytes | None],
    words: tuple[str, bytes | None] | None,
    values: bytes | None,
    sounds: bool,
    weighted: bool,
    normalization: str,
    pairs: tuple[tuple[str, bytes | None], tuple[str, bytes | None], bytes] | None = None,
) -> bytes:
    """The index file of keys; words are the spellings that normalisation
    made the keys from, or None; with sounds, the image holds a sound-alike
    table; pairs are the stored keys of each pair's words and their counts."""

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

# The running-text functions (src/binding/text_functions.cpp): folded is the
# text folded as the index makes keys, character for character as long.
# Every argument is checked there, with the package's wording.

def check_text(
    index: NativeIndex,
    text: object,
    folded: object,
    max_dist: object,
    limit: object,
    suspects: object,
    code: object,
    suggest_unknown: object,
    counts: object,
) -> list[tuple[int, int, bool, list[Match]]]:
    """(start, end, suspect, suggestions) of every word of text not stored,
    and of every suspect when suspects is not None; read as code when code
    is True; words not stored with no suggestions when suggest_unknown is
    False. counts is None or a writable buffer of len(index) unsigned
    32-bit integers, one per word number (NativeIndex._word_number), and
    each stored word read adds one to its own."""

def segment_text(
    index: NativeIndex, text: object, folded: object, max_dist: object
) -> list[tuple[int, int, list[tuple[int, int, str | None, int]]]]:
    """(start, end, pieces) of every word of text better cut, each piece
    (start, end, the word it is corrected to or None where it stays as
    written, distance)."""

def correct_text(
    index: NativeIndex, text: object, folded: object, max_dist: object
) -> list[tuple[int, int, list[tuple[int, int, str | None]]]]:
    """(start, end, words) of every correction of text, each word (start,
    end, word or None for the text as written)."""
