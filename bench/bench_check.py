"""Issue 28: `kelvaro check` on real trees, beside the checkers that teams run in CI.

The trees and their typos are bench/check_trees.py's (its docstring says
which trees and how the typos are put in). Each checker is run as a user
runs it, a process per tree with the tree's folder as its argument, on the
clean tree and on the tree with typos, both copied into a temporary folder
outside any repository (so that no .gitignore above them hides them):

  kelvaro check -r --json TREE    the kelvaro of --kelvaro-python (default:
                                  this interpreter), its default options
                                  (or those of --kelvaro-option), its
                                  English index cached beforehand
  typos --format json TREE        PyPI's typos, a Rust program
  codespell TREE                  PyPI's codespell, its default dictionary
  aspell -a per file              with --aspell only: slow, and as loud as
                                  any dictionary checker

Figures, per tree and over all trees:
  - typos found: a report on the typo's line whose word overlaps the
    typo's column (codespell and aspell give no column: a report on the
    line that names the typo); the share of the common misspellings and of
    the keyboard slips found, apart;
  - first suggestion right: of the typos found, those whose first
    suggestion is the right word, case aside;
  - reports on the clean tree per 1,000 lines of it;
  - time: wall clock of the process on the clean tree, start to exit, the
    best of --runs (3); the checkers take turns run by run, so that a busy
    moment of the machine falls on all of them. Over all trees, the sum.

Run alone (`make bench-check`), it prints its section of BENCHMARKS.md;
for tuning, on one tree and quickly:
    .venv-bench/bin/python bench/bench_check.py --tree click --runs 1 --show-noise 30 --show-missed
"""

from __future__ import annotations

import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from typing import Callable, Dict, List, Optional, Sequence, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import check_trees  # noqa: E402
from check_trees import TREES, Tree, Typo  # noqa: E402
from report_format import Targets, log, table, time_text  # noqa: E402

PEERS_PINNED = ("typos", "codespell")


@dataclass
class Report:
    path: str
    line: int
    column: int  # 1-based characters; 0 when the checker gives none
    word: str
    suggestions: List[str]


@dataclass
class Outcome:
    """One checker on one tree."""

    lines: int = 0
    typos: List[Typo] = field(default_factory=list)
    clean: List[Report] = field(default_factory=list)
    injected: List[Report] = field(default_factory=list)
    seconds: float = float("inf")

    def matches(self) -> List[Tuple[Typo, Optional[Report]]]:
        on_line: Dict[Tuple[str, int], List[Report]] = collections.defaultdict(list)
        for report in self.injected:
            on_line[(report.path, report.line)].append(report)
        return [(typo, _match(typo, on_line.get((typo.path, typo.line), []))) for typo in self.typos]


def _match(typo: Typo, reports: Sequence[Report]) -> Optional[Report]:
    for report in reports:
        if report.column:
            if report.column < typo.column + len(typo.typo) and typo.column < report.column + len(report.word):
                return report
        elif report.word.casefold() == typo.typo.casefold():
            return report
    return None


# --- the checkers -----------------------------------------------------------


def _beside(python: str, name: str) -> Optional[str]:
    path = os.path.join(os.path.dirname(python), name)
    return path if os.path.exists(path) else shutil.which(name)


def _line_texts(files: Dict[str, str], path: str) -> List[str]:
    return files[path].split("\n") if path in files else []


class Checker:
    name = ""

    def run(self, tree: str, cwd: str, files: Dict[str, str]) -> Tuple[float, List[Report]]:
        start = time.perf_counter()
        done = subprocess.run(self.command(tree), cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, check=False)
        seconds = time.perf_counter() - start
        output = done.stdout.decode("utf-8", "replace")
        if not output and done.returncode not in (0, 1, 2):  # 1 or 2: found something
            raise RuntimeError(f"{self.name} failed: {done.stderr.decode('utf-8', 'replace')[-2000:]}")
        return seconds, self.parse(output, files)

    def command(self, tree: str) -> List[str]:
        raise NotImplementedError

    def parse(self, output: str, files: Dict[str, str]) -> List[Report]:
        raise NotImplementedError


class Kelvaro(Checker):
    name = "kelvaro check"

    def __init__(self, python: str, options: Sequence[str] = ()) -> None:
        python = os.path.abspath(python)  # not resolved: a virtual environment's python is a link
        script = os.path.join(os.path.dirname(python), "kelvaro")
        self.base = [script] if os.path.exists(script) else [python, "-m", "kelvaro"]
        self.python = python
        self.options = list(options)

    def warm(self) -> None:
        subprocess.run([self.python, "-c", "import kelvaro; kelvaro.default_index().suggest('speling')"], check=True)

    def command(self, tree: str) -> List[str]:
        return self.base + ["check", "-r", "--json", *self.options, tree]

    def parse(self, output: str, files: Dict[str, str]) -> List[Report]:
        reports = []
        for line in output.splitlines():
            if line.startswith("{"):
                r = json.loads(line)
                reports.append(Report(os.path.normpath(r["path"]), r["line"], r["column"], r["word"], r["suggestions"]))
        return reports


class Typos(Checker):
    name = "typos"

    def __init__(self, program: str) -> None:
        self.program = program

    def command(self, tree: str) -> List[str]:
        return [self.program, "--format", "json", tree]

    def parse(self, output: str, files: Dict[str, str]) -> List[Report]:
        reports = []
        for line in output.splitlines():
            if not line.startswith("{"):
                continue
            r = json.loads(line)
            if r.get("type") != "typo":
                continue
            path, number = os.path.normpath(r["path"]), r.get("line_num") or 0
            texts = _line_texts(files, path)
            column = 0
            if 0 < number <= len(texts):  # its offset is in bytes: the column is in characters
                column = len(texts[number - 1].encode("utf-8")[:r["byte_offset"]].decode("utf-8", "replace")) + 1
            reports.append(Report(path, number, column, r["typo"], list(r.get("corrections") or [])))
        return reports


class Codespell(Checker):
    name = "codespell"
    REPORT = re.compile(r"^(.*):(\d+): (.+?) ==> (.*)$")

    def __init__(self, program: str) -> None:
        self.program = program

    def command(self, tree: str) -> List[str]:
        return [self.program, tree]

    def parse(self, output: str, files: Dict[str, str]) -> List[Report]:
        reports = []
        for line in output.splitlines():
            m = self.REPORT.match(line)
            if m:
                suggestions = [s.strip() for s in m.group(4).split(",") if s.strip()]
                reports.append(Report(os.path.normpath(m.group(1)), int(m.group(2)), 0, m.group(3), suggestions))
        return reports


class Aspell(Checker):
    """aspell -a, a process per file, as a script driving it would."""

    name = "aspell (-a per file)"

    def run(self, tree: str, cwd: str, files: Dict[str, str]) -> Tuple[float, List[Report]]:
        reports = []
        start = time.perf_counter()
        for path in sorted(p for p in files if p.startswith(tree + os.sep)):
            lines = _line_texts(files, path)
            # ^ keeps a line from being read as a command.
            text = "".join("^" + line + "\n" for line in lines)
            done = subprocess.run(["aspell", "-a", "--lang=en_US", "--encoding=utf-8"], input=text.encode("utf-8"),
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
            number = 1
            for answer in done.stdout.decode("utf-8", "replace").split("\n")[1:]:
                if not answer:
                    number += 1
                elif answer[0] in "&#":
                    head, _, rest = answer.partition(":")
                    parts = head.split()
                    suggestions = [s.strip() for s in rest.split(",") if s.strip()]
                    reports.append(Report(path, number, 0, parts[1], suggestions))
        return time.perf_counter() - start, reports


def ensure_peers(log_: Callable[[str], None]) -> Dict[str, Optional[str]]:
    """typos and codespell beside this interpreter, installed with pip at
    the versions that bench/requirements.txt pins when they are missing."""
    found = {name: _beside(sys.executable, name) for name in PEERS_PINNED}
    missing = [name for name, path in found.items() if path is None]
    if missing:
        pins = {}
        with open(os.path.join(HERE, "requirements.txt")) as f:
            for line in f:
                name, _, version = line.strip().partition("==")
                if name in missing:
                    pins[name] = line.strip()
        log_(f"installing {', '.join(pins.values())} with pip")
        done = subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
                               *pins.values()], check=False)
        if done.returncode != 0:
            log_("note: pip could not install them; the rows of the missing checkers are skipped")
        found = {name: _beside(sys.executable, name) for name in PEERS_PINNED}
    return found


# --- measuring --------------------------------------------------------------


def measure(trees: Sequence[Tree], checkers: Sequence[Checker], workdir: str, runs: int,
            log_: Callable[[str], None]) -> Dict[str, Dict[str, Outcome]]:
    """outcomes[checker][tree]."""
    outcomes: Dict[str, Dict[str, Outcome]] = {c.name: {} for c in checkers}
    is_word = check_trees.english_words()
    pairs = check_trees.norvig_pairs()
    scratch = tempfile.mkdtemp(prefix="kelvaro-bench-check-")
    try:
        for tree in trees:
            clean = check_trees.read_tree(check_trees.obtain(tree, workdir, log_), tree.name)
            injected, typos = check_trees.inject(clean, is_word, pairs)
            lines = check_trees.line_count(clean)
            log_(f"{tree.name}: {len(clean)} files, {lines:,} lines, {len(typos)} typos put in")
            clean_dir, injected_dir = os.path.join(scratch, "clean"), os.path.join(scratch, "injected")
            for folder in (clean_dir, injected_dir):
                shutil.rmtree(folder, ignore_errors=True)
            check_trees.write_tree(clean, clean_dir)
            check_trees.write_tree(injected, injected_dir)
            for checker in checkers:
                outcomes[checker.name][tree.name] = Outcome(lines, typos)
            for _ in range(runs):
                for checker in checkers:
                    seconds, reports = checker.run(tree.name, clean_dir, clean)
                    outcome = outcomes[checker.name][tree.name]
                    outcome.seconds = min(outcome.seconds, seconds)
                    outcome.clean = reports
            for checker in checkers:
                outcomes[checker.name][tree.name].injected = checker.run(tree.name, injected_dir, injected)[1]
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return outcomes


@dataclass
class Figures:
    found: float
    misspellings: float
    slips: float
    first_right: float
    clean_per_1000: float
    seconds: float


def _share(part: int, whole: int) -> float:
    return part / whole if whole else float("nan")


def figures(outcomes: Sequence[Outcome]) -> Figures:
    matched = [pair for outcome in outcomes for pair in outcome.matches()]
    found = [(typo, report) for typo, report in matched if report is not None]
    of_kind = collections.Counter(typo.kind for typo, _ in matched)
    found_kind = collections.Counter(typo.kind for typo, _ in found)
    right = sum(bool(r.suggestions) and r.suggestions[0].casefold() == t.right.casefold() for t, r in found)
    lines = sum(o.lines for o in outcomes)
    return Figures(_share(len(found), len(matched)), _share(found_kind["misspelling"], of_kind["misspelling"]),
                   _share(found_kind["slip"], of_kind["slip"]), _share(right, len(found)),
                   1000 * _share(sum(len(o.clean) for o in outcomes), lines), sum(o.seconds for o in outcomes))


def _percent(value: float) -> str:
    return "–" if value != value else f"{100 * value:.1f}%"


def _row(f: Figures) -> List[str]:
    return [_percent(f.found), _percent(f.misspellings), _percent(f.slips), _percent(f.first_right),
            f"{f.clean_per_1000:.3g}", time_text(f.seconds)]


HEADER = ["typos found", "common misspellings", "keyboard slips", "first suggestion right",
          "reports on the clean tree per 1,000 lines", "time for the tree"]


def report_lines(trees: Sequence[Tree], outcomes: Dict[str, Dict[str, Outcome]], runs: int,
                 kelvaro_python: str = sys.executable) -> List[str]:
    overall = {name: figures(list(by_tree.values())) for name, by_tree in outcomes.items()}
    typos = [t for o in outcomes[next(iter(outcomes))].values() for t in o.typos]
    lines_total = sum(o.lines for o in outcomes[next(iter(outcomes))].values())
    lines = [
        "## Issue 28: kelvaro check on real trees",
        "",
        "bench/bench_check.py, whose docstring says how (`make bench-check` runs it alone). Trees: "
        + "; ".join(f"{t.name} ({t.kind}, `{t.requirement}`, {outcomes[next(iter(outcomes))][t.name].lines:,} lines)"
                    for t in trees)
        + f". {len(typos)} typos put in ({sum(t.kind == 'misspelling' for t in typos)} common misspellings from "
        f"Norvig's set 2, {sum(t.kind == 'slip' for t in typos)} keyboard slips), about one per "
        f"{check_trees.TYPO_EVERY} lines, in comments, docstrings and prose. Times: best of {runs}, process "
        "start included, the sum over the trees. " + _versions(kelvaro_python),
        "",
    ]
    lines += _targets(overall)
    lines += [f"### All {len(trees)} trees together ({lines_total:,} lines)" if len(trees) > 1 else "### The tree", ""]
    lines += table(["checker"] + HEADER, [[name] + _row(f) for name, f in overall.items()])
    per_tree = []
    for tree in trees:
        for name, by_tree in outcomes.items():
            per_tree.append([tree.name, name] + _row(figures([by_tree[tree.name]])))
    lines += ["### Each tree", ""] + table(["tree", "checker"] + HEADER, per_tree)
    return lines


def _versions(kelvaro_python: str) -> str:
    import importlib.metadata

    # The kelvaro of another interpreter is named by its path.
    same = os.path.abspath(kelvaro_python) == os.path.abspath(sys.executable)
    found = [] if same else [f"kelvaro of {kelvaro_python}"]
    for name in (("kelvaro",) if not found else ()) + PEERS_PINNED:
        try:
            found.append(f"{name} {importlib.metadata.version(name)}")
        except importlib.metadata.PackageNotFoundError:
            pass
    return "Versions: " + ", ".join(found) + "."


def _targets(overall: Dict[str, Figures]) -> List[str]:
    if Kelvaro.name not in overall:
        return []
    k = overall[Kelvaro.name]
    targets = Targets()
    targets.add("typos found ≥ 95%", _percent(k.found), k.found >= 0.95)
    targets.add("keyboard slips found ≥ 90%", _percent(k.slips), k.slips >= 0.90)
    targets.add("first suggestion right ≥ 96%", _percent(k.first_right), k.first_right >= 0.96)
    targets.add("reports on the clean trees ≤ 2 per 1,000 lines", f"{k.clean_per_1000:.3g}", k.clean_per_1000 <= 2)
    typos, codespell = overall.get(Typos.name), overall.get(Codespell.name)
    targets.add("time ≤ 2× typos'",
                f"{time_text(k.seconds)} against {time_text(typos.seconds)}: "
                f"{k.seconds / typos.seconds:.2f}×" if typos else "typos not run",
                k.seconds <= 2 * typos.seconds if typos else None)
    targets.add("time < codespell's",
                f"{time_text(k.seconds)} against {time_text(codespell.seconds)}" if codespell else "codespell not run",
                k.seconds < codespell.seconds if codespell else None)
    return ["### Targets", "", "For `kelvaro check` with its default options, over all the trees:", ""] + targets.lines()


def noise_lines(outcomes: Dict[str, Dict[str, Outcome]], count: int) -> List[str]:
    lines = []
    for name, by_tree in outcomes.items():
        words = collections.Counter(r.word for o in by_tree.values() for r in o.clean)
        lines.append(f"{name}: {sum(words.values())} reports on the clean trees, {len(words)} distinct words; "
                     f"the commonest {count}:")
        lines += ["  " + ", ".join(f"{word} {n}" for word, n in words.most_common(count)), ""]
    return lines


def missed_lines(outcomes: Dict[str, Dict[str, Outcome]]) -> List[str]:
    lines = []
    for name, by_tree in outcomes.items():
        missed, wrong = [], []
        for outcome in by_tree.values():
            by_line = collections.defaultdict(list)
            for r in outcome.injected:
                by_line[(r.path, r.line)].append(r)
            for typo, report in outcome.matches():
                where = f"  {typo.path}:{typo.line}:{typo.column}: {typo.typo} (for {typo.right}, {typo.kind})"
                if report is None:
                    near = ", ".join(f"{r.word}@{r.column}" for r in by_line[(typo.path, typo.line)])
                    missed.append(where + (f"; on its line: {near}" if near else ""))
                elif not report.suggestions or report.suggestions[0].casefold() != typo.right.casefold():
                    wrong.append(where + f" -> {', '.join(report.suggestions[:5]) or '(no suggestions)'}")
        lines += [f"{name}: {len(missed)} typos missed"] + missed
        lines += [f"{name}: {len(wrong)} typos found whose first suggestion is not the right word"] + wrong + [""]
    return lines


def checkers_for(kelvaro_python: str, aspell: bool, log_: Callable[[str], None],
                 kelvaro_options: Sequence[str] = ()) -> List[Checker]:
    kelvaro = Kelvaro(kelvaro_python, kelvaro_options)
    log_("warming kelvaro's English index")
    kelvaro.warm()
    found: List[Checker] = [kelvaro]
    peers = ensure_peers(log_)
    if peers["typos"]:
        found.append(Typos(peers["typos"]))
    if peers["codespell"]:
        found.append(Codespell(peers["codespell"]))
    if aspell:
        if shutil.which("aspell"):
            found.append(Aspell())
        else:
            log_("note: aspell is not installed (apt-get install aspell aspell-en), so its row is skipped")
    return found


def _cache_for(workdir: str) -> None:
    # The English index is cached in the bench's folder, never the user's.
    os.environ.setdefault("KELVARO_CACHE_DIR", os.path.join(workdir, "cache"))


def section(quick: bool, workdir: str, log_: Callable[[str], None]) -> List[str]:
    """The section of BENCHMARKS.md, for bench/benchmark.py."""
    os.makedirs(workdir, exist_ok=True)
    _cache_for(workdir)
    runs = 1 if quick else 3
    checkers = checkers_for(sys.executable, False, log_)
    return report_lines(TREES, measure(TREES, checkers, workdir, runs, log_), runs)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--workdir", default=os.path.join(HERE, "..", "build", "bench", "data", "check"),
                        help="where the downloaded trees are kept")
    parser.add_argument("--kelvaro-python", default=sys.executable, help="the Python whose kelvaro is measured")
    parser.add_argument("--kelvaro-option", action="append", default=[], metavar="OPTION",
                        help="an option for kelvaro check, such as --kelvaro-option=--strict (repeatable)")
    parser.add_argument("--tree", action="append", choices=[t.name for t in TREES], help="only this tree (repeatable)")
    parser.add_argument("--runs", type=int, default=3, help="timed runs on each clean tree (default 3)")
    parser.add_argument("--aspell", action="store_true", help="run aspell -a per file too (slow)")
    parser.add_argument("--show-noise", type=int, metavar="N", default=0,
                        help="the N commonest words each checker reports on the clean trees")
    parser.add_argument("--show-missed", action="store_true",
                        help="the typos each checker missed, and those with a wrong first suggestion")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    workdir = os.path.abspath(args.workdir)
    os.makedirs(workdir, exist_ok=True)
    _cache_for(workdir)
    trees = [t for t in TREES if not args.tree or t.name in args.tree]
    started = time.perf_counter()
    checkers = checkers_for(args.kelvaro_python, args.aspell, log, args.kelvaro_option)
    outcomes = measure(trees, checkers, workdir, args.runs, log)
    lines = report_lines(trees, outcomes, args.runs, args.kelvaro_python)
    if args.kelvaro_option:
        lines[2:2] = [f"kelvaro check was run with {' '.join(args.kelvaro_option)}, not its default options.", ""]
    if args.show_noise:
        lines += noise_lines(outcomes, args.show_noise)
    if args.show_missed:
        lines += missed_lines(outcomes)
    print("\n".join(lines))
    log(f"done in {time.perf_counter() - started:.0f} s")


if __name__ == "__main__":
    main()
