"""kelvaro check's configuration: a .kelvaro.toml, or the [tool.kelvaro]
table of a pyproject.toml, in the nearest folder at or above a checked
path that holds one.

Only the nearest configuration applies to a file; configurations are not
merged, so that what a folder's file says is all that holds below it. A
.kelvaro.toml wins over a pyproject.toml in the same folder. The command
line wins over both: -i over `index`, and --ignore adds its words to
`words`. tomllib (or tomli) is imported only when a configuration exists,
and pathspec only when it has `exclude`.
"""

from __future__ import annotations

import os
import re
import sys
from typing import TYPE_CHECKING, Any, Dict, FrozenSet, List, Optional, Pattern, Sequence, Tuple

if TYPE_CHECKING:
    from pathspec import GitIgnoreSpec

CONFIG_NAME = ".kelvaro.toml"
PYPROJECT_NAME = "pyproject.toml"

_KEYS = ("words", "word-lists", "exclude", "ignore-patterns", "index")


class ConfigError(ValueError):
    """A configuration file that cannot be used: one line that names it."""


class Config:
    """What one configuration file says, its paths made absolute."""

    def __init__(
        self,
        path: Optional[str],
        words: FrozenSet[str] = frozenset(),
        exclude: Sequence[str] = (),
        patterns: Sequence[Pattern[str]] = (),
        index: Optional[str] = None,
    ) -> None:
        self.path = path
        # Where the paths of the file start from.
        self.folder = os.path.dirname(path) if path is not None else None
        self.words = words
        self.patterns = tuple(patterns)
        self.index = index
        self._exclude_lines = tuple(exclude)
        self._exclude: Optional["GitIgnoreSpec"] = None

    def excluded(self, path: str, directory: bool) -> bool:
        """Whether `path` (absolute) is among the file's `exclude` globs."""
        if not self._exclude_lines or self.folder is None:
            return False
        if self._exclude is None:
            self._exclude = gitignore_matcher(self._exclude_lines)
        relative = os.path.relpath(path, self.folder)
        if relative.startswith(os.pardir):
            return False
        relative = relative.replace(os.sep, "/")
        return bool(self._exclude.match_file(relative + "/" if directory else relative))


def gitignore_matcher(lines: Sequence[str]) -> "GitIgnoreSpec":
    import pathspec

    return pathspec.GitIgnoreSpec.from_lines(lines)


class Configs:
    """The configuration of each folder, found once per folder."""

    def __init__(self, extra_words: FrozenSet[str] = frozenset()) -> None:
        self._extra_words = extra_words
        self._by_folder: Dict[str, Config] = {}
        self._default = Config(None, extra_words)

    def for_folder(self, folder: str) -> Config:
        """The configuration that holds in `folder`: the nearest one at or above it."""
        folder = os.path.abspath(folder)
        walked: List[str] = []
        config: Optional[Config] = None
        while True:
            known = self._by_folder.get(folder)
            if known is not None:
                config = known
                break
            walked.append(folder)
            config = self._read_folder(folder)
            if config is not None:
                break
            parent = os.path.dirname(folder)
            if parent == folder:
                config = self._default
                break
            folder = parent
        for seen in walked:
            self._by_folder[seen] = config
        return config

    def for_file(self, path: str) -> Config:
        return self.for_folder(os.path.dirname(os.path.abspath(path)))

    def _read_folder(self, folder: str) -> Optional[Config]:
        own = os.path.join(folder, CONFIG_NAME)
        if os.path.isfile(own):
            return self._parse(own, _load_toml(own, _read_text(own)))
        pyproject = os.path.join(folder, PYPROJECT_NAME)
        if os.path.isfile(pyproject):
            text = _read_text(pyproject)
            # Most pyproject.toml files say nothing of kelvaro: those are
            # passed over without importing a TOML parser.
            if "kelvaro" not in text:
                return None
            table = _load_toml(pyproject, text).get("tool", {})
            table = table.get("kelvaro") if isinstance(table, dict) else None
            if table is None:
                return None
            if not isinstance(table, dict):
                raise ConfigError(f"{pyproject}: tool.kelvaro is not a table")
            return self._parse(pyproject, table)
        return None

    def _parse(self, path: str, table: Dict[str, Any]) -> Config:
        folder = os.path.dirname(path)
        for key in table:
            if key not in _KEYS:
                raise ConfigError(f"{path}: unknown key {key!r} (known: {', '.join(_KEYS)})")
        words = set(word.casefold() for word in _strings(path, table, "words"))
        for name in _strings(path, table, "word-lists"):
            list_path = os.path.join(folder, name)
            try:
                words.update(read_word_list(list_path))
            except (OSError, ValueError) as error:
                message = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
                raise ConfigError(f"{path}: word-lists: {list_path}: {message}") from None
        patterns = []
        for expression in _strings(path, table, "ignore-patterns"):
            try:
                patterns.append(re.compile(expression))
            except re.error as error:
                raise ConfigError(f"{path}: ignore-patterns: {expression!r}: {error}") from None
        index = table.get("index")
        if index is not None and not isinstance(index, str):
            raise ConfigError(f"{path}: index is not a string")
        exclude = _strings(path, table, "exclude")
        return Config(
            path,
            frozenset(words) | self._extra_words,
            exclude,
            patterns,
            os.path.join(folder, index) if index is not None else None,
        )


def read_word_list(path: str) -> FrozenSet[str]:
    """A file of words, one per line, casefolded."""
    with open(path, "rb") as file:
        data = file.read()
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: not UTF-8 text (at byte {error.start})") from None
    return frozenset(line.strip().casefold() for line in text.splitlines() if line.strip())


def _strings(path: str, table: Dict[str, Any], key: str) -> Tuple[str, ...]:
    value = table.get(key, [])
    if not isinstance(value, list) or not all(isinstance(item, str) for item in value):
        raise ConfigError(f"{path}: {key} is not a list of strings")
    return tuple(value)


def _read_text(path: str) -> str:
    try:
        with open(path, "rb") as file:
            return file.read().decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise ConfigError(f"{path}: not UTF-8 text (at byte {error.start})") from None
    except OSError as error:
        raise ConfigError(f"{path}: {error.strerror or error}") from None


def _load_toml(path: str, text: str) -> Dict[str, Any]:
    if sys.version_info >= (3, 11):
        import tomllib
    else:
        import tomli as tomllib
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        raise ConfigError(f"{path}: not valid TOML: {error}") from None
