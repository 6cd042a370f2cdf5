"""Running text: kelvaro's segment, correct and check against their peers.

The yardstick is English prose from the Python documentation, as Debian
ships its reStructuredText sources (apt-get install python3.11-doc; the
documentation is under the PSF License, a permissive one): the sentences of
its prose paragraphs whose words are all plain letters, 6 to 25 of them,
lower-cased, without their punctuation. Markup, code and tables are left out.

- Segmentation: each sentence with its spaces removed, cut back into words by
  Index.segment, symspellpy's word_segmentation (with its bundled English
  dictionary, no corrections: max_edit_distance=0) and wordsegment's segment.
  Word accuracy is the share of the sentence's words found with exactly their
  boundaries.
- Correction: the same sentences with misspellings of Norvig's test set 2 put
  in for half of the words that it has misspellings of, and random words run
  together or split, as the seed makes them; the word error rate (word-level
  edit distance over the number of words) after Index.correct, beside
  symspellpy's lookup_compound (max_edit_distance=2) on the same lines, and
  before any correction.
- kelvaro check on the first megabyte of all the documentation's sources,
  run as a command on one core (taskset -c 0), beside aspell list and
  hunspell -l when they are installed; the command's time includes starting
  the interpreter and building the English index.

Run alone, it prints its section of BENCHMARKS.md:
    .venv-bench/bin/python bench/bench_text.py [--quick]
"""

from __future__ import annotations

import argparse
import glob
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import kelvaro
from report_format import table

SOURCES = "/usr/share/doc/python3.11/html/_sources"
SPELLING = "/work/shared/data/spelling"
SEED = 20
WORD = re.compile(r"[A-Za-z]+")


def have_sources():
    return os.path.isdir(SOURCES)


def source_files():
    return sorted(glob.glob(os.path.join(SOURCES, "**", "*.txt"), recursive=True))


def paragraphs(text):
    """The prose paragraphs of a reStructuredText source: blocks of lines
    that start at the margin and are no markup."""
    block = []
    for line in text.splitlines() + [""]:
        if line.strip() and not line[0].isspace() and not re.match(r"[.=\-~*#|:+`^_\d]", line):
            block.append(line.strip())
            continue
        if block:
            yield " ".join(block)
        block = []


def sentences(limit):
    found = []
    for path in sorted(glob.glob(os.path.join(SOURCES, "tutorial", "*.txt")) + glob.glob(os.path.join(SOURCES, "faq", "*.txt"))
                       + glob.glob(os.path.join(SOURCES, "howto", "*.txt")) + glob.glob(os.path.join(SOURCES, "reference", "*.txt"))):
        with open(path, encoding="utf-8") as f:
            for paragraph in paragraphs(f.read()):
                if any(mark in paragraph for mark in "`*:<>[]()_\"'/\\=@"):
                    continue
                for sentence in re.split(r"(?<=[.?!])\s+", paragraph):
                    words = sentence.rstrip(".?!").replace(",", "").replace(";", "").split()
                    if 6 <= len(words) <= 25 and all(WORD.fullmatch(w) for w in words):
                        found.append([w.lower() for w in words])
    random.Random(SEED).shuffle(found)
    return found[:limit]


def norvig_set_2():
    wrongs = {}
    with open(os.path.join(SPELLING, "testset2.txt"), encoding="utf-8") as f:
        for line in f:
            if ":" in line:
                right, rest = line.split(":", 1)
                wrongs[right.strip().lower()] = rest.split()
    return wrongs


def corrupted(words, wrongs, rng):
    out = [rng.choice(wrongs[w]) if w in wrongs and rng.random() < 0.5 else w for w in words]
    # Split a word, or run two together, now and then.
    result = []
    i = 0
    while i < len(out):
        word = out[i]
        roll = rng.random()
        if roll < 0.06 and len(word) >= 4:
            cut = rng.randint(1, len(word) - 1)
            result += [word[:cut], word[cut:]]
        elif roll < 0.12 and i + 1 < len(out):
            result.append(word + out[i + 1])
            i += 1
        else:
            result.append(word)
        i += 1
    return result


def word_spans(words):
    spans, at = set(), 0
    for word in words:
        spans.add((at, at + len(word)))
        at += len(word)
    return spans


def word_errors(reference, hypothesis):
    previous = list(range(len(hypothesis) + 1))
    for i, ref in enumerate(reference, 1):
        row = [i]
        for j, hyp in enumerate(hypothesis, 1):
            row.append(min(previous[j] + 1, row[j - 1] + 1, previous[j - 1] + (ref != hyp)))
        previous = row
    return previous[-1]


def timed(call, items):
    results, times = [], []
    for item in items:
        started = time.perf_counter()
        results.append(call(item))
        times.append(time.perf_counter() - started)
    return results, times


def time_text(seconds):
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e6:.1f} µs"


def symspell_checker():
    from importlib import resources

    from symspellpy import SymSpell

    checker = SymSpell(max_dictionary_edit_distance=2)
    path = resources.files("symspellpy").joinpath("frequency_dictionary_en_82_765.txt")
    with resources.as_file(path) as real:
        checker.load_dictionary(str(real), 0, 1)
    bigrams = resources.files("symspellpy").joinpath("frequency_bigramdictionary_en_243_342.txt")
    with resources.as_file(bigrams) as real:
        checker.load_bigram_dictionary(str(real), 0, 2)
    return checker


def segmentation(index, lines, checker, log):
    import wordsegment

    wordsegment.load()
    runs = ["".join(words) for words in lines]
    segmenters = [
        ("kelvaro `default_index().segment(text)`", lambda text: index.segment(text).split()),
        ("symspellpy `word_segmentation(text, max_edit_distance=0)`",
         lambda text: checker.word_segmentation(text, max_edit_distance=0).corrected_string.split()),
        ("wordsegment `segment(text)`", wordsegment.segment),
    ]
    results = {}
    rows = []
    for name, call in segmenters:
        found, times = timed(call, runs)
        right = sum(len(word_spans(w) & word_spans(f)) for w, f in zip(lines, found))
        total = sum(len(w) for w in lines)
        exact = sum(w == f for w, f in zip(lines, found)) / len(lines)
        # The halves: constants were fitted on the even sentences, and the
        # odd ones were kept apart to check them.
        halves = [sum(w == f for w, f in zip(lines[k::2], found[k::2])) / len(lines[k::2]) for k in (0, 1)]
        results[name] = (right / total, statistics.median(times), sum(times), exact, halves)
        rows.append([name, f"{right / total:.1%}", f"{exact:.1%}", f"{halves[0]:.1%} / {halves[1]:.1%}",
                     time_text(statistics.median(times)), time_text(sum(times))])
        log(f"  {name[:30]}: {right / total:.1%}, {exact:.1%} exact, {time_text(statistics.median(times))}")
    return results, rows


def correction(index, lines, checker, log):
    wrongs = norvig_set_2()
    rng = random.Random(SEED)
    typed = [" ".join(corrupted(words, wrongs, rng)) for words in lines]
    correctors = [
        ("kelvaro `default_index().correct(line)`", lambda line: index.correct(line).lower().split()),
        ("symspellpy `lookup_compound(line, max_edit_distance=2)`",
         lambda line: checker.lookup_compound(line, max_edit_distance=2)[0].term.split()),
        ("no correction", lambda line: line.split()),
    ]
    total = sum(len(words) for words in lines)
    results, rows = {}, []
    for name, call in correctors:
        found, times = timed(call, typed)
        errors = sum(word_errors(w, f) for w, f in zip(lines, found))
        halves = [
            sum(word_errors(w, f) for w, f in zip(lines[k::2], found[k::2])) / sum(map(len, lines[k::2])) for k in (0, 1)
        ]
        results[name] = (errors / total, statistics.median(times), sum(times), halves)
        rows.append([name, f"{errors / total:.1%}", f"{halves[0]:.1%} / {halves[1]:.1%}",
                     time_text(statistics.median(times)), time_text(sum(times))])
        log(f"  {name[:30]}: WER {errors / total:.1%}, {time_text(statistics.median(times))}")
    changed = sum(t.split() != w for t, w in zip(typed, lines))
    return results, rows, changed


def suspects_on_clean(index, lines):
    """The suspects that check reports on the yardstick's sentences, which
    are clean prose: per 5,000 words, and the words."""
    words = sum(map(len, lines))
    found = [m.word for line in lines for m in index.check(" ".join(line)) if m.suspect]
    return len(found) * 5000 / words, found


def command_time(command, stdin_path=None, runs=3):
    best = None
    for _ in range(runs):
        with open(stdin_path or os.devnull, "rb") as stdin:
            started = time.perf_counter()
            subprocess.run(command, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            elapsed = time.perf_counter() - started
        best = elapsed if best is None else min(best, elapsed)
    return best


def checking(index, workdir, log):
    text = "\n".join(open(p, encoding="utf-8").read() for p in source_files())
    data = text.encode("utf-8")[:1_000_000]
    data = data[: data.rfind(b"\n") + 1]
    path = os.path.join(workdir, "python-docs-1mb.txt")
    with open(path, "wb") as f:
        f.write(data)
    one_core = ["taskset", "-c", "0"] if shutil.which("taskset") else []
    command = [os.path.join(os.path.dirname(sys.executable), "kelvaro"), "check", path]
    rows, results = [], {}
    for name, args, stdin in [
        ("`kelvaro check FILE` (3 suggestions per word)", command, None),
        ("`kelvaro check FILE -k 0` (no suggestions)", command + ["-k", "0"], None),
        ("`aspell list -l en < FILE`", ["aspell", "list", "-l", "en"], path),
        ("`hunspell -d en_US -l FILE`", ["hunspell", "-d", "en_US", "-l", path], None),
    ]:
        if shutil.which(args[0]) is None:
            rows.append([name, "not installed (apt-get install aspell aspell-en hunspell hunspell-en-us)", "–"])
            continue
        seconds = command_time(one_core + args, stdin)
        found = subprocess.run(one_core + args, stdin=open(stdin or os.devnull, "rb"), capture_output=True).stdout.count(b"\n")
        results[name] = seconds
        rows.append([name, time_text(seconds), f"{found:,}"])
        log(f"  {name[:30]}: {time_text(seconds)}")
    started = time.perf_counter()
    findings = index.check(data.decode("utf-8"))
    alone = time.perf_counter() - started
    rows.append(["`Index.check(text)` alone, the index loaded", time_text(alone), f"{len(findings):,}"])
    return results, rows, len(data)


def section(quick=False, workdir=None, log=lambda message: print(message, file=sys.stderr)):
    out = ["## Issue 20: spell-checking whole texts", ""]
    if not have_sources():
        return out + [f"Not measured: the yardstick's source {SOURCES} is missing (apt-get install python3.11-doc).", ""]
    workdir = workdir or tempfile.mkdtemp(prefix="kelvaro-text-")
    os.makedirs(workdir, exist_ok=True)
    index = kelvaro.default_index()
    index.check("warm up the tables")
    lines = sentences(150 if quick else 1000)
    checker = symspell_checker()
    log(f"segmentation of {len(lines)} sentences")
    seg, seg_rows = segmentation(index, lines, checker, log)
    log("correction")
    cor, cor_rows, changed = correction(index, lines, checker, log)
    log("suspects on the clean sentences")
    per_5000, suspected = suspects_on_clean(index, lines)
    readme = [m.word for m in index.check("the dog, wich was asleep") if m.suspect]
    log("kelvaro check on a megabyte")
    chk, chk_rows, size = checking(index, workdir, log)

    ours, symspell, ws = (seg[k] for k in seg)
    fixed, theirs, _ = (cor[k] for k in cor)
    targets = [
        ("segment: sentences exactly right ≥ symspellpy word_segmentation's", f"{ours[3]:.1%} vs {symspell[3]:.1%}", ours[3] >= symspell[3]),
        ("segment: sentences exactly right ≥ wordsegment's", f"{ours[3]:.1%} vs {ws[3]:.1%}", ours[3] >= ws[3]),
        ("segment: ≥ 5× faster than symspellpy (median per sentence)", f"{symspell[1] / ours[1]:.1f}×", symspell[1] / ours[1] >= 5),
        ("correct: word error rate ≤ 0.8× symspellpy lookup_compound's", f"{fixed[0]:.1%} vs {theirs[0]:.1%} ({fixed[0] / theirs[0]:.2f}×)", fixed[0] <= 0.8 * theirs[0]),
        ("correct: ≥ 5× faster than lookup_compound (median per line)", f"{theirs[1] / fixed[1]:.1f}×", theirs[1] / fixed[1] >= 5),
        ("check: at most one suspect per 5,000 words of the clean sentences", f"{per_5000:.2f} ({', '.join(suspected[:8])}{'…' if len(suspected) > 8 else ''})", per_5000 <= 1),
        ("check: the README's \"the dog, wich was asleep\" reports wich", ", ".join(readme) or "nothing", readme == ["wich"]),
    ]
    whole = chk.get("`kelvaro check FILE` (3 suggestions per word)")
    if whole is not None:
        targets.append(("kelvaro check on 1 MB of English: under 1 s on one core", time_text(whole), whole < 1))
    out += ["### Targets", "", "| target | measured | met |", "|---|---|---|"]
    out += [f"| {name} | {value} | {'yes' if met else 'no'} |" for name, value, met in targets]
    out += ["", f"### Segmentation: {len(lines)} sentences, {sum(len(w) for w in lines):,} words, spaces removed", "",
            "Word accuracy: the share of the sentences' words found with exactly their boundaries; sentences "
            "exactly right, of all and of the even / odd halves (constants were fitted on the even half only). "
            "symspellpy and wordsegment use their own English counts; kelvaro's index holds 339,000 words"
            f"{pair_note(index)}.", ""]
    out += table(["segmenter", "word accuracy", "sentences exactly right", "even / odd", "median per sentence", "all sentences"], seg_rows)
    out += [f"### Correction: the same sentences, {changed} of them changed by the misspellings put in", "",
            "Misspellings from Norvig's test set 2 for half of the words it has misspellings of, and about one "
            "word in sixteen split in two and one gap in sixteen run together; compared lower-cased. symspellpy's "
            "lookup_compound has its bundled unigram and bigram counts.", ""]
    out += table(["corrector", "word error rate", "even / odd", "median per line", "all lines"], cor_rows)
    out += [f"### kelvaro check on {size:,} bytes of the Python documentation's sources", "",
            "Best of three runs of each command on one core; the last column counts the lines printed "
            "(kelvaro: one per finding; aspell and hunspell: one per misspelt word, without suggestions).", ""]
    out += table(["command", "time", "lines printed"], chk_rows)
    return out


def pair_note(index):
    if not index._pair_total():
        return ", without counts of word pairs"
    return f" and the {index._pair_total():,} word pairs it ships"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    print("\n".join(section(args.quick)))


if __name__ == "__main__":
    main()
