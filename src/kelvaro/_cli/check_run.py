"""kelvaro check's two passes: the first finds the unknown words of every
file on every core, the project's vocabulary (_vocabulary) decides which
are typos, and the second writes them, file by file in text order, or the
files' corrections. With --strict each file's findings are written as soon
as it is checked, as they always were."""

from __future__ import annotations

import argparse
import collections
import os
import sys
from typing import IO, TYPE_CHECKING, Deque, Dict, List, Optional, Tuple, Union

from .. import _progress, _text, _vocabulary
from .._default import default_index
from .._index import Index
from .._match import Match
from . import check_files, check_output, write
from .check_chunks import Chunk, Silenced, chunks, chunks_ahead, silences_next, with_last, workers
from .diff import _Diff
from .frame import _LARGE_INPUT, _STDIN, _load_for_search, _one_line, _os_error_text, _OutputError, _standard_input, _tell

if TYPE_CHECKING:
    # Imported when more than one file or chunk is to be checked: for a
    # small file, concurrent.futures (with logging and traceback) would
    # take as long to import as the whole check takes.
    from array import array
    from concurrent.futures import Future


class Skipped(Exception):
    """A file that is not text: reported in one line (a binary file only
    when named), and the others go on. Not an error, unless it is
    Undecodable: a tree holds images, and a file named may be one."""


class Undecodable(Skipped):
    """A file that is not UTF-8: reported in one line, an error unless
    --skip-undecodable says to pass over it without a word."""


class Unreadable(Exception):
    """A path that is not a file to read (a directory without -r, a device):
    reported in one line as an error, as a missing file is."""


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


# One word found in pass 1: (line, column, start, end, word, suspect,
# suggestions, what the vocabulary keeps of it), start and end offsets in
# the file's text (after a BOM); the last is None with --strict.
_Occurrence = Tuple[int, int, int, int, str, bool, List[Match], Optional[_vocabulary.Occurrence]]


class File:
    """One file's state between the passes."""

    def __init__(self, target: check_files.Target, index_key: Optional[str]) -> None:
        self.target = target
        self.name = _shown(target.path)
        self.index_key = index_key
        self.occurrences: List[_Occurrence] = []
        self.read: Optional[os.stat_result] = None  # how it looked when pass 1 read it
        self.kept: Optional[List[bytes]] = None  # standard input's chunks, for --diff
        self.skipped = False  # not text: what it held before is reported, not corrected


class Run:
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
        self._files = [File(target, args.index if args.index is not None else target.config.index) for target in targets]
        self._indexes: Dict[Optional[str], Index] = {}
        self._words: Dict[Optional[str], _vocabulary.ProjectWords] = {}
        self._counts: Dict[Tuple[int, Optional[str]], "array[int]"] = {}
        terminal = sys.stderr is not None and sys.stderr.isatty()
        total = sum(_size_of(file.target.path) for file in self._files)
        self._progress = _progress.Progress(sys.stderr, "checking", total, terminal and total >= _LARGE_INPUT)
        # Futures of chunks being checked, and notes, in the order written.
        self._pending: Deque[Tuple[File, Union["Future[List[_Occurrence]]", str]]] = collections.deque()
        self._status = 0
        self._error = False  # a file could not be read or written: status 2, whatever was found
        self._skip_undecodable: bool = args.skip_undecodable

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
        return 2 if self._error else self._status

    # -- pass 1 -------------------------------------------------------------

    def _first_pass(self) -> None:
        one = len(self._files) == 1
        for file in self._files:
            try:
                self._read(file, one)
            except Skipped as skipped:
                file.skipped = True
                if self._reported(skipped):
                    self._pending.append((file, f"{file.name}: {skipped}, skipped"))
            except (Unreadable, OSError) as error:
                if isinstance(error, _OutputError):
                    raise
                self._error = True
                self._pending.append((file, _unreadable_text(file, error)))
        while self._pending:
            self._take_oldest()
        if not self._strict:
            for (_, key), counts in self._counts.items():
                self._words_of(key).add_counts(counts)

    def _read(self, file: File, alone: bool) -> None:
        path = file.target.path
        if path == _STDIN:
            if self._args.diff:
                file.kept = []
            self._read_chunks(file, _standard_input(), alone)
            return
        with _open(file.target) as handle:
            file.read = os.fstat(handle.fileno())
            self._read_chunks(file, handle, alone)

    def _read_chunks(self, file: File, handle: IO[bytes], alone: bool) -> None:
        index = self._indexes[file.index_key]
        line, column, base = 1, 0, 0
        ignore_first = False
        for number, (chunk, last) in enumerate(with_last(chunks(handle))):
            if file.kept is not None:
                file.kept.append(chunk)
            if number == 0:
                if b"\0" in chunk[:8192]:
                    if not file.target.named:
                        return  # a tree's images and archives go unmentioned
                    raise Skipped("a binary file")
                if not file.target.named and check_files.looks_minified(chunk):
                    return
                if chunk.startswith(b"\xef\xbb\xbf"):
                    chunk = chunk[3:]
            try:
                text = chunk.decode("utf-8")
            except UnicodeDecodeError as error:
                bad_line = line + chunk.count(b"\n", 0, error.start)
                raise Undecodable(f"not UTF-8 text (line {bad_line})") from None
            piece = Chunk(text, line, column, base, ignore_first)
            pool = None if alone and number == 0 and last else workers()
            if pool is None:
                # One small file, or one core: checked on this thread, with no pool to start.
                while self._pending:
                    self._take_oldest()
                self._take(file, self._scan(index, file, piece))
            else:
                self._pending.append((file, pool.submit(self._scan, index, file, piece)))
                if len(self._pending) > chunks_ahead():
                    self._take_oldest()
            self._progress.advance(len(chunk))
            newlines = text.count("\n")
            ignore_first = silences_next(text, ignore_first)
            column = len(text) - text.rfind("\n") - 1 if newlines else column + len(text)
            line += newlines
            base += len(text)

    def _take_oldest(self) -> None:
        file, item = self._pending.popleft()
        if isinstance(item, str):
            _note(item)
            return
        self._take(file, item.result())

    def _take(self, file: File, found: List[_Occurrence]) -> None:
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

    def _scan(self, index: Index, file: File, chunk: Chunk) -> List[_Occurrence]:
        """The words of one chunk to report or to weigh: on a worker thread."""
        args = self._args
        text = chunk.text
        if self._strict:
            misses = index.check(text, args.distance, args.limit, suspects=self._suspects)
        else:
            misses = _find(index, text, args.distance, args.limit, self._suspects, self._counts_for(index, file.index_key))
        if not misses:
            return []
        silenced = Silenced(file.target.config, text, chunk.ignore_first)
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
            counts = _vocabulary.new_counts(index)
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
        for key, vocabulary in self._words.items():
            vocabulary.weigh([occurrence[4] for file in self._files if file.index_key == key for occurrence in file.occurrences])
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

    def _report(self, file: File, line: int, column: int, word: str, suggestions: List[str], suspect: bool, confidence: float) -> None:
        self._status = 1
        check_output.write(self._args.format, check_output.Finding(file.name, line, column, word, suggestions, suspect, confidence))

    # -- corrections: --diff and --write --------------------------------------

    def _rewrite(self, file: File, fixes: Optional[List[_text.Correction]]) -> None:
        """Writes the diff of one file, or corrects it in place: with the
        fixes pass 2 chose (offsets in the file's text), or with --strict
        the corrections Index.correct makes."""
        try:
            if file.kept is not None:
                import io

                self._rewrite_from(file, fixes, io.BytesIO(b"".join(file.kept)), None)
            elif file.target.path == _STDIN:
                self._rewrite_from(file, fixes, _standard_input(), None)
            else:
                with _open(file.target) as handle:
                    self._rewrite_from(file, fixes, handle, os.fstat(handle.fileno()))
        except Skipped as skipped:
            # A file that pass 1 read whole does not change into one that is
            # skipped (FileChanged says when it did): only --strict, with no
            # pass 1, meets these here.
            if fixes is None and (skipped.args[0] != "a binary file" or file.target.named) and self._reported(skipped):
                _note(f"{file.name}: {skipped}, skipped")
        except write.FileChanged as changed:
            _note(str(changed))
            self._status = 1
        except Unreadable as error:
            self._error = True
            _note(_unreadable_text(file, error))
        except OSError as error:
            if isinstance(error, _OutputError):
                raise
            self._error = True
            # A failure while writing names the file, not the temporary one.
            writing = self._args.write and error.filename != file.target.path
            _note(f"{file.name}: {error.strerror or error}, left as it is" if writing else _os_error_text(error))

    def _rewrite_from(self, file: File, fixes: Optional[List[_text.Correction]], handle: IO[bytes], read: Optional[os.stat_result]) -> None:
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
            for number, chunk in enumerate(chunks(handle)):
                if number == 0:
                    if b"\0" in chunk[:8192]:
                        raise Skipped("a binary file")
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
                    raise Undecodable(f"not UTF-8 text (line {bad_line})") from None
                if fixes is None:
                    corrections = self._corrections(index, file, text, ignore_first)
                    ignore_first = silences_next(text, ignore_first)
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

    def _reported(self, skipped: Skipped) -> bool:
        """Whether a skipped file is said on standard error: an error when
        it is not UTF-8, unless --skip-undecodable passes over it."""
        if isinstance(skipped, Undecodable):
            if self._skip_undecodable:
                return False
            self._error = True
        return True

    def _corrections(self, index: Index, file: File, text: str, ignore_first: bool) -> List[_text.Correction]:
        silenced = Silenced(file.target.config, text, ignore_first)
        return [
            (start, end, replacement)
            for start, end, replacement in _text.corrections(index, text, self._args.distance)
            if not silenced(start, end, text[start:end])
        ]


def _open(target: check_files.Target) -> IO[bytes]:
    path = target.path
    if os.path.isdir(path):
        raise Unreadable("a directory (add -r to check the files below it)")
    if os.path.exists(path) and not os.path.isfile(path):
        # A pipe or a device could block the check, or never end. One met
        # below a directory is said and skipped, but is no more an error
        # than the tree's binary files are.
        if target.named:
            raise Unreadable("not a regular file")
        raise Skipped("not a regular file")
    return open(path, "rb")


def _unreadable_text(file: File, error: Exception) -> str:
    if isinstance(error, OSError):
        if error.filename is not None:
            return _os_error_text(error)
        # Standard input that is a folder, or a read that failed part way.
        return f"{file.name}: {error.strerror or error}"
    return f"{file.name}: {error}"


def _find(index: Index, text: str, max_dist: int, limit: int, suspects: Optional[float], counts: "array[int]") -> List[_text.Misspelling]:
    """The unknown words and suspects of `text`, read as code, with no
    suggestions but the suspects' (the vocabulary makes them for what it
    reports); the stored words counted in `counts`."""
    return _text.check(index, text, max_dist, limit, suspects, code=True, suggest_unknown=False, counts=counts)


