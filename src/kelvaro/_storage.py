"""The index file: what Index.save writes and Index.load reads.

    header    80 bytes, integers little-endian:
                magic            8 bytes  89 4B 56 58 0D 0A 1A 0A
                format version   u32      2 (1 is still read)
                flags            u32      bit 0: the values are weights; no other bit is defined
                file size        u64      every byte, checksum included
                word count       u64
                node count       u64
                five section sizes, u64 each, in the order below
    sections  normalization   its name in UTF-8 ("" for none)
              tries           version 2: the image of the compact tries and
                              their lookup tables (src/index/index_image.h);
                              version 1: the trie in the binary form of to_bytes
              words           word table of the words as given
              spelling keys   word table of the keys that normalization changed
              spelling words  word table of their spellings
    checksum  u32: version 2, CRC-32C of every byte before it; version 1, CRC-32

In version 2 every section starts 8-byte aligned, zero bytes padding the
one before it, so that a mapped file's arrays are read where they lie.

The magic number's first byte is not ASCII and its middle holds CR LF, ^Z
and LF, so a file mangled by a text-mode transfer fails at once. Every
version keeps the magic number, the version, the flags and the file size
where they are and ends in a checksum, so a file of any version can be
checked before anything but its version is believed.

Reading trusts nothing before the checksum matches. Only the declared size
is looked at first, and only to compare it with the file's real size, so
that a file that cannot be an index is refused without being read. After
the checksum, every section is checked for shape before anything reads
it. A version 1 file is decoded and checked against itself (the trie's
words are the word table's keys, and those keys are what the normalisation
makes of the words); a version 2 file is mapped and searched in place, its
arrays checked for shape once, so that no lookup can read outside them.

A mapped file must not change under the index: Index.save never writes into
an existing file but renames a new one over it, so an index mapped from
the old file keeps reading the old contents. The loader holds a shared
lock (flock) on the file while it is mapped, for programs that want to
wait for readers before writing in place; a program that truncates the
file in place anyway would make the mapping's pages vanish, so load with
mapped=False to read a file that such a program may touch.
"""

from __future__ import annotations

import errno
import fcntl
import mmap
import os
import secrets
import stat
import struct
import zlib
from typing import BinaryIO, List, NamedTuple, Optional, Tuple, Union

import _kelvaro

from . import _arrays, _native_index, _normalization
from ._building import Parts
from ._normalization import Normalize
from ._word_table import Spellings, WordTable

MAGIC = b"\x89KVX\r\n\x1a\n"
FORMAT_VERSION = 2
READABLE_VERSIONS = (1, 2)
HEADER = struct.Struct("<8sIIQQQ5Q")
CHECKSUM = struct.Struct("<I")

PathArg = Union[str, "os.PathLike[str]"]


# Flags of the header. A reader refuses a file with a flag it does not
# know, so an older kelvaro says so rather than reading a weighted index as
# one without weights.
FLAG_WEIGHTED = 1
KNOWN_FLAGS = FLAG_WEIGHTED


class Header(NamedTuple):
    version: int
    file_size: int
    word_count: int
    node_count: int
    normalization: str
    weighted: bool = False


def _padding(size: int) -> int:
    return -size % 8


class Loaded(NamedTuple):
    header: Header
    parts: Parts
    normalize: Optional[Normalize]


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


def save(path: PathArg, parts: Parts, image: bytes, normalize: Optional[Normalize]) -> None:
    """Writes a temporary file beside the file that `path` names (through a
    symbolic link, if it is one) and renames it into place, so that the file
    holds either its old contents or the whole new index, with its old
    permission bits."""
    path = os.fsdecode(path)
    target = check_target(path)
    sections = [
        _normalization.name_of(normalize).encode("utf-8"),
        image,
        parts.words.data,
        parts.spellings.keys.data,
        parts.spellings.words.data,
    ]
    size = HEADER.size + sum(len(section) + _padding(len(section)) for section in sections) + CHECKSUM.size
    header = HEADER.pack(
        MAGIC,
        FORMAT_VERSION,
        FLAG_WEIGHTED if parts.weighted else 0,
        size,
        len(parts.words),
        parts.node_count,
        *map(len, sections),
    )
    checksum = 0
    temporary = None
    try:
        temporary, descriptor = _create_beside(target.path)
        with os.fdopen(descriptor, "wb") as file:
            if target.mode is not None:
                os.fchmod(descriptor, target.mode)
            chunks: List[Union[bytes, memoryview]] = [header]
            for section in sections:
                chunks += [section, bytes(_padding(len(section)))]
            for chunk in chunks:
                file.write(chunk)
                checksum = _native_index.crc32c(chunk, checksum)
            file.write(CHECKSUM.pack(checksum))
            file.flush()
            os.fsync(file.fileno())
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
        temporary = os.path.join(directory, f".{name}.{secrets.token_hex(6)}.tmp")
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


def load(path: PathArg, normalize: Optional[Normalize], mapped: bool = True) -> Loaded:
    path = os.fsdecode(path)
    data = _read_index_file(path, mapped)
    header, views = _checked_header(path, data)
    # Read, not mapped: the sections are the index's own bytes.
    sections: List[Union[bytes, memoryview]] = [bytes(view) for view in views] if isinstance(data, bytes) else list(views)
    try:
        restored = _normalization.restore(header.normalization, normalize)
    except _normalization.MissingNormalization as error:
        raise _normalization.MissingNormalization(f"{shown(path)}: {error}", error.function) from None
    except ValueError as error:
        raise ValueError(f"{shown(path)}: {error}") from None
    if header.version == 1:
        return Loaded(header, _checked_parts(path, header, [bytes(section) for section in sections], restored), restored)
    return Loaded(header, _checked_image_parts(path, header, sections, restored), restored)


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
    """The file mapped read-only, under a shared lock that lasts as long as
    the mapping (which holds its own descriptor of the file); None when a
    writer holds the file locked, or it cannot be mapped, so that it is read
    instead."""
    descriptor = file.fileno()
    try:
        fcntl.flock(descriptor, fcntl.LOCK_SH | fcntl.LOCK_NB)
    except OSError:
        return None
    try:
        # Every page is read at once by the checksum: asking for them all
        # in one call saves a fault per page.
        populate = getattr(mmap, "MAP_POPULATE", 0)
        mapping = mmap.mmap(descriptor, size, flags=mmap.MAP_SHARED | populate, prot=mmap.PROT_READ)
    except (OSError, ValueError):
        fcntl.flock(descriptor, fcntl.LOCK_UN)
        return None
    if os.fstat(descriptor).st_size != size:
        mapping.close()
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
    """The header and sections of `data`, whose first bytes and size
    _check_start accepted."""
    body = memoryview(data)[: -CHECKSUM.size]
    (checksum,) = CHECKSUM.unpack_from(data, len(body))
    version = HEADER.unpack_from(data)[1]
    # The version says which checksum to verify (a version this kelvaro does
    # not know may end in either), and nothing more is believed until one
    # matches.
    new_sum = version != 1 and _native_index.crc32c(body) == checksum
    if not (new_sum or (version not in (2,) and zlib.crc32(body) == checksum)):
        raise _refusal(path, "corrupted: checksum mismatch")
    _, version, flags, file_size, word_count, node_count, *sizes = HEADER.unpack_from(data)
    if version not in READABLE_VERSIONS:
        newer = " (written by a newer kelvaro)" if version > FORMAT_VERSION else ""
        raise _refusal(
            path,
            f"index format version {version} is not supported{newer}; "
            f"this kelvaro reads versions {READABLE_VERSIONS[0]} to {FORMAT_VERSION}",
        )
    if flags & ~KNOWN_FLAGS:
        raise _refusal(path, f"uses features this kelvaro does not know (flags {flags:#x})")
    padded = [size + (_padding(size) if version >= 2 else 0) for size in sizes]
    if HEADER.size + sum(padded) + CHECKSUM.size != file_size:
        raise _refusal(path, "malformed: its sections do not add up to its size")

    sections = []
    offset = HEADER.size
    for size, step in zip(sizes, padded):
        sections.append(body[offset : offset + size])
        offset += step
    try:
        normalization = bytes(sections[0]).decode("utf-8")
    except UnicodeDecodeError:
        raise _refusal(path, "malformed: its normalization is not UTF-8") from None
    weighted = bool(flags & FLAG_WEIGHTED)
    return Header(version, file_size, word_count, node_count, normalization, weighted), sections[1:]


def _checked_image_parts(
    path: str, header: Header, sections: List[Union[bytes, memoryview]], normalize: Optional[Normalize]
) -> Parts:
    """The parts of a version 2 file, read in place: the word tables checked
    for shape here, the image when the native index takes it."""
    image, word_data, key_data, spelling_data = sections
    try:
        word_count = _native_index.check_word_tables(word_data, key_data, spelling_data)
        if header.word_count != word_count:
            raise ValueError("its word counts disagree")
    except ValueError as error:
        raise _refusal(path, f"malformed: {error}") from None
    spellings = _spellings(path, key_data, spelling_data, normalize)
    words = WordTable(word_data)
    if normalize is not None and header.normalization not in _normalization.NAMED:
        # A function of the caller's, named in the file only by its name:
        # it must make each word's key. A word's key is its own spelling
        # unless the spelling tables list it.
        key_of = dict(zip(spellings.words, spellings.keys))
        for word in words:
            key = key_of.get(word, word)
            made = normalize(word)
            if made != key:
                raise _made_another_key(path, word, made, key)
    return Parts(image, words, spellings, header.node_count, header.weighted)


def _spellings(
    path: str, key_data: Union[bytes, memoryview], spelling_data: Union[bytes, memoryview], normalize: Optional[Normalize]
) -> Spellings:
    spellings = Spellings(WordTable(key_data), WordTable(spelling_data))
    if normalize is None and len(spellings) > 0:
        raise _refusal(path, "malformed: it lists spellings but has no normalization")
    return spellings


def _made_another_key(path: str, word: str, made: str, key: str) -> ValueError:
    return _refusal(
        path,
        f"normalize({word!r}) gives {made!r}, but the index stores that word under {key!r}: "
        "it was built with a different function",
    )


def _checked_parts(path: str, header: Header, sections: List[bytes], normalize: Optional[Normalize]) -> Parts:
    trie_bytes, word_data, key_data, spelling_data = sections
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
    spellings = _spellings(path, key_data, spelling_data, normalize)
    if normalize is not None and words_and_keys is not None:
        _check_keys(path, header.normalization, normalize, *words_and_keys)
    return Parts(image, WordTable(word_data), spellings, node_count, header.weighted)


Joined = Tuple[str, Optional[bytes]]

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
    for word, key in zip(_split(words, count), _split(keys, count)):
        made = normalize(word)
        if made == key:
            continue
        if name in _normalization.NAMED:
            raise _refusal(path, f"malformed: {word!r} is not stored under its {name} form")
        raise _made_another_key(path, word, made, key)


def _split(joined: Joined, count: int) -> List[str]:
    text, lengths = joined
    if lengths is None:
        return text.split("\n") if count else []
    pieces, start = [], 0
    for length in _arrays.from_bytes(lengths):
        pieces.append(text[start : start + length])
        start += length
    return pieces


