"""Issue 18's section of BENCHMARKS.md, written from the measurements."""

from __future__ import annotations

from memory_measure import BEFORE, WORKER_SEARCHES, WORKERS
from report_format import table, time_text
from speed_pass import speed_rows
from timing import median

# Entries of memory_usage() that sum up the parts rather than being one.
SUMMARIES = ("total", "mapped")


def usage_total(usage):
    """The bytes of every part: its "total" when it gives one."""
    if isinstance(usage.get("total"), int):
        return usage["total"]
    return sum(v for part, v in usage.items() if isinstance(v, int) and part not in SUMMARIES)


def times_text(value):
    """A ratio to three significant figures, however large; the other
    sections print one of 100 or more as a whole number."""
    return "–" if value != value else f"{value:.3g}×"


def bytes_text(count, keys=None):
    text = f"{count / 2**20:,.1f} MiB"
    return text + (f" ({count / keys:,.1f} B/key)" if keys else "")


def report(r, sizes, quick, before_python):
    small, large = min(sizes), max(sizes)
    out = ["## Issue 18: a compact index file that is mapped", ""]
    out += ["Keys: two-word phrases drawn at random (fixed seed) from wamerican-huge, "
            + " and ".join(f"{size:,}" for size in sizes) + " of them"
            + (" (a quick run)" if quick else "") + ". Every figure comes from a fresh "
            "interpreter (bench/bench_memory.py says how each is taken); memory is what a structure adds to "
            "its process. \"Before\" is kelvaro as it was at commit " + BEFORE
            + (", built and run in the same run." if before_python else ": not available in this run."), ""]

    def first(size, who):
        found = r.build.get((size, who))
        return found[0] if found else None

    t = []

    def target(name, measured, met):
        t.append([name, measured, "not measured" if met is None else "yes" if met else "no"])

    # Memory of the index with everything a search needs: as built (after
    # its first search and malloc_trim), and as loaded from its file (after
    # the searches of c).
    def loaded_first(size, who):
        found = r.load.get((size, who))
        return found[0] if found else None

    ways = (("built", first, "trimmed"), (f"loaded, after {WORKER_SEARCHES:,} searches", loaded_first, "all_memory"))
    for way, source, field in ways:
        ours = source(large, "now")
        if ours is None:
            target(f"index memory ≤ 100 B/key, {way} ({large:,} keys)", "not measured", None)
            continue
        per_key = ours[field]["pss"] / large
        usage = ours.get("usage")
        reported = f"; memory_usage() total: {usage_total(usage) / large:,.1f} B/key" if usage else ""
        target(f"index memory ≤ 100 B/key, {way} ({large:,} keys)", f"{per_key:,.1f} B/key{reported}",
               per_key <= 100)
    for way, source, field in ways:
        for size in sizes:
            ours, theirs = source(size, "now"), source(size, "marisa-trie")
            if ours is None or theirs is None:
                target(f"index memory ≤ 2.5× marisa-trie's, {way} ({size:,} keys)", "not measured", None)
                continue
            ratio = ours[field]["pss"] / theirs[field]["pss"]
            target(f"index memory ≤ 2.5× marisa-trie's, {way} ({size:,} keys)",
                   f"{times_text(ratio)} ({ours[field]['pss'] / size:,.1f} against "
                   f"{theirs[field]['pss'] / size:,.1f} B/key)", ratio <= 2.5)
    # Issue 30: each process's memory after building and a first search, the
    # index with its lookup tables against marisa-trie with its build's
    # scratch (the "as built" column of the table below).
    for size in sizes:
        ours, theirs = first(size, "now"), first(size, "marisa-trie")
        name = f"index memory as built ≤ 2.5× marisa-trie's ({size:,} keys, issue 30)"
        if ours is None or theirs is None:
            target(name, "not measured", None)
            continue
        ratio = ours["search"]["pss"] / theirs["search"]["pss"]
        target(name, f"{times_text(ratio)} ({bytes_text(ours['search']['pss'])} against {bytes_text(theirs['search']['pss'])})",
               ratio <= 2.5)
    loads, old = r.load.get((small, "now")), r.load.get((small, "before"))
    if loads:
        typical = median([a["load"] + a["first"] for a in loads])
        context = f" (before: {time_text(median([a['load'] + a['first'] for a in old]))})" if old else ""
        target(f"Index.load + first search ≤ 50 ms ({small:,} keys)", time_text(typical) + context,
               typical <= 50e-3)
    else:
        target(f"Index.load + first search ≤ 50 ms ({small:,} keys)", "not measured", None)
    for size in sizes:
        shared = r.shared.get(size)
        if isinstance(shared, tuple) and shared[0] > 0:
            ratio = sum(shared[1]) / shared[0]
            target(f"{WORKERS} processes mapping one file ≤ 1.3× the memory of one ({size:,} keys)",
                   times_text(ratio), ratio <= 1.3)
        else:
            target(f"{WORKERS} processes mapping one file ≤ 1.3× the memory of one ({size:,} keys)",
                   shared or "not measured", None)
    rows = speed_rows(r.speed)
    for name, call, _, before, now, ratio, _, _ in rows:
        if call == "from_words":
            continue
        target(f"{call} on {name} ≤ 1.0× before (1.05× allowed for noise)",
               f"{times_text(ratio)} ({time_text(now)} against {time_text(before)})", ratio <= 1.05)
    if not rows:
        target("search d=1/d=2, suggest, complete ≤ 1.0× before", "not measured: no version before", None)
    for size in sizes:
        now, before = r.build.get((size, "now")), r.build.get((size, "before"))
        if now and before:
            ours, theirs = min(a["seconds"] for a in now), min(a["seconds"] for a in before)
            target(f"Index.from_words per key no slower than before ({size:,} keys, 1.05× allowed for noise)",
                   f"{times_text(ours / theirs)} ({ours / size * 1e9:,.0f} against {theirs / size * 1e9:,.0f} ns/key)",
                   ours / theirs <= 1.05)
        else:
            target(f"Index.from_words per key no slower than before ({size:,} keys)", "not measured", None)
    out += ["### Targets", ""] + table(["target", "measured", "met"], t)

    # a, b
    body = []
    for size in sizes:
        for who, label in (("now", "kelvaro Index.from_words"), ("before", f"kelvaro before ({BEFORE})"),
                           ("marisa-trie", "marisa_trie.Trie")):
            answers = r.build.get((size, who))
            if not answers:
                continue
            a = answers[0]
            seconds = min(x["seconds"] for x in answers)
            body.append([f"{size:,}", label, f"{time_text(seconds)} ({seconds / size * 1e9:,.0f} ns/key)",
                         bytes_text(a["build"]["pss"], size), bytes_text(a["search"]["pss"], size),
                         bytes_text(a["search"]["rss"], size), bytes_text(a["trimmed"]["pss"], size)])
    out += ["### Building (a, b)", "",
            "Memory added to a fresh process that holds the keys: after the build, after its first search "
            "(kelvaro makes its lazily built tables then), and after malloc_trim(0), which returns the free "
            "pages that the allocator kept from the build; that last column is the one the targets \"built\" use. "
            "The build's time is the fastest of "
            + ("one run." if not r.build or len(next(iter(r.build.values()))) == 1 else "the runs, which alternate "
               "between the versions.") + " marisa-trie is built once.", ""]
    out += table(["keys", "structure", "build time", "PSS after build", "PSS after first search",
                  "RSS after first search", "PSS after malloc_trim"], body)
    body = []
    for size in sizes:
        ours, theirs, old = first(size, "now"), first(size, "marisa-trie"), first(size, "before")
        if ours and theirs:
            body.append([f"{size:,}", times_text(ours["trimmed"]["pss"] / theirs["trimmed"]["pss"]),
                         times_text(ours["search"]["pss"] / theirs["search"]["pss"]),
                         times_text(ours["trimmed"]["pss"] / old["trimmed"]["pss"]) if old else "–"])
    out += table(["keys", "kelvaro ÷ marisa-trie, after malloc_trim", "kelvaro ÷ marisa-trie, as built",
                  "kelvaro now ÷ before, after malloc_trim"], body)

    # c
    body = []
    for size in sizes:
        for who, label in (("now", "kelvaro Index.load"), ("before", f"kelvaro before ({BEFORE})"),
                           ("marisa-trie", "marisa-trie mmap")):
            answers = r.load.get((size, who))
            if not answers:
                continue
            whole = [a["load"] + a["first"] for a in answers]
            a = answers[0]
            body.append([f"{size:,}", label, len(answers), time_text(median([a["load"] for a in answers])),
                         time_text(median([a["first"] for a in answers])), time_text(median(whole)),
                         time_text(max(whole)), bytes_text(a["first_memory"]["pss"], size),
                         bytes_text(a["all_memory"]["pss"], size), bytes_text(a["all_memory"]["rss"], size)])
    names = {"now": "kelvaro", "before": "kelvaro before", "marisa-trie": "marisa-trie"}
    sizes_text = "; ".join(f"{size:,} keys: " + ", ".join(f"{names[who]} {bytes_text(n, size)}"
                                                         for who, n in r.file_size.get(size, {}).items())
                           for size in sizes)
    out += ["### The saved index, loaded (c)", "",
            f"The files on disk: {sizes_text}. Each process loads the file, which is in the page cache, searches "
            f"once (distance 1), then runs {WORKER_SEARCHES:,} searches at distance 1 on phrases with one edit; "
            "medians over the processes. A mapped file's pages count as they are touched.", ""]
    out += table(["keys", "index", "processes", "load", "first search", "load + first search", "slowest",
                  "PSS after first search", f"PSS after {WORKER_SEARCHES:,} searches",
                  f"RSS after {WORKER_SEARCHES:,} searches"], body)

    # d
    body = []
    for size in sizes:
        shared = r.shared.get(size)
        if isinstance(shared, tuple):
            one, many = shared
            body.append([f"{size:,}", bytes_text(one), bytes_text(sum(many)),
                         f"{bytes_text(min(many))} to {bytes_text(max(many))}",
                         times_text(sum(many) / one) if one > 0 else "–"])
        elif shared:
            body.append([f"{size:,}", shared, "–", "–", "–"])
    out += [f"### {WORKERS} processes, one file (d)", "",
            f"Each worker loads the same file and runs the same {WORKER_SEARCHES:,} searches at distance 1; "
            "PSS added is each worker's PSS after them less its PSS before loading, read while all the "
            "workers are alive.", ""]
    out += table(["keys", "PSS added to one worker alone", f"summed over {WORKERS} workers", "per worker",
                  f"{WORKERS} ÷ one"], body)

    # e
    out += ["### Index.memory_usage() (e)", ""]
    usages = [(size, where, answers[0].get("usage")) for size in sizes
              for where, answers in (("built", r.build.get((size, "now"))), ("loaded", r.load.get((size, "now"))))
              if answers]
    usages = [(size, where, usage) for size, where, usage in usages if usage]
    if not usages:
        out += ["Skipped: this version of kelvaro has no Index.memory_usage().", ""]
    else:
        parts = list(dict.fromkeys(part for _, _, usage in usages for part in usage if part not in SUMMARIES))

        def cell(usage, part, size):
            value = usage.get(part)
            return "–" if value is None else f"{value:,} ({value / size:,.1f} B/key)" \
                if isinstance(value, int) else str(value)

        body = [[part] + [cell(usage, part, size) for size, _, usage in usages] for part in parts]
        body.append(["total"] + [cell({"total": usage_total(usage)}, "total", size) for size, _, usage in usages])
        if any("mapped" in usage for _, _, usage in usages):
            body.append(["of the total, mapped from the file"] + [cell(usage, "mapped", size)
                                                                  for size, _, usage in usages])
        out += ["Bytes per part, as the index reports them after its first search, built and loaded; "
                "\"total\" is its own total when it gives one.", ""]
        out += table(["part"] + [f"{size:,} keys, {where}" for size, where, _ in usages], body)
        forward = [f"{size:,} keys {where}: {cell(usage, 'forward trie', size)}" for size, where, usage in usages
                   if "forward trie" in usage]
        out += ["The forward trie alone: " + ("; ".join(forward) if forward else "no part of that name") + ".", ""]

    # f
    out += ["### Speed against the version before (f)", ""]
    if rows:
        out += [f"Per call, the fastest of each query's {len(r.speed['now'])} rounds; each round has a fresh "
                "process per version, and the two take turns block by block (20 queries, or one build). The "
                "times are medians over the queries, and the ratio is theirs; beside it, the median of the "
                "queries' own ratios (each query against itself). The queries are "
                "those of benchmark.py (words with 0 to 2 edits; on cjk, search d=2 and suggest take the first "
                "of them only); complete takes prefixes of 1 to 8 characters, every third with a typo. "
                "from_words is the fastest of 3 builds per round. The last column gives each round's "
                "ratio of medians, for the noise.", ""]
        out += table(["dictionary", "call", "queries", "before", "now", "now ÷ before", "queries' ratios, median",
                      "rounds"],
                     [[name, call, n if call != "from_words" else "–", time_text(before), time_text(now),
                       times_text(ratio), times_text(paired) if call != "from_words" else "–",
                       ", ".join(f"{x:.2f}" for x in rounds)]
                      for name, call, n, before, now, ratio, paired, rounds in rows])
    else:
        out += ["Skipped: no version before to compare with.", ""]
    if r.notes:
        out += ["### Skipped or failed", ""] + [f"- {note}" for note in dict.fromkeys(r.notes)] + [""]
    return out
