"""Issue 18: a compact index file that is mapped.

Keys: two-word phrases ("word1 word2") drawn at random, with a fixed seed,
from Debian's wamerican-huge, without repeats: 1,000,000 and 4,000,000 of
them (--quick: 100,000 and 400,000; --sizes picks others). The smaller set
is the start of the larger one.

Every figure comes from a fresh interpreter, so that no measurement inherits
the memory or the caches of another:

  a, b  Index.from_words(keys) and marisa_trie.Trie(keys): the build's time,
        and the memory that the build adds, then its first search
        (index.search(key, 1), which makes the lazily built tables; for
        marisa-trie, `key in trie`), then after malloc_trim(0), which hands
        the allocator's free pages (the build's scratch) back to the
        system. Memory is RSS (/proc/self/statm) and PSS
        (/proc/self/smaps_rollup), less what the process held with the keys
        read and nothing built. kelvaro as it was before this issue (an
        installed copy of commit BEFORE, given by --before-python) is built
        in the same way, alternating with today's.
  c     The saved index: Index.load(path) and its first search, timed in
        several fresh processes, the versions taking turns (the file is in
        the page cache: it was just written), and the memory they add, then
        after 2,000 searches at distance 1. marisa-trie's mmap of its own
        saved file is beside it.
  d     Sharing: 8 worker processes each load the same file and run the
        same 2,000 searches at distance 1, then wait on a pipe while this
        process reads each one's PSS; the PSS that the index added to the 8
        (each worker's PSS less its own PSS before loading, read while all 8
        were alive) is divided by the PSS it adds to one worker alone.
  e     index.memory_usage(), when the version has it: bytes per part.
  f     Speed against the version before: search at d=1 and d=2, suggest,
        complete(prefix, 1, 10) and from_words on wamerican-huge and on the
        generated CJK dictionary of word_lists.py. Each round starts a fresh
        process per version, and they time the same queries in blocks of 20,
        taking turns block by block (and build by build), so that a noisy
        moment of the machine falls on both. A query's time is the fastest
        of its rounds; a row gives the medians, and the median of the
        queries' ratios.

Run alone, it prints its section of BENCHMARKS.md:
    .venv-bench/bin/python bench/bench_memory.py [--quick] [--before-python PYTHON]
(`make bench-memory` does this, with the environment of the version before.)
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from lookup_pass import seconds_per_call  # noqa: E402
from word_lists import HUGE, cjk_words, completion_prefixes, edited, make_queries, read_words  # noqa: E402

BEFORE = "8f19e33"
SIZES = (1_000_000, 4_000_000)
QUICK_SIZES = (100_000, 400_000)
SEED = 20240618
WORKERS = 8
WORKER_SEARCHES = 2000


# --- measuring, in any process ------------------------------------------------


def memory(pid="self"):
    """Resident (RSS) and proportional (PSS) bytes of a process."""
    with open(f"/proc/{pid}/statm") as f:
        rss = int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    pss = 0
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith("Pss:"):
                pss = int(line.split()[1]) * 1024
                break
    return {"rss": rss, "pss": pss}


def added(after, before):
    return {kind: after[kind] - before[kind] for kind in after}


def trim():
    """Hands the allocator's free pages back to the system (glibc)."""
    import ctypes

    try:
        ctypes.CDLL("libc.so.6").malloc_trim(0)
    except (OSError, AttributeError):
        pass


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return f.read().split("\n")


def usage_of(index):
    if not hasattr(index, "memory_usage"):
        return None
    return {str(part): value for part, value in index.memory_usage().items()}


# Entries of memory_usage() that sum up the parts rather than being one.
SUMMARIES = ("total", "mapped")


def usage_total(usage):
    """The bytes of every part: its "total" when it gives one."""
    if isinstance(usage.get("total"), int):
        return usage["total"]
    return sum(v for part, v in usage.items() if isinstance(v, int) and part not in SUMMARIES)


# --- the children: each runs in a fresh interpreter ----------------------------


def library(job):
    """The module that a child measures, imported before its first reading."""
    import importlib

    return importlib.import_module("marisa_trie" if job["library"] == "marisa-trie" else "kelvaro")


def child_build(job):
    """Builds one structure over the keys, then searches it once."""
    module = library(job)
    keys = read_lines(job["keys"])
    query = keys[len(keys) // 2]
    gc.collect()
    trim()
    start_memory = memory()
    if job["library"] == "marisa-trie":
        start = time.perf_counter()
        built = module.Trie(keys)
        seconds = time.perf_counter() - start
        gc.collect()
        after_build = memory()
        assert query in built
        search = lambda: query in built  # noqa: E731
    else:
        start = time.perf_counter()
        built = module.Index.from_words(keys)
        seconds = time.perf_counter() - start
        gc.collect()
        after_build = memory()
        search = lambda: built.search(query, 1)  # noqa: E731
    search()
    gc.collect()
    after_search = memory()
    trim()
    trimmed = memory()
    result = {"seconds": seconds, "build": added(after_build, start_memory),
              "search": added(after_search, start_memory), "trimmed": added(trimmed, start_memory)}
    if job["library"] != "marisa-trie":
        result["usage"] = usage_of(built)
    if job.get("save"):
        built.save(job["save"])
    return result


def child_load(job):
    """Loads a saved structure, searches it once, then many times."""
    module = library(job)
    queries = read_lines(job["queries"])
    gc.collect()
    trim()
    start_memory = memory()
    if job["library"] == "marisa-trie":
        start = time.perf_counter()
        loaded = module.Trie()
        loaded.mmap(job["path"])
        middle = time.perf_counter()
        assert job["query"] in loaded
        search = lambda q: q in loaded  # noqa: E731
    else:
        start = time.perf_counter()
        loaded = module.Index.load(job["path"])
        middle = time.perf_counter()
        assert loaded.search(job["query"], 1)
        search = lambda q: loaded.search(q, 1)  # noqa: E731
    end = time.perf_counter()
    gc.collect()
    after_first = memory()
    for q in queries:
        search(q)
    gc.collect()
    after_all = memory()
    result = {"load": middle - start, "first": end - middle, "first_memory": added(after_first, start_memory),
              "all_memory": added(after_all, start_memory)}
    if job["library"] != "marisa-trie":
        result["usage"] = usage_of(loaded)
    return result


def child_worker(path, queries_path):
    """One of the sharing test's workers: says "ready", loads and searches on
    "go", says "done", and waits for its standard input to close."""
    import kelvaro

    queries = read_lines(queries_path)
    gc.collect()
    print("ready", flush=True)
    sys.stdin.readline()
    index = kelvaro.Index.load(path)
    for q in queries:
        index.search(q, 1)
    gc.collect()
    print("done", flush=True)
    sys.stdin.read()
    del index


def child_serve(job):
    """The speed pass's server: builds an index of each dictionary, says
    which calls it has, then answers requests read from its standard input,
    one JSON line each: a build's time, or the times of a block of queries.
    A dictionary marked "default" is the version's own default_index(),
    built as that version builds it; "calls", when given, names the calls
    wanted of it."""
    import kelvaro

    calls = {}
    for name, data in job.items():
        index = kelvaro.default_index() if data.get("default") else kelvaro.Index.from_words(data["words"])
        index.search(data["queries"][0], 1)
        mine = {"search d=1": (lambda q, index=index: index.search(q, 1), data["queries"]),
                "search d=2": (lambda q, index=index: index.search(q, 2), data["deep"])}
        if hasattr(index, "suggest"):
            mine["suggest"] = (index.suggest, data["deep"])
        if hasattr(index, "complete"):
            mine["complete(prefix, 1, 10)"] = (lambda p, index=index: index.complete(p, 1, 10), data["prefixes"])
        if "calls" in data:
            mine = {call: mine[call] for call in data["calls"] if call in mine}
        for function, queries in mine.values():
            for q in queries[:20]:
                function(q)
        calls[name] = mine
    print(json.dumps({name: list(mine) for name, mine in calls.items()}), flush=True)
    for line in sys.stdin:
        request = json.loads(line)
        name, call = request["dictionary"], request["call"]
        if call == "from_words":
            gc.collect()
            start = time.perf_counter()
            kelvaro.Index.from_words(job[name]["words"])
            times = [time.perf_counter() - start]
        else:
            function, queries = calls[name][call]
            times = [seconds_per_call(function, q) for q in queries[request["from"]:request["to"]]]
        print(json.dumps(times), flush=True)


class Server:
    """A child_serve in a fresh interpreter."""

    def __init__(self, python, job_path, errors_path):
        self.errors_path = errors_path
        with open(errors_path, "w") as errors:
            self.process = subprocess.Popen([python, os.path.abspath(__file__), "--serve", job_path],
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors, text=True)
        self.calls = self.answer()

    def answer(self):
        line = self.process.stdout.readline()
        if not line:
            with open(self.errors_path) as f:
                lines = f.read().strip().splitlines() or ["it stopped"]
            raise RuntimeError(lines[-1])
        return json.loads(line)

    def ask(self, **request):
        self.process.stdin.write(json.dumps(request) + "\n")
        self.process.stdin.flush()
        return self.answer()

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        self.process.wait()


def speed_round(versions, job, job_path, workdir, turn, block=20):
    """One round: a fresh server per version, asked in turn for the same
    blocks of queries, the first to go changing from block to block."""
    servers = {}
    try:
        for who, python in versions:
            servers[who] = Server(python, job_path, os.path.join(workdir, f"serve-{who}.err"))
        result = {who: {} for who in servers}
        step = turn
        for name, data in job.items():
            for who in result:
                result[who][name] = {"from_words": []} if data["builds"] else {}
            for _ in range(data["builds"]):
                step += 1
                for who in (list(servers) if step % 2 else list(servers)[::-1]):
                    result[who][name]["from_words"] += servers[who].ask(dictionary=name, call="from_words")
            for who in result:
                if data["builds"]:
                    result[who][name]["from_words"] = [min(result[who][name]["from_words"])]
            shared = [call for call in servers["now"].calls[name] if all(call in server.calls[name]
                                                                         for server in servers.values())]
            for call in shared:
                count = len(data["deep"] if call in ("search d=2", "suggest") else
                            data["prefixes"] if call.startswith("complete") else data["queries"])
                for at in range(0, count, block):
                    step += 1
                    for who in (list(servers) if step % 2 else list(servers)[::-1]):
                        result[who][name].setdefault(call, []).extend(
                            servers[who].ask(dictionary=name, call=call, **{"from": at, "to": at + block}))
        return result
    finally:
        for server in servers.values():
            server.close()


def run_child(python, kind, job, workdir):
    """Runs one child in a fresh interpreter: its answer, or raises RuntimeError."""
    path = os.path.join(workdir, f"job-{kind}.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(job, f)
    done = subprocess.run([python, os.path.abspath(__file__), "--child", kind, path],
                          capture_output=True, text=True)
    if done.returncode != 0:
        lines = done.stderr.strip().splitlines() or [f"exit status {done.returncode}"]
        raise RuntimeError(lines[-1])
    return json.loads(done.stdout)


# --- the keys and queries --------------------------------------------------------


def phrases(words, count, seed=SEED):
    """`count` distinct "word1 word2" phrases over `words`."""
    rng = random.Random(seed)
    found = {}
    while len(found) < count:
        found[rng.choice(words) + " " + rng.choice(words)] = None
    return list(found)


def disk_size(path):
    """Bytes on disk of a saved index: a file, or a folder of files."""
    if not os.path.isdir(path):
        return os.path.getsize(path)
    return sum(os.path.getsize(os.path.join(top, name)) for top, _, names in os.walk(path) for name in names)


def write_lines(path, lines):
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


# --- the parent's measurements ------------------------------------------------------


def sharing(path, queries_path, workers):
    """The PSS that loading and searching the index adds to each of
    `workers` processes, all alive at once."""
    command = [sys.executable, os.path.abspath(__file__), "--worker", path, queries_path]
    running = [subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
               for _ in range(workers)]
    try:
        for p in running:
            if p.stdout.readline().strip() != "ready":
                raise RuntimeError("a worker failed before loading")
        before = [memory(p.pid)["pss"] for p in running]
        for p in running:
            p.stdin.write("go\n")
            p.stdin.flush()
        for p in running:
            if p.stdout.readline().strip() != "done":
                raise RuntimeError("a worker failed to load or search the index")
        after = [memory(p.pid)["pss"] for p in running]
    finally:
        for p in running:
            try:
                p.stdin.close()
            except OSError:
                pass
        for p in running:
            p.wait()
    return [a - b for a, b in zip(after, before)]


def share(r, size, path, queries_path, log):
    """d: one worker alone, then WORKERS at once when they fit in memory."""
    if not os.path.exists(path):
        return
    one = sharing(path, queries_path, 1)[0]
    log(f"  {size:,} keys: one worker adds {one / 2**20:,.1f} MiB")
    need = WORKERS * (max(one, 0) + 64 * 2**20)
    if need > 0.8 * available_memory():
        r.shared[size] = (f"not run: {WORKERS} workers adding {one / 2**20:,.0f} MiB each would need "
                          f"about {need / 2**30:.1f} GiB, more than this machine has free")
        return
    r.shared[size] = (one, sharing(path, queries_path, WORKERS))
    log(f"  {size:,} keys: {WORKERS} workers add {sum(r.shared[size][1]) / max(one, 1):.2f}x the PSS of one")


def available_memory():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return 0


class Results:
    def __init__(self):
        self.build = {}  # (size, who) -> list of child answers
        self.load = {}  # (size, who) -> list of child answers
        self.shared = {}  # size -> (one, [eight]) or a note
        self.speed = {"now": [], "before": []}
        self.notes = []
        self.file_size = {}


def measure(sizes, quick, workdir, before_python, log):
    r = Results()
    now = sys.executable
    builds = 3 if quick else 2  # builds of each version, alternating
    loads = 3 if quick else 5
    log(f"issue 18: {max(sizes):,} phrases from wamerican-huge")
    huge = read_words(HUGE)
    keys = phrases(huge, max(sizes))
    rng = random.Random(SEED + 1)
    letters = sorted(set("".join(huge[::50])))
    versions = [("now", now)] + ([("before", before_python)] if before_python else [])
    for size in sizes:
        keys_path = os.path.join(workdir, f"keys-{size}.txt")
        queries_path = os.path.join(workdir, f"queries-{size}.txt")
        stored = keys[:size]
        write_lines(keys_path, stored)
        write_lines(queries_path, [edited(rng.choice(stored), 1, letters, rng) for _ in range(WORKER_SEARCHES)])
        del stored
        query = keys[size // 2]
        paths = {who: os.path.join(workdir, f"{who}-{size}.index") for who, _ in versions}
        paths["marisa-trie"] = os.path.join(workdir, f"marisa-{size}.marisa")
        # a, b: building, alternating between the versions.
        for run in range(builds):
            for who, python in versions + ([("marisa-trie", now)] if run == 0 else []):
                job = {"keys": keys_path, "library": "marisa-trie" if who == "marisa-trie" else "kelvaro",
                       "save": paths[who] if run == 0 else None}
                try:
                    answer = run_child(python, "build", job, workdir)
                except RuntimeError as error:
                    r.notes.append(f"{who} could not build {size:,} keys: {error}")
                    continue
                r.build.setdefault((size, who), []).append(answer)
                log(f"  {size:,} keys, {who}: built in {answer['seconds']:.2f} s, "
                    f"{answer['trimmed']['pss'] / size:.0f} B/key after its first search")
        r.file_size[size] = {who: disk_size(path) for who, path in paths.items() if os.path.exists(path)}
        # c: loading the saved file, alternating.
        loaders = [(who, python) for who, python in versions + [("marisa-trie", now)] if os.path.exists(paths[who])]
        for turn in range(loads):
            for who, python in loaders[turn % len(loaders):] + loaders[:turn % len(loaders)]:
                job = {"path": paths[who], "queries": queries_path, "query": query,
                       "library": "marisa-trie" if who == "marisa-trie" else "kelvaro"}
                try:
                    r.load.setdefault((size, who), []).append(run_child(python, "load", job, workdir))
                except RuntimeError as error:
                    r.notes.append(f"{who} could not load its saved {size:,}-key file: {error}")
        for who, _ in loaders:
            if (size, who) in r.load:
                firsts = [a["load"] + a["first"] for a in r.load[size, who]]
                log(f"  {size:,} keys, {who}: load + first search {statistics.median(firsts) * 1e3:.1f} ms")
        # d: sharing one file between processes.
        try:
            share(r, size, paths["now"], queries_path, log)
        except (RuntimeError, OSError) as error:
            r.notes.append(f"the sharing test at {size:,} keys failed: {error}")
    del keys
    # f: speed, the two versions alternating.
    if not before_python:
        r.notes.append("the version before was not given (--before-python), so nothing was compared with it")
        return r
    cjk = cjk_words()
    queries = 60 if quick else 400
    job = {}
    for name, words, deep in (("wamerican-huge", huge, queries), ("cjk", cjk, 30 if quick else 100)):
        mixed = make_queries(words, queries)
        job[name] = {"words": words, "queries": mixed, "deep": mixed[:deep], "builds": 3,
                     "prefixes": completion_prefixes(words, queries)}
    job_path = os.path.join(workdir, "job-speed.json")
    with open(job_path, "w", encoding="utf-8") as f:
        json.dump(job, f)
    rounds = 2 if quick else 3
    log(f"  speed: {rounds} rounds, each with a fresh process per version, alternating every block of queries")
    for turn in range(rounds):
        try:
            answers = speed_round(versions, job, job_path, workdir, turn)
        except (RuntimeError, OSError, ValueError) as error:
            r.notes.append(f"round {turn + 1} of the speed pass failed: {error}")
            continue
        for who, answer in answers.items():
            r.speed[who].append(answer)
    return r


# --- the report --------------------------------------------------------------------


def time_text(seconds):
    if seconds != seconds:
        return "–"
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def times_text(value):
    return "–" if value != value else f"{value:.3g}×"


def bytes_text(count, keys=None):
    text = f"{count / 2**20:,.1f} MiB"
    return text + (f" ({count / keys:,.1f} B/key)" if keys else "")


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return lines + [""]


def median(values):
    return statistics.median(values) if values else float("nan")


def speed_rows(speed):
    """(dictionary, call, queries, before, now, ratio, median of the queries'
    ratios, rounds' ratios) per call."""
    rows = []
    if not speed["now"] or not speed["before"]:
        return rows
    for name, calls in speed["now"][0].items():
        for call in calls:
            if not all(call in answer[name] for answer in speed["now"] + speed["before"]):
                continue
            fastest = {who: [min(per) for per in zip(*(answer[name][call] for answer in speed[who]))]
                       for who in ("now", "before")}
            rounds = [median(n[name][call]) / median(b[name][call]) for n, b in zip(speed["now"], speed["before"])]
            paired = median([n / b for n, b in zip(fastest["now"], fastest["before"])])
            before, now = median(fastest["before"]), median(fastest["now"])
            rows.append((name, call, len(fastest["now"]), before, now, now / before, paired, rounds))
    return rows


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


def section(quick=False, workdir=None, log=lambda message: print(message, file=sys.stderr), before_python=None,
            sizes=None):
    sizes = tuple(sorted(sizes or (QUICK_SIZES if quick else SIZES)))
    workdir = workdir or tempfile.mkdtemp(prefix="kelvaro-memory-")
    os.makedirs(workdir, exist_ok=True)
    if before_python and not os.path.exists(before_python):
        log(f"issue 18: {before_python} is missing; nothing is compared with the version before")
        before_python = None
    results = measure(sizes, quick, workdir, before_python, log)
    return report(results, sizes, quick, before_python)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--worker":
        child_worker(sys.argv[2], sys.argv[3])
        return
    if len(sys.argv) == 3 and sys.argv[1] == "--serve":
        with open(sys.argv[2], encoding="utf-8") as f:
            child_serve(json.load(f))
        return
    if len(sys.argv) == 4 and sys.argv[1] == "--child":
        with open(sys.argv[3], encoding="utf-8") as f:
            job = json.load(f)
        run = {"build": child_build, "load": child_load}[sys.argv[2]]
        json.dump(run(job), sys.stdout)
        return
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help=f"{QUICK_SIZES[0]:,} and {QUICK_SIZES[1]:,} keys")
    parser.add_argument("--sizes", help="numbers of keys, comma-separated")
    parser.add_argument("--before-python", help=f"a Python with kelvaro as it was at {BEFORE} installed")
    parser.add_argument("--workdir")
    parser.add_argument("--output", help="write the section to this file instead of printing it")
    args = parser.parse_args()
    sizes = [int(s.replace("_", "")) for s in args.sizes.split(",")] if args.sizes else None
    started = time.perf_counter()
    lines = section(args.quick, args.workdir, before_python=args.before_python, sizes=sizes,
                    log=lambda message: print(f"[{time.strftime('%H:%M:%S')}] {message}", file=sys.stderr,
                                              flush=True))
    lines.append(f"(This section took {(time.perf_counter() - started) / 60:.1f} minutes.)")
    if args.output:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
    else:
        print("\n".join(lines))


if __name__ == "__main__":
    main()
