"""Issue 19: spelling correction that beats the classic checkers.

Every corrector answers each misspelling of Peter Norvig's two test sets
(word_lists.spelling_pairs()), each with its own English dictionary; a
misspelling counts when the first answer is the right word, compared
casefolded, and a word that a checker accepts counts as its own answer.

- kelvaro: default_index().suggest(word), as a user calls it; and the C++
  WordIndex::suggest alone on the same keys (the _walk_timer module, over
  the same trie with its sound-alike table), for what Python adds.
- symspellpy with its bundled English frequency dictionary, Verbosity.TOP,
  max_edit_distance=2; pyspellchecker's SpellChecker().correction(word).
  These and kelvaro are timed per word as benchmark.py times every call
  (lookup_pass.seconds_per_call: repeated for 50 µs, the fastest of three
  rounds; a call of over 20 ms is timed once).
- GNU aspell (`aspell -a --lang=en_US`) and hunspell (`hunspell -a -d
  en_US`) through their pipe mode: every word on a line of its own behind
  "^", the first suggestion of each "&" line taken, a "*" (or "+", "-")
  answer meaning the word is right as it is and a "#" that there is no
  suggestion. They have no call to time one word by: the time is that of a
  whole pipe run, from the first word written to the last answer read (the
  process started and its dictionary loaded beforehand), over the number of
  words, the fastest of three runs. A checker that is not installed gets a
  row that says so.

No regression: Index.search(q, 1), Index.search(q, 2) and
Index.complete(prefix, 1, 10) on default_index(), today against kelvaro at
commit BEFORE (installed in an environment of its own, given by
--before-python), each version with its own default index: the queries are
words of the index with 0 to 2 random edits and prefixes of 1 to 8 letters,
every third with a typo (word_lists.py's make_queries and
completion_prefixes, fixed seeds). They are timed by speed_pass.py, as
bench_memory.py times its speed rows: a fresh process per version in each
round, taking turns block by block of 20 queries, each query's fastest
round counting.

Run alone, it prints its section of BENCHMARKS.md:
    .venv-bench/bin/python bench/bench_spelling.py [--quick] [--walk-timer-dir DIR]
                                                   [--before-python PYTHON]
(`make bench-spelling` does this, with the walk timer built and the
environment of the version before.)
"""

from __future__ import annotations

import argparse
import importlib.metadata
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import kelvaro  # noqa: E402
from lookup_pass import seconds_per_call  # noqa: E402
from report_format import Targets, table, time_text, times_text  # noqa: E402
from speed_pass import speed_round, speed_rows  # noqa: E402
from timing import median, native_share, percentile  # noqa: E402
from word_lists import SPELLING, completion_prefixes, make_queries, spelling_pairs  # noqa: E402

BEFORE = "7049edb"
SEED = 20240619
PIPE_RUNS = 3
CHECKERS = [
    ("aspell", ["aspell", "-a", "--lang=en_US"], "apt-get install aspell aspell-en"),
    ("hunspell", ["hunspell", "-a", "-d", "en_US"], "apt-get install hunspell hunspell-en-us"),
]
# The rows compared with the version before, by the speed pass's names.
REGRESSION_CALLS = ["search d=1", "search d=2", "complete(prefix, 1, 10)"]
NOISE = 1.05


# --- the correctors --------------------------------------------------------------


def answered_and_timed(call, first, words):
    """Each word's first answer and its seconds per call. The answer comes
    from the first call, so that a slow corrector is not run once more for it."""
    answers, times = [], []
    for word in words:
        start = time.perf_counter()
        found = call(word)
        seconds = time.perf_counter() - start
        answers.append(first(found))
        times.append(seconds if seconds > 20e-3 else seconds_per_call(call, word))
    return answers, times


def symspell_corrector():
    from importlib import resources

    from symspellpy import SymSpell, Verbosity

    checker = SymSpell(max_dictionary_edit_distance=2)
    path = resources.files("symspellpy").joinpath("frequency_dictionary_en_82_765.txt")
    with resources.as_file(path) as real:
        checker.load_dictionary(str(real), 0, 1)
    return (lambda w: checker.lookup(w, Verbosity.TOP, max_edit_distance=2),
            lambda found: found[0].term if found else None)


def pipe_answer(word, lines):
    """The answer of the pipe protocol's result lines for one word."""
    if not lines:
        return word  # nothing in it that the checker takes for a word
    line = lines[0]
    if line[0] in "*+-":
        return word
    if line[0] == "&" and ": " in line:
        return line.split(": ", 1)[1].split(", ")[0]
    return None  # "#": misspelt, and no suggestion


def pipe_run(command, words):
    """One pipe run: the answers, the seconds from the first word written to
    the last answer read, and the checker's banner."""
    with tempfile.TemporaryFile() as errors:
        process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors,
                                   text=True, encoding="utf-8", errors="replace")
        try:
            banner = process.stdout.readline()
            if not banner.startswith("@(#)"):
                process.kill()
                process.wait()
                errors.seek(0)
                said = errors.read().decode("utf-8", "replace").strip().splitlines()
                raise RuntimeError(said[-1] if said else f"no banner, exit status {process.returncode}")
            data = "".join(f"^{w}\n" for w in words)

            def feed():
                process.stdin.write(data)
                process.stdin.close()

            start = time.perf_counter()
            # A thread feeds the words while this one reads, so that neither
            # pipe can fill up and stall the other side.
            feeder = threading.Thread(target=feed)
            feeder.start()
            answers = []
            for word in words:
                lines = []
                for line in process.stdout:
                    line = line.rstrip("\n")
                    if not line:
                        break
                    lines.append(line)
                else:
                    raise RuntimeError(f"it stopped after {len(answers)} of {len(words)} words")
                answers.append(pipe_answer(word, lines))
            seconds = time.perf_counter() - start
            feeder.join()
        finally:
            if process.poll() is None:
                process.kill()
            process.wait()
    return answers, seconds, banner.strip()


def pipe_corrector(command, words):
    """(answers, seconds per word, version) over the fastest of PIPE_RUNS runs."""
    best, answers, version = float("inf"), None, ""
    for _ in range(PIPE_RUNS):
        found, seconds, banner = pipe_run(command, words)
        answers = answers or found
        best = min(best, seconds)
        version = banner.split("(but really ")[-1].rstrip(")") if "really" in banner else banner
    return answers, best / len(words), version


def version_of(package):
    try:
        return importlib.metadata.version(package)
    except importlib.metadata.PackageNotFoundError:
        return None


# --- against the version before ------------------------------------------------------


def before_note(before_python):
    """Why there is no version before to compare with, said plainly."""
    if before_python:
        return f"kelvaro at {BEFORE} was not compared: {before_python} is missing"
    in_clone = subprocess.run(["git", "-C", HERE, "cat-file", "-e", BEFORE + "^{commit}"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    if not in_clone:
        return (f"kelvaro at {BEFORE} was not compared: commit {BEFORE} is not in this clone (a shallow clone?), "
                "so there is no version before to build")
    return (f"kelvaro at {BEFORE} was not compared: no environment of it was given (--before-19-python; "
            "`make bench` and `make bench-spelling` build one)")


def regression(index, before_python, quick, workdir, log):
    """The speed pass's rows of the default index, today against BEFORE."""
    keys = sorted({word.casefold() for word in index})
    count = 200 if quick else 1000
    queries = make_queries(keys, count, seed=SEED)
    job = {"default_index()": {"default": True, "queries": queries, "deep": queries, "builds": 0,
                               "prefixes": completion_prefixes(keys, count, seed=SEED),
                               "calls": REGRESSION_CALLS}}
    job_path = os.path.join(workdir, "job-regression.json")
    with open(job_path, "w", encoding="utf-8") as f:
        json.dump(job, f)
    versions = [("now", sys.executable), ("before", before_python)]
    speed, notes = {"now": [], "before": []}, []
    rounds = 2 if quick else 5
    for turn in range(rounds):
        log(f"  against {BEFORE}: round {turn + 1} of {rounds}")
        try:
            answers = speed_round(versions, job, job_path, workdir, turn)
        except (RuntimeError, OSError, ValueError) as error:
            notes.append(f"round {turn + 1} of the comparison with {BEFORE} failed: {error}")
            continue
        for who, answer in answers.items():
            speed[who].append(answer)
    return speed_rows(speed), notes, len(queries)


# --- the section --------------------------------------------------------------------


def section(quick=False, workdir=None, log=lambda message: print(message, file=sys.stderr), walk_timer=None,
            before_python=None, index=None):
    out = ["## Issue 19: spelling correction that beats the classic checkers", ""]
    if not os.path.isdir(SPELLING):
        return out + [f"Not measured: Norvig's test sets are missing ({SPELLING}).", ""]
    workdir = workdir or tempfile.mkdtemp(prefix="kelvaro-spelling-")
    os.makedirs(workdir, exist_ok=True)
    if index is None:
        index = kelvaro.default_index()
        index.search("the", 1)
    usage = index.memory_usage() if hasattr(index, "memory_usage") else {}
    sound_bytes = usage.get("sound table")
    near_bytes = usage.get("table of deletions")
    pairs = spelling_pairs()
    wrongs = [wrong for _, wrong, _ in pairs]
    sets = [n for _, _, n in pairs]

    # name -> (answers, median, 90th percentile or None, how it was timed)
    results, skipped = {}, []
    kelvaro_name = "kelvaro `default_index().suggest(w)`"
    python_correctors = [(kelvaro_name, lambda w: index.suggest(w), lambda found: found[0].word if found else None)]
    symspell_name = ("symspellpy with its bundled English frequency dictionary, `Verbosity.TOP`, "
                     "`max_edit_distance=2`")
    python_correctors.append((symspell_name, *symspell_corrector()))
    pyspell = version_of("pyspellchecker")
    if pyspell:
        from spellchecker import SpellChecker

        checker = SpellChecker()
        python_correctors.append((f"pyspellchecker {pyspell} `SpellChecker().correction(w)`", checker.correction,
                                  lambda found: found))
    else:
        skipped.append(("pyspellchecker", "pyspellchecker not installed: pip install -r bench/requirements.txt"))
    for name, call, first in python_correctors:
        answers, times = answered_and_timed(call, first, wrongs)
        results[name] = (answers, median(times), percentile(times, 0.9), "per call")
        log(f"  {name[:40]}: {time_text(median(times))} a word")
    native = native_share(walk_timer, index, "suggest", wrongs, 2, 5) if walk_timer else None
    for checker_name, command, install in CHECKERS:
        if shutil.which(command[0]) is None:
            skipped.append((checker_name, f"{checker_name} not installed: {install}"))
            continue
        try:
            answers, per_word, version = pipe_corrector(command, wrongs)
        except (RuntimeError, OSError) as error:
            skipped.append((checker_name, f"`{' '.join(command)}` failed ({error}): {install}"))
            continue
        results[f"{version} `{' '.join(command)}`"] = (answers, per_word, None, "pipe")
        log(f"  {checker_name}: {time_text(per_word)} a word over a pipe run")

    def accuracy(answers, number=None):
        chosen = [(a, p) for a, p, n in zip(answers, pairs, sets) if number is None or n == number]
        right = sum((a or "").casefold() == p[0].casefold() for a, p in chosen)
        return right / len(chosen), right, len(chosen)

    # The targets.
    t = Targets()
    ours = results[kelvaro_name]
    aspell = next((r for name, r in results.items() if "aspell" in name.lower()), None)
    for number in (1, 2):
        mine = accuracy(ours[0], number)[0]
        if aspell is None:
            t.add(f"suggest: top-1 on set {number} ≥ aspell's", f"{mine:.1%}; aspell not measured", None)
        else:
            theirs = accuracy(aspell[0], number)[0]
            t.add(f"suggest: top-1 on set {number} ≥ aspell's", f"{mine:.1%} against {theirs:.1%}", mine >= theirs)
    on_two = accuracy(ours[0], 2)[0]
    t.add("suggest: top-1 on set 2 ≥ 82%", f"{on_two:.1%}", on_two >= 0.82)
    both = accuracy(ours[0])[0]
    t.add("suggest: top-1 over both sets ≥ 80% (issue 13)", f"{both:.1%}", both >= 0.8)
    t.add("suggest: median ≤ 20 µs per word", time_text(ours[1]), ours[1] <= 20e-6)
    symspell_median = results[symspell_name][1]
    ratio = ours[1] / symspell_median
    t.add("suggest: median ≤ 0.5× symspellpy's", f"{times_text(ratio)} ({time_text(ours[1])} against "
          f"{time_text(symspell_median)})", ratio <= 0.5)
    if sound_bytes is None:
        t.add("sound table: bytes per word (reported)", "memory_usage() has no \"sound table\"", None)
    else:
        t.add("sound table: bytes per word (reported)",
              f"{sound_bytes / len(index):.1f} B ({sound_bytes:,} bytes over {len(index):,} words)", True)
    # Issue 30: suggestions find the words within two edits through a table of
    # every word's deletions, which the index file holds.
    if near_bytes is None:
        t.add("table of deletions: bytes per word (reported)", "memory_usage() has no \"table of deletions\"", None)
    else:
        t.add("table of deletions: bytes per word (reported)",
              f"{near_bytes / len(index):.1f} B ({near_bytes:,} bytes of {usage['total']:,} in all)", True)

    notes = []
    if before_python and os.path.exists(before_python):
        log(f"against kelvaro at {BEFORE}")
        rows, notes, count = regression(index, before_python, quick, workdir, log)
    else:
        rows, count = [], 0
        notes.append(before_note(before_python))
    by_call = {row[1]: row for row in rows}
    for call in REGRESSION_CALLS:
        label = {"search d=1": "Index.search(q, 1)", "search d=2": "Index.search(q, 2)",
                 "complete(prefix, 1, 10)": "Index.complete(prefix, 1, 10)"}[call]
        row = by_call.get(call)
        target = f"{label} median ≤ 1.0× {BEFORE}'s ({NOISE}× allowed for noise)"
        if row is None:
            t.add(target, "not measured (below)", None)
        else:
            _, _, _, before, now, ratio, _, _ = row
            t.add(target, f"{times_text(ratio)} ({time_text(now)} against {time_text(before)})", ratio <= NOISE)

    out += ["### Targets", ""] + t.lines()

    # The correctors.
    body = []
    for name, (answers, typical, tail, how) in results.items():
        scores = [accuracy(answers, n) for n in (None, 1, 2)]
        cells = [f"{right}/{total} = {share:.1%}" for share, right, total in scores]
        if how == "pipe":
            body.append([name, *cells, f"{time_text(typical)} (mean over a pipe run)", "–",
                         "one pipe run, all words: its wall time ÷ words (fastest of "
                         f"{PIPE_RUNS} runs)"])
        else:
            body.append([name, *cells, time_text(typical), time_text(tail), "each word's call"])
        if name == kelvaro_name and native:
            body.append(["its C++ lookup alone (WordIndex::suggest, with the sound-alike table)", "–", "–", "–",
                         time_text(median(native)), time_text(percentile(native, 0.9)), "each word's call, in C++"])
    for name, reason in skipped:
        body.append([name, f"skipped: {reason}", "–", "–", "–", "–", "–"])
    if walk_timer is None:
        body.append(["kelvaro's C++ lookup alone", "skipped: the _walk_timer module was not given "
                     "(--walk-timer-dir)", "–", "–", "–", "–", "–"])
    total = len(pairs)
    counts = [sets.count(1), sets.count(2)]
    out += [f"### Norvig's two test sets: {total} misspellings ({counts[0]} in set 1, {counts[1]} in set 2)", "",
            "Top-1: the first answer is the right word, compared casefolded; a word the checker accepts is its "
            "own answer. Each corrector has its own English dictionary, so this compares whole correctors. "
            "kelvaro's typo prices were fitted on set 1 (tools/fit_typo_weights.py); set 2 is the one they have "
            "not seen. aspell and hunspell run as one process each, fed every word through their pipe mode "
            "(`-a`), and the time is the whole run's over the number of words, with no time per word to take a "
            "percentile of; the others are timed word by word.", ""]
    out += table(["corrector", "top-1, both sets", "set 1", "set 2", "median per word", "90th percentile",
                  "timed"], body)

    # Against the version before.
    out += [f"### Against kelvaro at {BEFORE}, before this issue", ""]
    if rows:
        out += [f"default_index() of each version (today's has its sound-alike table), {count} queries: words "
                "of the index with 0 to 2 random edits, and prefixes of 1 to 8 letters, every third with a typo. "
                f"Per call, the fastest of each query's rounds ({len(rows[0][7])}); each round has a fresh process "
                "per version, the two taking turns block by block of 20 queries. The times are medians over the "
                f"queries, and the ratio is theirs; the target allows {NOISE}× for the noise of this machine, "
                "which the last column shows round by round.", ""]
        out += table(["call", "queries", BEFORE, "now", "now ÷ before", "queries' ratios, median", "rounds"],
                     [[call, n, time_text(before), time_text(now), times_text(ratio), times_text(paired),
                       ", ".join(f"{x:.2f}" for x in rounds)]
                      for _, call, n, before, now, ratio, paired, rounds in rows])
    if notes:
        out += [f"- {note}" for note in dict.fromkeys(notes)] + [""]
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="fewer queries and rounds against the version before")
    parser.add_argument("--walk-timer-dir", help="where the _walk_timer module was built, for the C++ row")
    parser.add_argument("--before-python", "--before-19-python", dest="before_python",
                        help=f"a Python with kelvaro as it was at {BEFORE} installed")
    parser.add_argument("--workdir")
    args = parser.parse_args()
    walk_timer = None
    if args.walk_timer_dir:
        sys.path.insert(0, args.walk_timer_dir)
        import _walk_timer as walk_timer
    started = time.perf_counter()
    lines = section(args.quick, args.workdir, walk_timer=walk_timer, before_python=args.before_python,
                    log=lambda message: print(f"[{time.strftime('%H:%M:%S')}] {message}", file=sys.stderr,
                                              flush=True))
    lines.append(f"(This section took {(time.perf_counter() - started) / 60:.1f} minutes.)")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
