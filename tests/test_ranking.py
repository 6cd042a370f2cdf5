"""Suggestions and completions: what they find against a brute force, how
they cut at a limit, and what they make of common English typos."""
import json
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from kelvaro import Index, Match, default_index
from test_walks import distance
from kelvaro import _native_index
from typo_model import PRICES, ranked, sound_key, sounds_alike, typo_cost

words_and_weights = st.dictionaries(
    st.text(st.sampled_from("abcde"), min_size=1, max_size=7), st.integers(0, 50), min_size=1, max_size=40
)
probes = st.text(st.sampled_from("abcdef"), max_size=8)
limits = st.one_of(st.none(), st.integers(0, 8))
# Letters that meet every price of the typo cost: vowels, neighbouring keys,
# letters that sound alike, doubled letters, apostrophes, and case, outside
# ASCII too.
mixed_case = st.text(st.sampled_from("aesckAEÉé'"), max_size=4)


@st.composite
def with_typos(draw, word):
    for _ in range(draw(st.integers(1, 2))):
        at = draw(st.integers(0, len(word)))
        letter = draw(st.sampled_from("aesckAEÉé'"))
        word = draw(st.sampled_from([
            word[:at] + letter + word[at:],
            word[:at] + word[at + 1 :],
            word[:at] + letter + word[at + 1 :],
            word[:at] + word[at + 1 : at + 2] + word[at : at + 1] + word[at + 2 :],
        ]))
    return word


# Weights for a few words and none for the rest, as in a large dictionary
# with counts for its common words, where suggest walks the weighted first.
few_weights = st.integers(0, 50).map(lambda v: v if v % 4 == 1 else 0)

# Letters that spell many sounds, with their silent and doubled spellings.
sounding = st.text(st.sampled_from("ptkcsnrlmaeiohgf'"), min_size=1, max_size=10)


@st.composite
def respelled(draw, word):
    """The word with a spelling of a sound swapped for another."""
    spellings = ["f", "ph", "gh", "k", "c", "ck", "s", "ss", "sh", "ti", "n", "kn", "gn", "e", "ee", "i", ""]
    for _ in range(draw(st.integers(1, 3))):
        at = draw(st.integers(0, len(word)))
        word = word[:at] + draw(st.sampled_from(spellings)) + word[at + draw(st.integers(0, 2)) :]
    return word


def check_ranking(stored, word, max_dist, limit, weighted, sounds):
    index = Index.from_words(stored, weighted=weighted, sounds=sounds)
    everything = index.suggest(word, max_dist, None)
    # The candidates: the words within max_dist, and, from an index with
    # sounds, the words that sound like it however far they are spelled.
    within = [(w, v, distance(w, word, True)) for w, v in stored.items()]
    found = [m for m in within if m[2] <= max_dist or (sounds and max_dist and sounds_alike(m[0], word))]
    assert everything == [Match(*m) for m in ranked(word, found, weighted, sounds)]
    # The subtrees skipped once the best few are known hid nothing better.
    assert index.suggest(word, max_dist, limit) == everything[:limit]


class TestSuggest:
    @settings(max_examples=500, deadline=None)
    @given(st.one_of(st.dictionaries(mixed_case, st.integers(0, 50), min_size=1, max_size=30),
                     st.dictionaries(mixed_case, few_weights, min_size=1, max_size=30)),
           st.data(), st.integers(0, 3), limits, st.booleans(), st.booleans())
    def test_the_ranking_of_the_model_and_its_best_few(self, stored, data, max_dist, limit, weighted, sounds):
        # The word is random, or a stored word with a typo or two: then the
        # candidates' costs lie close together and every price decides.
        word = data.draw(st.one_of(mixed_case, st.sampled_from(sorted(stored)).flatmap(with_typos)))
        check_ranking(stored, word, max_dist, limit, weighted, sounds)

    @settings(max_examples=300, deadline=None)
    @given(st.dictionaries(st.text(st.sampled_from("aesckAÉé'"), min_size=1, max_size=12), st.integers(1, 50),
                           min_size=1, max_size=40),
           st.data(), st.integers(0, 3), limits, st.booleans())
    def test_a_dictionary_with_a_count_for_every_word(self, stored, data, max_dist, limit, sounds):
        # Its suggestions within two edits come through the table of every
        # word's deletions, on words long enough for many deletions each.
        word = data.draw(st.one_of(mixed_case, st.sampled_from(sorted(stored)).flatmap(with_typos)))
        index = Index.from_words(stored, weighted=True, sounds=sounds)
        index.suggest(word)
        assert index.memory_usage()["table of deletions"] > 0
        check_ranking(stored, word, max_dist, limit, True, sounds)

    @settings(max_examples=300, deadline=None)
    @given(st.dictionaries(sounding, few_weights, min_size=1, max_size=30), st.data(),
           st.integers(0, 2), limits, st.booleans())
    def test_words_that_sound_alike(self, stored, data, max_dist, limit, weighted):
        # Words of letters that spell many sounds, and respellings of them
        # that sound the same though several edits away.
        word = data.draw(st.one_of(sounding, st.sampled_from(sorted(stored)).flatmap(respelled)))
        check_ranking(stored, word, max_dist, limit, weighted, True)

    @settings(max_examples=300, deadline=None)
    @given(st.dictionaries(st.text(st.sampled_from("abcd"), min_size=1, max_size=6),
                           st.sampled_from([0, 0, 0, 1, 5, 1_000_000]), min_size=2, max_size=40),
           st.data(), st.integers(1, 4))
    def test_the_best_few_when_words_with_a_weight_fill_them(self, stored, data, limit):
        # Words of few letters, many with a weight, some far heavier than
        # others, and a word made by leaving out up to two letters of one
        # (the last among them): the words with a weight found first fill
        # the limit, so that a heavy one two edits away that the first search
        # misses is not put back by the search of the others.
        stored_word = data.draw(st.sampled_from(sorted(stored)))
        left_out = sorted(data.draw(st.sets(st.integers(0, len(stored_word) - 1), max_size=2)))
        word = "".join(ch for i, ch in enumerate(stored_word) if i not in left_out)
        check_ranking(stored, word, 2, limit, True, data.draw(st.booleans()))

    @pytest.mark.parametrize(
        "stored, word, max_dist, limit, best",
        [
            # A swap compared without case costs less per counted edit than
            # any single edit, so the bound that prunes must allow for it.
            (["bA", "ba"], "AaB", 3, 1, "bA"),
            ({"ab": 5, "Bb": 43}, "BA", 2, 1, "ab"),
            # A heavy word far from the word under a small limit.
            ({"ccca": 37, "cc": 27}, "a", 3, 1, "ccca"),
            # A swap right at the point where the split search cuts the word.
            (["acbd"], "abcd", 1, None, "acbd"),
            # The stored empty word, found like any other.
            (["", "a", "b"], "x", 1, None, ""),
            (["", "a"], "", 0, None, ""),
            # The price table: a vowel for a vowel, a swap before a substitution,
            # the other case of any letter.
            (["bbt", "bet"], "bot", 2, None, "bet"),
            (["the", "ten"], "teh", 2, None, "the"),
            (["Émile", "émilo"], "émile", 2, None, "Émile"),
            (["Zoe", "zoa"], "zoe", 2, None, "Zoe"),
            (["Ärger", "ärgor"], "ärger", 2, None, "Ärger"),
            (["\U00010400a", "\U00010428e"], "\U00010428a", 2, None, "\U00010400a"),
            # The heavy word is two letters left out, the last among them,
            # and the light one alone fills the limit.
            ({"abcd": 1000000, "abx": 1, "zzzz": 0, "yyyy": 0, "wwww": 0}, "ab", 2, 1, "abcd"),
        ],
    )
    def test_the_best_suggestion(self, stored, word, max_dist, limit, best):
        index = Index.from_words(stored, weighted=isinstance(stored, dict))
        assert index.suggest(word, max_dist, limit)[0].word == best

    def test_sound_keys_of_the_twin(self):
        # Every word of the English list, and the same words in upper case
        # and with letters outside ASCII, keyed alike by both.
        words = list(default_index())
        for word in words + [w.upper() for w in words[::50]] + ["", "h", "'", "ÉTÉ", "K"]:
            assert _native_index.sound_key(word) == sound_key(word), word
        assert sound_key("necessary") == sound_key("nessisary") == sound_key("nesesary")
        assert sound_key("phone") == sound_key("fone") != sound_key("pone")

    def test_the_model_follows_the_price_table(self):
        readme = (Path(__file__).parent.parent / "README.md").read_text(encoding="utf-8")
        table = readme.split("| operation | cost |")[1].split("\n\n")[0]
        costs = [int(row.rsplit("|", 2)[1]) for row in table.strip().splitlines()[1:]]
        assert costs == list(PRICES.values())
        assert [typo_cost(meant, "tset") for meant in ("test", "Tset", "tet", "tsset", "tsxet")] == [3, 2, 9, 3, 5]
        assert [typo_cost(meant, typed) for meant, typed in [("don't", "dont"), ("its", "it's")]] == [2, 2]

    def test_weights_against_typos(self):
        index = Index.from_words({"the": 1000, "then": 10, "ten": 0, "tech": 50}, weighted=True)
        assert [m.word for m in index.suggest("teh")] == ["the", "tech", "then", "ten"]
        # Without weights, by typo cost alone: a swap costs less than another letter.
        plain = Index.from_words(["tea", "the", "ten"])
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
    def test_weights_need_values(self):
        with pytest.raises(TypeError, match=r"weighted=True needs the weights: give a mapping"):
            Index.from_words(["the", "of", "zebra"], weighted=True)
        assert len(Index.from_words([], weighted=True)) == 0
        assert repr(Index.from_words({"the": 9, "of": 5}, weighted=True)) == "<kelvaro.Index of 2 words, weighted>"

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
        for command in (["search", "--transpositions"], ["suggest"]):
            shown = kelvaro(*command, "teh", "--json")
            assert shown.returncode == 0
            assert '"matches": [{"word": "the"' in shown.stdout

    def test_search_means_the_same_on_every_index(self, tmp_path):
        (tmp_path / "counts.txt").write_text("tea 5\nten 50\nthe 9\n")
        (tmp_path / "words.txt").write_text("tea\nten\nthe\n")
        kelvaro("build", "--counts", str(tmp_path / "counts.txt"), "-o", str(tmp_path / "weighted.kvx"))
        kelvaro("build", str(tmp_path / "words.txt"), "-o", str(tmp_path / "plain.kvx"))
        for name, with_counts in [("weighted", True), ("plain", False)]:
            path = str(tmp_path / f"{name}.kvx")
            for options, best_first in [([], ["ten", "tea"]), (["--transpositions"], ["ten", "the", "tea"])]:
                # The same words at the same distances; counts only order the equally near.
                expected = best_first if with_counts else sorted(best_first)
                shown = json.loads(kelvaro("search", "-i", path, "teh", *options, "--json").stdout)
                assert [(m["word"], m["distance"]) for m in shown["matches"]] == [(w, 1) for w in expected]
                shown = json.loads(kelvaro("search", "-i", path, "teh", "-k", "1", *options, "--json").stdout)
                assert [m["word"] for m in shown["matches"]] == expected[:1]

    def test_counts(self, tmp_path):
        (tmp_path / "counts.txt").write_text("apple\t30\nbanana 12\n\npear x\n")
        built = kelvaro("build", "--counts", str(tmp_path / "counts.txt"), "-o", str(tmp_path / "i.kvx"))
        assert built.returncode == 1 and "line 4 is not a word and a count" in built.stderr
        (tmp_path / "counts.txt").write_text("apple\t30\nbanana 12\n")
        kelvaro("build", "--counts", str(tmp_path / "counts.txt"), "-o", str(tmp_path / "i.kvx"))
        shown = kelvaro("complete", "-i", str(tmp_path / "i.kvx"), "-", stdin="ban\n")
        assert "banana" in shown.stdout and shown.returncode == 0


def test_words_deeper_than_the_per_node_length_bounds():
    # The trie keeps, per node, how far below it the nearest word and the
    # deepest node lie, held at 255 ("255 or more"): a search that read the
    # cap as a length would miss the words longer than it.
    words = ["a" * 300, "a" * 260 + "b", "b" * 254, "b" * 256]
    # (Without sounds: every word of one letter sounds alike.)
    index = Index.from_words(words, sounds=False)
    for query, max_dist in [("a" * 300, 0), ("a" * 299, 1), ("a" * 301, 2), ("a" * 262, 2), ("b" * 255, 1)]:
        expected = sorted((w, distance(w, query, False)) for w in words if distance(w, query, False) <= max_dist)
        assert sorted((m.word, m.distance) for m in index.search(query, max_dist)) == expected
        assert sorted((m.word, m.distance) for m in index.suggest(query, max_dist, None)) == expected
    assert [m.word for m in index.complete("a" * 280, 0)] == ["a" * 300]
    assert [m.word for m in index.complete("b" * 255, 0)] == ["b" * 256]
