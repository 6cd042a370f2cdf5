"""The index file: where Index.save writes it and how Index.load opens it.

The file's layout, and every check of its contents, belong to the native
index (src/format/index_file.h): an index holds the same bytes in memory
as its file does, so a file of the current version is handed over as it
is, mapped, and searched in place. This module opens files, refuses at
once what cannot be an index (by its first bytes and size), maps or reads
the rest, restores the normalisation a file names, and writes files
through a temporary file renamed into place.

A mapped file must not change under the index, whatever another program
does to it: bytes rewritten in place would be read as offsets, and a
truncated file's pages vanish. Index.save never writes into an existing
file but renames a new one over it, so an index mapped from the old file
keeps reading the old contents. Any other writer is held off by a read
lease (src/index/leased_mapping.h): the kernel makes a program that opens
the file to write it, or truncates it, wait until the native code has
copied the mapped bytes into memory of its own and given the lease up. A
file that cannot be leased (not Linux, a network or FUSE file system,
whose files may change elsewhere, a file open for writing now) is read
instead, never mapped unguarded. The loader also holds a shared lock
(flock) on the file while it is mapped, for programs that want to wait
for readers before writing in place.
"""

from __future__ import annotations

import errno
import fcntl
import os
import stat
import struct
from typing import Any, BinaryIO, Callable, List, NamedTuple, Optional, Tuple, TypeVar, Union

from . import _building, _native_index, _normalization
from ._normalization import Normalize
from ._word_table import WordTable

MAGIC = b"\x89KVX\r\n\x1a\n"
FORMAT_VERSION = 2
HEADER = struct.Struct("<8sIIQQQ5Q")
CHECKSUM = struct.Struct("<I")

PathArg = Union[str, "os.PathLike[str]"]
_I = TypeVar("_I")


class Header(NamedTuple):
    version: int
    file_size: int
    word_count: int
    node_count: int
    normalization: str
    weighted: bool = False



# ---------------------------------------------------------------------------
# Writing.


class Target(NamedTuple):
    """Where save writes: the file itself, a symbolic link resolved, and the
    permission bits it has now, or None for a file still to be made."""

    path: str
    mode: Optional[int]


def shown(path: str) -> str:
    """`path` as a message shows it: bytes that are not UTF-8, which reach
    us escaped as lone surrogates, in their readable form (x\\xff.kvx)."""
    try:
        return path.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
    except UnicodeEncodeError:  # a surrogate that no byte escapes
        return path.encode("utf-8", "backslashreplace").decode("utf-8")


def check_target(path: PathArg) -> Target:
    """Where an index saved to `path` goes; refuses a directory or anything
    else that is not a regular file, before anything is written."""
    path = os.fsdecode(path)
    target = os.path.realpath(path) if os.path.islink(path) else path
    try:
        info = os.stat(target)
    except FileNotFoundError:
        return Target(target, None)
    except OSError as error:
        raise _naming(path, error) from None
    if stat.S_ISDIR(info.st_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    if not stat.S_ISREG(info.st_mode):
        raise ValueError(f"{shown(path)}: {_kind(info.st_mode)}, not a regular file to save an index to")
    return Target(target, stat.S_IMODE(info.st_mode))


def save(path: PathArg, file: bytes) -> None:
    """Writes `file`, an index file the native index made, to a temporary
    file beside the file that `path` names (through a symbolic link, if it
    is one) and renames it into place, so that the file holds either its
    old contents or the whole new index, with its old permission bits."""
    path = os.fsdecode(path)
    target = check_target(path)
    temporary = None
    try:
        temporary, descriptor = _create_beside(target.path)
        with os.fdopen(descriptor, "wb") as output:
            if target.mode is not None:
                os.fchmod(descriptor, target.mode)
            output.write(file)
            output.flush()
            os.fsync(output.fileno())
        os.replace(temporary, target.path)
    except BaseException as error:
        if temporary is not None:
            _remove_quietly(temporary)
        if isinstance(error, OSError):
            raise _naming(path, error) from None
        raise
    _sync_directory(os.path.dirname(target.path) or ".")


def _naming(path: str, error: OSError) -> OSError:
    """The same failure, told about the caller's path: the temporary file
    is ours, and its name would only puzzle them."""
    if error.errno is None:
        return error
    return OSError(error.errno, error.strerror, path)


def _create_beside(path: str) -> Tuple[str, int]:
    directory, name = os.path.split(path)
    while True:
        temporary = os.path.join(directory, f".{name}.{os.urandom(6).hex()}.tmp")
        try:
            # Created like any other new file, so the umask decides its mode
            # unless it replaces a file whose mode is kept.
            return temporary, os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
        except FileExistsError:
            continue


def _remove_quietly(path: str) -> None:
    try:
        os.remove(path)
    except OSError:
        pass


def _sync_directory(directory: str) -> None:
    """Makes the rename itself durable, where the platform allows."""
    try:
        descriptor = os.open(directory, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(descriptor)
    except OSError:
        pass
    finally:
        os.close(descriptor)


# ---------------------------------------------------------------------------
# Reading.


def read_header(path: PathArg) -> Header:
    """The header of the index at `path`, after checking the whole file."""
    path = os.fsdecode(path)
    return _checked_header(path, _read_index_file(path, mapped=True))[0]


def load(path: PathArg, normalize: Optional[Normalize], mapped: bool, make: Callable[[Any, Optional[Normalize]], _I]) -> _I:
    """The index saved at `path`, made by make(image, normalize).

    A file of the current version goes to the native index as it is (mapped,
    or read when `mapped` is false), which checks it whole: this takes one
    native call. Its normalisation, named in the file, is restored first
    from the header as it stands; should that fail, the file is checked
    before it is blamed, so that a damaged file is told as damaged."""
    path = os.fsdecode(path)
    data = _read_index_file(path, mapped)
    current = _unverified_version(data) == FORMAT_VERSION
    if current:
        name = _unverified_normalization(data)
        try:
            restored = _restored(path, name, normalize)
        except ValueError:
            _checked_header(path, data)
            raise
        image: Any = data
    else:
        # The first version's trie is decoded, and its keys checked, here.
        header, views = _checked_header(path, data)
        restored = _restored(path, header.normalization, normalize)
        image = _first_version_image(path, header, views, restored)
    try:
        index = make(image, restored)
    except ValueError as error:
        raise _refusal(path, str(error)) from None
    if current and restored is not None and name not in _normalization.NAMED:
        _check_custom_keys(path, index, restored)
    return index


def _restored(path: str, name: str, normalize: Optional[Normalize]) -> Optional[Normalize]:
    try:
        return _normalization.restore(name, normalize)
    except _normalization.MissingNormalization as error:
        raise _normalization.MissingNormalization(f"{shown(path)}: {error}", error.function) from None
    except ValueError as error:
        raise ValueError(f"{shown(path)}: {error}") from None


def _unverified_version(data: Union[bytes, memoryview]) -> int:
    return int(HEADER.unpack_from(data)[1])


def _unverified_normalization(data: Union[bytes, memoryview]) -> str:
    """The normalisation's name as the header gives it, before the checksum
    is verified: a damaged file may give anything, even no text."""
    size = HEADER.unpack_from(data)[6]
    try:
        return str(data[HEADER.size : HEADER.size + min(size, 1 << 16)], "utf-8")
    except UnicodeDecodeError:
        return "\0"


def _refusal(path: str, reason: str) -> ValueError:
    return ValueError(f"{shown(path)}: {reason}")


def _read_index_file(path: str, mapped: bool) -> Union[bytes, memoryview]:
    """The bytes of the file at `path`, read only once its first bytes and
    its size agree with being an index: mapped read-only when `mapped` and
    the file is of the current version, else read into memory."""
    file, size = _open_regular(path)
    with file:
        head = file.read(HEADER.size)
        _check_start(path, head, size)
        if mapped and HEADER.unpack_from(head)[1] == FORMAT_VERSION:
            view = _mapped(file, size)
            if view is not None:
                return view
        file.seek(0)
        data = file.read(size)
    if len(data) != size:
        raise _refusal(path, "changed while it was read")
    return data


def _mapped(file: BinaryIO, size: int) -> Optional[memoryview]:
    """The file mapped read-only under a lease (see the module's notes),
    and under a shared lock, both lasting as long as the mapping, which
    holds its own descriptor of the file; None when a writer holds the file
    locked or open, or it cannot be leased or mapped, so that it is read
    instead."""
    descriptor = file.fileno()
    try:
        fcntl.flock(descriptor, fcntl.LOCK_SH | fcntl.LOCK_NB)
    except OSError:
        return None
    mapping = _native_index.map_file(descriptor, size)
    if mapping is None:
        fcntl.flock(descriptor, fcntl.LOCK_UN)
        return None
    return memoryview(mapping)


def _open_regular(path: str) -> Tuple[BinaryIO, int]:
    """The file at `path`, open for reading, and its size; refuses what is
    not a regular file before opening it, since opening a FIFO waits for a
    writer and reading a device may never end."""
    info = os.stat(path)
    if not stat.S_ISREG(info.st_mode):
        raise _refusal(path, f"{_kind(info.st_mode)}, not an index file")
    # Non-blocking, should a FIFO have taken the file's place since.
    nonblocking = getattr(os, "O_NONBLOCK", 0)
    descriptor = os.open(path, os.O_RDONLY | getattr(os, "O_BINARY", 0) | nonblocking)
    try:
        info = os.fstat(descriptor)
        if not stat.S_ISREG(info.st_mode):
            raise _refusal(path, f"{_kind(info.st_mode)}, not an index file")
        if nonblocking:
            os.set_blocking(descriptor, True)
        return os.fdopen(descriptor, "rb"), info.st_size
    except BaseException:
        os.close(descriptor)
        raise


def _kind(mode: int) -> str:
    for test, kind in (
        (stat.S_ISDIR, "a directory"),
        (stat.S_ISFIFO, "a FIFO"),
        (stat.S_ISCHR, "a character device"),
        (stat.S_ISBLK, "a block device"),
        (stat.S_ISSOCK, "a socket"),
    ):
        if test(mode):
            return kind
    return "not a regular file"


def _check_start(path: str, head: bytes, size: int) -> None:
    """Refuses a file whose first bytes or size show it is no index. The
    declared size is only compared with the real one: until the checksum
    matches, no field is believed enough to be reported."""
    if not head:
        raise _refusal(path, "empty, not a kelvaro index")
    if not head.startswith(MAGIC[: len(head)]):
        raise _refusal(path, "not a kelvaro index")
    if size < HEADER.size + CHECKSUM.size:
        raise _refusal(path, f"truncated: {size} bytes, too short for a kelvaro index")
    declared = HEADER.unpack_from(head)[3]
    if size < declared:
        raise _refusal(path, f"truncated or corrupted: {size} bytes, fewer than its header declares")
    if size > declared:
        raise _refusal(path, f"corrupted: {size} bytes, more than its header declares")


def _checked_header(path: str, data: Union[bytes, memoryview]) -> Tuple[Header, List[memoryview]]:
    """The header and sections (tries, words, spelling keys, spelling words)
    of `data`, whose first bytes and size _check_start accepted, checked by
    the native reader: checksum, version, flags, section sizes."""
    try:
        version, file_size, word_count, node_count, normalization, weighted, places = _native_index.read_file_header(data)
    except ValueError as error:
        raise _refusal(path, str(error)) from None
    whole = memoryview(data)
    sections = [whole[start:end] for start, end in places]
    return Header(version, file_size, word_count, node_count, normalization, weighted), sections


def _check_custom_keys(path: str, index: Any, normalize: Normalize) -> None:
    """Refuses an index whose keys are not what `normalize`, a function of
    the caller's named in the file only by its name, makes of its words: a
    lookup of a listed word would then miss it. A word's key is its own
    spelling unless the spelling tables list it."""
    _, _, keys, spellings = index._sections()
    key_of = dict(zip(WordTable(spellings), WordTable(keys)))
    for word in index:
        key = key_of.get(word, word)
        made = normalize(word)
        if made != key:
            raise _made_another_key(path, word, made, key)


def _made_another_key(path: str, word: str, made: str, key: str) -> ValueError:
    return _refusal(
        path,
        f"normalize({word!r}) gives {made!r}, but the index stores that word under {key!r}: "
        "it was built with a different function",
    )


def _first_version_image(path: str, header: Header, sections: List[memoryview], normalize: Optional[Normalize]) -> bytes:
    """The image of a file of the first version: its trie decoded and
    checked against its word tables, and its keys against `normalize`."""
    trie_bytes, word_data, key_data, spelling_data = (bytes(section) for section in sections)
    try:
        node_count, word_count, words_and_keys, image = _native_index.check_index(
            trie_bytes, word_data, (key_data, spelling_data), _texts_wanted(header.normalization, normalize)
        )
        if header.word_count != word_count:
            raise ValueError("its word counts disagree")
        if node_count != header.node_count:
            raise ValueError("its node counts disagree")
    except ValueError as error:
        raise _refusal(path, f"malformed: {error}") from None
    if normalize is None and len(WordTable(key_data)) > 0:
        raise _refusal(path, "malformed: it lists spellings but has no normalization")
    if normalize is not None and words_and_keys is not None:
        _check_keys(path, header.normalization, normalize, *words_and_keys)
    return _native_index.index_file(
        header.normalization, image, word_data, (key_data, spelling_data), node_count, header.weighted
    )


Joined = _building.Joined

# What check_index hands back with the words: none, every word, or those
# that a case mapping could have changed.
_NO_WORDS, _EVERY_WORD, _CASED_WORDS = 0, 1, 2


def _texts_wanted(name: str, normalize: Optional[Normalize]) -> int:
    if normalize is None:
        return _NO_WORDS
    return _CASED_WORDS if name in _normalization.NAMED else _EVERY_WORD


def _check_keys(path: str, name: str, normalize: Normalize, count: int, words: Joined, keys: Joined) -> None:
    """Refuses an index whose keys are not what `normalize` makes of its
    words, since a lookup of a listed word would then miss it. For casefold
    and lower, check_index leaves out the words these cannot change."""
    # casefold and lower work character by character and a newline cuts the
    # context lower() consults, so one call over the joined words gives
    # the joined keys; any other function is called word by word.
    if name in _normalization.NAMED and words[1] is None and keys[1] is None:
        if normalize(words[0]) == keys[0]:
            return
    for word, key in zip(_building.split_joined(words, count), _building.split_joined(keys, count)):
        made = normalize(word)
        if made == key:
            continue
        if name in _normalization.NAMED:
            raise _refusal(path, f"malformed: {word!r} is not stored under its {name} form")
        raise _made_another_key(path, word, made, key)
