"""A one-line progress bar for the command line, shown only on a terminal.

Small enough to keep here rather than add a dependency: a bar, a percentage
and a label, redrawn in place at most ten times a second.
"""

from __future__ import annotations

import time
from typing import Optional, TextIO

_WIDTH = 30
_INTERVAL = 0.1


class Progress:
    """Progress towards `total` units, drawn on `stream` when `shown`."""

    def __init__(self, stream: TextIO, label: str, total: int, shown: bool) -> None:
        self._stream = stream
        self._label = label
        self._total = max(total, 1)
        self._shown = shown
        self._done = 0
        self._drawn_at: Optional[float] = None

    def advance(self, amount: int) -> None:
        self._done = min(self._done + amount, self._total)
        now = time.monotonic()
        if self._drawn_at is None or now - self._drawn_at >= _INTERVAL:
            self._draw()
            self._drawn_at = now

    def finish(self) -> None:
        self._done = self._total
        self._draw()
        if self._shown:
            self._stream.write("\n")
            self._stream.flush()

    def _draw(self) -> None:
        if not self._shown:
            return
        filled = _WIDTH * self._done // self._total
        percent = 100 * self._done // self._total
        self._stream.write(f"\r{self._label} [{'#' * filled}{'.' * (_WIDTH - filled)}] {percent:3d}%")
        self._stream.flush()


def step(stream: TextIO, message: str, shown: bool) -> None:
    """A stage without a measurable amount, such as the native build."""
    if shown:
        stream.write(f"{message}\n")
        stream.flush()
