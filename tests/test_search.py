"""exact_match and fuzzy_match: what they find, in which order, and how they fail."""
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _kelvaro
import reference
from conftest import panic_message
from tries import arrays_from_children, arrays_from_words, path_texts, trie_from_children, trie_from_words

# The nine-node trie: cat 10, car 20, cart 30, dog 40.
NINE_CHARS = ["", "c", "a", "t", "r", "t", "d", "o", "g"]
NINE_PAYLOADS = [None, None, None, 10, 20, 30, None, None, 40]
NINE_CHILDREN = [[1, 6], [2], [3, 4], [], [5], [], [7], [8], []]


def nine_nodes(broken=()):
    """The nine-node trie; every node in `broken` gets an extra child that
    does not exist, so that listing its children fails if it is ever visited."""
    children = [run + [99] if node in broken else run for node, run in enumerate(NINE_CHILDREN)]
    return trie_from_children(NINE_CHARS, NINE_PAYLOADS, children)


class TestWorkedExample:
    def test_fuzzy(self):
        trie = nine_nodes()
        assert trie.fuzzy_match("car", 1, None) == [("car", 20, 0), ("cart", 30, 1), ("cat", 10, 1)]
        assert trie.fuzzy_match("car", 1, 2) == [("car", 20, 0), ("cart", 30, 1)]
        assert trie.fuzzy_match("car", 1, 0) == []
        assert trie.fuzzy_match("", 3, None) == [("cat", 10, 3), ("car", 20, 3), ("dog", 40, 3)]

    def test_exact(self):
        trie = nine_nodes()
        assert trie.exact_match("car") == ("car", 20, 0)
        assert trie.exact_match("ca") is None
        assert trie.exact_match("cars") is None
        assert trie.exact_match("") is None

    def test_pruning_skips_what_cannot_match(self):
        # "do" is 2 edits from every prefix of "car": the children of node 7 are never entered.
        assert nine_nodes(broken={8}).fuzzy_match("car", 1, None)[0] == ("car", 20, 0)
        # Once two results are in, nodes 3 and 6 are still visited but their children are not.
        assert nine_nodes(broken={7, 8}).fuzzy_match("car", 1, 2) == [("car", 20, 0), ("cart", 30, 1)]
        # With limit 0 the root's children are never entered.
        assert nine_nodes(broken=set(range(1, 9))).fuzzy_match("car", 5, 0) == []
        # An exact lookup enters only the query's path and the children along
        # it (their own children are listed, but none of them is entered).
        assert nine_nodes(broken={7, 8}).exact_match("car") == ("car", 20, 0)

    def test_a_broken_node_that_is_visited_fails(self):
        assert panic_message(nine_nodes(broken={7}).fuzzy_match, "car", 1, None) == (
            "index out of bounds: the len is 9 but the index is 99"
        )


class TestQueries:
    def test_root_is_never_recorded(self):
        trie = trie_from_children(["", "a"], [5, 6], [[1], []])
        assert trie.fuzzy_match("", 10, None) == [("a", 6, 1)]
        assert trie.exact_match("") is None

    def test_empty_query_reports_depths(self):
        trie = trie_from_words(["a", "ab", "abc", "b"])
        assert trie.fuzzy_match("", 2, None) == [("a", 0, 1), ("ab", 1, 2), ("b", 3, 1)]

    @pytest.mark.parametrize(
        "stored, query, distance",
        [("car", "acr", 2), ("Car", "car", 1), ("CAR", "car", 3), ("\U0001f600b", "ab", 1), ("a\0b", "ab", 1), ("née", "nee", 1)],
    )
    def test_distances(self, stored, query, distance):
        trie = trie_from_words([stored])
        assert trie.fuzzy_match(query, 5, None) == [(stored, 0, distance)]
        assert trie.fuzzy_match(query, distance - 1, None) == []

    def test_largest_distance_and_limit(self):
        trie = trie_from_words(["x", "yy"])
        everything = [("x", 0, 1), ("yy", 1, 2)]
        assert trie.fuzzy_match("", 2**64 - 1, None) == everything
        assert trie.fuzzy_match("", 2**64 - 1, 2**64 - 1) == everything
        assert trie.fuzzy_match("", True, None) == [("x", 0, 1)]

    def test_keywords(self):
        trie = nine_nodes()
        assert trie.fuzzy_match(limit=None, max_dist=1, prefix="car") == trie.fuzzy_match("car", 1, None)
        assert trie.exact_match(prefix="car") == ("car", 20, 0)


class TestSiblingsSharingACharacter:
    # Root -> a (payload 1) and a (payload 2), each with a child: "ab" (3) under
    # the first, "ac" (4) under the second.
    CHARS = ["", "a", "a", "b", "c"]
    PAYLOADS = [None, 1, 2, 3, 4]
    CHILDREN = [[1, 2], [3], [4], [], []]

    def test_nothing_is_dropped(self):
        trie = trie_from_children(self.CHARS, self.PAYLOADS, self.CHILDREN)
        assert trie.exact_match("ab") == ("ab", 3, 0)
        assert trie.exact_match("ac") == ("ac", 4, 0)
        # The last sibling continuing the query goes first, then the others in order.
        assert trie.fuzzy_match("a", 0, None) == [("a", 2, 0), ("a", 1, 0)]
        assert trie.exact_match("a") == ("a", 2, 0)
        assert trie.fuzzy_match("ab", 1, None) == [("a", 2, 1), ("ac", 4, 1), ("a", 1, 1), ("ab", 3, 0)]


class TestMalformedTries:
    @pytest.mark.parametrize(
        "arrays, message",
        [
            (([], [], [], []), "index out of bounds: the len is 0 but the index is 0"),
            (([0, 1], ["", ""], [None, 1], [1]), "called `Option::unwrap()` on a `None` value"),
            (([0, 1], ["", "a"], [None], [1]), "index out of bounds: the len is 1 but the index is 1"),
            # A run that leads back to the root, and a node that is its own child.
            (([0, 1], ["r", "a"], [None, 1], [1, 0]), "child runs do not form a tree"),
            (([0, 1], ["a", "a"], [None, 1], [1, 1]), "child runs do not form a tree"),
            # A node listed in two runs is visited twice, once too many.
            (([0, 2, 3], ["", "a", "b"], [None, 1, 2], [1, 2, 2]), "child runs do not form a tree"),
        ],
    )
    def test_queries_fail_with_panic_and_the_object_stays_usable(self, arrays, message):
        trie = _kelvaro.from_internal_data(*arrays)
        assert panic_message(trie.fuzzy_match, "a", 5, None) == message
        assert panic_message(trie.exact_match, "a") == message
        assert panic_message(trie.fuzzy_match, "a", 5, None) == message

    def test_a_cycle_that_pruning_never_reaches_is_harmless(self):
        # Node 2 leads back to the root, but "zz" is too far from "a" to go there.
        trie = _kelvaro.from_internal_data([0, 1, 2], ["", "z", "z"], [None, None, None], [1, 2, 0])
        assert trie.fuzzy_match("a", 0, None) == []

    def test_many_overlapping_runs_end_quickly(self):
        # Every even node's run is the whole of child_indices, which lists
        # node 0 over and over: each visit pushes thousands of entries.
        n = 2000
        trie = _kelvaro.from_internal_data([0, n] * (n // 2), ["a"] * n, [None] * n, [0] * n)
        assert panic_message(trie.fuzzy_match, "", 2**64 - 1, None) == "child runs do not form a tree"


# Words over a small alphabet, so that they share prefixes, with characters
# beyond ASCII and beyond the Basic Multilingual Plane.
alphabet = st.sampled_from("abcé\U0001f600\0")
words = st.lists(st.text(alphabet, max_size=6), max_size=25)
queries = st.text(alphabet, max_size=7)


@settings(max_examples=300, deadline=None)
@given(words, queries, st.integers(0, 3))
def test_fuzzy_finds_exactly_the_words_within_the_distance(word_list, query, distance):
    trie = trie_from_words(word_list)
    payload_of = {word: position for position, word in enumerate(word_list)}
    expected = {(w, p, reference.levenshtein(w, query)) for w, p in payload_of.items() if w}
    expected = {match for match in expected if match[2] <= distance}
    found = trie.fuzzy_match(query, distance, None)
    assert len(found) == len(set(found))
    assert set(found) == expected
    exact = trie.exact_match(query)
    assert exact == (next(iter(m for m in found if m[2] == 0), None) if distance >= 0 else None)
    assert trie.fuzzy_match(query, 0, None) == ([exact] if exact else [])


@st.composite
def random_trees(draw):
    """Any tree: siblings may share characters, payloads are sparse."""
    size = draw(st.integers(1, 30))
    chars = [""] + [draw(st.sampled_from("ab\U0001f600")) for _ in range(size - 1)]
    children = [[] for _ in range(size)]
    for node in range(1, size):
        children[draw(st.integers(0, node - 1))].append(node)
    for run in children:
        draw(st.randoms()).shuffle(run)
    payloads = [draw(st.one_of(st.none(), st.integers(0, 2**32 - 1))) for _ in range(size)]
    return chars, payloads, children


@settings(max_examples=300, deadline=None)
@given(random_trees(), st.text(st.sampled_from("ab\U0001f600"), max_size=5), st.integers(0, 3), st.one_of(st.none(), st.integers(0, 6)))
def test_search_matches_the_reference_in_order(tree, query, distance, limit):
    chars, payloads, children = tree
    arrays = arrays_from_children(chars, payloads, children)
    trie = _kelvaro.from_internal_data(*arrays)
    found = trie.fuzzy_match(query, distance, limit)
    assert found == reference.fuzzy_match(arrays, query, distance, limit)
    exact = reference.fuzzy_match(arrays, query, 0, None)
    assert trie.exact_match(query) == (exact[0] if exact else None)
    unbounded = trie.fuzzy_match(query, distance, None)
    assert found == (unbounded if limit is None else unbounded[:limit])
    # Every node within the distance is found once, duplicates of a text included.
    texts = path_texts(chars, children)
    expected = sorted(
        (texts[n], payloads[n], reference.levenshtein(texts[n], query))
        for n in range(1, len(chars))
        if payloads[n] is not None and reference.levenshtein(texts[n], query) <= distance
    )
    assert sorted(unbounded) == expected
