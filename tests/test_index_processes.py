"""Pickling PrefixSearch and Index, indexes in worker processes, and the batch calls."""
import copy
import multiprocessing
import pickle
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _kelvaro
import kelvaro  # noqa: F401 - importing kelvaro registers pickling for PrefixSearch
from kelvaro import Index, Match

WORDS = ["spelling", "spelt", "swelling", "Spelling", "\u00e9t\u00e9", "", "tree", "trie", "three"]
QUERIES = ["speling", "SPELT", "ete", "", "tre", "xyzzy", "tree"] * 5


def casefolded():
    return Index.from_words(WORDS, normalize=str.casefold)


def loop_of_search(index, queries, max_dist=1, limit=None, sorted=False):
    return [index.search(query, max_dist, limit, sorted=sorted) for query in queries]


class TestPickling:
    def test_prefix_search(self):
        trie = Index.from_words(WORDS).trie
        for copied in [pickle.loads(pickle.dumps(trie, protocol)) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)]:
            assert type(copied) is _kelvaro.PrefixSearch
            assert copied.to_bytes() == trie.to_bytes()
        assert copy.deepcopy(trie).fuzzy_match("tre", 1, None) == trie.fuzzy_match("tre", 1, None)

    def test_index(self):
        index = casefolded()
        copied = pickle.loads(pickle.dumps(index))
        assert list(copied) == list(index) and copied.normalize is str.casefold
        assert loop_of_search(copied, QUERIES, 2) == loop_of_search(index, QUERIES, 2)
        assert pickle.loads(pickle.dumps(Match("a", 1, 0))) == Match("a", 1, 0)

    def test_equal_indexes(self):
        index = casefolded()
        copies = [pickle.loads(pickle.dumps(index)), casefolded(), Index.from_words(reversed(WORDS[::-1]), normalize=str.casefold)]
        assert all(copied == index and hash(copied) == hash(index) for copied in copies)
        for other in [
            Index.from_words(WORDS),
            Index.from_words(WORDS, values=[0] * len(WORDS), normalize=str.casefold),
            Index.from_words(WORDS[1:], normalize=str.casefold),
            Index.from_words(WORDS, normalize=str.lower),
            "not an index",
        ]:
            assert other != index

    def test_an_index_is_its_own_copy(self):
        index = casefolded()
        assert copy.copy(index) is index and copy.deepcopy(index) is index

    def test_a_lambda_normalisation_does_not_pickle(self):
        with pytest.raises((pickle.PicklingError, AttributeError, TypeError)):
            pickle.dumps(Index.from_words(["a"], normalize=lambda word: word))

    def test_through_spawned_processes(self):
        # Spawned workers share no memory with this process: index and
        # results travel pickled both ways.
        index = casefolded()
        with multiprocessing.get_context("spawn").Pool(2) as pool:
            results = pool.starmap(search_in_worker, [(index, query) for query in QUERIES[:7]])
        assert results == loop_of_search(index, QUERIES[:7], 2)


def search_in_worker(index, query):
    return index.search(query, 2)


class TestBatches:
    """Each batch call gives what a loop of its single call gives, on any
    number of threads; bad input fails as the single call would, naming the
    query's position."""

    @given(
        queries=st.lists(st.text(alphabet="aeilrstpSÉé\ud800", max_size=6), max_size=40),
        max_dist=st.integers(0, 3),
        limit=st.one_of(st.none(), st.integers(0, 3)),
        flags=st.tuples(st.booleans(), st.booleans()),
        threads=st.integers(1, 4),
    )
    @settings(max_examples=60, deadline=None)
    def test_equal_a_loop_of_the_single_call(self, queries, max_dist, limit, flags, threads):
        index = casefolded()
        sorted, transpositions = flags
        assert index.search_many(
            queries, max_dist, limit, sorted=sorted, transpositions=transpositions, threads=threads
        ) == [index.search(q, max_dist, limit, sorted=sorted, transpositions=transpositions) for q in queries]
        assert index.suggest_many(queries, max_dist, limit, threads=threads) == [
            index.suggest(q, max_dist, limit) for q in queries
        ]
        assert index.complete_many(queries, max_dist, limit, transpositions=transpositions, threads=threads) == [
            index.complete(q, max_dist, limit, transpositions=transpositions) for q in queries
        ]
        assert index.get_many(queries, -1, threads=threads) == [index.get(q, -1) for q in queries]

    @pytest.mark.parametrize("threads", [1, 2, 3, 4])
    def test_lengths_on_either_side_of_a_chunk(self, threads):
        """The threads share a batch out in chunks of up to 64 items, fewer
        for a short batch: lengths just below, at and past each size, down
        to the last item, which a partial last chunk holds."""
        index = casefolded()
        lengths = sorted({1, 2, 3} | {n + d for n in (16, 32, 64, 71, 128, 1024, 2048, 4096) for d in (-1, 0, 1)})
        for length in lengths:
            queries = (QUERIES * (length // len(QUERIES) + 1))[: length - 1] + ["three"]
            assert index.get_many(queries, -1, threads=threads) == [index.get(q, -1) for q in queries], length
            assert index.search_many(queries, 1, threads=threads) == loop_of_search(index, queries), length
            assert index.suggest_many(queries, threads=threads) == [index.suggest(q) for q in queries], length
            assert index.complete_many(queries, threads=threads) == [index.complete(q) for q in queries], length
        assert index.get_many(["a"] * 71, threads=2)[-1] is None

    def test_defaults_and_small_batches(self):
        index = casefolded()
        assert index.search_many(iter(QUERIES)) == loop_of_search(index, QUERIES)
        assert index.search_many([]) == [] and index.get_many([]) == []
        assert index.search_many(["tre"], threads=4) == [index.search("tre")]
        assert index.search_many(["tre"], threads=2**70) == [index.search("tre")]

    @pytest.mark.parametrize(
        "call, queries, kwargs, error, message",
        [
            ("search_many", "tree", {}, TypeError, "queries must be an iterable of str, not a single str"),
            ("search_many", 5, {}, TypeError, "queries must be iterable, not int"),
            ("search_many", ["a", 5], {}, TypeError, r"queries\[1\] must be a str, not int"),
            ("suggest_many", ["a", None], {}, TypeError, r"words\[1\] must be a str, not NoneType"),
            ("complete_many", ["a"], {"threads": 0}, ValueError, "threads must be 1 or more, not 0"),
            # Past a long long: too many threads is as many as help, too few is an error.
            ("search_many", ["a"], {"threads": -(2**70)}, ValueError, f"threads must be 1 or more, not {-(2**70)}"),
            ("suggest_many", ["a"], {"threads": -(2**64)}, ValueError, "threads must be 1 or more"),
            ("get_many", ["a"], {"threads": -(2**63) - 1}, ValueError, "threads must be 1 or more"),
            ("get_many", ["a"], {"threads": 1.5}, TypeError, "threads must be an int or None, not float"),
            ("search_many", ["a"], {"max_dist": -1}, ValueError, "max_dist must be 0 or more"),
            ("search_many", ["a"], {"limit": "x"}, TypeError, "limit must be an int"),
        ],
    )
    def test_bad_arguments(self, call, queries, kwargs, error, message):
        with pytest.raises(error, match=message):
            getattr(casefolded(), call)(queries, **kwargs)

    def test_a_failing_normalisation_names_the_query(self):
        index = Index.from_words(["a"], normalize=refuse_x)
        with pytest.raises(ValueError, match=r"queries\[1\]: no x"):
            index.search_many(["a", "x"] * 4, threads=2)
        assert index.search_many(["a"]) == [[Match("a", 0, 0)]]


def refuse_x(word):
    if word == "x":
        raise ValueError("no x")
    return word
