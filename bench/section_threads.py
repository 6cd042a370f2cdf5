"""Issue 17: one native index, every core.

The batch calls on one and two threads, Python threads calling
Index.search, a batch against the same lookups timed in C++ alone, single
calls and exact lookups against marisa-trie, and search_many against
symspellpy in a loop and rapidfuzz's cdist on every core.
"""
from lookup_pass import seconds_per_call
from report_format import Targets, log, table, time_text, times_text
from timing import best_of, median
from word_lists import SEED, make_queries


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
