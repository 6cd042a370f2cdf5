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
from typing import Any

from .. import _text
from . import check_config, check_files, check_output, check_run
from .frame import _STDIN, _fail, _natural, _ratio, _read_with_progress, _UsageError


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
        "is not checked, and 'kelvaro: ignore-next-line' silences the next.",
        epilog="Exit status: 0 when nothing was found; 1 when a typo was found (also when --write "
        "fixed it); 2 for an error, which wins over 1: a FILE that cannot be read (missing, "
        "not permitted, a directory without -r), a file or standard input that is not UTF-8 (unless "
        "--skip-undecodable), a correction that could not be written, an index that cannot be loaded, or a "
        "mistake in the command line or a configuration. A file that cannot be read is said in one line on "
        "standard error, and the other files are still checked. A binary file is skipped, and is not an "
        "error; one named is said so on standard error.",
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
        "--skip-undecodable",
        action="store_true",
        help="pass over a file that is not UTF-8 without a word, rather than report it as an error",
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
        "makes), for patch -p1 or git apply; the files themselves are not written",
    )
    check.add_argument(
        "--write",
        action="store_true",
        help="apply the fixes --diff would show to the files themselves, each replaced atomically; the words "
        "with no clear fix are printed",
    )
    # Status 1 says typos were found: any failure of the check is 2, so that
    # a CI job with a wrong path or index does not pass for one with typos.
    check.set_defaults(command=_check, failure_status=2)


def _check(args: argparse.Namespace) -> int:
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
    run = check_run.Run(args, targets)
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


