"""kelvaro check --write: a file's corrected text replaces it atomically.

The new text goes to a temporary file in the same folder, which takes the
original's permission bits and is flushed to disk before os.replace puts it
in the original's place: a reader sees the old file or the new one, never
half of one, and any failure before the replace leaves the original as it
was. A symbolic link is followed and its target replaced.
"""

from __future__ import annotations

import os
import stat
from typing import IO, List, Optional, Tuple

from .. import _text


class FileChanged(Exception):
    """The file changed while it was being corrected: it is left as it is."""


def identity(status: os.stat_result) -> Tuple[int, int, int]:
    """What tells whether a file changed between two looks at it."""
    return (status.st_ino, status.st_size, status.st_mtime_ns)


class Rewrite:
    """The corrected text of one file, written as it is read."""

    def __init__(self, path: str, read: os.stat_result) -> None:
        self._path = os.path.realpath(path)
        self._read = read
        self.bom = ""
        self._file: Optional[IO[bytes]] = None
        self._temporary: Optional[str] = None
        self._pending: List[bytes] = []
        self.changes = 0

    def add(self, text: str, corrections: List[_text.Correction]) -> bool:
        if corrections and self._file is None:
            self._open()
        data = _text._applied(text, corrections).encode("utf-8")
        self.changes += len(corrections)
        if self._file is None:
            # Nothing changed yet: kept, in case a change comes later.
            self._pending.append(data)
        else:
            self._file.write(data)
        return bool(corrections)

    def _open(self) -> None:
        import tempfile

        folder, name = os.path.split(self._path)
        handle, self._temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".kelvaro", dir=folder or os.curdir)
        self._file = os.fdopen(handle, "wb")
        self._file.write(self.bom.encode("utf-8"))
        for data in self._pending:
            self._file.write(data)
        self._pending = []

    def finish(self) -> None:
        """Puts the new text in place, if anything changed."""
        if self._file is None:
            return
        file, temporary = self._file, self._temporary
        assert temporary is not None
        try:
            file.flush()
            os.fchmod(file.fileno(), stat.S_IMODE(self._read.st_mode))
            os.fsync(file.fileno())
            file.close()
            if identity(os.stat(self._path)) != identity(self._read):
                raise FileChanged(f"{self._path}: changed while it was being corrected, left as it is")
            os.replace(temporary, self._path)
        except BaseException:
            self.abandon()
            raise
        self._file = self._temporary = None

    def abandon(self) -> None:
        """Removes the temporary file; the original stays as it is."""
        if self._file is not None:
            try:
                self._file.close()
            except OSError:
                pass
        if self._temporary is not None:
            try:
                os.unlink(self._temporary)
            except OSError:
                pass
        self._file = self._temporary = None
