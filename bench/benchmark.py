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
import json
import os
import platform
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import _kelvaro  # noqa: E402
import kelvaro  # noqa: E402
from dictionaries import Dictionary, SymSpellPeer  # noqa: E402
from lookup_pass import seconds_per_call, time_row  # noqa: E402
from report_format import Targets, log, table, time_text, times_text  # noqa: E402
from resident_memory import measure_memory, memory_in_fresh_process  # noqa: E402
from timing import best_of, median, native_share, percentile  # noqa: E402
from trie_arrays import build_arrays  # noqa: E402
from word_lists import HUGE, INSANE, SEED, cjk_words, completion_prefixes, make_queries, mixed_words, read_words  # noqa: E402

# Before the typed walk, fuzzy_match at distance 1 on the CJK dictionary took
# this long per query, as measured for the issue that asked for the walk.
CJK_FUZZY_BEFORE = 11e-3


# --- issue 10: PrefixSearch's lookups ---------------------------------------------


def prefix_search_rows(ds, symspell, marisa, fuzzy_distances):
    """fuzzy_match against symspellpy, exact_match against marisa-trie, under CPython."""
    rows = []
    for distance in fuzzy_distances:
        ours = time_row(ds.trie, "fuzzy", distance, ds.queries)
        theirs = [seconds_per_call(symspell.lookup, q, distance) for q in ds.queries]
        rows.append(
            {"key": f"{ds.name} fuzzy {distance}", "lookup": f"fuzzy_match d={distance}, limit None",
             "kind": "fuzzy", "max_dist": distance, "queries": ds.queries, "kelvaro": ours,
             "peer": f"symspellpy lookup(ALL, max_edit_distance={distance})", "peer_times": theirs}
        )
        log(f"  {ds.name} fuzzy d={distance}: {time_text(median(ours))} vs {time_text(median(theirs))}")
    for kind, queries in (("hits", ds.hits), ("misses", ds.misses)):
        ours = time_row(ds.trie, "exact", 0, queries)
        theirs = [seconds_per_call(marisa.__contains__, q) for q in queries]
        rows.append(
            {"key": f"{ds.name} exact {kind}", "lookup": f"exact_match, {kind}", "kind": "exact",
             "max_dist": 0, "queries": queries, "kelvaro": ours, "peer": "marisa-trie `key in trie`",
             "peer_times": theirs}
        )
        log(f"  {ds.name} exact {kind}: {time_text(median(ours))} vs {time_text(median(theirs))}")
    return rows


def pypy_pass(pypy, workdir, datasets, rows):
    """The same lookup rows under PyPy, in a subprocess; its times by row key, or None."""
    if not pypy:
        return None, "no PyPy environment was given (--pypy)"
    job = []
    for ds in datasets:
        mine = [r for r in rows if r["key"].startswith(ds.name + " ")]
        job.append(
            {"trie": ds.path + ".kelvaro",
             "rows": [{"key": r["key"], "kind": r["kind"], "max_dist": r["max_dist"],
                       "queries": r["queries"]} for r in mine]}
        )
    path = os.path.join(workdir, "pypy-job.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(job, f)
    done = subprocess.run(
        [pypy, os.path.join(HERE, "lookup_pass.py"), path], capture_output=True, text=True
    )
    if done.returncode != 0:
        return None, "the PyPy pass failed: " + done.stderr.strip().splitlines()[-1]
    result = json.loads(done.stdout)
    return result["times"], result["interpreter"]


def walk_factor_rows(ds, walk_timer, distances, count, repeats):
    """The typed walk against the general engine, both timed in C++."""
    rows = []
    for distance in distances:
        pairs = walk_timer.time_walks(ds.timed, ds.queries[:count], distance, None, repeats)
        typed = [t for t, _ in pairs]
        general = [g for _, g in pairs]
        rows.append(
            [ds.name, distance, len(pairs), time_text(median(typed) * 1e-9), time_text(median(general) * 1e-9),
             times_text(median([g / t for t, g in pairs])), times_text(sum(general) / sum(typed))]
        )
        log(f"  {ds.name} typed vs general d={distance}: {rows[-1][5]}")
    return rows


def construction_rows(ds, runs):
    arrays = build_arrays(ds.words, range(len(ds.words)))
    nodes = len(arrays[0])
    building = best_of(lambda: _kelvaro.from_internal_data(*arrays), runs)
    loading = best_of(lambda: _kelvaro.from_bytes(ds.data), runs)
    return nodes / building, len(ds.data) / loading


def issue_10(datasets, rows, pypy_times, pypy_name, walk_rows, construction, rss):
    huge, cjk = datasets
    by_key = {r["key"]: r for r in rows}

    def ratio(key, times=None):
        r = by_key[key]
        return median(times if times is not None else r["kelvaro"]) / median(r["peer_times"])

    def pypy_ratio(key):
        return ratio(key, pypy_times[key]) if pypy_times else float("nan")

    def with_pypy(key):
        text = times_text(ratio(key))
        return text + (f" (PyPy {times_text(pypy_ratio(key))})" if pypy_times else "")

    t = Targets()
    t.add("fuzzy_match d=1 on wamerican-huge ≤ 1.0× symspellpy ALL", with_pypy(f"{huge.name} fuzzy 1"),
          ratio(f"{huge.name} fuzzy 1") <= 1.0)
    t.add("fuzzy_match d=2 on wamerican-huge ≤ 0.5× symspellpy ALL", with_pypy(f"{huge.name} fuzzy 2"),
          ratio(f"{huge.name} fuzzy 2") <= 0.5)
    for ds in datasets:
        for kind in ("hits", "misses"):
            key = f"{ds.name} exact {kind}"
            t.add(f"exact_match {kind} on {ds.name} ≤ 1.0× marisa-trie", with_pypy(key), ratio(key) <= 1.0)
    cjk_now = median(by_key[f"{cjk.name} fuzzy 1"]["kelvaro"])
    t.add(
        "fuzzy_match d=1 on CJK ≥ 10× faster than before (11 ms, as quoted in the issue)",
        f"{time_text(cjk_now)}: {times_text(CJK_FUZZY_BEFORE / cjk_now)} faster",
        CJK_FUZZY_BEFORE / cjk_now >= 10,
    )
    t.add("typed walk against the general engine, in C++ (reported)",
          "; ".join(f"{r[0]} d={r[1]}: {r[5]} faster" for r in walk_rows), True)
    per_node = huge.memory["forward"] / huge.nodes
    t.add("memory ≤ 28 bytes per node (wamerican-huge)", f"{per_node:.1f} B", per_node <= 28)
    rate = construction[huge.name][1] / 1e6
    t.add("from_bytes ≥ 300 MB/s (wamerican-huge)", f"{rate:,.0f} MB/s", rate >= 300)
    nodes_rate = construction[huge.name][0] / 1e6
    t.add("from_internal_data ≥ 10 M nodes/s (wamerican-huge)", f"{nodes_rate:.1f} M nodes/s", nodes_rate >= 10)

    out = ["## Issue 10: PrefixSearch's lookups", "", "### Targets", ""] + t.lines()
    out += ["### Lookups, CPython and PyPy", ""]
    if pypy_times is None:
        out += [f"No PyPy figures: {pypy_name}.", ""]
    body = []
    for r in rows:
        pypy = pypy_times[r["key"]] if pypy_times else None
        body.append(
            [r["key"].split(" ")[0], r["lookup"], len(r["queries"]), time_text(median(r["kelvaro"])),
             time_text(median(pypy)) if pypy else "–", r["peer"], time_text(median(r["peer_times"])),
             times_text(ratio(r["key"])), times_text(pypy_ratio(r["key"])) if pypy else "–"]
        )
    out += table(["dictionary", "lookup", "queries", "kelvaro, CPython", "kelvaro, PyPy", "peer",
                  "peer, CPython", "CPython ÷ peer", "PyPy ÷ peer"], body)
    out += [f"PyPy: {pypy_name}; the peers run under CPython only (PyPy cannot install them), so PyPy's "
            "ratio compares kelvaro under PyPy with the peer under CPython.", ""]
    out += ["### The typed walk against the general engine, both timed in C++", "",
            "Each query's fuzzy_match run by the typed walk and by the general engine (dfs and Matcher), "
            "alternately, the fastest of three runs each; the two must find as many matches.", ""]
    out += table(["dictionary", "distance", "queries", "typed walk", "general engine",
                  "factor, median per query", "factor, total time"], walk_rows)
    out += ["### Memory per node", "",
            "The trie's arrays as the C++ core holds them (capacity × element size), and the resident memory "
            "that from_bytes adds, measured in a fresh interpreter.", ""]
    body = []
    names = [("node_shifts", "node_shifts, 4 B a node"), ("node_chars", "node_chars, 4 B a node"),
             ("node_payloads", "node_payloads, 8 B a node (an optional 32-bit payload)"),
             ("child_indices", "child_indices, 4 B a child"),
             ("run_chars", "side array: run characters, 4 B a child"),
             ("length_bounds", "side array: word-length bounds, 2 B a node"), ("forward", "all")]
    for key, label in names:
        body.append([label] + [f"{ds.memory[key]:,} ({ds.memory[key] / ds.nodes:.1f} B/node)" for ds in datasets])
    body.append(["resident memory after from_bytes"] + [f"{rss[ds.name]:,} ({rss[ds.name] / ds.nodes:.1f} B/node)"
                                                       for ds in datasets])
    out += table(["array"] + [f"{ds.name} ({ds.nodes:,} nodes)" for ds in datasets], body)
    out += ["### Construction", ""]
    out += table(["dictionary", "from_internal_data", "from_bytes"],
                 [[ds.name, f"{construction[ds.name][0] / 1e6:.1f} M nodes/s",
                   f"{construction[ds.name][1] / 1e6:,.0f} MB/s"] for ds in datasets])
    return out


# --- issue 12: Index.search -----------------------------------------------------


def index_search_rows(ds, symspell, distances, deep_count):
    rows = []
    for distance in distances:
        queries = ds.queries if distance < 3 else ds.queries[:deep_count]
        search = ds.index.search
        ours = [seconds_per_call(search, q, distance) for q in queries]
        # On a large alphabet a short query at distance 2 or more reaches most
        # of the dictionary, and the plain walk then adds minutes to the run
        # without telling anything new.
        wide = ds.name == "cjk" and distance >= 2
        plain = [] if wide else time_row(ds.trie, "fuzzy", distance, queries)
        theirs = [seconds_per_call(symspell.lookup, q, distance) for q in queries]
        checked = queries[:20] if wide else queries
        differing = 0
        for q in checked:
            found = {(m.word, m.distance) for m in search(q, distance)}
            assert found == {(text, d) for text, _, d in ds.trie.fuzzy_match(q, distance, None)}, q
            differing += found != {(s.term, s.distance) for s in symspell.lookup(q, distance)}
        rows.append({"dictionary": ds.name, "distance": distance, "queries": len(queries), "kelvaro": ours,
                     "plain": plain, "peer": theirs, "differing": (differing, len(checked))})
        log(f"  {ds.name} Index.search d={distance}: {time_text(median(ours))} vs {time_text(median(theirs))}")
    return rows


def million_word_index(workdir, runs):
    """A million-word index (wamerican-insane, then generated words): loading it,
    and its first search, which makes the reversed trie."""
    words = read_words(INSANE)
    words += mixed_words(1_000_000 - len(words))
    index = kelvaro.Index.from_words(words)
    path = os.path.join(workdir, "million.index")
    index.save(path)
    size = os.path.getsize(path)
    query = words[len(words) // 2]
    del index, words
    loads, firsts = [], []
    for _ in range(runs):
        gc.collect()
        start = time.perf_counter()
        loaded = kelvaro.Index.load(path)
        middle = time.perf_counter()
        loaded.search(query, 1)
        loads.append(middle - start)
        firsts.append(time.perf_counter() - middle)
        del loaded
    return size, median(loads), median(firsts)


def index_bytes(memory):
    """Everything an index holds once searched: its trie, folded as the index
    keeps it, and the lookup tables of its first search (the reversed trie
    and the largest value below each folded node of the forward trie)."""
    return memory["index_forward"] + memory["reversed"] + memory["best_below"]


def issue_12(datasets, rows, build_times, rss, million):
    t = Targets()
    for r in rows:
        bound = 0.5 if r["distance"] == 3 else 0.3
        value = median(r["kelvaro"]) / median(r["peer"])
        t.add(f"Index.search d={r['distance']} on {r['dictionary']} ≤ {bound}× symspellpy ALL", times_text(value),
              value <= bound)
    for ds in datasets:
        factor = index_bytes(ds.memory) / ds.memory["index_forward"]
        alone = (ds.memory["index_forward"] + ds.memory["reversed"]) / ds.memory["index_forward"]
        t.add(f"index memory ≤ 2.5× the forward trie ({ds.name})",
              f"{times_text(factor)} ({times_text(alone)} without completion's values below each node)",
              factor <= 2.5)
    for ds in datasets:
        forward, whole = build_times[ds.name]
        t.add(f"Index.from_words and its reversed trie ≤ 2× from_words' forward build ({ds.name})",
              f"{time_text(whole)} against {time_text(forward)}: {times_text(whole / forward)}", whole / forward <= 2)
    size, load, first = million
    t.add("Index.load of a million-word index < 0.3 s", time_text(load), load < 0.3)

    out = ["## Issue 12: Index.search, forward and backward", "", "### Targets", ""] + t.lines()
    out += ["### Searches", "",
            "Index.search with limit None; fuzzy_match (the plain walk of the same trie) beside it, for scale. "
            "Both find the same words; symspellpy counts a swap of neighbours as one edit, so its sets differ "
            "where a query has one (last column).", ""]
    body = [[r["dictionary"], r["distance"], r["queries"], time_text(median(r["kelvaro"])),
             time_text(median(r["plain"])), time_text(median(r["peer"])),
             times_text(median(r["kelvaro"]) / median(r["peer"])), "{}/{}".format(*r["differing"])]
            for r in rows]
    out += table(["dictionary", "distance", "queries", "Index.search", "fuzzy_match", "symspellpy ALL",
                  "search ÷ symspellpy", "sets differing"], body)
    out += ["### Memory and building", "",
            "The index's tries as the C++ core holds them, and the resident memory of Index.load and of the "
            "first search (which makes the reversed trie), each in a fresh interpreter; the latter holds what "
            "the allocator kept of the build's scratch memory too. Index.from_words "
            "makes the forward trie; the reversed trie is made on the first search, so the build is compared "
            "as from_words alone against from_words followed by that first search.", ""]
    body = []
    for ds in datasets:
        resident_load, resident_first = rss[ds.name]
        forward, whole = build_times[ds.name]
        body.append([ds.name, f"{ds.memory['index_forward']:,}", f"{ds.memory['reversed']:,}",
                     f"{ds.memory['reversed_nodes']:,}",
                     f"{ds.memory['best_below']:,}",
                     f"{index_bytes(ds.memory):,}", f"{resident_load:,}", f"{resident_first:,}",
                     time_text(forward), time_text(whole)])
    out += table(["dictionary", "forward trie, bytes", "reversed trie, bytes", "reversed trie, nodes",
                  "values below each node", "index, bytes", "resident: Index.load", "resident: first search",
                  "from_words", "from_words + first search"],
                 body)
    out += [f"A million-word index (wamerican-insane and generated words over four scripts), {size:,} bytes on "
            f"disk: Index.load {time_text(load)}, then its first search {time_text(first)} (the reversed trie "
            "is made then), medians of the runs.", ""]
    return out


# --- issue 17: one native index, every core --------------------------------------


def throughput(call, count, runs):
    """Queries per second of call() answering `count` queries, best of `runs`."""
    return count / best_of(call, runs)


def python_threads(index, queries, threads):
    """Queries per second of `threads` Python threads calling Index.search
    at distance 1, each on its share of the queries."""
    import threading

    shares = [queries[i::threads] for i in range(threads)]

    def work(share):
        for q in share:
            index.search(q, 1)

    def run():
        workers = [threading.Thread(target=work, args=(share,)) for share in shares]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()

    return run


def batch_rows(ds, symspell, walk_timer, batch, runs, peer_sample):
    """Batches on 1 and 2 threads, Python threads, the batch against the C++
    lookup alone, and the peers' throughput, for one dictionary."""
    index = ds.index
    queries = make_queries(ds.words, batch, seed=SEED + 17)
    index.search_many(queries[:100], 1)
    rows = {"dictionary": ds.name, "batch": len(queries)}
    suggested = batch // 5 if ds.name != "cjk" else batch // 50
    for name, many, single, count in [
        ("search_many d=1", lambda t: index.search_many(queries, 1, threads=t), lambda: [index.search(q, 1) for q in queries], len(queries)),
        # On the CJK dictionary a suggestion at distance 2 reaches most of
        # the dictionary (tens of milliseconds): a few hundred suffice.
        ("suggest_many", lambda t: index.suggest_many(queries[:suggested], threads=t), None, suggested),
        ("complete_many", lambda t: index.complete_many([q[:3] for q in queries], threads=t), None, len(queries)),
    ]:
        one = throughput(lambda: many(1), count, runs)
        two = throughput(lambda: many(2), count, runs)
        rows[name] = (one, two)
        log(f"  {ds.name} {name}: {one:,.0f}/s on 1 thread, {two:,.0f}/s on 2 ({two / one:.2f}x)")
    one = throughput(python_threads(index, queries, 1), len(queries), runs)
    two = throughput(python_threads(index, queries, 2), len(queries), runs)
    rows["python threads"] = (one, two)
    log(f"  {ds.name} Python threads calling search: {two / one:.2f}x")
    # The batch on one thread against the same lookups in C++ alone.
    native = sum(walk_timer.time_index(ds.timed, "search", queries, 1, None, False, 1)) / 1e9
    batch_seconds = best_of(lambda: index.search_many(queries, 1, threads=1), runs)
    rows["overhead"] = batch_seconds / native
    # The peers: symspellpy in a loop, rapidfuzz scanning every word on all cores.
    sample = queries[:peer_sample]
    rows["symspellpy"] = throughput(lambda: [symspell.lookup(q, 1) for q in sample], len(sample), 1)
    try:
        from rapidfuzz import process
        from rapidfuzz.distance import Levenshtein

        rows["rapidfuzz"] = throughput(
            lambda: process.cdist(sample, ds.words, scorer=Levenshtein.distance, score_cutoff=1, workers=-1),
            len(sample), 1)
    except ImportError:
        rows["rapidfuzz"] = None
    rows["kelvaro"] = throughput(lambda: index.search_many(sample, 1), len(sample), runs)
    # Single calls and exact lookups.
    rows["search"] = [seconds_per_call(index.search, q, 1) for q in ds.queries]
    rows["get"] = [seconds_per_call(index.get, q) for q in ds.queries]
    rows["in"] = [seconds_per_call(index.__contains__, q) for q in ds.queries]
    return rows


def issue_17(datasets, batches, search_rows, marisa_in, completion_median):
    t = Targets()
    huge, cjk = batches["wamerican-huge"], batches["cjk"]
    speed = huge["search_many d=1"][1] / huge["search_many d=1"][0]
    t.add(f"search_many d=1, wamerican-huge, {huge['batch']:,} queries: threads=2 ≥ 1.8× threads=1",
          times_text(speed), speed >= 1.8)
    speed = huge["python threads"][1] / huge["python threads"][0]
    t.add("two Python threads calling Index.search ≥ 1.6× one thread", times_text(speed), speed >= 1.6)
    t.add("search_many(threads=1) d=1 within 1.15× of the C++ lookup alone", times_text(huge["overhead"]),
          huge["overhead"] <= 1.15)
    search_huge = median(huge["search"])
    t.add("Index.search d=1 on wamerican-huge ≤ 3.5 µs median", time_text(search_huge), search_huge <= 3.5e-6)
    cjk_peer = next(median(r["peer"]) for r in search_rows if r["dictionary"] == "cjk" and r["distance"] == 1)
    ratio = median(cjk["search"]) / cjk_peer
    t.add("Index.search d=1 on cjk ≤ 0.5× symspellpy", times_text(ratio), ratio <= 0.5)
    for ds in datasets:
        rows = batches[ds.name]
        for call in ("get", "in"):
            ratio = median(rows[call]) / marisa_in[ds.name]
            t.add(f"Index.{'get' if call == 'get' else '__contains__'} on {ds.name} ≤ 1× marisa-trie `in`",
                  f"{time_text(median(rows[call]))}: {times_text(ratio)}", ratio <= 1)
    t.add("complete median ≤ 15 µs", time_text(completion_median), completion_median <= 15e-6)
    out = ["## Issue 17: one native index, every core", "", "### Targets", ""] + t.lines()
    body = []
    for ds in datasets:
        rows = batches[ds.name]
        for name in ("search_many d=1", "suggest_many", "complete_many", "python threads"):
            one, two = rows[name]
            label = "two Python threads calling Index.search d=1" if name == "python threads" else name
            body.append([ds.name, label, f"{one:,.0f}/s", f"{two:,.0f}/s", times_text(two / one)])
    out += ["### Threads", "",
            "Queries per second on 1 and 2 threads (this machine has 2 cores); "
            "suggest_many takes a fifth of the queries (a fiftieth on cjk), complete_many their first three "
            "characters.", ""]
    out += table(["dictionary", "call", "1 thread", "2 threads", "speed-up"], body)
    body = []
    for ds in datasets:
        rows = batches[ds.name]
        rapid = rows["rapidfuzz"]
        body.append([ds.name, f"{rows['kelvaro']:,.0f}/s", f"{rows['symspellpy']:,.0f}/s",
                     times_text(rows["kelvaro"] / rows["symspellpy"]),
                     "not installed" if rapid is None else f"{rapid:,.0f}/s",
                     "–" if rapid is None else times_text(rows["kelvaro"] / rapid),
                     times_text(rows["overhead"])])
    out += ["### Against the peers", "",
            "search_many at distance 1 on every core, against symspellpy's lookup in a loop and rapidfuzz's "
            "process.cdist (Levenshtein, score_cutoff=1, workers=-1, which compares each query with every word), "
            "on the same sample of queries; throughput ratios, above 1 kelvaro is faster. The last column is "
            "search_many on one thread over the same lookups timed in C++ alone (WordIndex::search).", ""]
    out += table(["dictionary", "kelvaro search_many", "symspellpy loop", "kelvaro ÷ symspellpy",
                  "rapidfuzz cdist", "kelvaro ÷ rapidfuzz", "batch ÷ C++ alone"], body)
    return out


# --- issue 14: completion ---------------------------------------------------------


def issue_14(index, count, walk_timer):
    import marisa_trie

    keys = sorted({word.casefold() for word in index})
    prefixes = completion_prefixes(keys, count)
    memory = walk_timer.memory(walk_timer.load(index.trie.to_bytes()))
    t = Targets()
    out = ["## Issue 14: completion", ""]
    if not hasattr(index, "complete"):
        t.add("complete(prefix, max_dist=1, limit=10): median ≤ 100 µs", "Index.complete is not available", None)
        t.add("complete(prefix, max_dist=1, limit=10): 99th percentile ≤ 1 ms", "Index.complete is not available",
              None)
        return out + ["### Targets", ""] + t.lines(), float("nan")
    times = [seconds_per_call(index.complete, p, 1, 10) for p in prefixes]
    typical, tail = median(times), percentile(times, 0.99)
    t.add("complete(prefix, max_dist=1, limit=10): median ≤ 100 µs", time_text(typical), typical <= 100e-6)
    t.add("complete(prefix, max_dist=1, limit=10): 99th percentile ≤ 1 ms", time_text(tail), tail <= 1e-3)
    marisa = marisa_trie.Trie(keys)
    exact = [seconds_per_call(index.complete, p, 0, 10) for p in prefixes]
    theirs = [seconds_per_call(lambda p: marisa.keys(p)[:10], p) for p in prefixes]
    log(f"  complete d=1: {time_text(typical)}, p99 {time_text(tail)}")
    body = [["complete(prefix, 1, 10)", time_text(typical), time_text(percentile(times, 0.9)), time_text(tail), "–"],
            ["complete(prefix, 0, 10)", time_text(median(exact)), time_text(percentile(exact, 0.9)),
             time_text(percentile(exact, 0.99)), times_text(median(exact) / median(theirs))],
            ["marisa-trie keys(prefix)[:10]", time_text(median(theirs)), time_text(percentile(theirs, 0.9)),
             time_text(percentile(theirs, 0.99)), "–"]]
    native = native_share(walk_timer, index, "complete", prefixes, 1, 10)
    if native:
        body.append(["its C++ lookup alone (WordIndex::complete)", time_text(median(native)),
                     time_text(percentile(native, 0.9)), time_text(percentile(native, 0.99)), "–"])
    by_length = {}
    for p, s in zip(prefixes, times):
        by_length.setdefault(len(p), []).append(s)
    out += ["### Targets", ""] + t.lines()
    out += [f"### {len(prefixes)} prefixes of the shipped English index ({len(keys):,} keys)", "",
            "Prefixes of 1 to 8 letters of stored words, every third with one random edit.", ""]
    out += table(["call", "median", "90th percentile", "99th percentile", "÷ marisa-trie (medians)"], body)
    out += table(["prefix length"] + [str(n) if n <= 8 else f"{n} (typo inserted)" for n in sorted(by_length)],
                 [["complete(prefix, 1, 10), median"] + [time_text(median(by_length[n])) for n in sorted(by_length)]])
    out += [f"Memory: completion keeps the largest value below each node, {memory['best_below'] / memory['nodes']:.0f} "
            f"B a node ({memory['best_below']:,} bytes over the index's {memory['nodes']:,} nodes).", ""]
    return out, typical


# --- the run -------------------------------------------------------------------------


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
    import bench_spelling

    spelling = bench_spelling.section(args.quick, os.path.join(workdir, "spelling"), log, _walk_timer,
                                      args.before_19_python, english)
    log("completion")
    completion, completion_median = issue_14(english, 300 if args.quick else 1000, _walk_timer)
    log("running text")
    import bench_text

    text = bench_text.section(args.quick, os.path.join(workdir, "text"), log)
    log("memory and the mapped index")
    import bench_memory

    mapped = bench_memory.section(args.quick, os.path.join(workdir, "memory"), log, args.before_python)
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
                + issue_17(datasets, batches, search_rows, marisa_in, completion_median) + text + mapped)
    with open(args.output, "w", encoding="utf-8") as f:
        f.write("\n".join(header + sections))
    log(f"wrote {args.output} in {elapsed / 60:.1f} minutes")


if __name__ == "__main__":
    main()
