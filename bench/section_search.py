"""Issue 12: Index.search, forward and backward, against symspellpy; the
index's memory, its build, and loading a million-word index."""
import gc
import os
import time

import kelvaro
from lookup_pass import seconds_per_call, time_row
from report_format import Targets, log, table, time_text, times_text
from timing import median
from word_lists import INSANE, mixed_words, read_words


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
