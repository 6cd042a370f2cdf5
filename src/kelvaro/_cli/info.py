"""kelvaro info: what an index file's header says about it, or, with no
file named, where the built-in English index is cached."""

from __future__ import annotations

import argparse
from typing import Any, Dict, List, Optional, Tuple

from .. import _default, _normalization, _storage
from .frame import _size, _write, _write_json


def register(commands: Any) -> None:
    info = commands.add_parser(
        "info",
        help="describe an index",
        description="Describe the index file INDEX; without INDEX, the built-in English index: the file in "
        "the cache folder (KELVARO_CACHE_DIR, or the platform's) that its first use makes and later uses map.",
    )
    info.add_argument("index", metavar="INDEX", nargs="?", help="the index file to describe (default: the English index)")
    info.add_argument("--json", action="store_true", help="print one JSON object")
    info.set_defaults(command=_info)


def _info(args: argparse.Namespace) -> None:
    if args.index is None:
        _english(args.json)
        return
    header = _storage.read_header(args.index)
    if args.json:
        _write_json({"index": _storage.shown(args.index), **_header_record(header)})
        return
    _write_rows([("index", _storage.shown(args.index))] + _header_rows(header))


def _english(as_json: bool) -> None:
    """The English index's cache file, whether it is there and intact, and
    its header when it is. Nothing is built: describing it is no use of it."""
    path = _default.english_file()
    header: Optional[_storage.Header] = None
    state = "no: there is no cache file to name, so each process builds the index in memory"
    if path is not None:
        try:
            header = _storage.read_header(path)
            state = "yes"
        except FileNotFoundError:
            state = "not yet: the first use builds it and saves it there"
        except (OSError, ValueError) as error:
            state = f"no: the file there is unusable ({error}); the next use builds it again"
    if as_json:
        record: Dict[str, Any] = {"index": "english", "cache_file": path, "cached": header is not None}
        if header is not None:
            record.update(_header_record(header))
        _write_json(record)
        return
    rows = [
        ("index", "the built-in English index"),
        ("cache file", _storage.shown(path) if path is not None else "none"),
        ("cached", state),
    ]
    _write_rows(rows + (_header_rows(header) if header is not None else []))


def _header_record(header: _storage.Header) -> Dict[str, Any]:
    return {
        "format_version": header.version,
        "words": header.word_count,
        "nodes": header.node_count,
        "file_size": header.file_size,
        "normalization": header.normalization or None,
        "weighted": header.weighted,
    }


def _header_rows(header: _storage.Header) -> List[Tuple[str, str]]:
    name = header.normalization
    normalization = _normalization.describe(name)
    if name.startswith(_normalization.CUSTOM_PREFIX):
        normalization += " (a custom function)"
    return [
        ("format version", str(header.version)),
        ("words", f"{header.word_count:,}"),
        ("nodes", f"{header.node_count:,}"),
        ("file size", _size(header.file_size)),
        ("normalization", normalization),
        ("values", "weights (word counts)" if header.weighted else "identifiers"),
    ]


def _write_rows(rows: List[Tuple[str, str]]) -> None:
    _write("".join(f"{name:<15} {value}\n" for name, value in rows))
