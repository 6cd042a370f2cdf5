"""Match, the result of every lookup: a module of its own, importing
nothing of the package, so that the native index can take the class when
it is loaded."""

from typing import NamedTuple


class Match(NamedTuple):
    """One search result: a stored word as it was given, its value, and its
    edit distance from the query (after normalisation, if the index has one)."""

    word: str
    value: int
    distance: int


Match.__module__ = "kelvaro"
