"""The kelvaro command: build an index from a word list, search one, describe one.

    kelvaro build WORDS -o INDEX [--casefold]
    kelvaro search [-i INDEX] QUERY... [-d DIST] [-k LIMIT] [--json]
    kelvaro info INDEX

Every failure is one line on standard error and a non-zero exit status: 2
for a mistake in the command line, 1 for anything else.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import IO, Any, Callable, List, Optional, Sequence

from . import _progress, _storage
from ._default import default_index
from ._index import Index, Match

# Word lists at least this large get a progress bar, on a terminal.
_LARGE_INPUT = 1 << 20
_CHUNK = 1 << 20


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = _parser().parse_args(argv)
    command: Callable[[argparse.Namespace], None] = args.command
    try:
        command(args)
        sys.stdout.flush()
    except KeyboardInterrupt:
        return _fail("interrupted", status=130)
    except BrokenPipeError:
        # The reader went away (kelvaro search ... | head); nothing to report.
        _silence_stdout()
        return 1
    except OSError as error:
        return _fail(_os_error_text(error))
    except (ValueError, TypeError, MemoryError) as error:
        return _fail(str(error) or type(error).__name__)
    except BaseException as error:  # PanicException and anything unforeseen
        if isinstance(error, SystemExit):
            raise
        return _fail(f"internal error: {type(error).__name__}: {error}")
    return 0


# ---------------------------------------------------------------------------
# The command line.


class _OneLineParser(argparse.ArgumentParser):
    """Reports a mistake in one line, with a pointer to --help."""

    def error(self, message: str) -> Any:
        self.exit(2, f"{self.prog}: error: {message} (see {self.prog} --help)\n")


def _parser() -> argparse.ArgumentParser:
    parser = _OneLineParser(
        prog="kelvaro",
        description="Search a dictionary of words by edit distance.",
    )
    parser.add_argument("--version", action="version", version=f"kelvaro {_version()}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", dest="command_name")
    commands.required = True

    build = commands.add_parser(
        "build",
        help="build an index from a word list",
        description="Build an index from WORDS, a UTF-8 text file with one word per line "
        "(surrounding blanks trimmed, blank lines skipped; - reads standard input). "
        "Each word's value is its position among the words, from 0.",
    )
    build.add_argument("words", metavar="WORDS")
    build.add_argument("-o", "--output", metavar="INDEX", required=True, help="the index file to write")
    build.add_argument("--casefold", action="store_true", help="match regardless of letter case")
    build.set_defaults(command=_build)

    search = commands.add_parser(
        "search",
        help="search an index",
        description="Print the stored words within DIST edits of each QUERY, nearest first.",
    )
    search.add_argument("queries", metavar="QUERY", nargs="+")
    search.add_argument(
        "-i", "--index", metavar="INDEX", help="the index to search (default: the built-in English one)"
    )
    search.add_argument("-d", "--distance", metavar="DIST", type=_natural, default=1, help="default 1")
    search.add_argument("-k", "--limit", metavar="LIMIT", type=_natural, help="at most LIMIT matches per query")
    search.add_argument("--json", action="store_true", help="print one JSON object per query")
    search.set_defaults(command=_search)

    info = commands.add_parser("info", help="describe an index", description="Describe the index file INDEX.")
    info.add_argument("index", metavar="INDEX")
    info.set_defaults(command=_info)
    return parser


def _natural(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected an integer of 0 or more, not {text!r}")
    return value


def _version() -> str:
    try:
        from importlib.metadata import version

        return version("kelvaro")
    except Exception:
        return "unknown"


# ---------------------------------------------------------------------------
# build


def _build(args: argparse.Namespace) -> None:
    shown = sys.stderr.isatty()
    words = _read_words(args.words, shown)
    _progress.step(sys.stderr, f"building the index of {len(words):,} words", shown)
    index = Index.from_words(words, normalize=str.casefold if args.casefold else None)
    _progress.step(sys.stderr, f"writing {args.output}", shown)
    index.save(args.output)
    print(f"{args.output}: {len(index):,} words, {index.node_count:,} nodes, {_size(os.path.getsize(args.output))}")


def _read_words(path: str, terminal: bool) -> List[str]:
    if path == "-":
        data = sys.stdin.buffer.read()
    else:
        data = _read_with_progress(path, terminal)
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: not UTF-8 text (at byte {error.start})") from None
    return [word for word in (line.strip() for line in text.split("\n")) if word]


def _read_with_progress(path: str, terminal: bool) -> bytes:
    with open(path, "rb") as file:
        size = os.fstat(file.fileno()).st_size
        progress = _progress.Progress(sys.stderr, f"reading {path}", size, terminal and size >= _LARGE_INPUT)
        chunks = []
        while True:
            chunk = file.read(_CHUNK)
            if not chunk:
                break
            chunks.append(chunk)
            progress.advance(len(chunk))
        progress.finish()
    return b"".join(chunks)


# ---------------------------------------------------------------------------
# search


def _search(args: argparse.Namespace) -> None:
    index = Index.load(args.index) if args.index is not None else default_index()
    out = sys.stdout
    for number, query in enumerate(args.queries):
        matches = index.search(query, args.distance, args.limit, sorted=True)
        if args.json:
            _print_json(out, query, matches)
        else:
            if number > 0:
                out.write("\n")
            _print_table(out, query, args.distance, matches)


def _print_json(out: IO[str], query: str, matches: List[Match]) -> None:
    record = {"query": query, "matches": [match._asdict() for match in matches]}
    out.write(json.dumps(record, ensure_ascii=False) + "\n")


def _print_table(out: IO[str], query: str, distance: int, matches: List[Match]) -> None:
    found = f"{len(matches)} match{'es' if len(matches) != 1 else ''}" if matches else "no matches"
    out.write(f"{query!r} within distance {distance}: {found}\n")
    if not matches:
        return
    word_width = max(len("word"), *(len(match.word) for match in matches))
    out.write(f"  {'distance':>8}  {'word':<{word_width}}  value\n")
    for match in matches:
        out.write(f"  {match.distance:>8}  {match.word:<{word_width}}  {match.value}\n")


# ---------------------------------------------------------------------------
# info


def _info(args: argparse.Namespace) -> None:
    header = _storage.read_header(args.index)
    normalization = header.normalization or "none"
    rows = [
        ("index", args.index),
        ("format version", str(header.version)),
        ("words", f"{header.word_count:,}"),
        ("nodes", f"{header.node_count:,}"),
        ("file size", _size(header.file_size)),
        ("normalization", normalization),
    ]
    for name, value in rows:
        print(f"{name:<15} {value}")


def _size(size: int) -> str:
    if size < 1024:
        return f"{size:,} bytes"
    amount = float(size)
    for unit in ("KiB", "MiB", "GiB", "TiB"):
        amount /= 1024
        if amount < 1024:
            break
    return f"{size:,} bytes ({amount:.1f} {unit})"


# ---------------------------------------------------------------------------
# Failing in one line.


def _fail(message: str, status: int = 1) -> int:
    sys.stderr.write(f"kelvaro: error: {_one_line(message)}\n")
    sys.stderr.flush()
    return status


def _one_line(message: str) -> str:
    return " ".join(message.split())


def _os_error_text(error: OSError) -> str:
    if error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return str(error)


def _silence_stdout() -> None:
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass
