"""The kelvaro command: build an index from a word list, search one, describe one.

    kelvaro build WORDS -o INDEX [--casefold] [--counts]
    kelvaro search [-i INDEX] QUERY... [-d DIST] [-k LIMIT] [--transpositions] [--json]
    kelvaro suggest [-i INDEX] WORD... [-d DIST] [-k LIMIT] [--json]
    kelvaro complete [-i INDEX] PREFIX... [-d DIST] [-k LIMIT] [--json]
    kelvaro info [INDEX] [--json]
    kelvaro check [FILE...|-] [-i INDEX] [--ignore WORDS] [-r] [--strict]
                  [--format {text,json,github} | --json] [--diff | --write]

Every failure is one line on standard error and a non-zero exit status: 2
for a mistake in the command line, 1 for anything else, 130 for Ctrl-C.
check exits with 1 when it finds a misspelling, and so with 2 for any
failure, a file it cannot read among them.

Each command lives in a module of its own, which adds its parser here with
register() and imports only the shared frame; the frame runs the command
and turns its failures into those lines.
"""

from __future__ import annotations

import argparse
from typing import Optional, Sequence

from . import build, check, info, lookup
from .frame import _OneLineParser, _run, _version


def main(argv: Optional[Sequence[str]] = None) -> int:
    return _run(_parser, argv)


def _parser() -> argparse.ArgumentParser:
    parser = _OneLineParser(
        prog="kelvaro",
        description="Search a dictionary of words by edit distance: the number of single-character "
        "insertions, deletions and substitutions that turn one word into another.",
    )
    parser.add_argument("--version", action="version", version=f"kelvaro {_version()}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", dest="command_name")
    commands.required = True
    # --help lists the commands in the order they are added here.
    build.register(commands)
    lookup.register(commands)  # search, suggest, complete
    info.register(commands)
    check.register(commands)
    return parser
