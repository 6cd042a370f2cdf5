"""Which unknown words of a tree of files are typos: the project's own
vocabulary, and the confidence of each finding.

A checker that reports every word its dictionary lacks is unusable on code:
identifiers, technical words and the project's own terms outnumber typos a
hundred to one. This module weighs, for each distinct unknown word of the
files checked, two readings against each other, with the likelihoods the
index already has:

- a typo: a word w that the index holds (or that the project uses often)
  typed as x. Its likelihood is p(w) * exp(-typo_cost(w, x) / 0.94), summed
  over the candidates: the same weighing by which suggestions are ranked
  (typo prices in tenths of an edit, and 0.94 per unit of ln count). p(w)
  mixes w's share of the English counts with its share of the tree's words:
  a typo is most often of a word the project itself uses.
- something meant: a word joined from stored words ("searchpath",
  "islower"), a stored word with a prefix, an inflection or a British
  spelling ("unparsed", "mixins", "initialise"), a stored word with one
  letter before it, as identifiers are made ("nrows", "xlabel"), a
  possessive or contraction of a known word, or a word the index has never
  seen, at a small fixed likelihood (NOVEL, larger for short words, which
  are mostly abbreviations, and for words always written as names).

The confidence is the typo reading's share of the two. A word used again
and again is the project's: every further occurrence multiplies the odds of
the meant reading by REPEAT, since one slip repeated exactly is rare, so a
term used throughout a tree ("maint", "nodejs") is never reported, while a
rare word a cheap slip away from a common one still is ("recieve" twice
beside a hundred "receive").

Only words reported get suggestions kept, and each distinct word is weighed
once.
"""

from __future__ import annotations

import array
import collections
import math
from typing import TYPE_CHECKING, Dict, List, NamedTuple, Optional, Sequence, Tuple

from . import _native_index
from ._match import Match
from ._text import Misspelling
from ._word_shapes import looks_like_a_name, stems, words_beside

if TYPE_CHECKING:
    from ._index import Index

# The weight of ln(count) against the typo cost in tenths: the ranking's own
# (kFrequencyWeight in search/suggestions.h).
FREQUENCY_WEIGHT = 0.94
# The likelihood of a word of four letters or more that is neither a typo
# nor made of known words: a name, a new term. Fitted on the bench's trees
# (bench/check_trees.py) for at most two reports per 1,000 clean lines with
# 95% of the typos found.
NOVEL = 1e-10
# Shorter words are abbreviations far more often: so many more times likely
# to be meant, per letter fewer.
SHORT_WORD_FACTOR = 3000.0
# How much likelier the meant reading gets with every further occurrence of
# the word in the tree.
REPEAT = 30.0
# How much likelier a word is meant when it is only ever written as a name
# (looks_like_a_name): people, places and products are most of the unknown
# words of prose, and a typo rarely takes a capital inside a sentence.
NAME = 10000.0
# The likelihood that two or three stored words are written as one, per
# their own (an identifier's "searchpath").
JOINED = 1e-3
# The likelihood that a stored word takes an affix, an inflection or another
# spelling, per its own.
FORM = 1e-2
# The share of a word's probability that comes from its use in the tree,
# against its English count.
TREE_SHARE = 0.8
# The confidence of a suspect: a stored word that the context makes at
# least the suspect ratio less likely than a word one edit away.
SUSPECT = 0.6
# A finding is reported when the typo reading is at least this likely.
REPORTED = 0.5
# A fix is applied (--write, --diff) when its reading is at least this many
# times as likely as the next one.
UNAMBIGUOUS = 3.0
# The most that the words beside a finding may change a reading's odds by,
# either way: a pair counted once must not outweigh the typo's own price.
CONTEXT_LIMIT = 100.0
# Words this long are also weighed as typos two edits away.
LONG_WORD = 6
# Candidates weighed per word: more than are shown, as the tree may reorder.
CANDIDATES = 8
# Words seen this often are the project's whatever they look like, and are
# not weighed at all: at REPEAT ** 2 against, no slip is that likely.
ALWAYS_MEANT = 3
# A project term must be used this often to be a candidate correction for a
# word the index cannot correct.
PROJECT_TERM = 3


class Verdict(NamedTuple):
    """How likely an unknown word is a typo, its likeliest corrections, and
    the one a fix applies (None when two readings are close)."""

    confidence: float
    suggestions: List[Match]
    fix: Optional[str]


class Occurrence(NamedTuple):
    """A finding, and the text around it: `around[at:]` starts with it."""

    found: Misspelling
    around: str
    at: int


# The characters kept on either side of a finding: enough for the words
# beside it and for telling a name.
_AROUND = 80


def new_counts(index: Index) -> "array.array[int]":
    """A zeroed count per stored word of `index`, as the check's `counts`
    takes: one array per thread. Any thread may make them."""
    return array.array("I", bytes(4 * len(index)))


def occurrence_of(found: Misspelling, text: str) -> Occurrence:
    """A finding of the check in `text`, with the few lines around it, which
    is all the vocabulary keeps of the text. Any thread may make them."""
    left = max(0, found.start - _AROUND)
    return Occurrence(found, text[left : found.end + _AROUND], found.start - left)


def _written_as_name(occurrence: Occurrence) -> bool:
    found = occurrence.found
    return looks_like_a_name(occurrence.around, occurrence.at, occurrence.at + len(found.word))


class ProjectWords:
    """The unknown words of the files checked, counted as they stream, and
    the verdict on each once all are in.

    add() and add_counts() are called from one thread; weigh() and verdict()
    after the last file."""

    def __init__(self, index: Index, max_dist: int, limit: Optional[int]) -> None:
        self._index = index
        self._max_dist = max_dist
        self._limit = limit
        self._fold = index.normalize if index.normalize is not None else str.lower
        self._unknown: collections.Counter[str] = collections.Counter()
        self._counts: List["array.array[int]"] = []
        self._verdicts: Dict[str, Optional[Verdict]] = {}
        # The readings of each reported word, likeliest first.
        self._scored: Dict[str, List[Tuple[float, Match]]] = {}
        # Where each unknown word was seen, while it is seen rarely enough
        # to be weighed.
        self._seen: Dict[str, List[Occurrence]] = collections.defaultdict(list)
        # The unknown words written somewhere other than as a name, among
        # those weighed.
        self._not_names: set[str] = set()
        self._tokens = 0
        self._terms: Optional[Index] = None
        self._counted = False
        weighted = index.weighted
        self._english_total = float(index._weight_total()) if weighted else 0.0
        self._uniform = 0.0 if weighted else 1.0 / max(1, len(index))

    # -- pass 1 --------------------------------------------------------------

    def new_counts(self) -> "array.array[int]":
        """A zeroed count per stored word, for one worker's check calls."""
        return new_counts(self._index)

    def add_counts(self, counts: "array.array[int]") -> None:
        """A worker's counts of stored words, once it is done."""
        self._counts.append(counts)
        self._tokens += sum(counts)

    def add(self, occurrence: Occurrence) -> None:
        """A finding of the check (occurrence_of), counted if it is a word
        the index lacks."""
        found = occurrence.found
        if not found.suspect:
            key = self._fold(found.word)
            self._unknown[key] += 1
            seen = self._seen[key]
            if len(seen) < ALWAYS_MEANT:
                seen.append(occurrence)

    # -- between the passes --------------------------------------------------

    def verdict(self, occurrence: Occurrence) -> Optional[Verdict]:
        """The verdict on a finding, None when it is not reported. Its
        corrections are ordered by the words beside it. A suspect, a stored
        word far rarer in its place than a word one edit away, keeps the
        check's own judgement, if the tree agrees."""
        found = occurrence.found
        if found.suspect:
            return self._suspect(found)
        verdict = self.verdict_on(found.word)
        if verdict is None or not self._index.weighted:
            return verdict
        before, after = words_beside(occurrence.around, occurrence.at, occurrence.at + len(found.word))
        if before is None and after is None:
            return verdict
        return self._in_context(self._fold(found.word), verdict, before, after)

    def _suspect(self, found: Misspelling) -> Optional[Verdict]:
        """A stored word far rarer in its place than a word one edit away
        ("wich was" for "which was"), reported when the project, too, says
        it is a slip: written in lower case (a capital makes it a name), used
        once or twice in the tree, and the likelier word used in it."""
        key = self._fold(found.word)
        if not found.suggestions or not found.word.islower() or self._tree_count(key) >= ALWAYS_MEANT:
            return None
        likelier = [match for match in found.suggestions if self._tree_count(self._fold(match.word)) > 0]
        return Verdict(SUSPECT, likelier, None) if likelier else None

    def _in_context(self, key: str, verdict: Verdict, before: Optional[str], after: Optional[str]) -> Verdict:
        """The verdict with its readings weighed again by how often each
        follows the word before and precedes the word after, in the index's
        counts of word pairs: "I whould" is "I would", "it whould" too."""
        scored = self._scored[key]
        if len(scored) < 2:
            return verdict
        weighed = []
        for likelihood, match in scored:
            meant = self._fold(match.word)
            if before is not None:
                likelihood *= self._lift(before, meant)
            if after is not None:
                likelihood *= self._lift(meant, after)
            weighed.append((likelihood, match))
        weighed.sort(key=lambda scored_match: -scored_match[0])
        return self._verdict(verdict.confidence, weighed)

    def _lift(self, first: str, second: str) -> float:
        """How much likelier the two words are together than apart, by the
        index's counts of word pairs: p(first second) / (p(first) p(second)),
        which is both p(second | first) / p(second) and p(first | second) /
        p(first); 1 for a pair the index does not count."""
        pair = self._index.pair_count(first, second)
        if not pair or self._english_total <= 0:
            return 1.0
        apart = (self._index.get(first) or 0) * (self._index.get(second) or 0)
        if not apart:
            return 1.0
        return min(CONTEXT_LIMIT, max(1 / CONTEXT_LIMIT, pair * self._english_total / apart))

    def verdict_on(self, word: str) -> Optional[Verdict]:
        """The verdict on an unknown word, None when it is not reported."""
        key = self._fold(word)
        if key not in self._verdicts:
            self.weigh([key])
        return self._verdicts[key]

    def weigh(self, words: Sequence[str]) -> None:
        """Verdicts on many words at once: their candidates are searched in
        batches, on every core."""
        todo = [key for key in dict.fromkeys(map(self._fold, words)) if key not in self._verdicts]
        if not todo:
            return
        terms = self._finish_counting()
        weighed = [key for key in todo if self._weighable(key)]
        for key in todo:
            self._verdicts[key] = None
        for key in weighed:
            if any(not _written_as_name(seen) for seen in self._seen[key]):
                self._not_names.add(key)
        # Every word one edit away (a swap counting one), which is quick; and
        # for a word of LONG_WORD letters or more not written as a name, the
        # likeliest words two edits away, as suggestions rank them: real
        # misspellings of long words are often two edits off ("neccesary"),
        # while two edits in a short word rewrite half of it. The search two
        # edits away is the costly part, so names and short words skip it.
        # These distances are the weighing's own; -d only bounds what is shown.
        near = self._index.search_many(weighed, 1, transpositions=True) if weighed else []
        far_keys = [key for key in weighed if len(key) >= LONG_WORD and key in self._not_names]
        far = dict(zip(far_keys, self._index.suggest_many(far_keys, 2, CANDIDATES))) if far_keys else {}
        for key, candidates in zip(weighed, near):
            candidates = candidates + far.get(key, [])
            if terms is not None:
                candidates = candidates + terms.suggest(key, 2, CANDIDATES)
            self._verdicts[key] = self._judge(key, candidates)

    # -- the rule -------------------------------------------------------------

    def _weighable(self, key: str) -> bool:
        letters = key.replace("'", "").replace("\u2019", "")
        return len(letters) >= 3 and letters.isalpha() and self._unknown[key] < ALWAYS_MEANT

    def _judge(self, key: str, candidates: List[Match]) -> Optional[Verdict]:
        scored: Dict[str, Tuple[float, Match]] = {}
        for match in candidates:
            meant = self._fold(match.word)
            if meant == key or meant in scored:
                continue
            likelihood = self._p(meant) * math.exp(-_native_index.typo_cost(meant, key) / FREQUENCY_WEIGHT)
            scored[meant] = (likelihood, match)
        typo = sum(likelihood for likelihood, _ in scored.values())
        if typo <= 0:
            return None
        meant_reading = self._joined(key) + self._form(key) + self._novel(key)
        meant_reading *= REPEAT ** max(0, self._unknown[key] - 1)
        if key not in self._not_names:
            meant_reading *= NAME
        confidence = typo / (typo + meant_reading)
        if confidence < REPORTED:
            return None
        ranked = sorted(scored.values(), key=lambda scored_match: -scored_match[0])
        self._scored[key] = ranked
        return self._verdict(confidence, ranked)

    def _verdict(self, confidence: float, ranked: List[Tuple[float, Match]]) -> Verdict:
        within = [match for _, match in ranked if match.distance <= self._max_dist]
        shown = within[: self._limit] if self._limit is not None else within
        fix = None
        if ranked and (len(ranked) == 1 or ranked[0][0] >= UNAMBIGUOUS * ranked[1][0]):
            fix = ranked[0][1].word
        return Verdict(confidence, shown, fix)

    def _p(self, key: str) -> float:
        """The probability of a word: English counts and the tree's, mixed."""
        english = 0.0
        value = self._index.get(key)
        if value is not None:
            english = value / self._english_total if self._english_total > 0 else self._uniform
        tree = self._tree_count(key) / self._tokens if self._tokens else 0.0
        return (1 - TREE_SHARE) * english + TREE_SHARE * tree

    def _tree_count(self, key: str) -> int:
        number = self._index._word_number(key)
        if number is None:
            count = self._unknown.get(key, 0)
            return count if count >= PROJECT_TERM else 0
        return sum(counts[number] for counts in self._counts)

    def _known(self, key: str) -> bool:
        return key in self._index or self._unknown.get(key, 0) >= PROJECT_TERM

    def _joined(self, key: str) -> float:
        pieces = self._index.segment(key).split()
        if not 2 <= len(pieces) <= 3 or any(len(piece) < 2 for piece in pieces):
            return 0.0
        likelihood = JOINED
        for piece in pieces:
            likelihood *= self._p(self._fold(piece))
        return likelihood

    def _form(self, key: str) -> float:
        best = 0.0
        for stem in stems(key):
            if len(stem) >= 3 and self._known(stem):
                best = max(best, self._p(stem) or self._uniform_term())
        return best * FORM

    def _uniform_term(self) -> float:
        return 1.0 / self._tokens if self._tokens else 0.0

    def _novel(self, key: str) -> float:
        letters = sum(1 for ch in key if ch.isalpha())
        return NOVEL * SHORT_WORD_FACTOR ** max(0, 4 - letters)

    def _finish_counting(self) -> Optional[Index]:
        """Once, when the first verdict is asked for: the total of the
        tree's words, and its own frequent terms as an index to correct
        their typos by (None when it has none)."""
        if not self._counted:
            self._counted = True
            self._tokens += sum(self._unknown.values())
            terms = {key: count for key, count in self._unknown.items() if count >= PROJECT_TERM and key.isalpha()}
            if terms:
                from ._index import Index

                self._terms = Index.from_words(terms, weighted=True)
        return self._terms
