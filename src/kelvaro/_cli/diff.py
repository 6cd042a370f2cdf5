"""The unified diff of kelvaro check --diff, written as a file is read."""

from __future__ import annotations

from typing import List

from .. import _text
from .frame import _write

# Lines of context around each change in --diff.
_CONTEXT = 3

# The bytes of a name that the diff's header writes as escapes inside
# double quotes, as git does, and the letter of those with one.
_ESCAPED = {0x07: "a", 0x08: "b", 0x09: "t", 0x0A: "n", 0x0B: "v", 0x0C: "f", 0x0D: "r", 0x22: '"', 0x5C: "\\"}


def header_name(prefix: str, name: str) -> str:
    """How a header line of the diff names a file: as git writes it, which
    both patch -p1 and git apply read back to the same bytes.

    A name holding a control character, a quote, a backslash or any byte
    that is not ASCII is written in double quotes with C escapes (octal for
    the bytes with no letter, so UTF-8 comes out as its bytes), the header
    staying ASCII whatever the locale. A name holding a space ends with a
    tab, which tells both readers where it ends. A name ending in a space is
    quoted as well, which git does not do: patch drops the blanks at the end
    of a header, tab or not, and then looks for a file that is not there."""
    raw = prefix.encode("ascii") + name.encode("utf-8", "surrogateescape")
    if any(byte < 0x20 or byte >= 0x7F or byte in _ESCAPED for byte in raw) or raw.endswith(b" "):
        shown = '"' + "".join(_escaped(byte) for byte in raw) + '"'
    else:
        shown = raw.decode("ascii")
    return shown + "\t" if b" " in raw else shown


def _escaped(byte: int) -> str:
    if byte in _ESCAPED:
        return "\\" + _ESCAPED[byte]
    if byte < 0x20 or byte >= 0x7F:
        return f"\\{byte:03o}"
    return chr(byte)


def _lines(text: str) -> List[str]:
    """The lines of text, each with its newline: split at newlines alone, as
    patch does."""
    parts = text.split("\n")
    lines = [part + "\n" for part in parts[:-1]]
    if parts[-1]:
        lines.append(parts[-1])
    return lines


class _Diff:
    """A unified diff written as the file is read: each hunk is printed once
    the lines after its last change are known to be unchanged."""

    def __init__(self, name: str) -> None:
        self._name = name
        self.bom = ""
        self._number = 0  # lines read so far
        self._before: List[str] = []  # the last unchanged lines, for context
        self._hunk: List[str] = []  # the open hunk's lines, marked
        self._hunk_start = 0
        self._trailing = 0  # unchanged lines at the end of the open hunk
        self._added = 0  # new lines at the end of the open hunk
        self._headed = False
        self._pending = ""  # the end of the text that is not a whole line yet
        self._pending_new = ""

    def add(self, text: str, corrections: List[_text.Correction]) -> bool:
        new = _text._applied(text, corrections)
        old_lines = _lines(self._pending + text)
        new_lines = _lines(self._pending_new + new)
        self._pending = self._pending_new = ""
        if old_lines and not old_lines[-1].endswith("\n"):
            self._pending, self._pending_new = old_lines.pop(), new_lines.pop()
        for old, changed in zip(old_lines, new_lines):
            self._line(old, changed)
        return bool(corrections)

    def finish(self) -> None:
        if self._pending:
            self._line(self._pending, self._pending_new)
        self._close()

    def _line(self, old: str, new: str) -> None:
        if self._number == 0 and self.bom:
            old, new = self.bom + old, self.bom + new
        self._number += 1
        if old == new:
            if not self._hunk:
                self._before = (self._before + [old])[-_CONTEXT:]
                return
            self._hunk.append(" " + old)
            self._trailing += 1
            if self._trailing > 2 * _CONTEXT:
                self._close()
            return
        if not self._hunk:
            self._hunk_start = self._number - len(self._before)
            self._hunk = [" " + line for line in self._before]
            self._before = []
        # A run of changed lines shows all its old lines, then all its new.
        if self._trailing > 0:
            self._added = 0
        self._hunk.insert(len(self._hunk) - self._added, "-" + old)
        self._hunk.append("+" + new)
        self._added += 1
        self._trailing = 0

    def _close(self) -> None:
        if not self._hunk:
            return
        kept = self._hunk if self._trailing <= _CONTEXT else self._hunk[: len(self._hunk) - self._trailing + _CONTEXT]
        self._before = [line[1:] for line in self._hunk[len(self._hunk) - min(self._trailing, _CONTEXT) :]] if self._trailing > _CONTEXT else []
        if not self._headed:
            _write(f"--- {header_name('a/', self._name)}\n+++ {header_name('b/', self._name)}\n")
            self._headed = True
        size = sum(1 for line in kept if line[0] != "+")
        _write(f"@@ -{self._hunk_start},{size} +{self._hunk_start},{size} @@\n")
        for line in kept:
            _write(line if line.endswith("\n") else line + "\n\\ No newline at end of file\n")
        self._hunk, self._trailing, self._added = [], 0, 0
