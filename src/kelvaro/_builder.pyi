# Native helpers of the kelvaro package (src/lib/builder_functions.cpp).
# Texts travel joined into one str, with their lengths in characters as
# bytes of little-endian unsigned 32-bit integers, or None when newlines
# separate them; values travel as such bytes too.

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
) -> tuple[int, int, tuple[int, tuple[str, bytes | None], tuple[str, bytes | None]] | None]:
    """(node_count, word_count, words_and_keys) of a saved index whose
    sections agree with each other; ValueError saying what is wrong if not.
    spellings is the pair of the spelling keys' and words' tables. texts asks for words with their keys: 0 none (words_and_keys is None),
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
