"""kelvaro check: the misspellings of text files and code, as lines, JSON
records, GitHub annotations, a unified diff that corrects them, or the
corrections written in place. Files of any size are read a chunk at a
time, and the chunks are checked on every core.

By default the check runs in two passes: the first finds every word the
index does not hold in every file, the project's vocabulary (_vocabulary)
then decides which of them are typos, and the second writes those. With
--strict every unknown word of the prose tokenizer is reported as it is
found, as the command always did."""

from __future__ import annotations

import argparse
import collections
import functools
import os
import re
import sys
from typing import IO, TYPE_CHECKING, Any, Deque, Dict, Iterator, List, Optional, Set, Tuple, Union

from .. import _progress, _text, _vocabulary
from .._default import default_index
from .._index import Index
from .._match import Match
from . import check_config, check_files, check_output, write
from .diff import _Diff
from .frame import (
    _LARGE_INPUT,
    _STDIN,
    _fail,
    _load_for_search,
    _natural,
    _one_line,
    _os_error_text,
    _OutputError,
    _ratio,
    _read_with_progress,
    _tell,
    _UsageError,
)

if TYPE_CHECKING:
    # Imported when more than one file or chunk is to be checked: for a
    # small file, concurrent.futures (with logging and traceback) would
    # take as long to import as the whole check takes.
    from array import array
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
        description="Print each word of the FILEs that is likely a typo, as "
        "PATH:LINE:COLUMN: WORD -> SUGGESTIONS (columns count characters, from 1): a word the index "
        "does not hold that is not the project's own, and, in an index with word counts, a stored word "
        "that is far rarer than a word one edit away (a suspect). Identifiers are split into their "
        "words; numbers, hashes, paths, URLs and e-mail addresses are skipped. Settings are read from "
        "the nearest .kelvaro.toml or pyproject.toml [tool.kelvaro]; a line holding 'kelvaro: ignore' "
        "is not checked, and 'kelvaro: ignore-next-line' silences the next. "
        "Exit status: 0 when nothing was found, 1 when something was, 2 for a mistake in the "
        "command line or a configuration. A binary file, or one that is not UTF-8, is reported and skipped.",
    )
    check.add_argument(
        "files", metavar="FILE", nargs="*", default=[_STDIN], help="a text file, or a directory with -r; - (the default) reads standard input"
    )
    check.add_argument(
        "-i", "--index", metavar="INDEX",
        help="the index file to check against (default: the configuration's, else the built-in English index)",
    )
    check.add_argument(
        "--ignore",
        metavar="WORDS",
        help="a file of words to accept, one per line (a personal dictionary), compared regardless of case; "
        "added to the configuration's words",
    )
    check.add_argument(
        "-r",
        "--recursive",
        action="store_true",
        help="check the files below each directory given, but those version control ignores, hidden ones, "
        "lock files and minified files",
    )
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
        help="report a stored word of four letters or more as a suspect when a word one edit away is RATIO times as "
        "likely or more (in its context, when the index counts word pairs), and the tree uses that word; 0 reports "
        f"none (default: none, and {_text.DEFAULT_SUSPECTS:g} with --strict)",
    )
    check.add_argument(
        "--strict",
        action="store_true",
        help="report every word the index does not hold, read as prose, as kelvaro check did before it knew code "
        "and the project's vocabulary",
    )
    check.add_argument(
        "--format",
        choices=check_output.FORMATS,
        help="text: PATH:LINE:COLUMN lines (the default); json: one JSON object per word; github: GitHub "
        "workflow annotations",
    )
    output = check.add_mutually_exclusive_group()
    output.add_argument("--json", action="store_true", help="the same as --format json")
    output.add_argument(
        "--diff",
        action="store_true",
        help="print a unified diff that applies the confident fixes (with --strict, what Index.correct "
        "makes), for patch -p1; the files themselves are not written",
    )
    check.add_argument(
        "--write",
        action="store_true",
        help="apply the fixes --diff would show to the files themselves, each replaced atomically; the words "
        "with no clear fix are printed",
    )
    check.set_defaults(command=_check)


def _check(args: argparse.Namespace) -> int:
    for path in args.files:
        if path != _STDIN and os.path.isdir(path) and not args.recursive:
            raise _UsageError(f"{path}: a directory (add -r to check the files below it)")
    if args.format is None:
        args.format = "json" if args.json else "text"
    if args.write and args.diff:
        raise _UsageError("--write and --diff do not go together")
    if args.diff and args.format != "text":
        raise _UsageError(f"--diff prints a diff, not --format {args.format}")
    if args.write and _STDIN in args.files:
        raise _UsageError("--write corrects files, not standard input")
    extra = _read_ignored(args.ignore) if args.ignore is not None else frozenset()
    try:
        targets = list(check_files.targets(args.files, args.recursive, check_config.Configs(extra)))
    except check_config.ConfigError as error:
        return _fail(str(error), status=2)
    run = _Run(args, targets)
    try:
        return run.run()
    finally:
        run.close()


def _read_ignored(path: str) -> frozenset[str]:
    try:
        text = _read_with_progress(path, False).decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: not UTF-8 text (at byte {error.start})") from None
    return frozenset(line.strip().casefold() for line in text.splitlines() if line.strip())


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


# A line holding "kelvaro: ignore" is not checked; "kelvaro: ignore-next-line"
# silences the line after it too (the directive's own line holds the first).
_DIRECTIVE = re.compile(r"kelvaro:\s*ignore(-next-line)?")


class _Chunk:
    """A piece of a file to check, and where it lies in the file. (A plain
    class: a NamedTuple's creation alone costs a small file's check a
    fifth of a millisecond.)"""

    __slots__ = ("text", "line", "column", "base", "ignore_first")

    def __init__(self, text: str, line: int, column: int, base: int, ignore_first: bool) -> None:
        self.text = text
        self.line = line  # the number of its first line
        self.column = column  # where in its line it starts, when a long line was cut
        self.base = base  # the offset of its first character in the file's text
        self.ignore_first = ignore_first  # its first line is silenced by the chunk before


# One word found in pass 1: (line, column, start, end, word, suspect,
# suggestions, what the vocabulary keeps of it), start and end offsets in
# the file's text (after a BOM); the last is None with --strict.
_Occurrence = Tuple[int, int, int, int, str, bool, List[Match], Optional[_vocabulary.Occurrence]]


class _File:
    """One file's state between the passes."""

    def __init__(self, target: check_files.Target, index_key: Optional[str]) -> None:
        self.target = target
        self.name = _shown(target.path)
        self.index_key = index_key
        self.occurrences: List[_Occurrence] = []
        self.read: Optional[os.stat_result] = None  # how it looked when pass 1 read it
        self.kept: Optional[List[bytes]] = None  # standard input's chunks, for --diff
        self.unreadable = False
        self.skipped = False  # not text: what it held before is reported, not corrected


class _Run:
    """One kelvaro check: pass 1 finds the unknown words of every file on
    every core, the vocabulary decides which are reported, and pass 2
    writes them, file by file in text order (or the files' corrections).
    With --strict each file's findings are written as soon as it is
    checked, as they always were."""

    def __init__(self, args: argparse.Namespace, targets: List[check_files.Target]) -> None:
        self._args = args
        self._strict: bool = args.strict
        # Suspects are real words, and a tree's rare words are mostly meant:
        # by default they are looked for only when asked.
        suspects = args.suspects if args.suspects is not None else _text.DEFAULT_SUSPECTS if self._strict else 0
        self._suspects = suspects if suspects > 0 else None
        self._files = [_File(target, args.index if args.index is not None else target.config.index) for target in targets]
        self._indexes: Dict[Optional[str], Index] = {}
        self._words: Dict[Optional[str], _vocabulary.ProjectWords] = {}
        self._counts: Dict[Tuple[int, Optional[str]], "array[int]"] = {}
        terminal = sys.stderr is not None and sys.stderr.isatty()
        total = sum(_size_of(file.target.path) for file in self._files)
        self._progress = _progress.Progress(sys.stderr, "checking", total, terminal and total >= _LARGE_INPUT)
        # Futures of chunks being checked, and notes, in the order written.
        self._pending: Deque[Tuple[_File, Union["Future[List[_Occurrence]]", str]]] = collections.deque()
        self._status = 0

    def close(self) -> None:
        for _, item in self._pending:
            if not isinstance(item, str):
                item.cancel()

    def run(self) -> int:
        for file in self._files:
            if file.index_key not in self._indexes:
                key = file.index_key
                self._indexes[key] = _load_for_search(key) if key is not None else default_index()
        if self._strict and (self._args.diff or self._args.write):
            for file in self._files:
                self._rewrite(file, None)
        else:
            self._first_pass()
            if not self._strict:
                self._second_pass()
        self._progress.finish()
        return self._status

    # -- pass 1 -------------------------------------------------------------

    def _first_pass(self) -> None:
        one = len(self._files) == 1
        for file in self._files:
            try:
                self._read(file, one)
            except _Skipped as skipped:
                self._pending.append((file, f"{file.name}: {skipped}, skipped"))
                file.skipped = True
            except OSError as error:
                if isinstance(error, _OutputError):
                    raise
                self._pending.append((file, _os_error_text(error)))
                file.unreadable = True
        while self._pending:
            self._take_oldest()
        if not self._strict:
            for (_, key), counts in self._counts.items():
                self._words_of(key).add_counts(counts)

    def _read(self, file: _File, alone: bool) -> None:
        path = file.target.path
        if path == _STDIN:
            if self._args.diff:
                file.kept = []
            self._read_chunks(file, sys.stdin.buffer, alone)
            return
        if os.path.exists(path) and not os.path.isfile(path):
            raise _Skipped("not a regular file")
        with open(path, "rb") as handle:
            file.read = os.fstat(handle.fileno())
            self._read_chunks(file, handle, alone)

    def _read_chunks(self, file: _File, handle: IO[bytes], alone: bool) -> None:
        index = self._indexes[file.index_key]
        line, column, base = 1, 0, 0
        ignore_first = False
        for number, (chunk, last) in enumerate(_with_last(_chunks(handle))):
            if file.kept is not None:
                file.kept.append(chunk)
            if number == 0:
                if b"\0" in chunk[:8192]:
                    if not file.target.named:
                        return  # a tree's images and archives go unmentioned
                    raise _Skipped("a binary file")
                if not file.target.named and check_files.looks_minified(chunk):
                    return
                if chunk.startswith(b"\xef\xbb\xbf"):
                    chunk = chunk[3:]
            try:
                text = chunk.decode("utf-8")
            except UnicodeDecodeError as error:
                bad_line = line + chunk.count(b"\n", 0, error.start)
                raise _Skipped(f"not UTF-8 text (line {bad_line})") from None
            piece = _Chunk(text, line, column, base, ignore_first)
            workers = None if alone and number == 0 and last else _workers()
            if workers is None:
                # One small file, or one core: checked on this thread, with no pool to start.
                while self._pending:
                    self._take_oldest()
                self._take(file, self._scan(index, file, piece))
            else:
                self._pending.append((file, workers.submit(self._scan, index, file, piece)))
                if len(self._pending) > _chunks_ahead():
                    self._take_oldest()
            self._progress.advance(len(chunk))
            newlines = text.count("\n")
            ignore_first = _silences_next(text, ignore_first)
            column = len(text) - text.rfind("\n") - 1 if newlines else column + len(text)
            line += newlines
            base += len(text)

    def _take_oldest(self) -> None:
        file, item = self._pending.popleft()
        if isinstance(item, str):
            _note(item)
            self._status = 1 if file.unreadable else self._status
            return
        self._take(file, item.result())

    def _take(self, file: _File, found: List[_Occurrence]) -> None:
        if self._strict:
            for line, column, _, _, word, suspect, suggestions, _ in found:
                self._report(file, line, column, word, [match.word for match in suggestions], suspect, 1.0)
            return
        file.occurrences += found
        words = self._words_of(file.index_key)
        for occurrence in found:
            kept = occurrence[7]
            assert kept is not None
            words.add(kept)

    def _scan(self, index: Index, file: _File, chunk: _Chunk) -> List[_Occurrence]:
        """The words of one chunk to report or to weigh: on a worker thread."""
        args = self._args
        text = chunk.text
        if self._strict:
            misses = index.check(text, args.distance, args.limit, suspects=self._suspects)
        else:
            misses = _find(index, text, args.distance, args.limit, self._suspects, self._counts_for(index, file.index_key))
        if not misses:
            return []
        silenced = _Silenced(file.target.config, text, chunk.ignore_first)
        found: List[_Occurrence] = []
        for miss in misses:
            if silenced(miss.start, miss.end, miss.word):
                continue
            start_of_line = text.rfind("\n", 0, miss.start) + 1
            line = chunk.line + silenced.line_of(miss.start)
            # The chunk may begin inside a long line.
            column = miss.start - start_of_line + 1 + (chunk.column if start_of_line == 0 else 0)
            kept = None if self._strict else _vocabulary.occurrence_of(miss, text)
            found.append(
                (line, column, chunk.base + miss.start, chunk.base + miss.end, miss.word, miss.suspect, miss.suggestions, kept)
            )
        return found

    def _counts_for(self, index: Index, key: Optional[str]) -> "array[int]":
        """This thread's counts of the stored words it finds, for `key`'s index."""
        import threading

        slot = (threading.get_ident(), key)
        counts = self._counts.get(slot)
        if counts is None:
            from array import array

            counts = array("I", [0]) * len(index)
            self._counts[slot] = counts
        return counts

    def _words_of(self, key: Optional[str]) -> _vocabulary.ProjectWords:
        words = self._words.get(key)
        if words is None:
            words = _vocabulary.ProjectWords(self._indexes[key], self._args.distance, self._args.limit)
            self._words[key] = words
        return words

    # -- pass 2 -------------------------------------------------------------

    def _second_pass(self) -> None:
        args = self._args
        # Every distinct word weighed at once: its candidates are searched in
        # batches, on every core.
        for key, words in self._words.items():
            words.weigh([occurrence[4] for file in self._files if file.index_key == key for occurrence in file.occurrences])
        for file in self._files:
            words = self._words_of(file.index_key) if file.occurrences else None
            # A file skipped part way (not UTF-8 further on) is not corrected.
            fixing = (args.diff or args.write) and not file.skipped
            fixes: List[_text.Correction] = []
            for line, column, start, end, word, suspect, _, kept in file.occurrences:
                assert words is not None and kept is not None
                verdict = words.verdict(kept)
                if verdict is None:
                    continue
                self._status = 1
                if verdict.fix is not None and fixing:
                    fixes.append((start, end, _text._with_case_of(word, verdict.fix)))
                    if args.write:
                        continue  # fixed, not shown
                if not args.diff:
                    self._report(file, line, column, word, [match.word for match in verdict.suggestions], suspect, verdict.confidence)
            if fixes:
                self._rewrite(file, fixes)

    def _report(self, file: _File, line: int, column: int, word: str, suggestions: List[str], suspect: bool, confidence: float) -> None:
        self._status = 1
        check_output.write(self._args.format, check_output.Finding(file.name, line, column, word, suggestions, suspect, confidence))

    # -- corrections: --diff and --write --------------------------------------

    def _rewrite(self, file: _File, fixes: Optional[List[_text.Correction]]) -> None:
        """Writes the diff of one file, or corrects it in place: with the
        fixes pass 2 chose (offsets in the file's text), or with --strict
        the corrections Index.correct makes."""
        try:
            if file.kept is not None:
                import io

                self._rewrite_from(file, fixes, io.BytesIO(b"".join(file.kept)), None)
            elif file.target.path == _STDIN:
                self._rewrite_from(file, fixes, sys.stdin.buffer, None)
            else:
                if os.path.exists(file.target.path) and not os.path.isfile(file.target.path):
                    raise _Skipped("not a regular file")
                with open(file.target.path, "rb") as handle:
                    self._rewrite_from(file, fixes, handle, os.fstat(handle.fileno()))
        except _Skipped as skipped:
            if fixes is None and (skipped.args[0] != "a binary file" or file.target.named):
                _note(f"{file.name}: {skipped}, skipped")
        except write.FileChanged as changed:
            _note(str(changed))
            self._status = 1
        except OSError as error:
            if isinstance(error, _OutputError):
                raise
            # A failure while writing names the file, not the temporary one.
            writing = self._args.write and error.filename != file.target.path
            _note(f"{file.name}: {error.strerror or error}, left as it is" if writing else _os_error_text(error))
            self._status = 1

    def _rewrite_from(self, file: _File, fixes: Optional[List[_text.Correction]], handle: IO[bytes], read: Optional[os.stat_result]) -> None:
        if fixes is not None and read is not None and file.read is not None and write.identity(read) != write.identity(file.read):
            raise write.FileChanged(f"{file.name}: changed since it was checked, left as it is")
        sink: Union[_Diff, write.Rewrite]
        if self._args.diff:
            sink = _Diff(file.name)
        else:
            assert read is not None
            sink = write.Rewrite(file.target.path, read)
        index = self._indexes[file.index_key]
        changed = False
        at = 0  # the next fix
        base, line = 0, 1
        ignore_first = False
        try:
            for number, chunk in enumerate(_chunks(handle)):
                if number == 0:
                    if b"\0" in chunk[:8192]:
                        raise _Skipped("a binary file")
                    if fixes is None and not file.target.named and check_files.looks_minified(chunk):
                        return
                    if chunk.startswith(b"\xef\xbb\xbf"):
                        chunk = chunk[3:]
                        sink.bom = "\ufeff"
                try:
                    text = chunk.decode("utf-8")
                except UnicodeDecodeError as error:
                    if fixes is not None:
                        raise write.FileChanged(f"{file.name}: changed since it was checked, left as it is") from None
                    bad_line = line + chunk.count(b"\n", 0, error.start)
                    raise _Skipped(f"not UTF-8 text (line {bad_line})") from None
                if fixes is None:
                    corrections = self._corrections(index, file, text, ignore_first)
                    ignore_first = _silences_next(text, ignore_first)
                else:
                    corrections = []
                    while at < len(fixes) and fixes[at][0] < base + len(text):
                        start, end, replacement = fixes[at]
                        corrections.append((start - base, end - base, replacement))
                        at += 1
                changed = sink.add(text, corrections) or changed
                self._progress.advance(len(chunk))
                base += len(text)
                line += text.count("\n")
            sink.finish()
        except BaseException:
            if isinstance(sink, write.Rewrite):
                sink.abandon()
            raise
        if changed:
            self._status = 1
            if isinstance(sink, write.Rewrite):
                _note(f"{file.name}: {sink.changes} {'word' if sink.changes == 1 else 'words'} corrected")

    def _corrections(self, index: Index, file: _File, text: str, ignore_first: bool) -> List[_text.Correction]:
        silenced = _Silenced(file.target.config, text, ignore_first)
        return [
            (start, end, replacement)
            for start, end, replacement in _text.corrections(index, text, self._args.distance)
            if not silenced(start, end, text[start:end])
        ]


def _find(index: Index, text: str, max_dist: int, limit: int, suspects: Optional[float], counts: "array[int]") -> List[_text.Misspelling]:
    """The unknown words and suspects of `text`, read as code, with no
    suggestions but the suspects' (the vocabulary makes them for what it
    reports); the stored words counted in `counts`."""
    return _text.check(index, text, max_dist, limit, suspects, code=True, suggest_unknown=False, counts=counts)


def _silences_next(text: str, ignore_first: bool) -> bool:
    """Whether the chunk after `text` starts in a silenced line: after a
    line that says to ignore the next, or inside a line the chunk cut that
    is silenced itself."""
    if text.endswith("\n"):
        tail = text[text.rfind("\n", 0, len(text) - 1) + 1 :]
        return "kelvaro:" in tail and any(match.group(1) for match in _DIRECTIVE.finditer(tail))
    cut = text.rfind("\n")
    if cut < 0 and ignore_first:
        return True
    tail = text[cut + 1 :]
    return "kelvaro:" in tail and _DIRECTIVE.search(tail) is not None


class _Silenced:
    """Whether a word of one chunk is silenced: by a word list, by an
    inline directive on its line or the line before, or by one of the
    configuration's patterns on its line."""

    def __init__(self, config: check_config.Config, text: str, ignore_first: bool) -> None:
        self._words = config.words
        self._patterns = config.patterns
        self._text = text
        self._lines: Set[int] = set()
        if ignore_first:
            self._lines.add(0)
        if "kelvaro:" in text:
            for match in _DIRECTIVE.finditer(text):
                line = text.count("\n", 0, match.start())
                self._lines.add(line)
                if match.group(1):
                    self._lines.add(line + 1)
        self._spans: Dict[int, List[Tuple[int, int]]] = {}
        self._at, self._line = 0, 0

    def line_of(self, offset: int) -> int:
        """The line of `offset` from the chunk's first, 0: asked in order."""
        if offset < self._at:
            self._at, self._line = 0, 0
        self._line += self._text.count("\n", self._at, offset)
        self._at = offset
        return self._line

    def __call__(self, start: int, end: int, word: str) -> bool:
        if self._words and any(part.casefold() in self._words for part in word.split()):
            return True
        if self._lines and self.line_of(start) in self._lines:
            return True
        if not self._patterns:
            return False
        start_of_line = self._text.rfind("\n", 0, start) + 1
        spans = self._spans.get(start_of_line)
        if spans is None:
            end_of_line = self._text.find("\n", start)
            line = self._text[start_of_line : end_of_line if end_of_line >= 0 else len(self._text)]
            spans = [(match.start(), match.end()) for pattern in self._patterns for match in pattern.finditer(line)]
            self._spans[start_of_line] = spans
        at, to = start - start_of_line, end - start_of_line
        return any(s <= at and to <= e for s, e in spans)

def _cores() -> int:
    """The cores this process may run on."""
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0)) or 1
    return os.cpu_count() or 1


@functools.lru_cache(maxsize=None)
def _chunks_ahead() -> int:
    """Chunks checked ahead of the one whose findings are being taken:
    asked only once a pool checks them, since asking the system for the
    cores can take milliseconds, as long as a small file's check."""
    return 2 * _cores()


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
