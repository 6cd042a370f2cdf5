"""How kelvaro check reads a file: in chunks of bounded size, checked on a
pool of threads, one per core, and which of a chunk's lines an inline
directive silences."""

from __future__ import annotations

import functools
import os
import re
from typing import IO, TYPE_CHECKING, Dict, Iterator, List, Optional, Set, Tuple

from . import check_config

if TYPE_CHECKING:
    # Imported when more than one file or chunk is to be checked: for a
    # small file, concurrent.futures (with logging and traceback) would
    # take as long to import as the whole check takes.
    from concurrent.futures import ThreadPoolExecutor

# A file is read and checked this many bytes at a time, cut after a line (or
# a blank, in a line longer than that), so that memory stays the same
# whatever the file's size.
TEXT_CHUNK = 1 << 18


# A line holding "kelvaro: ignore" is not checked; "kelvaro: ignore-next-line"
# silences the line after it too (the directive's own line holds the first).
DIRECTIVE = re.compile(r"kelvaro:\s*ignore(-next-line)?")


class Chunk:
    """A piece of a file to check, and where it lies in the file. (A plain
    class: a NamedTuple's creation alone costs a small file's check a
    fifth of a millisecond.)"""

    __slots__ = ("text", "line", "column", "base", "ignore_first")

    def __init__(self, text: str, line: int, column: int, base: int, ignore_first: bool) -> None:
        self.text = text
        self.line = line  # the number of its first line
        self.column = column  # where in its line it starts, when a long line was cut
        self.base = base  # the offset of its first character in the file's text
        self.ignore_first = ignore_first  # its first line is silenced by the chunk before


def silences_next(text: str, ignore_first: bool) -> bool:
    """Whether the chunk after `text` starts in a silenced line: after a
    line that says to ignore the next, or inside a line the chunk cut that
    is silenced itself."""
    if text.endswith("\n"):
        tail = text[text.rfind("\n", 0, len(text) - 1) + 1 :]
        return "kelvaro:" in tail and any(match.group(1) for match in DIRECTIVE.finditer(tail))
    cut = text.rfind("\n")
    if cut < 0 and ignore_first:
        return True
    tail = text[cut + 1 :]
    return "kelvaro:" in tail and DIRECTIVE.search(tail) is not None


class Silenced:
    """Whether a word of one chunk is silenced: by a word list, by an
    inline directive on its line or the line before, or by one of the
    configuration's patterns on its line."""

    def __init__(self, config: check_config.Config, text: str, ignore_first: bool) -> None:
        self._words = config.words
        self._patterns = config.patterns
        self._text = text
        self._lines: Set[int] = set()
        if ignore_first:
            self._lines.add(0)
        if "kelvaro:" in text:
            for match in DIRECTIVE.finditer(text):
                line = text.count("\n", 0, match.start())
                self._lines.add(line)
                if match.group(1):
                    self._lines.add(line + 1)
        self._spans: Dict[int, List[Tuple[int, int]]] = {}
        self._at, self._line = 0, 0

    def line_of(self, offset: int) -> int:
        """The line of `offset` from the chunk's first, 0: asked in order."""
        if offset < self._at:
            self._at, self._line = 0, 0
        self._line += self._text.count("\n", self._at, offset)
        self._at = offset
        return self._line

    def __call__(self, start: int, end: int, word: str) -> bool:
        if self._words and any(part.casefold() in self._words for part in word.split()):
            return True
        if self._lines and self.line_of(start) in self._lines:
            return True
        if not self._patterns:
            return False
        start_of_line = self._text.rfind("\n", 0, start) + 1
        spans = self._spans.get(start_of_line)
        if spans is None:
            end_of_line = self._text.find("\n", start)
            line = self._text[start_of_line : end_of_line if end_of_line >= 0 else len(self._text)]
            spans = [(match.start(), match.end()) for pattern in self._patterns for match in pattern.finditer(line)]
            self._spans[start_of_line] = spans
        at, to = start - start_of_line, end - start_of_line
        return any(s <= at and to <= e for s, e in spans)

def cores() -> int:
    """The cores this process may run on."""
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0)) or 1
    return os.cpu_count() or 1


@functools.lru_cache(maxsize=None)
def chunks_ahead() -> int:
    """Chunks checked ahead of the one whose findings are being taken:
    asked only once a pool checks them, since asking the system for the
    cores can take milliseconds, as long as a small file's check."""
    return 2 * cores()


@functools.lru_cache(maxsize=None)
def workers() -> Optional["ThreadPoolExecutor"]:
    """The threads that check chunks, one per core, made on first need;
    none on a single core, where the chunks are checked as they come."""
    from concurrent.futures import ThreadPoolExecutor

    count = cores()
    return ThreadPoolExecutor(max_workers=count, thread_name_prefix="kelvaro-check") if count > 1 else None


def with_last(chunks: Iterator[bytes]) -> Iterator[Tuple[bytes, bool]]:
    """Each chunk, and whether it is the last: a file of one chunk is
    checked on this thread, with no pool to start."""
    previous = next(chunks, None)
    if previous is None:
        return
    for chunk in chunks:
        yield previous, False
        previous = chunk
    yield previous, True


def chunks(file: IO[bytes]) -> Iterator[bytes]:
    """The file in pieces of about TEXT_CHUNK bytes, each ending with a line
    or, in a longer line, after a blank or a whole UTF-8 character."""
    carry = b""
    while True:
        block = file.read(TEXT_CHUNK)
        if not block:
            if carry:
                yield carry
            return
        data = carry + block
        cut = data.rfind(b"\n") + 1
        if cut == 0:
            cut = max(data.rfind(b" "), data.rfind(b"\t")) + 1
        if cut == 0:
            cut = len(data)
            while cut > 0 and 0x80 <= data[cut - 1] < 0xC0:
                cut -= 1
            cut = cut - 1 if cut > 0 and data[cut - 1] >= 0xC0 else len(data)
        yield data[:cut]
        carry = data[cut:]
