"""The trees that `kelvaro check` is measured on, and the typos put into them.

Four trees that nobody here wrote, from pinned sdists on PyPI (each checked
against its sha256): the Python sources of rich and of click (code), and the
documentation of pytest (reStructuredText; without its changelog and its
generated list of plugins, which are lists of names rather than prose) and
of click (Markdown). The sdists are downloaded once with pip and unpacked
into a cache folder that is never written again: typos go into a copy.

Typos, from a fixed seed, one per TYPO_EVERY lines of a tree, at most one on
a line: half keyboard slips of an English word (a letter dropped, doubled,
two neighbours swapped, or one replaced by a neighbouring key on a QWERTY
keyboard; the English word written in lower case), half misspellings from Norvig's test set 2 whose right word
occurs in the tree. They go only where a person writes prose: in the
comments and docstrings of Python (found with the tokenize module), and in
the text of documentation outside code blocks, directives, inline code and
links. Each typo has 4 letters or more, is a word neither of kelvaro's
English index nor of /usr/share/dict/american-english-insane, and occurs
nowhere else in its tree, case aside, as a whole word or a part of an
identifier.
"""

from __future__ import annotations

import hashlib
import io
import os
import random
import re
import shutil
import subprocess
import sys
import tarfile
import tokenize
from dataclasses import dataclass
from typing import Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Set, Tuple

SPELLING = "/work/shared/data/spelling"
INSANE = "/usr/share/dict/american-english-insane"
SEED = 28
TYPO_EVERY = 250  # lines of a tree per injected typo


@dataclass(frozen=True)
class Tree:
    name: str
    kind: str  # "code" or "prose"
    requirement: str  # what pip downloads
    archive: str
    sha256: str
    folder: str  # the folder of the archive that is the tree
    suffixes: Tuple[str, ...]
    left_out: Tuple[str, ...] = ()  # paths within the folder


TREES = [
    Tree("rich", "code", "rich==15.0.0", "rich-15.0.0.tar.gz",
         "edd07a4824c6b40189fb7ac9bc4c52536e9780fbbfbddf6f1e2502c31b068c36", "rich-15.0.0/rich", (".py",)),
    Tree("click", "code", "click==8.5.1", "click-8.5.1.tar.gz",
         "9bbfada76703fd1d784b83eea012e3e8c6a001a876543ef104fa56aaaeb072b4", "click-8.5.1/src/click", (".py",)),
    Tree("pytest-docs", "prose", "pytest==9.2.0", "pytest-9.2.0.tar.gz",
         "97c4f3b1f3c7414aa36465e09b8220f1d03627993bd51b1282e193753c80557b", "pytest-9.2.0/doc/en",
         (".rst", ".txt"), ("changelog.rst", "reference/plugin_list.rst")),
    Tree("click-docs", "prose", "click==8.5.1", "click-8.5.1.tar.gz",
         "9bbfada76703fd1d784b83eea012e3e8c6a001a876543ef104fa56aaaeb072b4", "click-8.5.1/docs", (".md",)),
]


@dataclass(frozen=True)
class Typo:
    path: str  # relative to the folder that holds the tree, as the checkers are given it
    line: int  # 1-based
    column: int  # 1-based, in characters
    typo: str
    right: str
    kind: str  # "misspelling" or "slip"


# --- obtaining --------------------------------------------------------------


def _sha256(path: str) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def obtain(tree: Tree, cache: str, log: Callable[[str], None]) -> str:
    """The clean tree's folder in the cache, downloaded and unpacked the first time."""
    target = os.path.join(cache, "trees", tree.name)  # holding the tree's files
    if os.path.isdir(target):
        return target
    downloads = os.path.join(cache, "downloads")
    os.makedirs(downloads, exist_ok=True)
    archive = os.path.join(downloads, tree.archive)
    if not os.path.exists(archive) or _sha256(archive) != tree.sha256:
        log(f"downloading {tree.requirement} with pip")
        subprocess.run([sys.executable, "-m", "pip", "download", "--quiet", "--disable-pip-version-check",
                        "--no-deps", "--no-binary", ":all:", tree.requirement, "-d", downloads], check=True)
    found = _sha256(archive)
    if found != tree.sha256:
        raise RuntimeError(f"{tree.archive}: sha256 {found}, expected {tree.sha256}")
    prefix = tree.folder.rstrip("/") + "/"
    partial = target + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    with tarfile.open(archive) as tar:
        for member in tar.getmembers():
            if not member.isfile() or not member.name.startswith(prefix):
                continue
            inner = member.name[len(prefix):]
            if not inner.endswith(tree.suffixes) or inner in tree.left_out:
                continue
            out = os.path.join(partial, *inner.split("/"))
            os.makedirs(os.path.dirname(out), exist_ok=True)
            with tar.extractfile(member) as source, open(out, "wb") as sink:  # type: ignore[union-attr]
                shutil.copyfileobj(source, sink)
    os.rename(partial, target)  # whole or absent: an interrupted unpacking is redone
    return target


def read_tree(folder: str, name: str) -> Dict[str, str]:
    """Each file of a tree by its path as NAME/..., NAME being the tree's
    folder where the checkers run."""
    files = {}
    for root, directories, names in os.walk(folder):
        directories.sort()
        for base in sorted(names):
            path = os.path.join(root, base)
            with open(path, encoding="utf-8", newline="") as f:
                files[os.path.join(name, os.path.relpath(path, folder))] = f.read()
    return files


def write_tree(files: Dict[str, str], parent: str) -> None:
    for path, text in files.items():
        out = os.path.join(parent, path)
        os.makedirs(os.path.dirname(out), exist_ok=True)
        with open(out, "w", encoding="utf-8", newline="") as f:
            f.write(text)


def line_count(files: Dict[str, str]) -> int:
    return sum(text.count("\n") + (not text.endswith("\n") and bool(text)) for text in files.values())


# --- where a person writes prose --------------------------------------------

# A word of prose: letters, not touching what would make it part of code,
# a path, a name or markup.
_PROSE_WORD = re.compile(r"(?<![\w./\\\-@#$%&*=<>{}\[`'|~^])[A-Za-z]{4,}(?![\w/\\\-@#$%&*=<>{}\[(`'|~^]|\.\w)")
# Inline code, roles, links, URLs, substitutions: never prose.
_MASKED = re.compile(r"`[^`]*`+|\S+://\S+|<[^>\s]*>|\[[^\]]*\]\([^)]*\)|\|[^|\s]+\||:\w+:")


def _prose_words(line: str, row: int, first_column: int) -> Iterator[Tuple[int, int, str]]:
    """(row, 1-based column, word) of each plain word of a line of prose."""
    if ">>>" in line or "..." == line.strip()[:3]:
        return
    masked = [m.span() for m in _MASKED.finditer(line)]
    for m in _PROSE_WORD.finditer(line):
        if not any(a < m.end() and m.start() < b for a, b in masked):
            yield row, first_column + m.start() + 1, m.group()


def python_sites(text: str) -> Iterator[Tuple[int, int, str]]:
    """The words of a Python file's comments and docstrings."""
    previous = tokenize.NEWLINE
    try:
        tokens = list(tokenize.generate_tokens(io.StringIO(text).readline))
    except (tokenize.TokenError, SyntaxError):
        return
    for number, token in enumerate(tokens):
        if token.type == tokenize.COMMENT:
            yield from _prose_words(token.string, token.start[0], token.start[1])
        elif token.type == tokenize.STRING and previous in (tokenize.NEWLINE, tokenize.INDENT, tokenize.DEDENT):
            following = tokens[number + 1].type if number + 1 < len(tokens) else tokenize.ENDMARKER
            if following in (tokenize.NEWLINE, tokenize.ENDMARKER) and token.string.lstrip("rRbBuU")[:3] in ('"""', "'''"):
                # A docstring (or a string standing alone as one): its lines,
                # the first starting where the token does.
                for offset, line in enumerate(token.string.split("\n")):
                    yield from _prose_words(line, token.start[0] + offset, token.start[1] if offset == 0 else 0)
        if token.type not in (tokenize.COMMENT, tokenize.NL):
            previous = token.type


def document_sites(text: str, markdown: bool) -> Iterator[Tuple[int, int, str]]:
    """The words of documentation outside code blocks, directives and tables."""
    fenced = False
    literal_indent: Optional[int] = None  # reST: the indentation of the line that opened a literal block
    for row, line in enumerate(text.split("\n"), 1):
        stripped = line.strip()
        indent = len(line) - len(line.lstrip())
        if markdown:
            if stripped.startswith(("```", "~~~")):
                fenced = not fenced
                continue
            if fenced or line.startswith(("    ", "\t")) or stripped.startswith(("|", "<", "{", "!!!", "[")):
                continue
        else:
            if literal_indent is not None:
                if not stripped or indent > literal_indent:
                    continue
                literal_indent = None
            # A literal block, or a directive (code-block, note, ...): what
            # is indented below it is left alone, prose or not.
            if stripped.endswith("::") or (stripped.startswith("..") and "::" in stripped):
                literal_indent = indent
            if stripped.startswith(("..", "|", "+", "=", "-", ":")):
                continue
        yield from _prose_words(line, row, 0)


def sites(path: str, text: str) -> List[Tuple[int, int, str]]:
    if path.endswith(".py"):
        return list(python_sites(text))
    return list(document_sites(text, path.endswith(".md")))


# --- the typos --------------------------------------------------------------

_QWERTY = ["qwertyuiop", "asdfghjkl", "zxcvbnm"]


def _neighbours() -> Dict[str, str]:
    found: Dict[str, str] = {}
    for r, row in enumerate(_QWERTY):
        for c, key in enumerate(row):
            near = []
            for dr, dc in ((0, -1), (0, 1), (-1, 0), (-1, 1), (1, -1), (1, 0)):
                rr, cc = r + dr, c + dc
                if 0 <= rr < len(_QWERTY) and 0 <= cc < len(_QWERTY[rr]):
                    near.append(_QWERTY[rr][cc])
            found[key] = "".join(near)
    return found


NEIGHBOURS = _neighbours()


def keyboard_slip(word: str, rng: random.Random) -> str:
    """One slip of the fingers on `word`; its case is kept."""
    at = rng.randrange(len(word))
    kind = rng.choice(("drop", "double", "swap", "neighbour"))
    if kind == "drop":
        return word[:at] + word[at + 1:]
    if kind == "double":
        return word[:at + 1] + word[at:]
    if kind == "swap":
        at = min(at, len(word) - 2)
        return word[:at] + word[at + 1] + word[at] + word[at + 2:]
    key = word[at].lower()
    near = rng.choice(NEIGHBOURS.get(key, key))
    return word[:at] + (near.upper() if word[at].isupper() else near) + word[at + 1:]


_PART = re.compile(r"[A-Z]?[a-z]+|[A-Z]+(?![a-z])")


def tree_words(files: Iterable[str]) -> Set[str]:
    """Every word of the tree, case aside: runs of letters and the parts of
    identifiers (camelCase and snake_case split)."""
    found: Set[str] = set()
    for text in files:
        for run in re.findall(r"[^\W\d_]+", text):
            found.add(run.casefold())
            if not run.islower():
                found.update(part.casefold() for part in _PART.findall(run))
    return found


def norvig_pairs(path: str = os.path.join(SPELLING, "testset2.txt")) -> List[Tuple[str, str]]:
    pairs = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if ":" in line:
                right, wrongs = line.split(":", 1)
                pairs += [(right.strip(), wrong) for wrong in wrongs.split()]
    return pairs


def _with_case(word: str, like: str) -> str:
    if like.isupper() and len(like) > 1:
        return word.upper()
    return word[0].upper() + word[1:] if like[0].isupper() else word


def inject(files: Dict[str, str], is_word: Callable[[str], bool], pairs: Sequence[Tuple[str, str]],
           seed: int = SEED, every: int = TYPO_EVERY) -> Tuple[Dict[str, str], List[Typo]]:
    """The tree with typos put in, and the typos. `is_word` says whether a
    casefolded word is known English (a typo must not be, a slip's right
    word must be); `pairs` are (right, misspelling)."""
    rng = random.Random(seed)
    count = max(2, line_count(files) // every)
    taken = tree_words(files.values())
    places = [(path, row, column, word) for path in sorted(files) for row, column, word in sites(path, files[path])]
    by_word: Dict[str, List[Tuple[str, int, int, str]]] = {}
    for place in places:
        by_word.setdefault(place[3].casefold(), []).append(place)
    used_lines: Set[Tuple[str, int]] = set()
    used_rights: Set[str] = set()
    chosen: List[Typo] = []

    def fits(typo: str) -> bool:
        folded = typo.casefold()
        return len(typo) >= 4 and typo.isalpha() and folded not in taken and not is_word(folded)

    def take(place: Tuple[str, int, int, str], typo: str, kind: str) -> None:
        path, row, column, word = place
        used_lines.add((path, row))
        used_rights.add(word.casefold())
        taken.add(typo.casefold())
        chosen.append(Typo(path, row, column, typo, word, kind))

    shuffled = list(pairs)
    rng.shuffle(shuffled)
    for right, wrong in shuffled:
        if len(chosen) >= count // 2:
            break
        free = [p for p in by_word.get(right.casefold(), []) if (p[0], p[1]) not in used_lines]
        if right.casefold() in used_rights or not free:
            continue
        place = rng.choice(free)
        typo = _with_case(wrong, place[3])
        if fits(typo):
            take(place, typo, "misspelling")
    tries = 0
    # As many slips as misspellings, whatever the tree held of the latter.
    count = 2 * len(chosen)
    while len(chosen) < count and tries < 100 * count:
        tries += 1
        place = rng.choice(places)
        path, row, _, word = place
        # A slip of a lower-case English word: a name's slips would measure
        # which names a dictionary holds.
        if (path, row) in used_lines or word.casefold() in used_rights or not word.islower() or not is_word(word):
            continue
        typo = keyboard_slip(word, rng)
        if fits(typo):
            take(place, typo, "slip")
    chosen.sort(key=lambda t: (t.path, t.line))
    injected = dict(files)
    for path in {t.path for t in chosen}:
        lines = injected[path].split("\n")
        for t in (t for t in chosen if t.path == path):
            line = lines[t.line - 1]
            at = t.column - 1
            assert line[at:at + len(t.right)] == t.right, (t, line)
            lines[t.line - 1] = line[:at] + t.typo + line[at + len(t.right):]
        injected[path] = "\n".join(lines)
    return injected, chosen


def english_words() -> Callable[[str], bool]:
    """Whether a casefolded word is known: kelvaro's English index, or the
    largest of Debian's American word lists when it is installed."""
    import kelvaro

    index = kelvaro.default_index()
    extra: Set[str] = set()
    if os.path.exists(INSANE):
        with open(INSANE, encoding="utf-8", errors="replace") as f:
            extra = {line.strip().casefold() for line in f}
    return lambda word: word in extra or index.get(word) is not None
