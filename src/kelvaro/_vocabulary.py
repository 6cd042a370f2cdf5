"""Which unknown words kelvaro check reports, and how sure it is of each.

For now every word is reported with confidence 1.0; the project-vocabulary
rule replaces the body of ProjectWords, keeping its interface.
"""

from __future__ import annotations

import threading
from typing import Dict, List, NamedTuple, Optional, Sequence, Tuple

from ._index import Index
from ._match import Match
from ._text import Misspelling


class Verdict(NamedTuple):
    """A word to report: how likely it is a typo, in (0, 1], its
    suggestions, best first, and the word --write puts in its place (None
    when the best is not clear)."""

    confidence: float
    suggestions: List[Match]
    fix: Optional[str]


class ProjectWords:
    """The unknown words of the files being checked, and their verdicts."""

    def __init__(self, index: Index, max_dist: int, limit: int) -> None:
        self._index = index
        self._max_dist = max_dist
        self._limit = limit
        self._lock = threading.Lock()
        self._verdicts: Dict[Tuple[str, bool], Verdict] = {}

    def add(self, word: str) -> None:
        """One occurrence of a word the index does not hold."""

    def add_counts(self, counts: Sequence[int]) -> None:
        """How often each stored word occurred, by its position in the index."""

    def verdict(self, miss: Misspelling) -> Optional[Verdict]:
        key = (miss.word.casefold(), miss.suspect)
        with self._lock:
            known = self._verdicts.get(key)
        if known is not None:
            return known
        # Two suggestions at least, to tell whether the best is alone.
        found = self._index.suggest(miss.word, self._max_dist, max(self._limit, 2))
        if miss.suspect:
            found = list(miss.suggestions) or [match for match in found if match.distance > 0]
        fix = found[0].word if found and (len(found) == 1 or found[1].distance > found[0].distance) else None
        verdict = Verdict(1.0, found[: self._limit], fix)
        with self._lock:
            self._verdicts[key] = verdict
        return verdict
