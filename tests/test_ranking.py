"""Suggestions and completions: what they find against a brute force, how
they cut at a limit, and what they make of common English typos."""
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from kelvaro import Index, Match, default_index
from test_walks import distance

words_and_weights = st.dictionaries(
    st.text(st.sampled_from("abcde"), min_size=1, max_size=7), st.integers(0, 50), min_size=1, max_size=40
)
probes = st.text(st.sampled_from("abcdef"), max_size=8)
limits = st.one_of(st.none(), st.integers(0, 8))


class TestSuggest:
    @settings(max_examples=300, deadline=None)
    @given(words_and_weights, probes, st.integers(0, 3), limits, st.booleans())
    def test_the_candidates_and_the_best_few(self, stored, word, max_dist, limit, weighted):
        index = Index.from_words(stored, weighted=weighted)
        everything = index.suggest(word, max_dist, None)
        within = {w for w in stored if distance(w, word, True) <= max_dist}
        assert {match.word for match in everything} == within
        assert all(match.distance == distance(match.word, word, True) for match in everything)
        if word in stored:
            assert everything[0] == Match(word, stored[word], 0)
        # The subtrees skipped once the best few are known hid nothing better.
        assert index.suggest(word, max_dist, limit) == everything[:limit]

    def test_weights_against_typos(self):
        index = Index.from_words({"the": 1000, "then": 10, "ten": 0, "tech": 50}, weighted=True)
        assert [m.word for m in index.suggest("teh")] == ["the", "tech", "then", "ten"]
        # Without weights, by typo cost alone: a swap costs less than a new letter.
        plain = Index.from_words(["then", "the", "tech"])
        assert [m.word for m in plain.suggest("teh")][:1] == ["the"]

    @pytest.mark.parametrize(
        "typo, meant",
        [("teh", "the"), ("speling", "spelling"), ("recieve", "receive"), ("acommodate", "accommodate"),
         ("beleive", "believe"), ("definately", "definitely"), ("occured", "occurred")],
    )
    def test_common_english_typos(self, typo, meant):
        assert default_index().suggest(typo)[0].word == meant


def prefix_distance(word, prefix, transpositions):
    return min(distance(word[:k], prefix, transpositions) for k in range(len(word) + 1))


class TestComplete:
    @settings(max_examples=300, deadline=None)
    @given(words_and_weights, probes, st.integers(0, 3), limits, st.booleans(), st.booleans())
    def test_against_every_stored_word(self, stored, prefix, max_dist, limit, weighted, transpositions):
        index = Index.from_words(stored, weighted=weighted)
        found = [(w, v, prefix_distance(w, prefix, transpositions)) for w, v in stored.items()]
        found = [m for m in found if m[2] <= max_dist]
        found.sort(key=lambda m: (m[2], -m[1], m[0]) if weighted else (m[2], m[0]))
        expected = found if limit is None else found[:limit]
        assert index.complete(prefix, max_dist, limit, transpositions=transpositions) == expected

    @pytest.mark.parametrize(
        "typed, expected",
        [("goverm", "government"), ("beutif", "beautiful"), ("neccess", "necessary"),
         ("restaurnt", "restaurant"), ("informat", "information")],
    )
    def test_common_prefixes_with_a_typo(self, typed, expected):
        assert expected in [match.word for match in default_index().complete(typed)]


class TestWeights:
    def test_weights_are_kept_and_saturate(self, tmp_path):
        index = Index.from_words({"a": 2**40, "b": 7}, weighted=True)
        assert index.weighted and index.get("a") == 2**32 - 1
        index.save(tmp_path / "w.kvx")
        assert Index.load(tmp_path / "w.kvx").weighted
        assert Index.from_words(["a"]).weighted is False
        with pytest.raises(ValueError):
            Index.from_words({"a": 2**40})
        with pytest.raises(TypeError):
            Index.from_words(["a"], weighted=1)


def kelvaro(*args, stdin=""):
    command = [sys.executable, "-m", "kelvaro", *args]
    return subprocess.run(command, input=stdin, capture_output=True, text=True)


class TestCommandLine:
    def test_search_and_suggest_rank_by_counts(self):
        for command in ("search", "suggest"):
            shown = kelvaro(command, "teh", "--json")
            assert shown.returncode == 0
            assert '"matches": [{"word": "the"' in shown.stdout

    def test_counts(self, tmp_path):
        (tmp_path / "counts.txt").write_text("apple\t30\nbanana 12\n\npear x\n")
        built = kelvaro("build", "--counts", str(tmp_path / "counts.txt"), "-o", str(tmp_path / "i.kvx"))
        assert built.returncode == 1 and "line 4 is not a word and a count" in built.stderr
        (tmp_path / "counts.txt").write_text("apple\t30\nbanana 12\n")
        kelvaro("build", "--counts", str(tmp_path / "counts.txt"), "-o", str(tmp_path / "i.kvx"))
        shown = kelvaro("complete", "-i", str(tmp_path / "i.kvx"), "-", stdin="ban\n")
        assert "banana" in shown.stdout and shown.returncode == 0
