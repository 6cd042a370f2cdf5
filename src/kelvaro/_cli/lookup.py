"""kelvaro search, suggest and complete: three ways to look up the words
given on the command line, printed alike."""

from __future__ import annotations

import argparse
import os
from typing import Any, Callable, Iterator, List, Optional

from .._default import default_index
from .._index import Index
from .._match import Match
from .frame import _STDIN, _count, _load_for_search, _natural, _standard_input, _write, _write_json


def register(commands: Any) -> None:
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


def _check_utf8_argument(text: str, what: str = "query") -> None:
    # An argument that is not UTF-8 arrives with its bytes escaped as lone
    # surrogates; searching for those would only show nonsense.
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        raise ValueError(f"the {what} {os.fsencode(text)!r} is not UTF-8 text") from None


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
