"""The kelvaro command: build an index from a word list, search one, describe one.

    kelvaro build WORDS -o INDEX [--casefold] [--counts]
    kelvaro search [-i INDEX] QUERY... [-d DIST] [-k LIMIT] [--transpositions] [--json]
    kelvaro suggest [-i INDEX] WORD... [-d DIST] [-k LIMIT] [--json]
    kelvaro complete [-i INDEX] PREFIX... [-d DIST] [-k LIMIT] [--json]
    kelvaro info INDEX [--json]

Every failure is one line on standard error and a non-zero exit status: 2
for a mistake in the command line, 1 for anything else, 130 for Ctrl-C.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import sys
from typing import IO, Any, Callable, Iterator, List, Optional, Sequence, Tuple

from . import _normalization, _progress, _storage
from ._building import MAX_VALUE
from ._default import default_index
from ._index import Index, Match

# Word lists at least this large get a progress bar, on a terminal.
_LARGE_INPUT = 1 << 20
_CHUNK = 1 << 20

# The argument that stands for standard input.
_STDIN = "-"

# A count: ASCII digits, and no other kind of digit that int() would take.
_COUNT = re.compile("[0-9]+")
# What a word of a counts file cannot hold: a tab, which separates its count,
# and anything that ends a line somewhere (an old Mac's carriage return).
_NOT_IN_A_WORD = re.compile("[\t\n\r\v\f\x1c-\x1e\x85\u2028\u2029]")


class _OutputError(Exception):
    """Standard output failed: closed, full, or otherwise unwritable."""

    def __init__(self, error: OSError) -> None:
        super().__init__(error.strerror or str(error))
        self.error = error


def main(argv: Optional[Sequence[str]] = None) -> int:
    try:
        args = _parser().parse_args(argv)
        command: Callable[[argparse.Namespace], None] = args.command
        if sys.stdout is None:
            return _fail("standard output is closed")
        _tolerate_any_text(sys.stdout)
        command(args)
        _flush_output()
    except KeyboardInterrupt:
        return _fail("interrupted", status=130)
    except _OutputError as error:
        _silence_stdout()
        if isinstance(error.error, BrokenPipeError):
            # The reader went away (kelvaro search ... | head); nothing to report.
            return 1
        return _fail(f"cannot write to standard output: {error}")
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
        description="Search a dictionary of words by edit distance: the number of single-character "
        "insertions, deletions and substitutions that turn one word into another.",
    )
    parser.add_argument("--version", action="version", version=f"kelvaro {_version()}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", dest="command_name")
    commands.required = True

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
    build.set_defaults(command=_build)

    search = _lookup_parser(
        commands,
        "search",
        "search an index",
        "Print the stored words within DIST edits of each QUERY (the same as Index.search), "
        "nearest first, and among those equally near, the most common first in an index "
        "with word counts.",
        "QUERY",
        "a word to look up",
        1,
        None,
    )
    search.add_argument(
        "--transpositions",
        action="store_true",
        help="count a swap of two neighbouring characters as one edit, not two",
    )
    search.set_defaults(command=_search)
    suggest = _lookup_parser(
        commands,
        "suggest",
        "suggest corrections of words",
        "Print the likeliest corrections of each WORD, best first: the stored words within "
        "DIST edits of it (a swap of two neighbouring letters is one edit), ranked by how "
        "likely the typo is and how common the word is.",
        "WORD",
        "a word to correct",
        2,
        5,
    )
    suggest.set_defaults(command=_suggest)
    complete = _lookup_parser(
        commands,
        "complete",
        "complete the beginnings of words",
        "Print the most likely stored words that begin with each PREFIX, give or take DIST "
        "edits: fewest edits first, then the most common words.",
        "PREFIX",
        "the beginning of a word, as typed",
        1,
        10,
    )
    complete.set_defaults(command=_complete)

    info = commands.add_parser("info", help="describe an index", description="Describe the index file INDEX.")
    info.add_argument("index", metavar="INDEX", help="the index file to describe")
    info.add_argument("--json", action="store_true", help="print one JSON object")
    info.set_defaults(command=_info)
    return parser


def _lookup_parser(
    commands: Any,
    name: str,
    summary: str,
    description: str,
    metavar: str,
    what: str,
    distance: int,
    limit: Optional[int],
) -> argparse.ArgumentParser:
    """The parser of a command that looks up words given on the command line."""
    parser: argparse.ArgumentParser = commands.add_parser(name, help=summary, description=description)
    parser.add_argument(
        "queries",
        metavar=metavar,
        nargs="+",
        help=f"{what}; - reads them from standard input, one per line",
    )
    parser.add_argument(
        "-i", "--index", metavar="INDEX", help="the index file to use (default: the built-in English index)"
    )
    parser.add_argument(
        "-d",
        "--distance",
        metavar="DIST",
        type=_natural,
        default=distance,
        help=f"the most edits a match may be from {metavar}: 0 allows none (default {distance})",
    )
    parser.add_argument(
        "-k",
        "--limit",
        metavar="LIMIT",
        type=_natural,
        default=limit,
        help=f"show at most the LIMIT best matches of each {metavar} (default: "
        + ("all" if limit is None else str(limit))
        + ")",
    )
    parser.add_argument("--json", action="store_true", help=f"print one JSON object per {metavar}")
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
    # A target that cannot be written is found before the work is done.
    _storage.check_target(args.output)
    shown = sys.stderr is not None and sys.stderr.isatty()
    words = _read_words(args.words, shown)
    _progress.step(sys.stderr, f"building the index of {_count(len(words), 'word')}", shown)
    normalize = str.casefold if args.casefold else None
    if args.counts:
        index = Index.from_words(_counted(args.words, words), normalize=normalize, weighted=True)
    else:
        index = Index.from_words([word for _, word in words], normalize=normalize)
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


def _standard_input() -> IO[bytes]:
    # The interpreter sets sys.stdin to None when descriptor 0 is closed.
    if sys.stdin is None:
        raise ValueError("standard input is closed")
    return sys.stdin.buffer


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
    swaps = args.transpositions

    def search(index: Index, query: str, distance: int, limit: Optional[int]) -> List[Match]:
        nearest = index.search(query, distance, limit, sorted=True, transpositions=swaps)
        if not index.weighted or not nearest:
            return nearest
        # The same words at the same distances as on any index; counts only
        # decide among the equally near, so every word as near as the
        # farthest of the nearest competes for its place.
        found = nearest
        if limit is not None:
            found = index.search(query, nearest[-1].distance, None, transpositions=swaps)
        found.sort(key=lambda match: (match.distance, -match.value, match.word))
        return found[:limit]

    _look_up(args, search)


def _suggest(args: argparse.Namespace) -> None:
    _look_up(args, Index.suggest)


def _complete(args: argparse.Namespace) -> None:
    _look_up(args, Index.complete)


def _look_up(args: argparse.Namespace, find: Callable[[Index, str, int, Optional[int]], List[Match]]) -> None:
    for query in args.queries:
        _check_utf8_argument(query)
    index = _load_for_search(args.index) if args.index is not None else default_index()
    for number, query in enumerate(_queries(args.queries)):
        matches = find(index, query, args.distance, args.limit)
        if args.json:
            _print_json(query, matches)
            continue
        if number > 0:
            _write("\n")
        # With -k 0 nothing is shown, yet whether anything is there is still worth saying.
        exists = bool(matches) or (args.limit == 0 and bool(find(index, query, args.distance, 1)))
        _print_table(query, args.distance, matches, exists)


def _load_for_search(path: str) -> Index:
    try:
        return Index.load(path)
    except _normalization.MissingNormalization as error:
        raise ValueError(
            f"{path}: the index was built with the normalize function {error.function}, "
            f"which the command line cannot apply; search it from Python with "
            f"Index.load(path, normalize={error.function})"
        ) from None


def _check_utf8_argument(text: str) -> None:
    # An argument that is not UTF-8 arrives with its bytes escaped as lone
    # surrogates; searching for those would only show nonsense.
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        raise ValueError(f"the query {os.fsencode(text)!r} is not UTF-8 text") from None


def _queries(arguments: List[str]) -> Iterator[str]:
    """The queries of the command line, each - replaced by the lines of
    standard input, read as they come, trimmed, blank ones skipped."""
    for argument in arguments:
        if argument != _STDIN:
            yield argument
            continue
        for number, line in enumerate(_standard_input(), 1):
            try:
                query = line.decode("utf-8-sig" if number == 1 else "utf-8").strip()
            except UnicodeDecodeError:
                raise ValueError(f"standard input: line {number} is not UTF-8 text") from None
            if query:
                yield query


def _print_json(query: str, matches: List[Match]) -> None:
    _write_json({"query": query, "matches": [match._asdict() for match in matches]})


def _write_json(record: Any) -> None:
    # Characters that standard output cannot encode are escaped the JSON way.
    _write(json.dumps(record, ensure_ascii=not _utf8(sys.stdout)) + "\n")


def _print_table(query: str, distance: int, matches: List[Match], exists: bool) -> None:
    if matches:
        found = _count(len(matches), "match", "matches")
    elif exists:
        found = "matches found, none shown (-k 0)"
    else:
        found = "no matches"
    _write(f"{query!r} within distance {distance}: {found}\n")
    if not matches:
        return
    word_width = max(len("word"), *(len(match.word) for match in matches))
    lines = [f"  {'distance':>8}  {'word':<{word_width}}  value\n"]
    lines += [f"  {match.distance:>8}  {match.word:<{word_width}}  {match.value}\n" for match in matches]
    _write("".join(lines))


# ---------------------------------------------------------------------------
# info


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


def _count(number: int, singular: str, plural: Optional[str] = None) -> str:
    return f"{number:,} {singular if number == 1 else plural or singular + 's'}"


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
# Output, and failing in one line.


def _write(text: str) -> None:
    try:
        sys.stdout.write(text)
    except OSError as error:
        raise _OutputError(error) from None


def _flush_output() -> None:
    try:
        sys.stdout.flush()
    except OSError as error:
        raise _OutputError(error) from None


def _tolerate_any_text(stream: IO[str]) -> None:
    """Paths that are not UTF-8 reach us with their bytes escaped as lone
    surrogates: written back as those bytes on a UTF-8 stream, escaped on
    any other, where any character the encoding lacks is escaped too."""
    reconfigure = getattr(stream, "reconfigure", None)
    if reconfigure is None:
        return
    reconfigure(errors="surrogateescape" if _utf8(stream) else "backslashreplace")


def _utf8(stream: IO[str]) -> bool:
    encoding = (getattr(stream, "encoding", None) or "").lower().replace("-", "").replace("_", "")
    return encoding == "utf8"


def _fail(message: str, status: int = 1) -> int:
    if sys.stderr is not None:
        try:
            sys.stderr.write(f"kelvaro: error: {_one_line(_storage.shown(message))}\n")
            sys.stderr.flush()
        except OSError:
            pass
    return status


def _one_line(message: str) -> str:
    return " ".join(message.split())


def _os_error_text(error: OSError) -> str:
    if error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return str(error)


def _silence_stdout() -> None:
    # Whatever is still buffered would only fail again at exit, with a
    # message of the interpreter's own.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError, AttributeError):
        pass
