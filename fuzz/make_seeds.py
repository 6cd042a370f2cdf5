"""Writes the seed corpus of the fuzz targets under fuzz/corpus/.

The seeds are committed; this script is how they were made, and remakes
them after a change of an input layout:

    .venv-cpython/bin/python fuzz/make_seeds.py

decode/  saved tries: the byte examples of the format, a few real tries and
         malformed ones, each followed by a lookup (read backwards from the end)
trie/    the same tries in the layout of fuzz_trie.cpp
search/  small trees in the layout of fuzz_search.cpp
complete/ small dictionaries in the layout of fuzz_complete.cpp

split/ and index/ hold the same few word lists with lookups, in the layout
that fuzz_split.cpp and fuzz_index.cpp share.

index_file/ small index files as Index.save writes them: with and without
            weights, spellings, the empty word and the saved lookup tables

code_tokens/ lines of code and prose in the layout of fuzz_code_tokens.cpp
segment/ small weighted dictionaries with pairs and texts run together, in
         the layout of fuzz_segment.cpp
"""
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
WORDS = os.path.join(HERE, "..", "examples", "words.txt")

# The tests' builders and pure-Python writer; they import _kelvaro, so run
# this with an interpreter that has kelvaro installed (.venv-cpython).
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from reference import encode_trie as saved  # noqa: E402
from tries import arrays_from_words  # noqa: E402


# --- tries as four arrays ---------------------------------------------------


def real_word_lists():
    with open(WORDS, encoding="utf-8") as source:
        words = source.read().split()
    return {
        "words-12": words[:12],
        "words-spread-25": words[:: len(words) // 25],
        "shared-prefixes": ["car", "cart", "carts", "care", "cared", "cat", "cattle", "dog", "do"],
        "wide-characters": ["a", "\u00e9t\u00e9", "\u20ac", "\U0001f600x", "na\u00efve", "\0"],
        "chain": ["abcdefghijklmnopqrstuvwxyz" * 2],
    }


MALFORMED = {
    # Node 1 leads back to the root.
    "cycle": ([0, 1], ["r", "a"], [None, 1], [1, 0]),
    # Node 2 is listed in two runs.
    "shared-child": ([0, 2, 3], ["", "a", "b"], [None, 1, 2], [1, 2, 2]),
    # A run past child_indices, a child without a character, a child id past the nodes.
    "broken-runs": ([0, 3, 9], ["", "", "c"], [None, 4], [1, 2, 7]),
    # Siblings sharing a character.
    "twin-siblings": ([0, 2, 3, 4, 4], ["", "a", "a", "b", "c"], [None, 1, 2, 3, 4], [1, 2, 3, 4]),
}


# --- the saved form -----------------------------------------------------------


# The format's own byte examples: integer forms short and long, characters
# of every width, and inputs that fail in each way.
FORMAT_EXAMPLES = {
    "empty": "00 00 00 00",
    "longer-integer-forms": "FB 01 00 07 FC 00 00 00 00 FD 00 00 00 00 00 00 00 00 00",
    "large-values": "01 FC FF FF FF FF 00 01 01 FB 00 01 01 FC 00 00 01 00",
    "characters": "02 00 01 02 00 01 F4 8F BF BF 02 00 00 01 01",
    "bad-option-tag": "00 01 02",
    "surrogate": "00 01 01 ED A0 80",
    "overlong": "00 01 01 E0 9F BF",
    "wide-marker": "FE",
    "truncated": "01 FC 00 00",
    "huge-count": "FD FF FF FF FF FF FF FF 1F 00",
}


# --- input layouts of the targets --------------------------------------------


def reader_u32(value):
    return bytes([value]) if value < 0xFF else b"\xff" + value.to_bytes(4, "little")


def reader_char(text):
    if not text:
        return b"\x00"
    code = ord(text[0])
    if 0 < code < 0x80:
        return bytes([code])
    return b"\xff" + code.to_bytes(3, "little")


def reader_payload(value):
    if value is None:
        return b"\x00"
    return bytes([value + 1]) if value + 1 < 0xFF else b"\xff" + value.to_bytes(4, "little")


def lookup_plan(query, max_dist, limit):
    """One lookup, each query character given as itself (an even choice byte)."""
    plan = bytes([0, len(query)])
    for ch in query:
        plan += b"\x00" + reader_char(ch)
    return plan + bytes([max_dist, 0 if limit is None else limit + 1])


def trie_input(arrays, plan):
    shifts, chars, payloads, children = arrays
    data = bytes([len(shifts), len(chars), len(payloads), len(children)])
    data += b"".join(reader_u32(v) for v in shifts)
    data += b"".join(reader_char(c) for c in chars)
    data += b"".join(reader_payload(p) for p in payloads)
    data += b"".join(reader_u32(v) for v in children)
    return data + bytes([0, 1, len(shifts), 200]) + plan


SEARCH_ALPHABET = ["a", "b", "c", "\u00e9", "\u20ac", "\U0001f600", "z"]


def search_input(words, query, max_dist, limit):
    """A tree of the words (ids in insertion order), then one lookup."""
    parents, chars, payloads, index = [None], [None], [None], {"": 0}
    for position, word in enumerate(words):
        for depth in range(1, len(word) + 1):
            if word[:depth] not in index:
                index[word[:depth]] = len(parents)
                parents.append(index[word[: depth - 1]])
                chars.append(word[depth - 1])
                payloads.append(None)
        payloads[index[word]] = position
    data = bytes([len(parents) - 1]) + reader_payload(payloads[0])
    for node in range(1, len(parents)):
        data += bytes([parents[node], SEARCH_ALPHABET.index(chars[node])]) + reader_payload(payloads[node])
    data += bytes([0]) + bytes(len(parents))  # runs rotated, by nothing
    data += bytes([len(query)] + [SEARCH_ALPHABET.index(ch) for ch in query])
    return data + bytes([max_dist, 0 if limit is None else limit + 1])


SEARCH_SEEDS = {
    "small": (["ab", "abc", "b", "ca", "cab"], "abc", 1, None),
    "shared-characters": (["aa", "ab", "ba", "bb", "aab", "abb"], "ab", 2, 3),
    "wide-characters": (["\u00e9\u20ac", "\U0001f600a", "a\u00e9", "\u20ac\u20ac\u20ac"], "\u00e9a", 1, None),
    "deep": (["abcabcabcabcabc", "abcabcab"], "abcabc", 3, None),
}


def complete_input(words, prefix, max_dist, limit, weighted, transpositions):
    """Words with their payloads, then one completion query."""
    data = bytes([len(words)])
    for word, payload in words.items():
        data += bytes([len(word)] + [SEARCH_ALPHABET.index(ch) for ch in word]) + bytes([payload])
    data += bytes([int(weighted) | 2 * int(transpositions)])
    data += bytes([len(prefix)] + [SEARCH_ALPHABET.index(ch) for ch in prefix])
    return data + bytes([max_dist, 0 if limit is None else limit + 1])


COMPLETE_SEEDS = {
    "deeper-is-closer": ({"abc": 1, "a\u20ac": 5, "b": 5, "c": 2, "": 3}, "ab", 1, None, True, False),
    "one-letter": ({"a": 0, "ab": 4, "abc": 4, "b\u00e9": 4, "ca": 1, "\u20acb": 2}, "a", 1, 3, True, False),
    "swapped": ({"abcab": 1, "bacab": 2, "acb": 3, "\U0001f600a": 1}, "bacb", 2, None, False, True),
    "empty-prefix": ({"ab": 2, "b": 2, "ba": 1, "\u00e9": 3}, "", 0, 2, True, False),
}


# --- index files -----------------------------------------------------------------


def index_files():
    """Small index files, each under 4 KiB, the fuzzer's input limit."""
    import kelvaro
    from kelvaro import _storage

    small = ["car", "cart", "care", "cat", "dog", "do"]
    indexes = {
        "plain": kelvaro.Index.from_words(small),
        "weighted-spellings": kelvaro.Index.from_words(
            {"Apple": 5, "apple": 3, "\u00c9clair": 2, "Zoo": 0}, normalize=str.casefold, weighted=True
        ),
        "wide-characters": kelvaro.Index.from_words(["", "a", "\u00e9t\u00e9", "\u20ac", "\U0001f600x", "\u4e00\u4e8c"]),
        "no-words": kelvaro.Index.from_words([]),
        # Counts of word pairs, the image's last tagged section.
        "word-pairs": kelvaro.Index.from_words(
            {"the": 9, "cat": 3, "cart": 1, "sat": 2},
            weighted=True,
            pairs={("the", "cat"): 4, ("cat", "sat"): 2, ("the", "cart"): 1},
        ),
    }
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "index")
        for name, index in indexes.items():
            index.save(path)
            with open(path, "rb") as saved_file:
                yield name, saved_file.read()
        # Without the lookup tables, which an index then makes on first need.
        index = indexes["plain"]
        _storage.save(path, index._parts, index._image(False), index.normalize)
        with open(path, "rb") as saved_file:
            yield "forward-trie-only", saved_file.read()


# The alphabet of fuzz_code_tokens.cpp: each input byte is its character
# at the byte's value modulo its length.
CODE_ALPHABET = (
    "abcdefnrsuxzABCDEFNSUXZ0123456789 \n\t_-.'\u2019/\\%&#;:(){}!=\"@+~*,"
    "\u00e9\u00c9\u0301\u4e2d\u01c5\u00df\U0001D518"
)


def code_token_seeds():
    """Lines of code and prose in the layout of fuzz_code_tokens.cpp,
    written with the alphabet's characters (others become spaces)."""
    texts = {
        "identifiers": "parseHTTPResponse2 XMLHttpRequest __init__ IDs URLsFor os.path.join kebab-case",
        "numbers": "10ms 0x1F 1e-9 3.14 1_000 2nd utf8mb4 get2ndItem #fff deadbeef42",
        "escapes": "f'Hello\\nUsage\\x41\\u00e9 %(name)s %-10d %sfoo &amp; {0} C:\\Users ./a/b",
        "prose": "Don't stop: a well-known rule, said the caf\u00e9's owner.",
    }
    for name, text in texts.items():
        yield name, bytes(CODE_ALPHABET.index(c) if c in CODE_ALPHABET else CODE_ALPHABET.index(" ") for c in text)


# --- writing -------------------------------------------------------------------


SEGMENT_ALPHABET = "abcAB'\u2019"


def segment_input(words, pairs, flags, texts):
    """words: {word: weight}; pairs: {(first, second): count} by word
    number; texts: [(text, start, end, max_dist)]."""
    def text_bytes(text):
        return bytes([len(text)] + [SEGMENT_ALPHABET.index(c) for c in text])

    data = bytes([len(words) - 1]) + b"".join(text_bytes(w) for w in words) + bytes(words.values())
    data += bytes([len(pairs)]) + b"".join(bytes(pair) for pair in pairs) + bytes(c - 1 for c in pairs.values())
    data += bytes([flags, len(texts) - 1])
    for text, start, end, max_dist in texts:
        data += text_bytes(text) + bytes([start, end - start, max_dist])
    return data


def segment_seeds():
    words = {"a": 90, "ab": 20, "abc": 5, "b": 1, "ba": 40, "cab": 30, "Ab": 7, "a'b": 3}
    run = "abcabABcab"
    yield "plain", segment_input(words, {}, 0, [(run, 0, len(run), 0), ("cabab", 0, 5, 1)])
    yield "pairs", segment_input(words, {(0, 4): 9, (4, 0): 3, (1, 7): 2}, 0, [(run, 1, 9, 0), (run, 0, 10, 2)])
    yield "spaces", segment_input(words, {(0, 4): 9}, 3, [("a\u2019bAbba", 0, 7, 1)])


def write(directory, name, data):
    path = os.path.join(HERE, "corpus", directory)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as out:
        out.write(data)


def main():
    for name, text in FORMAT_EXAMPLES.items():
        write("decode", name, bytes.fromhex(text))
    tries = {name: arrays_from_words(words) for name, words in real_word_lists().items()}
    tries.update(MALFORMED)
    for name, arrays in tries.items():
        words_in_trie = [c for c in arrays[1] if c][:4]
        query = "".join(words_in_trie)
        plan = lookup_plan(query, 2, None)
        write("decode", name, saved(*arrays) + plan[::-1])
        if len(arrays[0]) < 256 and len(arrays[3]) < 256:
            write("trie", name, trie_input(arrays, plan))
    for name, (words, query, max_dist, limit) in SEARCH_SEEDS.items():
        write("search", name, search_input(words, query, max_dist, limit))
    for name, seed in COMPLETE_SEEDS.items():
        write("complete", name, complete_input(*seed))
    for name, data in index_files():
        assert len(data) <= 4096, name
        write("index_file", name, data)
    for name, data in code_token_seeds():
        write("code_tokens", name, data)
    for name, data in segment_seeds():
        write("segment", name, data)


if __name__ == "__main__":
    main()
