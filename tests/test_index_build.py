"""Index.from_words: the trie it builds, the words and values it keeps, and
the search answers it gives, against plain Python doing the same by brute force."""
import random
import shutil
import subprocess

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _kelvaro
import kelvaro
from kelvaro import Index, Match, _native_index
from reference import levenshtein
from tries import arrays_from_words

# Few letters, so that words collide and share prefixes; characters of one
# to four UTF-8 bytes; letters that casefold to more than one letter; and a
# newline and a NUL, which words may hold like any other character.
ALPHABET = "abcAB\u00e9\u00df\u20ac\U0001f600\n\x00"
words_lists = st.lists(st.text(ALPHABET, max_size=5), max_size=25)
queries = st.text(ALPHABET, max_size=5)


def brute_force_entries(words, values=None, normalize=None):
    """key -> (word as given, value): the last of equal keys wins."""
    entries = {}
    for position, word in enumerate(words):
        key = normalize(word) if normalize else word
        entries[key] = (word, position if values is None else values[position])
    return entries


def brute_force_search(entries, query, max_dist, normalize=None):
    key = normalize(query) if normalize else query
    matches = [
        Match(word, value, levenshtein(key, stored))
        for stored, (word, value) in entries.items()
        if levenshtein(key, stored) <= max_dist
    ]
    return sorted(matches, key=lambda m: (m.distance, m.word))


class TestTrie:
    @settings(max_examples=200)
    @given(words_lists)
    def test_is_the_level_order_trie_of_the_words(self, words):
        # The Python twin lays out the same canonical trie: breadth-first ids,
        # one contiguous run of children per node, siblings in code point
        # order, each word's node carrying its position, the last one winning.
        expected = _kelvaro.from_internal_data(*arrays_from_words(words)).to_bytes()
        assert Index.from_words(words).trie.to_bytes() == expected

    def test_shuffled_words_with_long_shared_beginnings(self):
        # Sorting compares sixteen leading bytes first and the whole words only
        # on a tie: words alike that far, and words that differ only by
        # a trailing NUL (zero-padded alike), must still come out in order.
        rng = random.Random(7)
        stems = ["", "x" * 15, "y" * 16, "\u00e9" * 9, "abcdefgh"]
        words = [stem + tail for stem in stems for tail in ["", "\x00", "a", "a\x00", "\u20ac", "b" * 20, "ba"]]
        words = [word + str(n) for word in words for n in range(20)] + words * 2
        rng.shuffle(words)
        expected = _kelvaro.from_internal_data(*arrays_from_words(words)).to_bytes()
        assert Index.from_words(words).trie.to_bytes() == expected

    def test_node_count_and_payloads(self):
        index = Index.from_words({"ab": 7, "ac": 9, "b": 4})
        trie = index.trie
        assert index.node_count == 5
        assert trie.get_children(0) == [("a", 1), ("b", 2)]
        assert trie.get_children(1) == [("b", 3), ("c", 4)]
        assert [trie.get_payload(n) for n in range(5)] == [None, None, 4, 7, 9]

    def test_large_word_list(self):
        words = [f"w{n:06d}" for n in range(0, 200_000, 3)] + ["w000001", "\u00e9t\u00e9"]
        index = Index.from_words(words)
        assert len(index) == len(words)
        assert index.get("w199998") == 66666
        assert index.get("\u00e9t\u00e9") == len(words) - 1
        assert index.search("w00000", 1, 2, sorted=True) == [Match("w000000", 0, 1), Match("w000001", len(words) - 2, 1)]


class TestSearchAgainstBruteForce:
    @settings(max_examples=300)
    @given(words_lists, queries, st.integers(0, 3))
    def test_plain(self, words, query, max_dist):
        index = Index.from_words(words)
        expected = brute_force_search(brute_force_entries(words), query, max_dist)
        assert index.search(query, max_dist, sorted=True) == expected
        assert sorted(index.search(query, max_dist), key=lambda m: (m.distance, m.word)) == expected

    @settings(max_examples=300)
    @given(words_lists, queries, st.integers(0, 3))
    def test_casefolded(self, words, query, max_dist):
        index = Index.from_words(words, normalize=str.casefold)
        entries = brute_force_entries(words, normalize=str.casefold)
        assert index.search(query, max_dist, sorted=True) == brute_force_search(
            entries, query, max_dist, str.casefold
        )
        assert sorted(index) == sorted(word for word, _ in entries.values())

    @given(words_lists, queries, st.integers(0, 3), st.integers(0, 6))
    def test_limit_keeps_a_prefix_or_the_best(self, words, query, max_dist, limit):
        index = Index.from_words(words, normalize=str.lower)
        assert index.search(query, max_dist, limit) == index.search(query, max_dist)[:limit]
        assert index.search(query, max_dist, limit, sorted=True) == index.search(query, max_dist, sorted=True)[:limit]

    @given(words_lists, queries)
    def test_get_and_contains(self, words, query):
        index = Index.from_words(words)
        entries = brute_force_entries(words)
        for word in [query, *words]:
            assert index.get(word) == (entries[word][1] if word in entries else None)
            assert (word in index) == (word in entries)

    def test_the_empty_word_is_a_word_like_any_other(self):
        index = Index.from_words(["", "a", "ab"], values=[5, 6, 7])
        assert index.get("") == 5 and "" in index
        assert index.search("b", 1) == [Match("", 5, 1), Match("a", 6, 1), Match("ab", 7, 1)]
        assert index.search("b", 1, 1) == [Match("", 5, 1)]
        assert index.search("bb", 1) == [Match("ab", 7, 1)]
        assert index.trie.get_payload(0) == 5
        assert Index.from_words(["a"]).get("") is None


class TestWordsAndValues:
    def test_the_forms_of_input_agree(self):
        expected = Index.from_words(["x", "y"], values=[3, 4])
        for index in [
            Index.from_words({"x": 3, "y": 4}),
            Index.from_words([("x", 3), ("y", 4)]),
            Index.from_words(iter([["x", 3], ["y", 4]])),
            Index.from_words((word for word in "xy"), values=iter([3, 4])),
        ]:
            assert list(index) == list(expected)
            assert [index.get(w) for w in "xy"] == [3, 4]

    def test_values_default_to_positions_and_the_last_repeat_wins(self):
        index = Index.from_words(["b", "a", "b", "c", "a"])
        assert [(word, index.get(word)) for word in index] == [("a", 4), ("b", 2), ("c", 3)]
        assert Index.from_words([("a", 1), ("a", 0)]).get("a") == 0

    def test_normalised_words_keep_the_last_spelling(self):
        index = Index.from_words(["Apple", "apple", "APPLE", "pear"], normalize=str.casefold)
        assert list(index) == ["APPLE", "pear"]
        assert index.search("aple") == [Match("APPLE", 2, 1)]
        assert index.get("aPPle") == 2 and "PEAR" in index
        assert index.trie.exact_match("apple") == ("apple", 2, 0)

    @pytest.mark.parametrize("named", [str.casefold, str.lower])
    def test_named_normalisations_agree_with_word_by_word(self, named):
        # Named normalisations run once over all words joined by newlines;
        # a final sigma, a dotted capital I and a sharp s change form or
        # length there exactly as they do word by word.
        words = ["\u039f\u03a3", "\u03a3\u0391\u03a3", "\u03a3", "a\u03a3b", "\u0130stanbul", "Stra\u00dfe", "ABC"]
        joined = Index.from_words(words, normalize=named)
        one_by_one = Index.from_words(words, normalize=lambda word: named(word))
        assert joined.trie.to_bytes() == one_by_one.trie.to_bytes()
        assert list(joined) == list(one_by_one) == sorted(words, key=named)
        assert [joined.get(named(word)) for word in words] == list(range(len(words)))

    def test_a_normalisation_to_the_empty_word(self):
        index = Index.from_words(["-", "a"], normalize=lambda word: word.strip("-"))
        assert index.search("", 0) == [Match("-", 0, 0)]
        assert index.get("--") == 0

    @settings(max_examples=200)
    @given(words_lists, st.sampled_from([None, str.casefold]), st.integers(1, 4))
    def test_the_words_come_in_the_order_of_their_keys_batch_after_batch(self, words, normalize, size):
        # The index keeps no table of its words: it reads them from its
        # trie, spelled as its spelling tables say, a batch at a time, each
        # batch starting after the key the one before ended on.
        index = Index.from_words(words, normalize=normalize)
        entries = brute_force_entries(words, normalize=normalize)
        expected = [entries[key][0] for key in sorted(entries)]
        assert list(index) == expected and len(index) == len(expected)
        batches, after = [], None
        while True:
            batch, last = index._words(after, size)
            batches += batch
            if not batch:
                assert last is None
                break
            after = last
        assert batches == expected

    def test_many_words_come_in_order(self):
        # More than one batch of __iter__, and keys that are prefixes of
        # each other on either side of a batch's end.
        words = [f"{n:x}" for n in range(5000)] + ["", "\u00e9", "\U0001f600a"]
        assert list(Index.from_words(words)) == sorted(words)
        assert len(Index.from_words(words)._words(None, 10**6)[0]) == len(words)

    def test_boundary_values(self):
        index = Index.from_words({"a": 0, "b": 4294967295})
        assert [index.get(word) for word in "ab"] == [0, 4294967295]

    def test_no_words(self):
        index = Index.from_words([])
        assert len(index) == 0 and list(index) == [] and index.search("", 5) == []
        assert index.node_count == 1


class TestBadInput:
    @pytest.mark.parametrize(
        "words, values, error, message",
        [
            ("abc", None, TypeError, "not a single str"),
            (5, None, TypeError, "words must be iterable, not int"),
            (["a", 5], None, TypeError, "the word at position 1 must be a str, not an int"),
            (["a", ("b", 1)], None, TypeError, "the word at position 1 must be a str, not a tuple"),
            ([("a", 1), "b"], None, TypeError, r"words\[1\] must be a \(word, value\) pair like words\[0\], not a str"),
            ([("a", 1, 2)], None, TypeError, "not a tuple of 3 items"),
            ([(1, 1)], None, TypeError, "the word at position 0 must be a str, not an int"),
            ([("a", -1)], None, ValueError, "the value of 'a' is -1, outside 0..4294967295"),
            ({"a": 1, "big": 2**32}, None, ValueError, "the value of 'big' is 4294967296"),
            ([("a", 1.5)], None, TypeError, "the value of 'a' must be an int, not float"),
            (["a", "b"], [1], ValueError, "values has 1 items but words has 2"),
            (["a"], 5, TypeError, "values must be iterable, not int"),
            ({"a": 1}, [1], TypeError, "values must be None when words is a mapping"),
            (["ok", "a\ud800"], None, ValueError, "'a\\\\ud800' cannot be stored: it holds a lone surrogate"),
            ([b"abc"], None, TypeError, r"words\[0\] must be a str or a \(word, value\) pair, not a bytes"),
            # A flag where a count belongs is a mistake, though Python counts it an int.
            ({"a": 1, "b": True}, None, TypeError, "the value of 'b' must be an int, not bool"),
            (["a"], [False], TypeError, "the value of 'a' must be an int, not bool"),
        ],
    )
    def test_words_and_values(self, words, values, error, message):
        with pytest.raises(error, match=message):
            Index.from_words(words, values=values)

    def test_normalize(self):
        with pytest.raises(TypeError, match="normalize must be a callable or None, not int"):
            Index.from_words(["a"], normalize=5)
        with pytest.raises(TypeError, match=r"normalize\('a'\) returned int, not str"):
            Index.from_words(["a"], normalize=len)
        with pytest.raises(ValueError, match=r"'a' cannot be stored: normalize made it '\\udc80', which holds"):
            Index.from_words(["a"], normalize=lambda word: "\udc80")

    @pytest.mark.parametrize(
        "call, error, message",
        [
            (lambda index: index.search(5), TypeError, "query must be a str, not int"),
            (lambda index: index.search("a", -1), ValueError, "max_dist must be 0 or more, not -1"),
            (lambda index: index.search("a", 1.0), TypeError, "max_dist must be an int, not float"),
            (lambda index: index.search("a", 1, -2), ValueError, "limit must be 0 or more, not -2"),
            (lambda index: index.search("a", 1, "3"), TypeError, "limit must be an int, not str"),
            (lambda index: index.search("a", True), TypeError, "max_dist must be an int, not bool"),
            (lambda index: index.complete("a", 1, True), TypeError, "limit must be an int, not bool"),
            (lambda index: index.suggest("a", False), TypeError, "max_dist must be an int, not bool"),
            (lambda index: index.search_many(["a"], 1, True), TypeError, "limit must be an int, not bool"),
            (lambda index: index.get(None), TypeError, "word must be a str, not NoneType"),
            (lambda index: Index(), TypeError, "Index.from_words"),
        ],
    )
    def test_lookups(self, call, error, message):
        with pytest.raises(error, match=message):
            call(Index.from_words(["a"]))

    def test_what_is_not_a_word_is_not_in_the_index(self):
        assert 5 not in Index.from_words(["a"])

    def test_a_huge_distance_or_limit_is_no_error(self):
        index = Index.from_words(["a", "bb"])
        assert len(index.search("", 10**30, 10**30)) == 2
        assert index.search("", 10**30, 1, sorted=True) == [Match("a", 0, 1)]

    def test_the_best_few_far_away(self):
        index = Index.from_words(["a", "bb", "ccc"])
        assert index.search("q" * 200, 10**9, 1, sorted=True) == [Match("a", 0, 200)]
        assert index.search("q" * 200, 10**9, 2, sorted=True) == [Match("a", 0, 200), Match("bb", 1, 200)]

    def test_lone_surrogates_are_no_stored_word(self):
        index = Index.from_words(["a", "ab", "b"], normalize=lambda word: word.replace("~", "\ud800"))
        for query in ["a\ud800", "a~"]:
            assert query not in index and index.get(query) is None
            assert index.search(query, 0) == []
            # The surrogate is one character that matches nothing.
            assert index.search(query, 1, sorted=True) == [Match("a", 0, 1), Match("ab", 1, 1)]


class TestNativeHelpers:
    """kelvaro._native_index is private, but no input may crash it either."""

    @pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm from binutils")
    def test_only_the_entry_is_exported(self):
        listing = subprocess.run(
            ["nm", "-D", "--defined-only", _native_index.__file__], capture_output=True, text=True, check=True
        ).stdout
        assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == ["PyInit__native_index"]

    def test_one_panic_exception_class_for_both_modules(self):
        # Both extension modules raise the PanicException that one shared
        # library holds: it must be loaded once, from one file.
        import _kelvaro  # noqa: F401

        with open("/proc/self/maps") as maps:
            loaded = {line.split()[-1] for line in maps if "libkelvaro_panic" in line}
        assert len(loaded) == 1

    @pytest.mark.parametrize(
        "args, error, message",
        [
            ((("ab", b"\x05\x00\x00\x00"), None, None), ValueError, "the lengths do not add up to the text"),
            ((("ab", b"\x02\x00\x00"), None, None), ValueError, "expected whole 32-bit integers"),
            ((("a\nb", None), ("x", None), None), ValueError, "one word per key is needed"),
            ((("a", None), None, bytes(8)), ValueError, "one value per key is needed"),
            (("a", None, None), TypeError, "argument 'keys': expected a \\(text, lengths\\) pair"),
            (((b"a", None), None, None), TypeError, "argument 'keys': 'bytes' object cannot be converted to 'PyString'"),
            ((("a", None), None, [1]), TypeError, "argument 'values': 'list' object cannot be converted to 'PyBytes'"),
        ],
    )
    def test_build_index_refuses_what_does_not_fit(self, args, error, message):
        with pytest.raises(error, match=message):
            _native_index.build_index(*args, True, False, "")

    def test_checks_refuse_what_is_not_bytes(self):
        empty = bytes(8)  # a word table of no words
        for spellings, texts, error, message in [
            ((empty,), 0, TypeError, "argument 'spellings': expected a pair of bytes"),
            ((empty, "x"), 0, TypeError, "argument 'spellings'"),
            ((empty, empty), 3, ValueError, "texts must be 0, 1 or 2"),
        ]:
            with pytest.raises(error, match=message):
                _native_index.check_index(Index.from_words([]).trie.to_bytes(), empty, spellings, texts)


def test_public_surface():
    assert sorted(kelvaro.__all__) == ["FORMAT_VERSION", "Index", "Match", "Misspelling", "default_index"]
    assert repr(Index.from_words(["a"], normalize=str.casefold)) == "<kelvaro.Index of 1 word, normalize=casefold>"
