"""kelvaro check: the misspellings of text files, as lines, JSON records or
a unified diff that corrects them. Files of any size are read a chunk at a
time, and the chunks are checked on every core."""

from __future__ import annotations

import argparse
import collections
import functools
import os
import sys
from typing import IO, TYPE_CHECKING, Any, Deque, Iterator, List, Optional, Tuple

from .. import _progress, _text
from .._default import default_index
from .._index import Index
from .diff import _Diff
from .frame import (
    _LARGE_INPUT,
    _STDIN,
    _load_for_search,
    _natural,
    _one_line,
    _os_error_text,
    _OutputError,
    _ratio,
    _read_with_progress,
    _tell,
    _UsageError,
    _write,
)

if TYPE_CHECKING:
    # Imported when a file has more than one chunk to check: for a small
    # file, concurrent.futures (with logging and traceback) would take as
    # long to import as the whole check takes.
    from concurrent.futures import Future, ThreadPoolExecutor

# A file is read and checked this many bytes at a time, cut after a line (or
# a blank, in a line longer than that), so that memory stays the same
# whatever the file's size.
_TEXT_CHUNK = 1 << 18


class _Skipped(Exception):
    """A file that is not text: reported in one line, and the others go on."""


def register(commands: Any) -> None:
    check = commands.add_parser(
        "check",
        help="spell-check text files",
        description="Print each word of the FILEs that the index does not hold, as "
        "PATH:LINE:COLUMN: WORD -> SUGGESTIONS (columns count characters, from 1), and, in an "
        "index with word counts, each stored word that is far rarer than a word one edit away "
        "(a suspect). Numbers, words with digits, URLs and e-mail addresses are skipped. "
        "Exit status: 0 when nothing was found, 1 when something was, 2 for a mistake in the "
        "command line. A binary file, or one that is not UTF-8, is reported and skipped.",
    )
    check.add_argument(
        "files", metavar="FILE", nargs="*", default=[_STDIN], help="a text file, or a directory with -r; - (the default) reads standard input"
    )
    check.add_argument(
        "-i", "--index", metavar="INDEX", help="the index file to check against (default: the built-in English index)"
    )
    check.add_argument(
        "--ignore",
        metavar="WORDS",
        help="a file of words to accept, one per line (a personal dictionary), compared regardless of case",
    )
    check.add_argument("-r", "--recursive", action="store_true", help="check the files below each directory given")
    check.add_argument(
        "-d", "--distance", metavar="DIST", type=_natural, default=2,
        help="the most edits a suggestion may be from its word (default 2)",
    )
    check.add_argument(
        "-k", "--limit", metavar="LIMIT", type=_natural, default=3, help="show at most LIMIT suggestions per word (default 3)"
    )
    check.add_argument(
        "--suspects",
        metavar="RATIO",
        type=_ratio,
        default=_text.DEFAULT_SUSPECTS,
        help="report a stored word of four letters or more as a suspect when a word one edit away is RATIO times as "
        "likely or more (in its context, when the index counts word pairs); 0 reports none "
        f"(default {_text.DEFAULT_SUSPECTS:g})",
    )
    output = check.add_mutually_exclusive_group()
    output.add_argument("--json", action="store_true", help="print one JSON object per word found")
    output.add_argument(
        "--diff",
        action="store_true",
        help="print a unified diff that corrects the files (as Index.correct does), for patch -p1; "
        "the files themselves are never written",
    )
    check.set_defaults(command=_check)


def _check(args: argparse.Namespace) -> int:
    for path in args.files:
        if path != _STDIN and os.path.isdir(path) and not args.recursive:
            raise _UsageError(f"{path}: a directory (add -r to check the files below it)")
    ignored = _read_ignored(args.ignore) if args.ignore is not None else frozenset()
    index = _load_for_search(args.index) if args.index is not None else default_index()
    paths = list(_files(args.files, args.recursive))
    terminal = sys.stderr is not None and sys.stderr.isatty()
    total = sum(_size_of(path) for path in paths)
    progress = _progress.Progress(sys.stderr, "checking", total, terminal and total >= _LARGE_INPUT)
    checker = _FileChecker(index, args, ignored, progress)
    status = 0
    for path in paths:
        try:
            found = checker.run(path)
        except _Skipped as skipped:
            _note(f"{_shown(path)}: {skipped}, skipped")
            continue
        except OSError as error:
            if isinstance(error, _OutputError):
                raise
            _note(_os_error_text(error))
            status = 1
            continue
        status = max(status, 1 if found else 0)
    progress.finish()
    return status


def _read_ignored(path: str) -> frozenset[str]:
    try:
        text = _read_with_progress(path, False).decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: not UTF-8 text (at byte {error.start})") from None
    return frozenset(line.strip().casefold() for line in text.splitlines() if line.strip())


def _files(arguments: List[str], recursive: bool) -> Iterator[str]:
    """The files to check, those below a directory in name order; a
    directory whose name starts with a dot (.git) is not entered."""
    for argument in arguments:
        if argument == _STDIN or not (recursive and os.path.isdir(argument)):
            yield argument
            continue
        for root, directories, files in os.walk(argument):
            directories[:] = sorted(d for d in directories if not d.startswith("."))
            for name in sorted(files):
                yield os.path.join(root, name)


def _size_of(path: str) -> int:
    try:
        return 0 if path == _STDIN else os.path.getsize(path)
    except OSError:
        return 0


def _shown(path: str) -> str:
    """The path as shown: its bytes read as UTF-8 whatever the locale's
    file system encoding, the bytes that are not left escaped."""
    if path == _STDIN:
        return "<stdin>"
    return os.fsencode(path).decode("utf-8", "surrogateescape")


def _note(message: str) -> None:
    _tell(f"kelvaro: {_one_line(message)}\n")


class _FileChecker:
    def __init__(self, index: Index, args: argparse.Namespace, ignored: frozenset[str], progress: _progress.Progress) -> None:
        self._index = index
        self._args = args
        self._ignored = ignored
        self._progress = progress
        self._suspects = args.suspects if args.suspects > 0 else None

    def run(self, path: str) -> bool:
        """Checks one file; whether anything was found (for --diff: changed)."""
        if path == _STDIN:
            return self._read(sys.stdin.buffer, path)
        if os.path.exists(path) and not os.path.isfile(path):
            raise _Skipped("not a regular file")
        with open(path, "rb") as file:
            return self._read(file, path)

    def _read(self, file: IO[bytes], path: str) -> bool:
        name = _shown(path)
        diff = _Diff(name) if self._args.diff else None
        found = False
        line = 1  # the number of the chunk's first line
        column = 0  # where in its line the chunk starts, when a long line was cut
        # The chunks are checked on every core: Index.check works without
        # the interpreter lock, so while one chunk's findings are written the
        # next few are checked. At most _CHUNKS_AHEAD chunks wait, so memory
        # stays bounded whatever the file's size.
        pending: Deque[Tuple["Future[List[_text.Misspelling]]", str, int, int]] = collections.deque()

        def report_oldest() -> bool:
            checked, text, first_line, first_column = pending.popleft()
            return self._report(name, text, first_line, first_column, checked.result())

        try:
            for number, (chunk, last) in enumerate(_with_last(_chunks(file))):
                if number == 0:
                    if b"\0" in chunk[:8192]:
                        raise _Skipped("a binary file")
                    if chunk.startswith(b"\xef\xbb\xbf"):
                        chunk = chunk[3:]
                        if diff is not None:
                            diff.bom = "\ufeff"
                try:
                    text = chunk.decode("utf-8")
                except UnicodeDecodeError as error:
                    bad_line = line + chunk.count(b"\n", 0, error.start)
                    while pending:
                        found = report_oldest() or found
                    raise _Skipped(f"not UTF-8 text (line {bad_line})") from None
                if diff is not None:
                    found = diff.add(text, self._corrections(text)) or found
                elif (number == 0 and last) or (workers := _workers()) is None:
                    found = self._report(name, text, line, column, self._check_text(text)) or found
                else:
                    pending.append((workers.submit(self._check_text, text), text, line, column))
                    if len(pending) > _CHUNKS_AHEAD:
                        found = report_oldest() or found
                self._progress.advance(len(chunk))
                newlines = text.count("\n")
                column = len(text) - text.rfind("\n") - 1 if newlines else column + len(text)
                line += newlines
            while pending:
                found = report_oldest() or found
        finally:
            for checked, _, _, _ in pending:
                checked.cancel()
        if diff is not None:
            diff.finish()
        return found

    def _check_text(self, text: str) -> List[_text.Misspelling]:
        args = self._args
        return self._index.check(text, args.distance, args.limit, suspects=self._suspects)

    def _report(self, name: str, text: str, line: int, column: int, misses: List[_text.Misspelling]) -> bool:
        args = self._args
        found = False
        at, at_line = 0, line
        for miss in misses:
            if miss.word.casefold() in self._ignored:
                continue
            found = True
            at_line += text.count("\n", at, miss.start)
            at = miss.start
            start_of_line = text.rfind("\n", 0, miss.start) + 1
            # The chunk may begin inside a long line.
            col = miss.start - start_of_line + 1 + (column if start_of_line == 0 else 0)
            words = [match.word for match in miss.suggestions]
            if args.json:
                record = {"path": name, "line": at_line, "column": col, "word": miss.word, "suggestions": words, "suspect": miss.suspect}
                import json

                # ASCII with \u escapes: valid JSON whatever the locale's encoding.
                _write(json.dumps(record) + "\n")
                continue
            shown = ", ".join(words) if words else "(no suggestions)"
            note = " (a real word, but likely a typo)" if miss.suspect else ""
            _write(f"{name}:{at_line}:{col}: {miss.word} -> {shown}{note}\n")
        return found

    def _corrections(self, text: str) -> List[_text.Correction]:
        return [
            (start, end, replacement)
            for start, end, replacement in _text.corrections(self._index, text, self._args.distance)
            if not any(word.casefold() in self._ignored for word in text[start:end].split())
        ]


def _cores() -> int:
    """The cores this process may run on."""
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0)) or 1
    return os.cpu_count() or 1


# Chunks checked ahead of the one whose findings are being written.
_CHUNKS_AHEAD = 2 * _cores()


@functools.lru_cache(maxsize=None)
def _workers() -> Optional["ThreadPoolExecutor"]:
    """The threads that check chunks, one per core, made on first need;
    none on a single core, where the chunks are checked as they come."""
    from concurrent.futures import ThreadPoolExecutor

    cores = _cores()
    return ThreadPoolExecutor(max_workers=cores, thread_name_prefix="kelvaro-check") if cores > 1 else None


def _with_last(chunks: Iterator[bytes]) -> Iterator[Tuple[bytes, bool]]:
    """Each chunk, and whether it is the last: a file of one chunk is
    checked on this thread, with no pool to start."""
    previous = next(chunks, None)
    if previous is None:
        return
    for chunk in chunks:
        yield previous, False
        previous = chunk
    yield previous, True


def _chunks(file: IO[bytes]) -> Iterator[bytes]:
    """The file in pieces of about _TEXT_CHUNK bytes, each ending with a line
    or, in a longer line, after a blank or a whole UTF-8 character."""
    carry = b""
    while True:
        block = file.read(_TEXT_CHUNK)
        if not block:
            if carry:
                yield carry
            return
        data = carry + block
        cut = data.rfind(b"\n") + 1
        if cut == 0:
            cut = max(data.rfind(b" "), data.rfind(b"\t")) + 1
        if cut == 0:
            cut = len(data)
            while cut > 0 and 0x80 <= data[cut - 1] < 0xC0:
                cut -= 1
            cut = cut - 1 if cut > 0 and data[cut - 1] >= 0xC0 else len(data)
        yield data[:cut]
        carry = data[cut:]
