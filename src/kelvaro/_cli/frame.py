"""What every command of the kelvaro command line shares: the run that turns
any failure into one line and an exit status, the parser that reports a
mistake in one line, the argument types, and the ways out to standard output
and standard error.

The command modules import from here and nothing here imports them, so the
frame stays free of cycles; the package itself puts the commands together.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import IO, Any, Callable, Optional, Sequence

from .. import _normalization, _progress, _storage
from .._index import Index
from .._version import __version__

# Word lists at least this large get a progress bar, on a terminal.
_LARGE_INPUT = 1 << 20
_CHUNK = 1 << 20

# The argument that stands for standard input.
_STDIN = "-"


class _OutputError(Exception):
    """Standard output failed: closed, full, or otherwise unwritable."""

    def __init__(self, error: OSError) -> None:
        super().__init__(error.strerror or str(error))
        self.error = error


class _UsageError(ValueError):
    """A mistake in the command line found after parsing it."""


def _run(parser: Callable[[], argparse.ArgumentParser], argv: Optional[Sequence[str]]) -> int:
    """Parses argv with a parser made here, so that a Ctrl-C even then ends
    in one line, and runs the command it names. A command may set
    failure_status for the status its failures end in (check's 1 means it
    found typos, so its failures are 2)."""
    failure = 1
    try:
        args = parser().parse_args(argv)
        command: Callable[[argparse.Namespace], Optional[int]] = args.command
        failure = getattr(args, "failure_status", 1)
        if sys.stdout is None:
            return _fail("standard output is closed", status=failure)
        _tolerate_any_text(sys.stdout)
        status = command(args)
        _flush_output()
        if status:
            return status
    except KeyboardInterrupt:
        return _fail("interrupted", status=130)
    except _UsageError as error:
        return _fail(f"{error} (see kelvaro --help)", status=2)
    except _OutputError as error:
        _silence_stdout()
        if isinstance(error.error, BrokenPipeError):
            # The reader went away (kelvaro search ... | head); nothing to report.
            return 1
        return _fail(f"cannot write to standard output: {error}", status=failure)
    except OSError as error:
        return _fail(_os_error_text(error), status=failure)
    except (ValueError, TypeError, MemoryError) as error:
        return _fail(str(error) or type(error).__name__, status=failure)
    except BaseException as error:  # PanicException and anything unforeseen
        if isinstance(error, SystemExit):
            raise
        return _fail(f"internal error: {type(error).__name__}: {error}", status=failure)
    return 0


# ---------------------------------------------------------------------------
# The command line.


class _OneLineParser(argparse.ArgumentParser):
    """Reports a mistake in one line, with a pointer to --help."""

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        kwargs.setdefault("formatter_class", _Formatter)
        super().__init__(*args, **kwargs)

    def error(self, message: str) -> Any:
        self.exit(2, f"{self.prog}: error: {message} (see {self.prog} --help)\n")


class _Formatter(argparse.HelpFormatter):
    """argparse's own, told the terminal's width the way shutil finds it.
    argparse makes a formatter for every argument added, on every run, and
    left to itself each one asks shutil, whose import (bz2 and lzma with it)
    costs more than a small file's check."""

    def __init__(self, prog: str, indent_increment: int = 2, max_help_position: int = 24, width: Optional[int] = None) -> None:
        super().__init__(prog, indent_increment, max_help_position, _columns() - 2 if width is None else width)


def _columns() -> int:
    try:
        columns = int(os.environ["COLUMNS"])
    except (KeyError, ValueError):
        columns = 0
    if columns <= 0 and sys.__stdout__ is not None:
        try:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns
        except (AttributeError, ValueError, OSError):
            columns = 0
    return columns or 80


def _natural(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected an integer of 0 or more, not {text!r}")
    return value


def _ratio(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = -1.0
    if not 0 <= value < float("inf"):
        raise argparse.ArgumentTypeError(f"expected a number of 0 or more, not {text!r}")
    return value


def _version() -> str:
    # From the package, not importlib.metadata, whose import alone takes
    # longer than a whole check of a small file with a cached index.
    return __version__


# ---------------------------------------------------------------------------
# Input: word lists, index files, standard input.


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


def _load_for_search(path: str) -> Index:
    try:
        return Index.load(path)
    except _normalization.MissingNormalization as error:
        raise ValueError(
            f"{path}: the index was built with the normalize function {error.function}, "
            f"which the command line cannot apply; search it from Python with "
            f"Index.load(path, normalize={error.function})"
        ) from None


# ---------------------------------------------------------------------------
# Output, and failing in one line.


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


def _write(text: str) -> None:
    try:
        sys.stdout.write(text)
    except OSError as error:
        raise _OutputError(error) from None


def _write_json(record: Any) -> None:
    import json  # only for --json: a start-up's worth of milliseconds otherwise

    # Characters that standard output cannot encode are escaped the JSON way.
    _write(json.dumps(record, ensure_ascii=not _utf8(sys.stdout)) + "\n")


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
    _tell(f"kelvaro: error: {_one_line(_storage.shown(message))}\n")
    return status


def _tell(line: str) -> None:
    """One line on standard error, if there is one to write to."""
    if sys.stderr is not None:
        try:
            sys.stderr.write(line)
            sys.stderr.flush()
        except OSError:
            pass


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
