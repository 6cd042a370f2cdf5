"""The files kelvaro check reads: those named, and with -r those below each
directory named that version control keeps and that hold prose or code.

Below a directory, a file or folder is skipped when its name starts with a
dot, when a .gitignore says so (each one from the repository's root, or
else the configuration's folder, down to the file, and
.git/info/exclude), when the configuration's `exclude` says so, and when it
is a lock file or minified (by name here; by content when it is read, see
looks_minified). A file named on the command line is always checked.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Iterator, List, Optional, Tuple

from .check_config import Config, Configs, gitignore_matcher
from .frame import _STDIN

if TYPE_CHECKING:
    from pathspec import GitIgnoreSpec

LOCK_FILES = frozenset(
    {"package-lock.json", "yarn.lock", "Cargo.lock", "poetry.lock", "Pipfile.lock", "pnpm-lock.yaml", "composer.lock", "go.sum"}
)
MINIFIED_SUFFIXES = (".min.js", ".min.css", ".lock")

# A file whose first MINIFIED_PROBE bytes hold a line longer than
# MINIFIED_LINE with fewer than one blank in MINIFIED_BLANKS of its
# characters is minified or generated. Prose written a paragraph to a line
# has a blank every six characters or so; minified code has a few in a
# hundred.
MINIFIED_PROBE = 8192
MINIFIED_LINE = 1000
MINIFIED_BLANKS = 10


class Target:
    __slots__ = ("path", "named", "config")

    def __init__(self, path: str, named: bool, config: Config) -> None:
        self.path = path
        self.named = named  # named on the command line: checked whatever it is
        self.config = config


# A .gitignore's rules and the folder they are relative to.
_Rules = Tuple[str, "GitIgnoreSpec"]


def targets(arguments: List[str], recursive: bool, configs: Configs) -> Iterator[Target]:
    for argument in arguments:
        if argument == _STDIN:
            yield Target(argument, True, configs.for_folder(os.curdir))
        elif recursive and os.path.isdir(argument):
            yield from _below(argument, configs)
        else:
            yield Target(argument, True, configs.for_file(argument))


def skipped_name(name: str) -> bool:
    return name.startswith(".") or name in LOCK_FILES or name.endswith(MINIFIED_SUFFIXES)


def looks_minified(head: bytes) -> bool:
    for line in head[:MINIFIED_PROBE].split(b"\n"):
        if len(line) > MINIFIED_LINE and (line.count(b" ") + line.count(b"\t")) * MINIFIED_BLANKS < len(line):
            return True
    return False


def _below(top: str, configs: Configs) -> Iterator[Target]:
    absolute = os.path.abspath(top)
    rules = _rules_above(absolute, configs.for_folder(absolute))
    yield from _walk(top, absolute, rules, configs)


def _walk(shown: str, absolute: str, rules: List[_Rules], configs: Configs) -> Iterator[Target]:
    """The files below one folder, in name order, folders and files mixed
    as os.walk does not: a folder's files first, then its folders."""
    own = _read_rules(absolute, ".gitignore")
    if own is not None:
        rules = rules + [own]
    config = configs.for_folder(absolute)
    try:
        with os.scandir(absolute) as entries:
            listed = sorted((entry.name, _is_dir(entry), entry.is_symlink()) for entry in entries)
    except OSError:
        return
    folders = []
    for name, directory, link in listed:
        # A link to a folder is not followed, as os.walk does not: no loops.
        if name.startswith(".") or (directory and link) or (not directory and skipped_name(name)):
            continue
        path = os.path.join(absolute, name)
        if _ignored(rules, path, directory) or config.excluded(path, directory):
            continue
        if directory:
            folders.append(name)
        else:
            yield Target(os.path.join(shown, name), False, config)
    for name in folders:
        yield from _walk(os.path.join(shown, name), os.path.join(absolute, name), rules, configs)


def _is_dir(entry: "os.DirEntry[str]") -> bool:
    try:
        return entry.is_dir()
    except OSError:
        return False


def _rules_above(folder: str, config: Config) -> List[_Rules]:
    """The .gitignore rules of the folders above `folder` that apply in it:
    from the repository's root, or without one from the configuration's
    folder, down to folder's parent."""
    root = _repository_root(folder)
    rules: List[_Rules] = []
    if root is not None:
        info = _read_rules(root, os.path.join(".git", "info", "exclude"))
        if info is not None:
            rules.append(info)
    else:
        root = config.folder
    if root is None or os.path.commonpath([root, folder]) != root:
        return rules
    above = []
    at = folder
    while at != root:
        at = os.path.dirname(at)
        above.append(at)
    for at in reversed(above):
        own = _read_rules(at, ".gitignore")
        if own is not None:
            rules.append(own)
    return rules


def _repository_root(folder: str) -> Optional[str]:
    while True:
        if os.path.exists(os.path.join(folder, ".git")):
            return folder
        parent = os.path.dirname(folder)
        if parent == folder:
            return None
        folder = parent


def _read_rules(folder: str, name: str) -> Optional[_Rules]:
    try:
        with open(os.path.join(folder, name), "rb") as file:
            lines = file.read().decode("utf-8", "replace").splitlines()
    except OSError:
        return None
    return folder, gitignore_matcher(lines)


def _ignored(rules: List[_Rules], path: str, directory: bool) -> bool:
    """Whether version control ignores `path`: the deepest .gitignore with
    a rule for it decides, a rule with ! taking it back."""
    for folder, matcher in reversed(rules):
        relative = os.path.relpath(path, folder).replace(os.sep, "/")
        decided = matcher.check_file(relative + "/" if directory else relative).include
        if decided is not None:
            return bool(decided)
    return False
