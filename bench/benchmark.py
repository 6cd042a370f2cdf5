"""kelvaro against the libraries a user would pick instead, in one run.

`make bench` builds what this needs and runs it; it writes BENCHMARKS.md.

    python bench/benchmark.py --walk-timer-dir DIR [--pypy PYTHON] [--before-python PYTHON]
                              [--before-19-python PYTHON] [--output FILE] [--quick]

What it measures, in the order of BENCHMARKS.md, each against the targets
of the work that asked for it:
  - PrefixSearch's lookups: fuzzy_match against symspellpy, exact_match
    against marisa-trie, the typed walk against the general engine (both
    timed in C++ by the _walk_timer module), memory per node, from_bytes
    and from_internal_data; under CPython and, from a subprocess, PyPy.
  - Index.search against symspellpy at distances 1 to 3, the index's memory,
    Index.from_words, and loading a million-word index.
  - Index.suggest on Norvig's spelling test sets against symspellpy,
    pyspellchecker, aspell and hunspell, each with its own English
    dictionary, and search and complete against kelvaro as it was before
    issue 19 (bench/bench_spelling.py, whose docstring says how;
    --before-19-python names the environment of the version before).
  - Index.complete (when the package has it) on prefixes of stored words,
    and at distance 0 against marisa-trie's keys(prefix).
  - The native index: the batch calls on one and two threads, Python
    threads calling Index.search, a batch against the same lookups timed in
    C++ alone, single calls and exact lookups against their peers, and
    search_many against symspellpy in a loop and rapidfuzz's cdist on every
    core.
  - Running text (bench/bench_text.py).
  - The index's memory against marisa-trie's, a saved index loaded and
    shared by 8 processes, and the lookups against kelvaro as it was before
    issue 18 (bench/bench_memory.py, whose docstring says how; --before-python
    names the environment of the version before).
  - Starting up with the English index, cached and mapped: kelvaro check of
    a small file against aspell and hunspell, default_index() and a first
    suggestion against symspellpy's load, and 8 processes holding it
    (bench/section_start.py, whose docstring says how).
  - kelvaro check on real trees with typos put in, against typos and
    codespell (bench/bench_check.py, whose docstring says how).

Dictionaries: Debian's wamerican-huge, and 300,000 generated words over
3,000 CJK ideographs. Queries: dictionary words with 0 to 2 random
substitutions, insertions or deletions. Everything random has a fixed seed,
so two runs measure the same work.

Times are per call, from Python: a call is repeated until the repetitions
take 50 µs, and the fastest of three such rounds counts (one round for a
call of over 2 ms, and the first call alone for one of over 20 ms). kelvaro and its peer are timed in the same way on the
same queries, and a row gives the median over its queries. A ratio is
kelvaro's median over the peer's: below 1, kelvaro is faster.
"""
import argparse
import datetime
import gc
import importlib.metadata
import os
import platform
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import kelvaro  # noqa: E402
from dictionaries import Dictionary, SymSpellPeer  # noqa: E402
from lookup_pass import seconds_per_call  # noqa: E402
from report_format import log  # noqa: E402
from resident_memory import measure_memory, memory_in_fresh_process  # noqa: E402
from timing import best_of, median  # noqa: E402
from word_lists import HUGE, INSANE, cjk_words, read_words  # noqa: E402
from section_lookups import construction_rows, issue_10, prefix_search_rows, pypy_pass, walk_factor_rows  # noqa: E402
from section_search import index_search_rows, issue_12, million_word_index  # noqa: E402
from section_completion import issue_14  # noqa: E402
from section_threads import batch_rows, issue_17  # noqa: E402
import bench_memory  # noqa: E402
import bench_spelling  # noqa: E402
import bench_check  # noqa: E402
import bench_text  # noqa: E402
import section_start  # noqa: E402


def versions():
    found = {}
    for name in ("kelvaro", "symspellpy", "marisa-trie", "rapidfuzz"):
        try:
            found[name] = importlib.metadata.version(name)
        except importlib.metadata.PackageNotFoundError:
            found[name] = "(not installed)"
    return found


def machine():
    model = platform.processor() or "unknown processor"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return f"{model}, {os.cpu_count()} cores, {memory:.0f} GiB, {platform.platform()}"


def rapidfuzz_check(ds, count):
    """A scan of every word by rapidfuzz finds the same set as fuzzy_match: a
    check that the lookups being timed answer correctly."""
    from rapidfuzz import process
    from rapidfuzz.distance import Levenshtein

    equal = 0
    for query in ds.queries[:count]:
        found = process.extract(query, ds.words, scorer=Levenshtein.distance, score_cutoff=1, limit=None)
        equal += {(w, i, s) for w, s, i in found} == set(ds.trie.fuzzy_match(query, 1, None))
    return equal


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--walk-timer-dir", help="where the _walk_timer module was built")
    parser.add_argument("--pypy", help="a PyPy interpreter with kelvaro installed, for the PyPy pass")
    parser.add_argument("--output", default=os.path.join(HERE, "..", "BENCHMARKS.md"))
    parser.add_argument("--workdir", default=None)
    parser.add_argument("--quick", action="store_true", help="a few queries per row, for trying the benchmark out")
    parser.add_argument("--before-python", help="a Python with kelvaro as it was before issue 18, for its rows")
    parser.add_argument("--before-19-python", help="a Python with kelvaro as it was before issue 19, for its rows")
    parser.add_argument("--measure-memory", nargs=2, metavar=("KIND", "PATH"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure_memory:
        measure_memory(*args.measure_memory)
        return
    if not args.walk_timer_dir:
        parser.error("--walk-timer-dir is required")
    sys.path.insert(0, args.walk_timer_dir)
    import _walk_timer
    import marisa_trie

    for path in (HUGE, INSANE):
        if not os.path.exists(path):
            sys.exit(f"missing {path}: apt-get install wamerican-huge wamerican-insane")
    workdir = args.workdir or tempfile.mkdtemp(prefix="kelvaro-bench-")
    os.makedirs(workdir, exist_ok=True)
    # The English index is cached here, never in the user's own cache.
    os.environ["KELVARO_CACHE_DIR"] = os.path.join(workdir, "cache")
    started = time.perf_counter()
    queries = 60 if args.quick else 400
    deep = 40 if args.quick else 300  # distance 3 on Index.search
    runs = 1 if args.quick else 3

    log("building the dictionaries")
    datasets = [
        Dictionary("wamerican-huge", read_words(HUGE), workdir, queries, _walk_timer),
        Dictionary("cjk", cjk_words(), workdir, queries, _walk_timer),
    ]
    lookup_rows, search_rows, walk_rows, construction, rss_trie, rss_index, build_times = [], [], [], {}, {}, {}, {}
    batches, marisa_in = {}, {}
    for ds in datasets:
        log(f"{ds.name}: {len(ds.words):,} words, {ds.nodes:,} nodes; symspellpy")
        symspell = SymSpellPeer(ds.words, 3)
        marisa = marisa_trie.Trie(ds.words)
        lookup_rows += prefix_search_rows(ds, symspell, marisa, [1, 2] if ds.name == "wamerican-huge" else [1])
        marisa_in[ds.name] = median([seconds_per_call(marisa.__contains__, q) for q in ds.queries])
        batches[ds.name] = batch_rows(ds, symspell, _walk_timer, 2000 if args.quick else 20000, runs,
                                      40 if args.quick else 200)
        search_rows += index_search_rows(ds, symspell, [1, 2, 3], deep)
        ds.symspell = (symspell.build_seconds, symspell.memory)
        del symspell, marisa
        gc.collect()
        walk_rows += walk_factor_rows(ds, _walk_timer, [1, 2] if ds.name == "wamerican-huge" else [1],
                                      queries, 3)
        construction[ds.name] = construction_rows(ds, runs if args.quick else 7)
        rss_trie[ds.name] = memory_in_fresh_process("trie", ds.path + ".kelvaro")[0]
        rss_index[ds.name] = memory_in_fresh_process("index", ds.path + ".index")
        forward = best_of(lambda: kelvaro.Index.from_words(ds.words), runs)
        whole = best_of(lambda: kelvaro.Index.from_words(ds.words).search(ds.words[0], 1), runs)
        build_times[ds.name] = (forward, whole)
    log("the rapidfuzz check")
    rapidfuzz_equal = rapidfuzz_check(datasets[0], 10 if args.quick else 50)
    log("a million-word index")
    million = million_word_index(workdir, runs + 2)
    log("the PyPy pass")
    pypy_times, pypy_name = pypy_pass(args.pypy, workdir, datasets, lookup_rows)
    log("spelling correction")
    english = kelvaro.default_index()
    english.search("the", 1)
    spelling = bench_spelling.section(args.quick, os.path.join(workdir, "spelling"), log, _walk_timer,
                                      args.before_19_python, english)
    log("completion")
    completion, completion_median = issue_14(english, 300 if args.quick else 1000, _walk_timer)
    log("running text")
    text = bench_text.section(args.quick, os.path.join(workdir, "text"), log)
    log("memory and the mapped index")
    mapped = bench_memory.section(args.quick, os.path.join(workdir, "memory"), log, args.before_python)
    log("starting up with the English index")
    start = section_start.issue_27(args.quick, os.path.join(workdir, "start"), log)
    log("checking real trees")
    trees = bench_check.section(args.quick, os.path.join(workdir, "check"), log)
    elapsed = time.perf_counter() - started

    header = [
        "# Benchmarks",
        "",
        "Written by `make bench` (bench/benchmark.py, whose docstring says how it measures)"
        + (", in its quick mode: few queries, rough figures." if args.quick else "."),
        "",
        f"- Date: {datetime.date.today().isoformat()}; the run took {elapsed / 60:.1f} minutes"
        " (the benchmark itself, builds not counted).",
        f"- Machine: {machine()}",
        f"- CPython {platform.python_version()}"
        + (f", {pypy_name}" if pypy_times else "") + "; "
        + ", ".join(f"{name} {version}" for name, version in versions().items()),
        f"- Dictionaries: {', '.join(f'{ds.name} ({len(ds.words):,} words, {ds.nodes:,} nodes)' for ds in datasets)}; "
        f"the CJK dictionary is generated: words of 1 to 4 characters over 3,000 ideographs.",
        f"- Queries: {queries} per row (Index.search at distance 3: {deep}), dictionary words with 0 to 2 random "
        "edits; ratios are kelvaro's median over the peer's, below 1 kelvaro is faster.",
        f"- symspellpy's dictionaries are built for distance 3, the deepest lookup asked of them: "
        + "; ".join(f"{ds.name} in {ds.symspell[0]:.0f} s, {ds.symspell[1] / 2**20:,.0f} MiB" for ds in datasets)
        + f". A rapidfuzz scan of every word agrees with fuzzy_match at distance 1 on "
        f"{rapidfuzz_equal}/{10 if args.quick else 50} queries.",
        "",
    ]
    sections = (issue_10(datasets, lookup_rows, pypy_times, pypy_name, walk_rows, construction, rss_trie)
                + issue_12(datasets, search_rows, build_times, rss_index, million) + spelling + completion
                + issue_17(datasets, batches, search_rows, marisa_in, completion_median) + text + mapped + start + trees)
    with open(args.output, "w", encoding="utf-8") as f:
        f.write("\n".join(header + sections))
    log(f"wrote {args.output} in {elapsed / 60:.1f} minutes")


if __name__ == "__main__":
    main()
