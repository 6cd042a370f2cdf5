"""The bench's typo injector (bench/check_trees.py) on a small tree: a
measurement is only as good as the typos it counts."""

import io
import re
import sys
import tokenize
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))

import check_trees  # noqa: E402

CODE = '''\
"""Helpers that measure the distance between two strings."""

import os  # the operating system, for the environment


def distance(first, second):
    """Return the number of changes that turn the first string into the second."""
    # Every change counts once, whatever it changes.
    receiveData = first + "because the message says so"
    return len(receiveData) - len(second)  # the difference between lengths


class Measure:
    """A measure of strings, with a threshold above which they differ."""

    def between(self, first, second):
        # Compare the strings and return the result of the comparison.
        return distance(first, second)
'''

PROSE = """\
# Measuring strings

The library measures the distance between strings, and tells whether
they are similar enough for the purpose of the program.

```python
measure = Measure()  # because the result matters
```

Read `receive_message` first, then visit https://example.org/believe for
the details of the threshold, which decides whether strings differ.

    indented code block because believe

Every result is a number, and a larger number means more changes.
"""

KNOWN = set(re.findall(r"[a-z]+", (CODE + PROSE).lower()))
PAIRS = [("because", "becuase"), ("between", "beetween"), ("receive", "recieve"), ("believe", "beleive"),
         ("threshold", "treshold"), ("similar", "similiar"), ("result", "reslut"), ("number", "nubmer"),
         ("strings", "strngs"), ("changes", "chnages")]


def inject(seed):
    files = {"tree/measure.py": CODE, "tree/guide.md": PROSE}
    return files, *check_trees.inject(files, KNOWN.__contains__, PAIRS, seed=seed, every=4)


def test_each_typo_is_where_it_says_and_nothing_else_changed():
    for seed in range(20):
        files, injected, typos = inject(seed)
        assert typos and inject(seed)[2] == typos
        kinds = [t.kind for t in typos]
        assert kinds.count("slip") == kinds.count("misspelling")
        restored = {path: text.split("\n") for path, text in injected.items()}
        for t in typos:
            line = restored[t.path][t.line - 1]
            assert line[t.column - 1:t.column - 1 + len(t.typo)] == t.typo
            restored[t.path][t.line - 1] = line[:t.column - 1] + t.right + line[t.column - 1 + len(t.typo):]
            # A non-word, of 4 letters or more, found once in the whole tree.
            assert len(t.typo) >= 4 and t.typo.casefold() not in KNOWN
            everywhere = "\n".join(injected.values()).casefold()
            assert len(re.findall(rf"(?<![a-z]){t.typo.casefold()}(?![a-z])", everywhere)) == 1
        assert {path: "\n".join(lines) for path, lines in restored.items()} == files
        assert len({(t.path, t.line) for t in typos}) == len(typos)


def test_typos_go_only_into_comments_docstrings_and_prose():
    prose_lines = PROSE.split("\n")
    for seed in range(20):
        _, injected, typos = inject(seed)
        tokens = list(tokenize.generate_tokens(io.StringIO(injected["tree/measure.py"]).readline))
        for t in typos:
            if t.path.endswith(".py"):
                inside = [tok for tok in tokens if tok.start <= (t.line, t.column - 1) < tok.end]
                assert inside and inside[0].type in (tokenize.COMMENT, tokenize.STRING), t
                assert "because the message" not in inside[0].string, t  # a string, not a docstring
            else:
                line = prose_lines[t.line - 1]
                assert not line.startswith(("```", "measure", "    ")), t  # code
                assert "`" not in line[:t.column] or line[:t.column].count("`") % 2 == 0, t  # inline code
                assert "://" not in line[max(0, t.column - 30):t.column + len(t.typo)], t  # a link


def test_keyboard_slips_are_one_slip_away():
    rng = check_trees.random.Random(1)
    for word in ("between", "strings", "Threshold"):
        for _ in range(200):
            slip = check_trees.keyboard_slip(word, rng)
            if len(slip) == len(word):
                changed = [i for i, (a, b) in enumerate(zip(word, slip)) if a != b]
                swapped = len(changed) == 2 and slip[changed[0]] == word[changed[1]] and slip[changed[1]] == word[changed[0]]
                near = len(changed) == 1 and slip[changed[0]].lower() in check_trees.NEIGHBOURS[word[changed[0]].lower()]
                assert swapped or near or not changed, (word, slip)
            else:
                shorter, longer = sorted((word, slip), key=len)
                assert len(longer) - len(shorter) == 1
                assert any(longer[:i] + longer[i + 1:] == shorter for i in range(len(longer))), (word, slip)
