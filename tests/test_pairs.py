"""Counts of word pairs: stored in the index's image, read back, refused
when forged, and weighed by segment, correct and check."""

import pickle
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from kelvaro import Index, _native_index

WORDS = {"the": 5000, "dog": 300, "cat": 300, "was": 2000, "which": 20000, "wich": 1, "asleep": 40}
PAIRS = {("the", "dog"): 120, ("the", "cat"): 100, ("dog", "was"): 30, ("which", "was"): 9000}


def with_pairs(pairs=PAIRS, **options):
    return Index.from_words(WORDS, weighted=True, pairs=pairs, **options)


class TestStored:
    def test_every_copy_carries_them(self, tmp_path):
        index = with_pairs(normalize=str.casefold)
        path = tmp_path / "pairs.kvx"
        index.save(path)
        copies = [pickle.loads(pickle.dumps(index)), Index.load(path), Index.load(path, mapped=False)]
        for copy in copies:
            assert copy == index
            assert copy.pair_count("THE", "Dog") == 120
            assert copy.pair_count("dog", "the") is None
            assert copy.pair_count("the", "nowhere") is None
        assert index != Index.from_words(WORDS, weighted=True, normalize=str.casefold)
        assert index != with_pairs({**PAIRS, ("the", "dog"): 121}, normalize=str.casefold)
        assert "4 pairs" in repr(index)
        assert index.memory_usage()["word pairs"] > 0

    def test_forms_and_merging(self):
        triples = [("the", "dog", 3), ("The", "dog", 4), ("the", "cat", 0), ("was", "asleep", 2**40)]
        index = Index.from_words(WORDS, weighted=True, normalize=str.casefold, pairs=triples)
        # Pairs that normalise alike add up; a count of 0 is no count; a
        # count beyond 32 bits is held at the largest.
        assert index.pair_count("the", "dog") == 7
        assert index.pair_count("the", "cat") is None
        assert index.pair_count("was", "asleep") == 2**32 - 1
        assert with_pairs(list(PAIRS.items()) and [(a, b, c) for (a, b), c in PAIRS.items()]) == with_pairs()

    @pytest.mark.parametrize(
        "pairs, options, error, message",
        [
            ({("the", "dgo"): 1}, {}, ValueError, "names 'dgo'"),
            ([("the", "dog", 1)], {"weighted": False}, TypeError, "weighted=True"),
            ([("the", "dog")], {}, TypeError, r"pairs\[0\]"),
            ({"the dog": 1}, {}, TypeError, "tuple"),
            ([("the", "dog", -1)], {}, ValueError, "outside"),
            ([("the", "dog", True)], {}, TypeError, "bool"),
            ("the dog", {}, TypeError, "mapping"),
        ],
    )
    def test_bad_pairs_are_refused(self, pairs, options, error, message):
        kwargs = {"weighted": True, **options}
        with pytest.raises(error, match=message):
            Index.from_words(WORDS, pairs=pairs, **kwargs)


def forged_pairs(index, keys=None, counts=None):
    """The index's file with its pair section (the image's last) replaced,
    checksum and sizes made to match: what a hostile file could hold."""
    image = index._image(False)
    n = index._pair_total()
    tail = 8 + 8 + 8 * n + 8 + (4 * n + 7) // 8 * 8
    start = len(image) - tail
    assert struct.unpack_from("<Q", image, start)[0] == 3
    old_keys = list(struct.unpack_from(f"<{n}Q", image, start + 16))
    old_counts = list(struct.unpack_from(f"<{n}I", image, start + 24 + 8 * n))
    keys = old_keys if keys is None else keys(old_keys)
    counts = old_counts if counts is None else counts
    section = struct.pack("<QQ", 3, len(keys)) + struct.pack(f"<{len(keys)}Q", *keys)
    packed = struct.pack(f"<Q{len(counts)}I", len(counts), *counts)
    section += packed + b"\0" * (-len(packed) % 8)
    _, words, spelling_keys, spelling_words = index._sections()
    return _native_index.index_file(
        "", image[:start] + section, bytes(words), (bytes(spelling_keys), bytes(spelling_words)), index.node_count, True
    )


class TestHostile:
    def test_the_forger_reproduces_an_intact_file(self):
        index = with_pairs()
        assert Index._create(forged_pairs(index), None) == index

    @pytest.mark.parametrize(
        "keys, counts, message",
        [
            (lambda keys: keys[::-1], None, "not in increasing order"),
            (lambda keys: keys[:1] + keys[:1] + keys[2:], None, "not in increasing order"),
            (lambda keys: keys[:-1] + [len(WORDS) << 32], None, "does not hold"),
            (lambda keys: keys[:-1] + [(len(WORDS) - 1) << 32 | len(WORDS)], None, "does not hold"),
            (None, [1, 2, 3], "differ in number"),
            (lambda keys: keys + [2**64 - 1], None, "differ in number"),
        ],
    )
    def test_forged_sections_are_refused(self, keys, counts, message):
        with pytest.raises(ValueError, match=message):
            Index._create(forged_pairs(with_pairs(), keys, counts), None)

    def test_a_cut_section_is_refused(self):
        index = with_pairs()
        image = index._image(False)
        _, words, spelling_keys, spelling_words = index._sections()
        for cut in (8, 16, 24):
            file = _native_index.index_file(
                "", image[:-cut], bytes(words), (bytes(spelling_keys), bytes(spelling_words)), index.node_count, True
            )
            with pytest.raises(ValueError, match="malformed"):
                Index._create(file, None)


def reference_segment(words, text):
    """The cheapest cut of `text` by the words' own costs, every word of one
    letter counting as rare: the plain dynamic program."""
    unknown = _unknown_cost(words)
    best = [(0.0, [])] + [None] * len(text)
    for end in range(1, len(text) + 1):
        for start in range(end):
            if best[start] is None:
                continue
            piece = text[start:end]
            c = _word_cost(words, piece)
            if c is None:
                # A piece that is no word is never longer than the longest word.
                if len(piece) > max(1, max(map(len, words))):
                    continue
                c = unknown + 10 + 2.3 * len(piece)
            candidate = (best[start][0] + c, best[start][1] + [piece])
            if best[end] is None or candidate[0] < best[end][0] - 1e-9:
                best[end] = candidate
    return best[-1][1]


class TestSegmentation:
    @settings(max_examples=60, deadline=None)
    @given(
        st.dictionaries(st.text("abcAB", min_size=1, max_size=4), st.integers(1, 1000), min_size=1, max_size=12),
        st.text("abcAB", min_size=1, max_size=12),
    )
    def test_without_pairs_the_cut_is_the_cheapest(self, words, text):
        # Capitals in the words and the text: a piece is read as written
        # and in lower case, and the cheaper word it is counts.
        index = Index.from_words(words, weighted=True)
        found = index.segment(text).split()
        assert "".join(found) == text

        expected = reference_segment(words, text)
        # Ties may fall either way; the cost may not.
        assert _cut_cost(words, found) == pytest.approx(_cut_cost(words, expected), rel=1e-9, abs=1e-9)

    def test_a_pair_decides_the_cut(self):
        words = {"no": 100, "where": 100, "now": 100, "here": 100, "filler": 100000}
        plain = Index.from_words(words, weighted=True)
        now_here = Index.from_words(words, weighted=True, pairs={("now", "here"): 90})
        no_where = Index.from_words(words, weighted=True, pairs={("no", "where"): 90})
        assert now_here.segment("nowhere") == "now here"
        assert no_where.segment("nowhere") == "no where"
        assert plain.segment("nowhere") in ("now here", "no where")


def test_a_pair_decides_a_correction():
    words = {"the": 1000, "dog": 100, "dug": 100, "he": 1000, "filler": 100000}
    both = Index.from_words(words, weighted=True, pairs={("the", "dog"): 50, ("he", "dug"): 50})
    assert both.correct("the dxg and he dxg") == "the dog and he dug"
    swapped = Index.from_words(words, weighted=True, pairs={("the", "dug"): 50, ("he", "dog"): 50})
    assert swapped.correct("the dxg and he dxg") == "the dug and he dog"
    # Both misspelt: the second is read again after the first's reading.
    assert swapped.correct("teh dxg") == "the dug"


def _cut_cost(words, pieces):
    return sum(_piece_cost(words, piece) for piece in pieces)


def _piece_cost(words, piece):
    own = _word_cost(words, piece)
    return _unknown_cost(words) + 10 + 2.3 * len(piece) if own is None else own


def _unknown_cost(words):
    import math

    return math.log(sum(words.values())) - math.log(min(v for v in words.values() if v) / 2)


def _word_cost(words, piece):
    """The cost of the cheapest stored word that `piece` is, as written or
    in lower case, as an index without a normalisation reads it; None for
    none."""
    import math

    total = sum(words.values())
    costs = [math.log(total) - math.log(words[w]) for w in {piece, piece.lower()} if w in words]
    if not costs:
        return None
    own = min(costs)
    return _unknown_cost(words) if len(piece) == 1 and own > 6.2146 else own


def plain_distance(a, b):
    row = list(range(len(b) + 1))
    for i, x in enumerate(a, 1):
        previous, row[0] = row[0], i
        for j, y in enumerate(b, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (x != y))
    return row[-1]


class TestSuspects:
    def test_in_context(self):
        index = with_pairs()
        found = index.check("the dog, wich was asleep")
        assert [(m.word, m.suspect, m.suggestions[0].word) for m in found] == [("wich", True, "which")]
        # The same word where the counts know it beside its neighbour.
        known = with_pairs({**PAIRS, ("wich", "was"): 1})
        assert known.check("the dog, wich was asleep") == []
        assert index.check("the dog, wich was asleep", suspects=None) == []
        # correct replaces what check calls a slip, and nothing without pairs.
        assert index.correct("the dog, wich was asleep") == "the dog, which was asleep"
        assert known.correct("the dog, wich was asleep") == "the dog, wich was asleep"
        plain = Index.from_words(WORDS, weighted=True)
        assert plain.correct("the dog, wich was asleep") == "the dog, wich was asleep"

    def test_the_likeliest_in_context_comes_first(self):
        # "with" is the commoner word, "which" the likelier before "was".
        words = {**WORDS, "with": 90000}
        pairs = {**PAIRS, ("with", "was"): 50}
        index = Index.from_words(words, weighted=True, pairs=pairs)
        (found,) = index.check("the dog, wich was asleep", suspects=10)
        assert [m.word for m in found.suggestions] == ["which", "with"]

    def test_only_one_plain_edit_away(self):
        # "opened" is two edits from "append", a swap two from "form".
        words = {"append": 1, "opened": 10**7, "from": 10**7, "form": 1, "fro": 3}
        index = Index.from_words(words, weighted=True)
        assert index.check("append form") == []
        words["appends"] = 10**7
        assert [m.word for m in Index.from_words(words, weighted=True).check("append form")] == ["append"]

    def test_an_apostrophe_alone_is_no_slip(self):
        words = {"its": 10**7, "it's": 1, "user's": 1, "users": 10**7, "the": 10**8}
        index = Index.from_words(words, weighted=True, pairs={("the", "users"): 10**6})
        assert index.check("it's the user's", suspects=2) == []
        assert Index.from_words(words, weighted=True).check("it's user's", suspects=2) == []

    @settings(max_examples=40, deadline=None)
    @given(
        st.dictionaries(st.text("abcd", min_size=4, max_size=6), st.integers(1, 10**6), min_size=2, max_size=10),
        st.lists(st.integers(0, 9), min_size=1, max_size=6),
        st.booleans(),
    )
    def test_a_suspect_has_a_word_one_edit_away(self, words, picks, pairs):
        keys = sorted(words)
        text = [keys[i % len(keys)] for i in picks]
        counted = {(a, b): 5 for a, b in zip(keys, keys[1:])} if pairs else None
        index = Index.from_words(words, weighted=True, pairs=counted)
        for finding in index.check(" ".join(text), suspects=2):
            assert finding.suspect
            assert finding.suggestions
            assert all(plain_distance(finding.word, m.word) == 1 for m in finding.suggestions)


def test_reading_a_pair_file():
    import gzip

    from kelvaro._pairs import english_pairs, read_pairs

    text = "the\tdog\t12\nthe\tunicorn\t3\nnot a pair\nwas\tasleep\tmany\ndog\twas\t0\n"
    pairs = read_pairs(gzip.compress(text.encode()), {w.casefold() for w in WORDS})
    assert pairs == [("the", "dog", 12), ("dog", "was", 0)]
    assert Index.from_words(WORDS, weighted=True, pairs=pairs).pair_count("the", "dog") == 12
    # The shipped pairs spell their words as the word list does, capitals
    # kept, and only pairs of the words asked for come back.
    shipped = english_pairs(["which", "was", "I", "am", "the"])
    assert shipped is not None
    assert {(first, second) for first, second, _ in shipped} >= {("which", "was"), ("I", "am")}
    assert all(first in {"which", "was", "I", "am", "the"} for first, _, _ in shipped)
