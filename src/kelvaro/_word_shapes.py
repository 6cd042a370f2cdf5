"""What a word's spelling and its place in a text say about it, for the
project's vocabulary: the stored words it may be a form of, whether it is
written as a name, and the words beside it."""

from __future__ import annotations

import re
from typing import Iterable, Optional, Tuple

_PREFIXES = ("un", "re", "sub", "pre", "non", "multi", "auto", "meta", "super", "inter")
# British endings and their American forms (the index holds American
# spelling).
_BRITISH = (
    ("isation", "ization"), ("isations", "izations"), ("ising", "izing"), ("ised", "ized"), ("ise", "ize"),
    ("ises", "izes"), ("yse", "yze"), ("ysed", "yzed"), ("our", "or"), ("ours", "ors"), ("oured", "ored"),
    ("ouring", "oring"), ("tre", "ter"), ("tres", "ters"), ("ogue", "og"), ("ogues", "ogs"),
    ("lled", "led"), ("lling", "ling"), ("eing", "ing"), ("ysing", "yzing"), ("yses", "yzes"),
)  # fmt: skip
_SIBILANT_PLURAL = re.compile("(?:s|x|z|ch|sh)es$")
_VOWELS = frozenset("aeiou")



def words_beside(text: str, start: int, end: int) -> Tuple[Optional[str], Optional[str]]:
    """The words just before and after text[start:end] when only spaces or
    tabs part them from it: its context. A line break or punctuation between
    is no context."""
    left = start
    while left > 0 and text[left - 1] in " \t":
        left -= 1
    right = end
    while right < len(text) and text[right] in " \t":
        right += 1
    before = _WORD_BEFORE.search(text, max(0, left - 40), left) if left < start else None
    after = _WORD_AFTER.match(text, right) if right > end else None
    return (before.group() if before else None), (after.group() if after else None)


_WORD_BEFORE = re.compile(r"[^\W\d_]+(?:['\u2019][^\W\d_]+)?$")
_WORD_AFTER = re.compile(r"[^\W\d_]+(?:['\u2019][^\W\d_]+)?")


def looks_like_a_name(text: str, start: int, end: int) -> bool:
    """Whether text[start:end] is written as a name: all in capitals, as
    acronyms are, or a capital and then lower case, inside a sentence or
    beside another word so written on its line ("Ada Lovelace", "- Ada
    Lovelace")."""
    word = text[start:end]
    if len(word) > 1 and word.isupper():
        return True  # an acronym: USD, EPUB
    if not (word[:1].isupper() and word[1:].islower()):
        return False
    line_start = text.rfind("\n", max(0, start - 80), start) + 1
    before = text[max(line_start, start - 80) : start].rstrip(" \t")
    if before and before[-1] not in ".!?:\"'*-#>([":
        return True
    line_end = text.find("\n", end, end + 80)
    after = text[end : line_end if line_end >= 0 else end + 80].strip()
    previous = before.rsplit(None, 1)[-1] if before else ""
    following = after.split(None, 1)[0].rstrip(".,;:!?)") if after else ""
    return any(_capitalised(neighbour) for neighbour in (previous, following))


def _capitalised(word: str) -> bool:
    return word[:1].isupper() and word[1:].isalpha() and word[1:].islower()


def stems(key: str) -> Iterable[str]:
    """The stored words `key` may be a form of: its stem under a plural or
    verb ending, without a prefix, in American spelling, before an
    apostrophe, or without one letter added at either end (not a doubled
    letter, the commonest slip)."""
    apostrophe = max(key.find("'"), key.find("\u2019"))
    if apostrophe > 0:
        yield key[:apostrophe]
        return
    if key.endswith("s") and not key.endswith("ss"):
        yield key[:-1]
        if _SIBILANT_PLURAL.search(key):
            yield key[:-2]
    for ending in ("ed", "ing", "er", "ers", "able"):
        if key.endswith(ending):
            stem = key[: -len(ending)]
            if len(stem) >= 3 and stem[-1] not in _VOWELS:
                yield stem
                yield stem + "e"
                # stopping, stopped: a doubled last consonant after a vowel
                if len(stem) >= 4 and stem[-1] == stem[-2] and stem[-3] in _VOWELS:
                    yield stem[:-1]
    for prefix in _PREFIXES:
        if key.startswith(prefix) and len(key) - len(prefix) >= 4:
            yield key[len(prefix) :]
    for british, american in _BRITISH:
        if key.endswith(british):
            yield key[: -len(british)] + american
    if "our" in key[1:]:  # colour, behaviour, favourite
        yield key[0] + key[1:].replace("our", "or")
    # nrows, xlabel, ivar: one letter before a stored word, as identifiers
    # are made; a letter doubled there is a slip.
    if len(key) >= 5 and key[0] != key[1]:
        yield key[1:]
