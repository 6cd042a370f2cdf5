"""Issue 18's children, each run in a fresh interpreter (bench_memory.py
--child or --worker), and the readings of a process's memory they take."""

from __future__ import annotations

import gc
import os
import sys
import time


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
