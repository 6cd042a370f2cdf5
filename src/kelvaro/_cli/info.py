"""kelvaro info: what an index file's header says about it."""

from __future__ import annotations

import argparse
from typing import Any

from .. import _normalization, _storage
from .frame import _size, _write, _write_json


def register(commands: Any) -> None:
    info = commands.add_parser("info", help="describe an index", description="Describe the index file INDEX.")
    info.add_argument("index", metavar="INDEX", help="the index file to describe")
    info.add_argument("--json", action="store_true", help="print one JSON object")
    info.set_defaults(command=_info)


def _info(args: argparse.Namespace) -> None:
    header = _storage.read_header(args.index)
    name = header.normalization
    if args.json:
        record = {
            "index": _storage.shown(args.index),
            "format_version": header.version,
            "words": header.word_count,
            "nodes": header.node_count,
            "file_size": header.file_size,
            "normalization": name or None,
            "weighted": header.weighted,
        }
        _write_json(record)
        return
    normalization = _normalization.describe(name)
    if name.startswith(_normalization.CUSTOM_PREFIX):
        normalization += " (a custom function)"
    rows = [
        ("index", _storage.shown(args.index)),
        ("format version", str(header.version)),
        ("words", f"{header.word_count:,}"),
        ("nodes", f"{header.node_count:,}"),
        ("file size", _size(header.file_size)),
        ("normalization", normalization),
        ("values", "weights (word counts)" if header.weighted else "identifiers"),
    ]
    _write("".join(f"{name:<15} {value}\n" for name, value in rows))
