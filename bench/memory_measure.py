"""Issue 18's measurements, taken by children in fresh interpreters (a, b,
c and d of bench_memory.py's docstring) and by the speed pass (f)."""

from __future__ import annotations

import json
import os
import random
import statistics
import subprocess
import sys

from memory_children import memory
from speed_pass import speed_round
from word_lists import HUGE, cjk_words, completion_prefixes, edited, make_queries, read_words

HERE = os.path.dirname(os.path.abspath(__file__))
ENTRY = os.path.join(HERE, "bench_memory.py")

BEFORE = "8f19e33"
SIZES = (1_000_000, 4_000_000)
QUICK_SIZES = (100_000, 400_000)
SEED = 20240618
WORKERS = 8
WORKER_SEARCHES = 2000


def run_child(python, kind, job, workdir):
    """Runs one child in a fresh interpreter: its answer, or raises RuntimeError."""
    path = os.path.join(workdir, f"job-{kind}.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(job, f)
    done = subprocess.run([python, ENTRY, "--child", kind, path],
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
    command = [sys.executable, ENTRY, "--worker", path, queries_path]
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
