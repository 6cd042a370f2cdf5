"""The project's vocabulary and the confidence of findings: which unknown
words of a tree are reported, as a user of kelvaro check would judge them."""

from __future__ import annotations

from typing import Optional

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from kelvaro import _text, _vocabulary, _word_shapes, default_index

# Prose in the voice of a code base's comments, in which the words around
# the findings are used several times each, as a tree uses its words.
TREE = (
    "Receive the message and parse the configuration before the worker starts.\n"
    "The worker will receive each message in order; the configuration is read once.\n"
    "A message that the worker cannot parse is logged, and the worker goes on.\n"
) * 20


def project(*texts: str, limit: Optional[int] = 3) -> _vocabulary.ProjectWords:
    """The vocabulary of a tree whose files hold `texts`, checked as kelvaro
    check reads them."""
    index = default_index()
    words = _vocabulary.ProjectWords(index, 2, limit)
    counts = words.new_counts()
    for text in texts:
        for found in _text.check(index, text, 2, limit, None, code=True, suggest_unknown=False, counts=counts):
            words.add(_vocabulary.occurrence_of(found, text))
    words.add_counts(counts)
    return words


@pytest.mark.parametrize(
    "typo, meant",
    [
        ("recieve", "receive"),  # a common misspelling
        ("mesage", "message"),  # a letter dropped
        ("workker", "worker"),  # a letter doubled
        ("confgiuration", "configuration"),  # two letters swapped
        ("parsr", "parse"),  # a neighbouring key
    ],
)
def test_a_slip_of_a_word_the_tree_uses_is_reported_with_that_word_first(typo: str, meant: str) -> None:
    words = project(TREE, f"Then {typo} it.\n")
    verdict = words.verdict_on(typo)
    assert verdict is not None, typo
    assert 0.5 <= verdict.confidence <= 1
    assert verdict.suggestions[0].word == meant
    assert verdict.fix == meant


@pytest.mark.parametrize(
    "word, why",
    [
        ("searchpath", "two stored words joined, as identifiers are"),
        ("initialise", "a British spelling"),
        ("unparsed", "a prefix on a stored word"),
        ("nworkers", "one letter before a stored word, as identifiers are made"),
        ("configurations", "an inflection"),
        ("worker's", "a possessive"),
    ],
)
def test_words_made_of_known_words_are_not_reported(word: str, why: str) -> None:
    words = project(TREE, f"See {word} here.\n")
    assert words.verdict_on(word) is None, why


def test_a_term_the_project_uses_throughout_is_its_own() -> None:
    # "maint" is a slip away from "main" and "mint", but a tree that writes
    # it in many places means it.
    words = project(TREE, "The maint task runs.\n" * 12)
    assert words.verdict_on("maint") is None
    # ...and a slip of the project's own term is still reported, with it.
    words = project(TREE, "The maint task runs.\n" * 12, "The mainnt task.\n")
    verdict = words.verdict_on("mainnt")
    assert verdict is not None and verdict.suggestions[0].word == "maint"


def test_a_slip_used_twice_is_still_reported_when_its_word_is_far_commoner() -> None:
    words = project(TREE, "We recieve it.\n", "They recieve it.\n")
    assert words.verdict_on("recieve") is not None


@settings(max_examples=20, deadline=None)
@given(st.integers(min_value=1, max_value=4))
def test_every_repeat_lowers_the_confidence(repeats: int) -> None:
    def confidence(times: int) -> float:
        words = project(TREE, "Send the mesage now.\n" * times)
        verdict = words.verdict_on("mesage")
        return 0.0 if verdict is None else verdict.confidence

    assert confidence(repeats + 1) <= confidence(repeats)


@pytest.mark.parametrize(
    "typo, fix",
    [
        ("becuase", "because"),  # one reading far ahead of the rest
        ("tehm", "them"),
        ("ther", None),  # "their", "other", "there": too close to choose
        ("inut", None),  # "input", "int"
    ],
)
def test_a_fix_is_the_first_suggestion_and_only_when_it_stands_out(typo: str, fix: Optional[str]) -> None:
    words = project(TREE, f"And {typo} so.\n")
    verdict = words.verdict_on(typo)
    assert verdict is not None
    assert verdict.fix == fix
    if fix is not None:
        assert verdict.suggestions[0].word == fix


def test_suggestions_follow_the_limit_and_are_only_made_for_reported_words() -> None:
    words = project(TREE, "Then mesage it.\n", limit=1)
    verdict = words.verdict_on("mesage")
    assert verdict is not None and len(verdict.suggestions) == 1
    none = project(TREE, "Then mesage it.\n", limit=0).verdict_on("mesage")
    assert none is None or none.suggestions == []


@pytest.mark.parametrize(
    "text, word, name",
    [
        ("Thanks to Ada Lovelace for it.", "Lovelace", True),  # beside another name
        ("- Danilo Bellini\n", "Danilo", True),  # a list of names
        ("It was made in Oslo last year.", "Oslo", True),  # a capital inside a sentence
        ("Done. Servaying the field.", "Servaying", False),  # a sentence's first word
        ("Bellini\nServaying the field.", "Servaying", False),  # a name on the line above is no neighbour
        ("Prices in USD only.", "USD", True),  # an acronym
        ("the recieve step", "recieve", False),
    ],
)
def test_what_is_written_as_a_name(text: str, word: str, name: bool) -> None:
    start = text.index(word)
    assert _word_shapes.looks_like_a_name(text, start, start + len(word)) is name


@pytest.mark.parametrize(
    "text, word, beside",
    [
        ("I whould go", "whould", ("I", "go")),
        ("end. whould\tgo", "whould", (None, "go")),  # punctuation parts them
        ("I\nwhould, go", "whould", (None, None)),  # so does a line break
        ("don't whould it's", "whould", ("don't", "it's")),
    ],
)
def test_the_words_beside_a_finding(text: str, word: str, beside: tuple) -> None:
    start = text.index(word)
    assert _word_shapes.words_beside(text, start, start + len(word)) == beside


def test_the_distance_bounds_what_is_shown_not_what_is_weighed() -> None:
    index = default_index()
    text = TREE + "Then mesage it.\n"
    for max_dist, shown in ((0, []), (1, ["message"])):
        words = _vocabulary.ProjectWords(index, max_dist, 1)
        counts = words.new_counts()
        for found in _text.check(index, text, max_dist, 1, None, code=True, suggest_unknown=False, counts=counts):
            words.add(_vocabulary.occurrence_of(found, text))
        words.add_counts(counts)
        verdict = words.verdict_on("mesage")
        assert verdict is not None and [match.word for match in verdict.suggestions] == shown
