"""The words of an index, read one at a time from a word table.

A word table is a count, then count + 1 offsets, then the words' UTF-8 back
to back, all integers little-endian 32-bit (see src/format/word_table.h).
Reading one costs a slice per section and nothing per word, which is what
lets a saved index of millions of words load in a fraction of a second; a
word is decoded only when someone asks for it.
"""

from __future__ import annotations

from typing import Iterator, Sequence, Union, overload

from . import _arrays


class WordTable(Sequence[str]):
    """The words of one word table, in the table's order. The table must be
    well formed (the builder makes it so, and loading checks it)."""

    __slots__ = ("_data", "_offsets", "_text_start")

    def __init__(self, data: Union[bytes, memoryview]) -> None:
        count = int.from_bytes(data[:4], "little")
        self._data = data
        self._text_start = 4 * (count + 2)
        if isinstance(data, memoryview):
            # A mapped table's offsets are read where they lie, shared
            # with every process that maps the file.
            self._offsets: Sequence[int] = data[4 : self._text_start].cast("I")
        else:
            self._offsets = _arrays.from_bytes(bytes(data[4 : self._text_start]))

    @property
    def data(self) -> Union[bytes, memoryview]:
        """The table's bytes, as saved."""
        return self._data

    def __len__(self) -> int:
        return len(self._offsets) - 1

    @overload
    def __getitem__(self, index: int) -> str: ...

    @overload
    def __getitem__(self, index: slice) -> list[str]: ...

    def __getitem__(self, index: int | slice) -> str | list[str]:
        if isinstance(index, slice):
            return [self._word(i) for i in range(*index.indices(len(self)))]
        count = len(self)
        if index < 0:
            index += count
        if not 0 <= index < count:
            raise IndexError("word table index out of range")
        return self._word(index)

    def __iter__(self) -> Iterator[str]:
        data, start, offsets = self._data, self._text_start, self._offsets
        for i in range(len(offsets) - 1):
            yield str(data[start + offsets[i] : start + offsets[i + 1]], "utf-8")

    def _word(self, index: int) -> str:
        start = self._text_start
        return str(self._data[start + self._offsets[index] : start + self._offsets[index + 1]], "utf-8")


class Spellings:
    """The original spelling of every stored key that normalisation changed:
    two word tables, the keys in code point order and their spellings in the
    same order. A key that is not listed is its own spelling."""

    __slots__ = ("keys", "words")

    def __init__(self, keys: WordTable, words: WordTable) -> None:
        self.keys = keys
        self.words = words

    def __len__(self) -> int:
        return len(self.keys)
