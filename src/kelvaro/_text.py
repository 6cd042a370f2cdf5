"""Running text: check, segment and correct, each one native call per text.

The native functions tokenise and look words up in C++ (src/text/); they
see the text twice, as written and folded the way the index makes keys of
words (in lower case for an index without a normalisation), so that no
word costs a call back into Python. This module makes the folded view,
and turns the offsets and keys that come back into words.
"""

from __future__ import annotations

import re
from typing import Callable, List, NamedTuple, Optional, Sequence, Tuple, Union, cast

from . import _native_index
from ._match import Match
from ._native_index import NativeIndex as Index

# A stored word of four letters or more is a suspect when a word one plain
# edit away is at least this many times as likely: in its context, between
# the stored words beside it, in an index with counts of word pairs; else
# overall, by weight. Fitted on the even half of the bench's clean sentences
# of the Python documentation (bench/bench_text.py): at 1,000 a suspect
# every 1,000 words there ("formats", "deprecation"); at 10,000, with the
# English index's pairs, one in 8,000 words ("ides", the bench's "IDEs"),
# and none in the odd half. "wich" in "wich was" and "persue" are suspects.
# Without pairs the word must be that much rarer than its neighbour
# overall. The native corrector replaces suspects at the same ratio
# (kSuspectRatio).
DEFAULT_SUSPECTS = 10000.0

_SURROGATE = re.compile("[\ud800-\udfff]")


class Misspelling(NamedTuple):
    """A word of a text that the index does not hold, or with suspect=True a
    stored word that is likely a typo of a far commoner one: text[start:end]
    is `word`, and `suggestions` are its likeliest corrections, best first."""

    start: int
    end: int
    word: str
    suggestions: List[Match]
    suspect: bool


Misspelling.__module__ = "kelvaro"

# (start, end, replacement): text[start:end] becomes replacement.
Correction = Tuple[int, int, str]


def check(
    index: Index,
    text: object,
    max_dist: object,
    limit: object,
    suspects: object,
    code: object = False,
    suggest_unknown: object = True,
    counts: object = None,
) -> List[Misspelling]:
    """Index.check, and for the command's two passes: with
    suggest_unknown=False a word not stored comes back with no suggestions
    (none searched), and `counts`, a writable buffer of one unsigned 32-bit
    count per stored word (memoryview(array("I", bytes(4 * len(index))))),
    gains one at a stored word's number (NativeIndex._word_number) for
    every time the text holds it. The check runs without the interpreter
    lock, so each thread must pass counts of its own."""
    text, readable, folded = _views(index, text)
    found = _native_index.check_text(index, readable, folded, max_dist, limit, suspects, code, suggest_unknown, counts)
    return [Misspelling(start, end, text[start:end], suggestions, suspect) for start, end, suspect, suggestions in found]


def segment(index: Index, text: object, max_dist: object) -> str:
    text, readable, folded = _views(index, text)
    found = _native_index.segment_text(index, readable, folded, max_dist)
    return _applied(text, _replacements(index, text, found))


def corrections(index: Index, text: object, max_dist: object) -> List[Correction]:
    """The corrections of `text`, in order, none overlapping."""
    text, readable, folded = _views(index, text)
    edits = _native_index.correct_text(index, readable, folded, max_dist)
    return _replacements(index, text, edits)


def correct(index: Index, text: object, max_dist: object) -> str:
    found = corrections(index, text, max_dist)
    # corrections refused anything but a str.
    return _applied(cast(str, text), found)


def _views(index: Index, text: object) -> Tuple[str, str, str]:
    """The text; the text as the native functions read it, lone surrogates
    (which no word holds, and UTF-8 cannot carry) made U+FFFD; and its
    folded view. All three are as long as the text, so that offsets found
    in the others slice the text itself, and what is not corrected comes
    back as it was written. What is not a str goes on as it is, for the
    native call to refuse in its turn among the other arguments."""
    if not isinstance(text, str):
        return text, text, text  # type: ignore[return-value]
    readable = text
    if not text.isascii() and _SURROGATE.search(text):
        readable = _SURROGATE.sub("\ufffd", text)
    fold: Callable[[str], str] = index.normalize if index.normalize is not None else str.lower
    folded = _folded(fold, readable)
    if len(folded) == len(readable):
        return text, readable, folded
    # Some character folds to more than one ("ß" casefolds to "ss"): line by
    # line, and in the lines where that happens, character by character, such
    # characters kept as they are.
    pieces = []
    for line in readable.splitlines(keepends=True):
        piece = _folded(fold, line)
        if len(piece) != len(line):
            piece = "".join(c if len(f := _folded(fold, c)) != 1 else f for c in line)
        pieces.append(piece)
    return text, readable, "".join(pieces)


def _folded(fold: Callable[[str], str], text: str) -> str:
    folded = fold(text)
    if not isinstance(folded, str):
        raise TypeError(f"normalize returned {type(folded).__name__}, not str")
    return folded


# A piece of an edit: its start, its end and the word it becomes, None where
# it stays as written; a segmented one carries its distance too.
_Piece = Union[Tuple[int, int, Optional[str]], Tuple[int, int, Optional[str], int]]


def _replacements(index: Index, text: str, edits: Sequence[Tuple[int, int, Sequence[_Piece]]]) -> List[Correction]:
    """Each edit's text: its pieces joined by spaces, a piece as written
    keeping its text and a corrected one taking its case."""
    result = []
    for start, end, words in edits:
        parts = []
        for s, e, word, *_ in words:
            parts.append(text[s:e] if word is None else _with_case_of(text[s:e], word))
        result.append((start, end, " ".join(parts)))
    return result


def _with_case_of(typed: str, word: str) -> str:
    """`word` in the case of `typed`: all capitals, or a capital first."""
    if len(typed) > 1 and typed.isupper() and word.lower() == word:
        return word.upper()
    if typed[:1].isupper() and word[:1].islower():
        return word[:1].upper() + word[1:]
    return word


def _applied(text: str, replacements: List[Correction]) -> str:
    if not replacements:
        return text
    parts: List[str] = []
    at = 0
    for start, end, replacement in replacements:
        parts += (text[at:start], replacement)
        at = end
    parts.append(text[at:])
    return "".join(parts)
