"""Index files kept in the user's cache folder.

An index that takes a second to build from data shipped in the package is
built once, saved here, and mapped by every later use: mapped, it is ready
in milliseconds, and every process that uses it shares its pages.

A file's name carries kelvaro's version and a digest of the bytes of
everything that shapes the index (the shipped data, the code that reads it,
the native module that builds it), so a new version, new data or a rebuilt
module never reads an old file. The file is written beside under a name of
its own and renamed into place (Index.save does both), so two processes
that make it at once both finish, the second replacing the first's file
with the same bytes, and no reader ever sees half a file. Whatever goes
wrong with the folder (unwritable, full, missing, a file in its way) leaves
the index built in memory, as it was before there was a cache, without a
word on standard error; a file that fails the loader's checks, or holds some
other index, is built again.
"""

from __future__ import annotations

import errno
import os
import sys
import time
from typing import Callable, Iterable, List, Optional

from . import _storage
from ._index import Index
from ._version import __version__

try:  # the digest's module alone: hashlib would load OpenSSL first
    from _blake2 import blake2b
except ImportError:  # pragma: no cover - interpreters without it
    from hashlib import blake2b

ENVIRONMENT = "KELVARO_CACHE_DIR"
SUFFIX = ".kvx"
NOTE_SUFFIX = ".digest"
# Files of other versions or data that nobody has rewritten for this long
# are removed when a new file is written beside them; younger ones may
# belong to another installation still in use.
_STALE_SECONDS = 30 * 24 * 3600
# A temporary file this old was left by a writer that died.
_ABANDONED_SECONDS = 3600


def folder() -> str:
    """The folder of kelvaro's cache: KELVARO_CACHE_DIR when it is set, else
    the platform's own place for caches. Raises OSError when there is
    neither."""
    override = os.environ.get(ENVIRONMENT)
    if override:
        return os.path.abspath(os.path.expanduser(override))
    home = os.path.expanduser("~")
    if not os.path.isabs(home):
        # No home to find: a relative folder would land wherever we run.
        raise OSError(errno.ENOENT, "no home folder to keep a cache in")
    if sys.platform == "win32":
        local = os.environ.get("LOCALAPPDATA") or os.path.join(home, "AppData", "Local")
        return os.path.join(local, "kelvaro", "Cache")
    if sys.platform == "darwin":
        return os.path.join(home, "Library", "Caches", "kelvaro")
    # The XDG base directory rules ignore a relative XDG_CACHE_HOME.
    base = os.environ.get("XDG_CACHE_HOME", "")
    if not os.path.isabs(base):
        base = os.path.join(home, ".cache")
    return os.path.join(base, "kelvaro")


def file_for(stem: str, sources: Iterable[str]) -> str:
    """Where the index named `stem` and made from the files `sources` is
    cached. Raises OSError when a source cannot be read."""
    place = folder()
    return os.path.join(place, f"{stem}-{__version__}-{_remembered_digest(place, stem, list(sources))}{SUFFIX}")


def _remembered_digest(place: str, stem: str, sources: List[str]) -> str:
    """digest(sources), taken from a note in the cache folder while the
    sources are the very files it was taken of (the same paths, sizes,
    modification times and inodes): a start then stats a few files instead
    of reading megabytes. The note is only an aid: unreadable, damaged or
    out of date, the digest is taken again, and it is written only into a
    folder that exists, so that naming the file never makes the folder."""
    stats = [(path, os.stat(path)) for path in sources]
    identity = repr([(path, s.st_size, s.st_mtime_ns, s.st_ino) for path, s in stats])
    seen = blake2b(identity.encode("utf-8", "surrogateescape"), digest_size=12).hexdigest()
    note = os.path.join(place, f".{stem}-{__version__}{NOTE_SUFFIX}")
    try:
        with open(note, "rb") as file:
            remembered_seen, _, remembered = file.read(128).decode("ascii").partition(" ")
        if remembered_seen == seen and len(remembered) == 24:
            return remembered
    except (OSError, ValueError):
        pass
    found = digest(sources)
    if os.path.isdir(place):
        _write_note(note, f"{seen} {found}")
    return found


def _write_note(path: str, text: str) -> None:
    try:
        _storage.save(path, text.encode("ascii"))
    except (OSError, ValueError):
        pass


def digest(sources: Iterable[str]) -> str:
    """A digest of the files' bytes: 96 bits, so that no two sets of sources
    a machine ever sees share one."""
    hashed = blake2b(digest_size=12)
    for path in sources:
        with open(path, "rb") as file:
            data = file.read()
        hashed.update(len(data).to_bytes(8, "little"))
        hashed.update(data)
    return hashed.hexdigest()


def load_or_build(path: Optional[str], build: Callable[[], Index], fits: Callable[[Index], bool]) -> Index:
    """The index cached at `path`, mapped, when it is there, intact and
    `fits` it; else build() saved there and mapped, or, when it cannot be
    saved (or `path` is None), build() as it is."""
    if path is not None:
        cached = _load(path, fits)
        if cached is not None:
            return cached
    index = build()
    if path is None or not _save(path, index):
        return index
    # Mapped, the copy just built is freed and the pages are shared with
    # every other process using the file.
    return _load(path, fits) or index


def _load(path: str, fits: Callable[[Index], bool]) -> Optional[Index]:
    try:
        index = Index.load(path)
    except (OSError, ValueError):
        # Missing, unreadable, damaged, truncated or no index at all: the
        # loader checks every byte against the file's checksum.
        return None
    return index if fits(index) else None


def _save(path: str, index: Index) -> bool:
    directory = os.path.dirname(path)
    try:
        os.makedirs(directory, exist_ok=True)
        index.save(path)
    except (OSError, ValueError):
        return False
    _remove_stale(directory, os.path.basename(path))
    return True


def _remove_stale(directory: str, kept: str) -> None:
    """Removes the files (and digest notes) of other versions or data under
    the same stem that have not been written for a month, and temporary
    files that a writer left when it died."""
    stem = kept[: kept.index("-") + 1]
    note = "." + kept[: kept.rindex("-")] + NOTE_SUFFIX
    now = time.time()
    try:
        names = os.listdir(directory)
    except OSError:
        return
    for name in names:
        if name in (kept, note):
            continue
        hidden = name.startswith("." + stem)
        if name.startswith(stem) and name.endswith(SUFFIX) or hidden and name.endswith(NOTE_SUFFIX):
            age = _STALE_SECONDS
        elif hidden and name.endswith(".tmp"):
            age = _ABANDONED_SECONDS
        else:
            continue
        path = os.path.join(directory, name)
        try:
            if now - os.stat(path).st_mtime > age:
                # A process that maps the file keeps its pages.
                os.remove(path)
        except OSError:
            pass
