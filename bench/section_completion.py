"""Issue 14: Index.complete on prefixes of stored words, and at distance 0
against marisa-trie's keys(prefix)."""
from lookup_pass import seconds_per_call
from report_format import Targets, log, table, time_text, times_text
from timing import median, native_share, percentile
from word_lists import completion_prefixes


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
