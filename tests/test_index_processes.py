"""Pickling PrefixSearch and Index, and search_many over worker processes."""
import copy
import multiprocessing
import pickle
import subprocess
import sys
import textwrap

import pytest

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


def test_search_many_with_spawned_workers_and_a_lambda(monkeypatch):
    spawn = multiprocessing.get_context("spawn")
    monkeypatch.setattr(multiprocessing, "get_context", lambda method=None: spawn)
    index = Index.from_words(WORDS, normalize=lambda word: word.casefold())
    assert index.search_many(QUERIES[:7], 2, processes=2) == loop_of_search(index, QUERIES[:7], 2)


def search_in_worker(index, query):
    return index.search(query, 2)


class TestSearchMany:
    @pytest.mark.parametrize("processes", [1, 2, 3])
    @pytest.mark.parametrize("max_dist, limit, sorted", [(1, None, False), (2, 2, False), (2, 1, True)])
    def test_matches_a_loop_of_search(self, processes, max_dist, limit, sorted):
        index = casefolded()
        expected = loop_of_search(index, QUERIES, max_dist, limit, sorted)
        assert index.search_many(QUERIES, max_dist, limit, sorted=sorted, processes=processes) == expected

    def test_defaults_and_small_batches(self):
        index = casefolded()
        assert index.search_many(iter(QUERIES)) == loop_of_search(index, QUERIES)
        assert index.search_many([]) == []
        assert index.search_many(["tre"], processes=4) == [index.search("tre")]

    def test_with_spawned_workers(self, tmp_path):
        # Where workers are spawned rather than forked (the default on some
        # platforms), each receives the index pickled, once.
        script = textwrap.dedent(
            """
            import multiprocessing, sys
            import kelvaro
            if __name__ == "__main__":
                multiprocessing.set_start_method("spawn")
                index = kelvaro.Index.from_words(["tree", "trie", "three"])
                queries = ["tre", "tree", "x"] * 4
                many = index.search_many(queries, 1, processes=2)
                sys.exit(0 if many == [index.search(q, 1) for q in queries] else 1)
            """
        )
        (tmp_path / "spawned.py").write_text(script)
        subprocess.run([sys.executable, str(tmp_path / "spawned.py")], check=True, timeout=120)

    @pytest.mark.parametrize(
        "queries, kwargs, error, message",
        [
            ("tree", {}, TypeError, "queries must be an iterable of str, not a single str"),
            (5, {}, TypeError, "queries must be iterable, not int"),
            (["a", 5], {}, TypeError, r"queries\[1\] must be a str, not int"),
            (["a"], {"processes": 0}, ValueError, "processes must be 1 or more, not 0"),
            (["a"], {"processes": 1.5}, TypeError, "processes must be an int or None, not float"),
            (["a"], {"max_dist": -1}, ValueError, "max_dist must be 0 or more"),
            (["a"], {"limit": "x"}, TypeError, "limit must be an int"),
        ],
    )
    def test_bad_arguments(self, queries, kwargs, error, message):
        with pytest.raises(error, match=message):
            casefolded().search_many(queries, **kwargs)

    def test_an_error_in_a_worker_reaches_the_caller(self):
        index = Index.from_words(["a"], normalize=refuse_x)
        with pytest.raises(ValueError, match="no x"):
            index.search_many(["a", "x"] * 4, processes=2)


def refuse_x(word):
    if word == "x":
        raise ValueError("no x")
    return word
