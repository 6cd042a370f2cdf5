"""Issue 10: PrefixSearch's lookups, under CPython and PyPy.

fuzzy_match against symspellpy and exact_match against marisa-trie, timed
per query as lookup_pass.py times them (the PyPy pass runs that file in a
subprocess); the typed walk against the general engine, both timed in C++
by the _walk_timer module; memory per node, from_bytes and
from_internal_data.
"""
import json
import os
import subprocess

import _kelvaro
from lookup_pass import seconds_per_call, time_row
from report_format import Targets, log, table, time_text, times_text
from timing import best_of, median
from trie_arrays import build_arrays

HERE = os.path.dirname(os.path.abspath(__file__))
# Before the typed walk, fuzzy_match at distance 1 on the CJK dictionary took
# this long per query, as measured for the issue that asked for the walk.
CJK_FUZZY_BEFORE = 11e-3


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
