"""kelvaro build: an index from a word list, or from words and their counts."""

from __future__ import annotations

import argparse
import os
import re
import sys
from typing import Any, List, Tuple

from .. import _progress, _storage
from .._building import MAX_VALUE
from .._index import Index
from .frame import _STDIN, _count, _read_with_progress, _size, _standard_input, _write

# A count: ASCII digits, and no other kind of digit that int() would take.
_COUNT = re.compile("[0-9]+")
# What a word of a counts file cannot hold: a tab, which separates its count,
# and anything that ends a line somewhere (an old Mac's carriage return).
_NOT_IN_A_WORD = re.compile("[\t\n\r\v\f\x1c-\x1e\x85\u2028\u2029]")


def register(commands: Any) -> None:
    build = commands.add_parser(
        "build",
        help="build an index from a word list",
        description="Build an index from WORDS and write it to INDEX. "
        "Each word's value is its position among the words, from 0.",
    )
    build.add_argument(
        "words",
        metavar="WORDS",
        help="a UTF-8 text file with one word per line (surrounding blanks trimmed, "
        "blank lines skipped); - reads standard input",
    )
    build.add_argument(
        "-o", "--output", metavar="INDEX", required=True, help="the index file to write (replaced if it exists)"
    )
    build.add_argument("--casefold", action="store_true", help="match regardless of letter case")
    build.add_argument(
        "--counts",
        action="store_true",
        help="each line is a word and how often it occurs, separated by a tab or a space "
        "(word<TAB>count or word count); the index is weighted by the counts, which "
        "suggest, complete and search rank by",
    )
    build.add_argument(
        "--no-sounds",
        dest="sounds",
        action="store_false",
        help="leave out the table of how the words sound, with which suggest finds words "
        "that sound like the one given however differently they are spelled",
    )
    build.set_defaults(command=_build)


def _build(args: argparse.Namespace) -> None:
    # A target that cannot be written is found before the work is done.
    _storage.check_target(args.output)
    shown = sys.stderr is not None and sys.stderr.isatty()
    words = _read_words(args.words, shown)
    _progress.step(sys.stderr, f"building the index of {_count(len(words), 'word')}", shown)
    normalize = str.casefold if args.casefold else None
    if args.counts:
        index = Index.from_words(
            _counted(args.words, words), normalize=normalize, weighted=True, sounds=args.sounds
        )
    else:
        index = Index.from_words([word for _, word in words], normalize=normalize, sounds=args.sounds)
    _progress.step(sys.stderr, f"writing {args.output}", shown)
    index.save(args.output)
    size = _size(os.path.getsize(args.output))
    _write(f"{args.output}: {_count(len(index), 'word')}, {_count(index.node_count, 'node')}, {size}\n")


def _read_words(path: str, terminal: bool) -> List[Tuple[int, str]]:
    """The non-blank lines of the word list, trimmed, with their numbers."""
    if path == _STDIN:
        data = _standard_input().read()
    else:
        data = _read_with_progress(path, terminal)
    try:
        # utf-8-sig: a byte-order mark that some editors put first is not
        # part of the first word.
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line = data.count(b"\n", 0, error.start) + 1
        raise ValueError(f"{_source(path)}: line {line} is not UTF-8 text (at byte {error.start})") from None
    lines = (line.strip() for line in text.split("\n"))
    return [(number, line) for number, line in enumerate(lines, 1) if line]


def _counted(path: str, lines: List[Tuple[int, str]]) -> List[Tuple[str, int]]:
    """(word, count) of each `word<TAB>count` or `word count` line. A count
    is ASCII digits, of any length: one beyond 4294967295 is held there."""
    pairs = []
    for number, line in lines:
        word, separator, count = line.rpartition("\t") if "\t" in line else line.rpartition(" ")
        word = word.strip()
        if not separator or not word or _NOT_IN_A_WORD.search(word) or not _COUNT.fullmatch(count):
            shown = line if len(line) <= 60 else line[:57] + "..."
            raise ValueError(f"{_source(path)}: line {number} is not a word and a count: {shown!r}")
        digits = count.lstrip("0")
        # int() of thousands of digits would hit the interpreter's digit limit.
        pairs.append((word, int(digits or "0") if len(digits) <= len(str(MAX_VALUE)) else MAX_VALUE))
    return pairs


def _source(path: str) -> str:
    return "standard input" if path == _STDIN else _storage.shown(path)
