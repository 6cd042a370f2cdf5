"""The unified diff of kelvaro check --diff, written as a file is read."""

from __future__ import annotations

from typing import List

from .. import _text
from .frame import _write

# Lines of context around each change in --diff.
_CONTEXT = 3


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
            _write(f"--- a/{self._name}\n+++ b/{self._name}\n")
            self._headed = True
        size = sum(1 for line in kept if line[0] != "+")
        _write(f"@@ -{self._hunk_start},{size} +{self._hunk_start},{size} @@\n")
        for line in kept:
            _write(line if line.endswith("\n") else line + "\n\\ No newline at end of file\n")
        self._hunk, self._trailing, self._added = [], 0, 0
