"""The index file: what Index.save writes and Index.load reads.

    header    80 bytes, integers little-endian:
                magic            8 bytes  89 4B 56 58 0D 0A 1A 0A
                format version   u32      1
                flags            u32      0 (none defined)
                file size        u64      every byte, checksum included
                word count       u64
                node count       u64
                five section sizes, u64 each, in the order below
    sections  normalization   its name in UTF-8 ("" for none)
              trie            the trie in the binary form of to_bytes
              words           word table of the words as given
              spelling keys   word table of the keys that normalization changed
              spelling words  word table of their spellings
    checksum  u32, CRC-32 of every byte before it

The magic number's first byte is not ASCII and its middle holds CR LF, ^Z
and LF, so a file mangled by a text-mode transfer fails at once. Nothing in
a file is trusted before its checksum matches, and even then every section
is checked for shape before it reaches the native decoder.
"""

from __future__ import annotations

import os
import secrets
import struct
import zlib
from typing import NamedTuple, Optional, Union

import _kelvaro

from . import _builder, _normalization
from ._building import Parts
from ._normalization import Normalize
from ._word_table import Spellings, WordTable

MAGIC = b"\x89KVX\r\n\x1a\n"
FORMAT_VERSION = 1
HEADER = struct.Struct("<8sIIQQQ5Q")
CHECKSUM = struct.Struct("<I")

PathArg = Union[str, "os.PathLike[str]"]


class Header(NamedTuple):
    version: int
    file_size: int
    word_count: int
    node_count: int
    normalization: str


class Loaded(NamedTuple):
    header: Header
    parts: Parts
    normalize: Optional[Normalize]


# ---------------------------------------------------------------------------
# Writing.


def save(path: PathArg, parts: Parts, normalize: Optional[Normalize]) -> None:
    """Writes a temporary file beside `path` and renames it into place, so
    that `path` holds either its old contents or the whole new index."""
    path = os.fsdecode(path)
    sections = [
        _normalization.name_of(normalize).encode("utf-8"),
        parts.trie.to_bytes(),
        parts.words.data,
        parts.spellings.keys.data,
        parts.spellings.words.data,
    ]
    size = HEADER.size + sum(len(section) for section in sections) + CHECKSUM.size
    header = HEADER.pack(
        MAGIC, FORMAT_VERSION, 0, size, len(parts.words), parts.node_count, *map(len, sections)
    )
    checksum = 0
    temporary, descriptor = _create_beside(path)
    try:
        with os.fdopen(descriptor, "wb") as file:
            for chunk in (header, *sections):
                file.write(chunk)
                checksum = zlib.crc32(chunk, checksum)
            file.write(CHECKSUM.pack(checksum))
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, path)
    except BaseException:
        _remove_quietly(temporary)
        raise
    _sync_directory(os.path.dirname(path) or ".")


def _create_beside(path: str) -> tuple[str, int]:
    directory, name = os.path.split(path)
    while True:
        temporary = os.path.join(directory, f".{name}.{secrets.token_hex(6)}.tmp")
        try:
            # Created like any other new file, so the umask decides its mode.
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
    with open(path, "rb") as file:
        data = file.read()
    return _checked_header(path, data)[0]


def load(path: PathArg, normalize: Optional[Normalize]) -> Loaded:
    path = os.fsdecode(path)
    with open(path, "rb") as file:
        data = file.read()
    header, sections = _checked_header(path, data)
    try:
        restored = _normalization.restore(header.normalization, normalize)
    except ValueError as error:
        raise ValueError(f"{path}: {error}") from None
    return Loaded(header, _checked_parts(path, header, sections), restored)


def _checked_header(path: str, data: bytes) -> tuple[Header, list[bytes]]:
    def refuse(reason: str) -> ValueError:
        return ValueError(f"{path}: {reason}")

    if not data:
        raise refuse("empty, not a kelvaro index")
    if not data.startswith(MAGIC[: len(data)]):
        raise refuse("not a kelvaro index")
    if len(data) < 12:
        raise refuse(f"truncated: {len(data)} bytes, too short for a kelvaro index")
    version = int.from_bytes(data[8:12], "little")
    if version != FORMAT_VERSION:
        newer = " (written by a newer kelvaro)" if version > FORMAT_VERSION else ""
        raise refuse(f"index format version {version} is not supported{newer}; this kelvaro reads version {FORMAT_VERSION}")
    if len(data) < HEADER.size + CHECKSUM.size:
        raise refuse(f"truncated: {len(data)} bytes, too short for a kelvaro index")
    _, _, flags, file_size, word_count, node_count, *sizes = HEADER.unpack_from(data)
    if len(data) < file_size:
        raise refuse(f"truncated: {len(data)} of {file_size} bytes")
    if len(data) > file_size:
        raise refuse(f"corrupted: {len(data) - file_size} bytes more than its header says")
    body = memoryview(data)[: -CHECKSUM.size]
    (checksum,) = CHECKSUM.unpack_from(data, len(body))
    if zlib.crc32(body) != checksum:
        raise refuse("corrupted: checksum mismatch")
    if flags != 0:
        raise refuse(f"uses features this kelvaro does not know (flags {flags:#x})")
    if HEADER.size + sum(sizes) + CHECKSUM.size != file_size:
        raise refuse("malformed: its sections do not add up to its size")

    sections = []
    offset = HEADER.size
    for size in sizes:
        sections.append(bytes(body[offset : offset + size]))
        offset += size
    try:
        normalization = sections[0].decode("utf-8")
    except UnicodeDecodeError:
        raise refuse("malformed: its normalization is not UTF-8") from None
    return Header(version, file_size, word_count, node_count, normalization), sections[1:]


def _checked_parts(path: str, header: Header, sections: list[bytes]) -> Parts:
    trie_bytes, word_data, key_data, spelling_data = sections
    try:
        node_count, trie_words = _builder.check_trie(trie_bytes)
        word_count = _builder.check_word_table(word_data)
        spelling_count = _builder.check_word_table(key_data)
        if _builder.check_word_table(spelling_data) != spelling_count:
            raise ValueError("its spelling tables differ in length")
        if not header.word_count == word_count == trie_words:
            raise ValueError("its word counts disagree")
        if node_count != header.node_count:
            raise ValueError("its node counts disagree")
        trie = _from_checked_bytes(trie_bytes)
    except ValueError as error:
        raise ValueError(f"{path}: malformed: {error}") from None
    spellings = Spellings(WordTable(key_data), WordTable(spelling_data))
    return Parts(trie, WordTable(word_data), spellings, node_count)


def _from_checked_bytes(data: bytes) -> _kelvaro.PrefixSearch:
    # The trie passed check_trie, so the decoder cannot refuse it; should it
    # anyway, the caller still gets a ValueError, never a PanicException.
    try:
        return _kelvaro.from_bytes(data)
    except BaseException as error:
        if type(error).__name__ != "PanicException":
            raise
        raise ValueError(f"the trie does not decode: {error}") from None
