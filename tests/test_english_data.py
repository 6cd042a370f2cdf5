"""The English index's data (tools/make_english_data.py) and what it makes
of the commonest slips: contractions, capitals, a difference of case."""
import gzip
from functools import lru_cache
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from kelvaro import Index, default_index
from test_ranking import check_ranking
from typo_model import case_only as differ_in_case_alone

ROOT = Path(__file__).parent.parent
DATA = ROOT / "src" / "kelvaro" / "data"


@lru_cache(maxsize=None)
def shipped_counts():
    counts = {}
    with gzip.open(DATA / "english-counts.txt.gz", "rt", encoding="utf-8") as f:
        for line in f:
            word, count = line.rstrip("\n").split("\t")
            assert word not in counts, word
            counts[word] = int(count)
    return counts


class TestShippedData:
    def test_one_spelling_per_key_and_a_count_for_every_word(self):
        counts = shipped_counts()
        keys = {w.casefold() for w in counts}
        assert len(keys) == len(counts) > 300_000
        assert all(0 < c < 2**32 for c in counts.values())
        # Commoner words higher, counted or estimated.
        assert max(counts, key=counts.get) == "the"
        assert counts["which"] > counts["witch"] > counts["wich"]

    def test_the_commonest_spelling_of_a_key(self):
        counts = shipped_counts()
        for kept, dropped in [("Paris", "paris"), ("English", "english"), ("Monday", "monday"), ("bill", "Bill")]:
            assert kept in counts and dropped not in counts

    def test_contractions_and_possessives_are_counted(self):
        counts = shipped_counts()
        # From the pairs they stand for: far above any estimate from a
        # size class, in the order of their expansions.
        assert counts["don't"] > counts["I'm"] > counts["you're"] > counts["won't"] > 10**6
        # A possessive follows its stem; "it's" reads as "it is" too.
        assert counts["dog's"] < counts["dog"] and counts["it's"] > counts["it"] // 10
        assert counts["o'clock"] > 0

    def test_pairs_join_stored_words_on_the_same_scale(self):
        counts = shipped_counts()
        seen = set()
        with gzip.open(DATA / "english-pairs.txt.gz", "rt", encoding="utf-8") as f:
            for line in f:
                first, second, count = line.rstrip("\n").split("\t")
                assert first in counts and second in counts and (first, second) not in seen
                assert 0 < int(count) < 2**32
                seen.add((first, second))
                if (first, second) == ("do", "not"):
                    do_not = int(count)
        assert len(seen) > 200_000
        # A pair is no commoner than its words.
        assert do_not < counts["not"] and do_not < counts["do"]


# That the tool makes the shipped files again, byte for byte, is checked by
# `make check-data` (part of `make check`): it downloads the pinned wheels.


class TestRanking:
    @pytest.mark.parametrize(
        "typed, first",
        [("dont", "don't"), ("im", "I'm"), ("youre", "you're"), ("its", "its"), ("paris", "Paris"),
         ("PARIS", "Paris"), ("english", "English"), ("monday", "Monday")],
    )
    def test_the_english_index(self, typed, first):
        best = default_index().suggest(typed)[0]
        assert best.word == first
        assert best.distance == (0 if typed.casefold() == first.casefold() else 1)

    @pytest.mark.parametrize("weights", [None, {"Zoe": 1, "zoey": 10**6}, {"Zoe": 0, "zoey": 10**6}])
    def test_a_difference_of_case_comes_first(self, weights):
        # Before a letter left out, whatever the weights.
        stored = weights or ["Zoe", "zoey"]
        assert Index.from_words(stored, weighted=weights is not None).suggest("zoe")[0].word == "Zoe"
        accented = {"Émile": 1, "émilie": 10**6} if weights else ["Émile", "émilie"]
        assert Index.from_words(accented, weighted=weights is not None).suggest("émile")[0].word == "Émile"


# Letters with a case, inside ASCII and out, and some without.
cased = st.text(st.sampled_from("aAeEéÉßkKσΣ'x"), min_size=1, max_size=6)


def case_changes(word, flips):
    return "".join(ch.swapcase() if flip and len(ch.swapcase()) == 1 else ch for ch, flip in zip(word, flips))


@settings(max_examples=300, deadline=None)
@given(st.dictionaries(cased, st.integers(0, 50), min_size=1, max_size=20), st.data(), st.integers(1, 3),
       st.booleans(), st.booleans())
def test_random_case_changes(stored, data, max_dist, weighted, sounds):
    word = data.draw(st.sampled_from(sorted(stored)))
    typed = case_changes(word, data.draw(st.lists(st.booleans(), min_size=len(word), max_size=len(word))))
    found = Index.from_words(stored, weighted=weighted, sounds=sounds).suggest(typed, max_dist, None)
    # The typed text itself if stored, then every stored word that differs
    # from it in case alone and lies within max_dist, before any other.
    case_only = [differ_in_case_alone(m.word, typed) for m in found]
    assert case_only == sorted(case_only, reverse=True)
    if typed in stored:
        assert found[0].word == typed
    elif word in {m.word for m in found}:
        assert case_only[0]
    # And the same order as the simple model, limits and all.
    check_ranking(stored, typed, max_dist, 2, weighted, sounds)
