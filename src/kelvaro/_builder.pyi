# Native helpers of the kelvaro package (src/lib/builder_functions.cpp).
# Texts travel joined into one str, with their lengths in characters as
# bytes of little-endian unsigned 32-bit integers, or None when newlines
# separate them; values travel as such bytes too.

import _kelvaro

def build_index(
    keys: tuple[str, bytes | None],
    words: tuple[str, bytes | None] | None,
    values: bytes | None,
) -> tuple[bytes, int, bytes, bytes, bytes]:
    """(trie, node_count, word_table, spelling_keys, spelling_words) for an
    index of keys; words are the spellings that normalisation made the keys
    from, or None."""

def check_trie(data: bytes) -> tuple[int, int]:
    """(node_count, word_count) of a saved index trie; ValueError if it is not one."""

def check_word_table(data: bytes) -> int:
    """The number of words of a word table; ValueError if it is not one."""

def check_index(
    trie: bytes, words: bytes, spellings: tuple[bytes, bytes], texts: int
) -> tuple[
    int, int, tuple[int, tuple[str, bytes | None], tuple[str, bytes | None]] | None, _kelvaro.PrefixSearch
]:
    """(node_count, word_count, words_and_keys, trie) of a saved index whose
    sections agree with each other, trie being the decoded trie; ValueError
    saying what is wrong if not. spellings is the pair of the spelling
    keys' and words' tables. texts asks for words with their keys: 0 none (words_and_keys is None),
    1 every word, 2 only those that a case mapping could have changed;
    words_and_keys is (count, words, keys), joined the way build_index
    takes them."""

def prepare(trie: object) -> object:
    """The lookup tables of an index's trie, for search."""

def search(
    trie: object,
    tables: object | None,
    query: str,
    max_dist: int,
    limit: int | None,
    transpositions: bool,
) -> list[tuple[str, int, int]]:
    """(key, value, distance) of every stored key within max_dist of query,
    in the order of the trie walk."""

def suggest(
    trie: object, tables: object, word: str, max_dist: int, limit: int | None, weighted: bool
) -> list[tuple[str, int, int]]:
    """(key, value, distance) of the likeliest corrections of word, best first."""

def complete(
    trie: object,
    tables: object,
    prefix: str,
    max_dist: int,
    limit: int | None,
    weighted: bool,
    transpositions: bool,
) -> list[tuple[str, int, int]]:
    """(key, value, distance) of the stored keys that complete prefix."""

def spell(keys_table: bytes, words_table: bytes, keys: list[str]) -> list[str]:
    """The spelling of every key: the word beside it in the tables, or the key itself."""

# The text functions (src/lib/text_functions.cpp): folded is the text
# folded as the index makes keys, character for character as long.

def check_text(
    trie: object,
    tables: object,
    text: str,
    folded: str,
    normalized: bool,
    weighted: bool,
    max_dist: int,
    limit: int | None,
    suspect_ratio: float,
) -> list[tuple[int, int, bool, list[tuple[str, int, int]]]]:
    """(start, end, suspect, suggestions) of every word of text not stored,
    and of every suspect when suspect_ratio is above 0."""

def segment_text(
    trie: object,
    tables: object,
    text: str,
    folded: str,
    normalized: bool,
    weighted: bool,
    total: float,
    least: int,
    max_dist: int,
) -> list[tuple[int, int, list[tuple[int, int, str | None, int]]]]:
    """(start, end, pieces) of every word of text better cut, each piece
    (start, end, key or None for no word, distance)."""

def correct_text(
    trie: object,
    tables: object,
    text: str,
    folded: str,
    normalized: bool,
    weighted: bool,
    total: float,
    least: int,
    max_dist: int,
) -> list[tuple[int, int, list[tuple[int, int, str | None]]]]:
    """(start, end, words) of every correction of text, each word (start,
    end, key or None for the text as written)."""

def weight_stats(trie: object, tables: object) -> tuple[float, int]:
    """The sum of the index's payloads and the least of them above 0."""
