"""From the caller's words to the parts of an index, with the native builder
doing the work that has to keep up with millions of words per second."""

from __future__ import annotations

import operator
from array import array
from collections.abc import Mapping
from typing import Any, List, Optional, Sequence, Tuple

from . import _arrays, _native_index, _normalization
from ._normalization import Normalize

MAX_VALUE = 0xFFFFFFFF


def build(
    words: Any,
    values: Any,
    normalize: Optional[Normalize],
    weighted: bool = False,
    sounds: bool = True,
    pairs: Any = None,
) -> bytes:
    """The image of the index of `words`: the bytes its file holds."""
    spellings, value_list = _spellings_and_values(words, values)
    if pairs is not None and not weighted:
        # Pairs are counts, weighed against the words' counts: without
        # weights there is nothing to weigh them against.
        raise TypeError("pairs need weighted=True: counts of pairs are weighed against the words' weights")
    if value_list is None:
        # Positions as weights would rank a list sorted commonest first
        # backwards.
        if weighted and spellings:
            raise TypeError(
                "weighted=True needs the weights: give a mapping of word to weight, "
                "(word, weight) pairs, or values=[...]"
            )
    elif bool in set(map(type, value_list)):
        word = next(word for word, value in zip(spellings, value_list) if type(value) is bool)
        raise TypeError(f"the value of {word!r} must be an int, not bool")
    elif weighted:
        value_list = _saturated(spellings, value_list)
    packed = None if value_list is None else _packed_values(spellings, value_list)
    joined_words = _joined(spellings, spellings)
    if normalize is None:
        keys, originals = joined_words, None
    else:
        keys, originals = _joined_keys(spellings, joined_words, normalize), joined_words
    joined_pairs = None if pairs is None else _joined_pairs(pairs, split_joined(keys, len(spellings)), normalize)
    try:
        return _native_index.build_index(
            keys, originals, packed, sounds, weighted, _normalization.name_of(normalize), joined_pairs
        )
    except UnicodeEncodeError:
        raise _surrogate_error(spellings, normalize) from None


Joined = Tuple[str, Optional[bytes]]


def split_joined(joined: Joined, count: int) -> List[str]:
    """The `count` texts that _joined joined, back."""
    text, lengths = joined
    if lengths is None:
        return text.split("\n") if count else []
    texts, at = [], 0
    for length in _arrays.from_bytes(lengths):
        texts.append(text[at : at + length])
        at += length
    return texts


def _joined_pairs(pairs: Any, stored_keys: List[str], normalize: Optional[Normalize]) -> Tuple[Joined, Joined, bytes]:
    """The pairs as the native builder takes them: their words' keys joined,
    and their counts. A word must be one of the index's (as its key), so
    that a pair is never silently dropped."""
    if isinstance(pairs, (str, bytes)):
        raise TypeError(f"pairs must be a mapping or an iterable of (first, second, count), not {type(pairs).__name__}")
    if isinstance(pairs, Mapping):
        items = []
        for key, count in pairs.items():
            if not (isinstance(key, tuple) and len(key) == 2):
                raise TypeError(f"a key of pairs must be a (first, second) tuple, not {_describe(key)}")
            items.append((key[0], key[1], count))
    else:
        items = _listed("pairs", pairs)
    for i, item in enumerate(items):
        if not (isinstance(item, (tuple, list)) and len(item) == 3):
            raise TypeError(f"pairs[{i}] must be a (first, second, count) triple, not {_describe(item)}")
    firsts = [item[0] for item in items]
    seconds = [item[1] for item in items]
    for word in firsts + seconds:
        if not isinstance(word, str):
            raise TypeError(f"a word of a pair must be a str, not {_describe(word)}")
    counts = _saturated(firsts, [item[2] for item in items])
    for (first, second, _), count in zip(items, counts):
        if type(count) is bool:
            raise TypeError(f"the count of ({first!r}, {second!r}) must be an int, not bool")
    packed = _packed_values([f"({a!r}, {b!r})" for a, b, _ in items], counts) if items else b""
    stored = set(stored_keys)
    first_keys = firsts if normalize is None else _normalized(firsts, normalize)
    second_keys = seconds if normalize is None else _normalized(seconds, normalize)
    for (first, second), keys in zip(zip(firsts, seconds), zip(first_keys, second_keys)):
        for word, key in zip((first, second), keys):
            if key not in stored:
                raise ValueError(f"the pair ({first!r}, {second!r}) names {word!r}, which the index does not hold")
    return _joined(first_keys, firsts), _joined(second_keys, seconds), packed


def _joined_keys(spellings: List[Any], joined_words: Joined, normalize: Normalize) -> Joined:
    text, lengths = joined_words
    # casefold and lower work character by character, and a newline, which
    # has no case, cuts the context that lower() consults for a final sigma:
    # normalising the joined words is joining the normalised words, in one
    # call instead of one per word.
    if lengths is None and any(normalize == named for named in _normalization.NAMED.values()):
        return normalize(text), None
    return _joined(_normalized(spellings, normalize), spellings)


# ---------------------------------------------------------------------------
# The caller's input.


def _spellings_and_values(words: Any, values: Any) -> Tuple[List[Any], Optional[List[Any]]]:
    if isinstance(words, (str, bytes)):
        raise TypeError(f"words must be an iterable of str, not a single {type(words).__name__}")
    if isinstance(words, Mapping):
        if values is not None:
            raise TypeError("values must be None when words is a mapping of word to value")
        return list(words.keys()), list(words.values())
    items = _listed("words", words)
    if values is None:
        if items and not isinstance(items[0], str):
            return _split_pairs(items)
        return items, None
    value_list = _listed("values", values)
    if len(value_list) != len(items):
        raise ValueError(f"values has {len(value_list)} items but words has {len(items)}")
    return items, value_list


def _listed(name: str, iterable: Any) -> List[Any]:
    try:
        iterator = iter(iterable)
    except TypeError:
        raise TypeError(f"{name} must be iterable, not {type(iterable).__name__}") from None
    return list(iterator)


def _split_pairs(items: List[Any]) -> Tuple[List[Any], List[Any]]:
    for i, item in enumerate(items):
        if not (isinstance(item, (tuple, list)) and len(item) == 2):
            # The first item decides between words and pairs; the others follow it.
            expected = "a str or a (word, value) pair" if i == 0 else "a (word, value) pair like words[0]"
            raise TypeError(f"words[{i}] must be {expected}, not {_describe(item)}")
    return [item[0] for item in items], [item[1] for item in items]


def _describe(item: object) -> str:
    name = type(item).__name__
    if isinstance(item, (tuple, list)):
        return f"a {name} of {len(item)} items"
    return f"{'an' if name[:1] in 'aeiou' else 'a'} {name}"


def _normalized(spellings: List[str], normalize: Normalize) -> List[Any]:
    """What normalize makes of each word; _joined refuses what is not a str."""
    return [normalize(word) for word in spellings]


def _saturated(spellings: Sequence[Any], values: List[Any]) -> List[Any]:
    """Weights beyond 4294967295 held at 4294967295: a count that large
    is as common as a word gets, and every smaller one keeps its place.
    Anything else is left for _packed_values to refuse."""
    if all(type(value) is int and value <= MAX_VALUE for value in values):
        return values
    saturated = []
    for value in values:
        try:
            number = operator.index(value)
        except TypeError:
            number = value
        saturated.append(MAX_VALUE if isinstance(number, int) and number > MAX_VALUE else value)
    return saturated


def _packed_values(spellings: Sequence[Any], values: List[Any]) -> bytes:
    try:
        return _arrays.to_bytes(_arrays.u32_array(values))
    except (TypeError, OverflowError):
        pass
    for word, value in zip(spellings, values):
        try:
            number = operator.index(value)
        except TypeError:
            raise TypeError(f"the value of {word!r} must be an int, not {type(value).__name__}") from None
        if not 0 <= number <= MAX_VALUE:
            raise ValueError(f"the value of {word!r} is {number}, outside 0..{MAX_VALUE}")
    raise TypeError("values must be ints from 0 to 4294967295")


def _joined(texts: List[Any], spellings: List[Any]) -> Joined:
    """One str for the native builder, and the lengths that cut it, or None
    when newlines can (no text holds one)."""
    try:
        text = "\n".join(texts)
    except TypeError:
        raise _not_str_error(texts, spellings) from None
    if not texts:
        return text, b""
    if text.count("\n") == len(texts) - 1:
        return text, None
    return "".join(texts), _arrays.to_bytes(array(_arrays.U32, map(len, texts)))


def _not_str_error(texts: List[Any], spellings: List[Any]) -> TypeError:
    for i, (text, word) in enumerate(zip(texts, spellings)):
        if not isinstance(word, str):
            return TypeError(f"the word at position {i} must be a str, not {_describe(word)}")
        if not isinstance(text, str):
            return TypeError(f"normalize({word!r}) returned {type(text).__name__}, not str")
    return TypeError("words must be str")


def _surrogate_error(spellings: List[str], normalize: Optional[Normalize]) -> ValueError:
    for word in spellings:
        if not _encodes(word):
            return ValueError(f"{word!r} cannot be stored: it holds a lone surrogate")
        key = normalize(word) if normalize else word
        if not _encodes(key):
            return ValueError(f"{word!r} cannot be stored: normalize made it {key!r}, which holds a lone surrogate")
    return ValueError("a word holds a lone surrogate")


def _encodes(text: str) -> bool:
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True
