"""Every faster way of searching against the plain one it stands in for.

A trie that is tree-shaped (a tree whose every node has a run and a payload) is
searched by the typed walk; the same trie with one unreachable node more
(tests/test_fast_paths.py's not_a_tree) is searched by the general engine.
An index is searched by the split search where it pays, which must give
exactly what a brute force gives, in the walk's order.
"""
from hypothesis import given, settings
from hypothesis import strategies as st

import _kelvaro
from kelvaro import Index
from test_fast_paths import not_a_tree
from tries import arrays_from_children

# Letters that siblings share, a character outside the Basic Multilingual
# Plane, and an empty string for the root.
LETTERS = "ab\U0001f600"


@st.composite
def trees(draw):
    """Random trees: deep chains, wide nodes, siblings sharing characters,
    runs in any order."""
    shape = draw(st.sampled_from(["random", "chain", "wide"]))
    size = draw(st.integers(1, 60))
    chars = [""] + [draw(st.sampled_from(LETTERS)) for _ in range(size - 1)]
    children = [[] for _ in range(size)]
    for node in range(1, size):
        parent = {"random": draw(st.integers(0, node - 1)), "chain": node - 1, "wide": 0}[shape]
        children[parent].append(node)
    payloads = [draw(st.one_of(st.none(), st.integers(0, 9))) for _ in range(size)]
    return arrays_from_children(chars, payloads, children)


def wide_tree():
    """A root with thousands of children, every one a word, and a chain
    below the last."""
    letters = [chr(0x4E00 + i) for i in range(3000)]
    chars = [""] + letters + ["a"] * 80
    children = [list(range(1, 3001))] + [[] for _ in range(3000 + 80)]
    for node in range(3000, 3000 + 80):
        children[node].append(node + 1)
    payloads = [None] + list(range(3000 + 80))
    return arrays_from_children(chars, payloads, children)


WIDE = wide_tree()
# Queries up to 80 characters, longer than a machine word's bits.
queries = st.one_of(
    st.text(st.sampled_from(LETTERS + "c"), max_size=6),
    st.integers(60, 80).map(lambda n: "a" * n),
)
limits = st.one_of(st.none(), st.integers(0, 12))


class TestTypedWalk:
    @settings(max_examples=500, deadline=None)
    @given(trees(), queries, st.integers(0, 90), limits)
    def test_the_typed_walk_is_the_general_engine(self, arrays, query, distance, limit):
        typed = _kelvaro.from_internal_data(*arrays)
        general = _kelvaro.from_internal_data(*not_a_tree(arrays))
        assert typed.fuzzy_match(query, distance, limit) == general.fuzzy_match(query, distance, limit)
        assert typed.exact_match(query) == general.exact_match(query)

    @settings(max_examples=60, deadline=None)
    @given(st.text(st.sampled_from("\u4e00\u4e01\u4e02a"), max_size=82), st.integers(0, 3), limits)
    def test_a_node_with_thousands_of_children(self, query, distance, limit):
        typed = _kelvaro.from_internal_data(*WIDE)
        general = _kelvaro.from_internal_data(*not_a_tree(WIDE))
        assert typed.fuzzy_match(query, distance, limit) == general.fuzzy_match(query, distance, limit)
        assert typed.exact_match(query) == general.exact_match(query)


def distance(a, b, transpositions):
    """Levenshtein, or with transpositions the optimal string alignment distance."""
    rows = [list(range(len(b) + 1))]
    for i in range(1, len(a) + 1):
        row = [i]
        for j in range(1, len(b) + 1):
            best = min(rows[-1][j] + 1, row[j - 1] + 1, rows[-1][j - 1] + (a[i - 1] != b[j - 1]))
            if transpositions and i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                best = min(best, rows[-2][j - 2] + 1)
            row.append(best)
        rows.append(row)
    return rows[-1][-1]


def walk_order(query):
    """The order in which the trie walk meets words: at each position the
    character that continues the query first, then the others by code point."""
    return lambda word: [(not (i < len(query) and c == query[i]), c) for i, c in enumerate(word)]


ALPHABETS = ["ab", "abcdef", "".join(chr(0x4E00 + i) for i in range(60))]


@st.composite
def dictionaries(draw):
    alphabet = draw(st.sampled_from(ALPHABETS))
    words = draw(st.lists(st.text(st.sampled_from(alphabet), max_size=9), min_size=1, max_size=40))
    word = draw(st.sampled_from(words))
    # Mostly a stored word with a few edits, sometimes anything.
    query = draw(st.one_of(st.text(st.sampled_from(alphabet), max_size=12), st.just(word)))
    if query and draw(st.booleans()):
        i = draw(st.integers(0, len(query) - 1))
        query = query[:i] + draw(st.sampled_from(alphabet)) + query[i + 1 :]
    return words, query


class TestIndexSearch:
    @settings(max_examples=400, deadline=None)
    @given(dictionaries(), st.integers(0, 4), limits, st.booleans())
    def test_search_is_the_brute_force_in_walk_order(self, dictionary, max_dist, limit, transpositions):
        words, query = dictionary
        index = Index.from_words(words)
        stored = {word: value for value, word in enumerate(words)}
        expected = sorted(
            (w for w in stored if distance(w, query, transpositions) <= max_dist), key=walk_order(query)
        )
        expected = [(w, stored[w], distance(w, query, transpositions)) for w in expected][:limit]
        found = index.search(query, max_dist, limit, transpositions=transpositions)
        assert [tuple(match) for match in found] == expected
        if not transpositions and "" not in stored:
            assert index.trie.fuzzy_match(query, max_dist, limit) == expected

    def test_a_swap_wherever_the_split_search_cuts_the_query(self):
        # The split search cuts the query into pieces and gives each a share
        # of the edits; a swap that straddles a cut must still cost one.
        for query, max_dist in [("abcd", 1), ("abcdefgh", 1), ("abcdefghi", 2)]:
            for i in range(len(query) - 1):
                swapped = query[:i] + query[i + 1] + query[i] + query[i + 2 :]
                index = Index.from_words([swapped, "zzzzzzzzz"])
                assert [tuple(m) for m in index.search(query, max_dist, transpositions=True)] == [(swapped, 0, 1)]
                assert [tuple(m) for m in index.suggest(query, max_dist)] == [(swapped, 0, 1)]


# Two hundred ideographs: a root with far more children than the nodes
# below it, which the one-edit search joins by a search in the long run.
WIDE_ALPHABET = "".join(chr(0x4E00 + i) for i in range(200))


@st.composite
def one_edit_cases(draw):
    """A dictionary of every single character and some longer words, and a
    query one or two edits (a swap among them) from one of its words. The
    longer words and the edits use a few characters of the alphabet, so
    that the nodes below the root share them."""
    alphabet = draw(st.sampled_from([WIDE_ALPHABET, "abc"]))
    few = st.sampled_from(alphabet[:8])
    words = list(alphabet) + draw(st.lists(st.text(few, min_size=2, max_size=6), max_size=60))
    if draw(st.booleans()):
        words.append("")
    query = draw(st.sampled_from(words))
    for _ in range(draw(st.integers(0, 2))):
        i = draw(st.integers(0, len(query)))
        letter = draw(few)
        query = draw(
            st.sampled_from(
                [
                    query[:i] + letter + query[i + 1 :],
                    query[:i] + letter + query[i:],
                    query[:i] + query[i + 1 :],
                    query[:i] + query[i + 1 : i + 2] + query[i : i + 1] + query[i + 2 :],
                ]
            )
        )
    return words, query


class TestOneEditSearch:
    @settings(max_examples=300, deadline=None)
    @given(one_edit_cases(), limits, st.booleans(), st.booleans())
    def test_one_edit_is_the_brute_force_in_walk_order(self, case, limit, transpositions, sort):
        words, query = case
        index = Index.from_words(words)
        stored = {word: value for value, word in enumerate(words)}
        expected = [(w, stored[w], distance(w, query, transpositions)) for w in stored]
        expected = [m for m in expected if m[2] <= 1]
        if sort:
            expected.sort(key=lambda m: (m[2], m[0]))
        else:
            expected.sort(key=lambda m: walk_order(query)(m[0]))
        found = index.search(query, 1, limit, sorted=sort, transpositions=transpositions)
        assert [tuple(match) for match in found] == expected[:limit]
        if not transpositions and not sort and "" not in stored:
            assert index.trie.fuzzy_match(query, 1, limit) == expected[:limit]

    def test_queries_longer_than_the_one_edit_search_takes(self):
        # A long query is left to the split search; both find the same.
        word = "ab" * 50
        index = Index.from_words([word, word[:-1], word + "c", "x"])
        for query in [word, word[1:], word[:50] + "z" + word[51:]]:
            assert [tuple(m) for m in index.search(query, 1)] == index.trie.fuzzy_match(query, 1, None)
