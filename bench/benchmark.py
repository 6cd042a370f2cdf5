"""kelvaro against the libraries a user would pick instead, in one process and one run.

`make bench` builds what this needs and runs it; it writes BENCHMARKS.md.

    python bench/benchmark.py --bare-walk-dir DIR [--output BENCHMARKS.md] [--quick]

Data: Debian's word lists wamerican-huge and wamerican-insane, and 300,000
generated words over Cyrillic, Greek, CJK and emoji alphabets. Queries: 2,000
dictionary words, half of them with one random edit. Everything random has a
fixed seed, so two runs measure the same work.

Peers, measured in this process on the same queries: rapidfuzz's scan with
the Levenshtein distance (its result sets are checked against kelvaro's),
symspellpy, marisa-trie and dict for exact lookups, a pure-Python walk of the
same trie (tests/reference.py), and the bare C++ walk of bare_walk.h, the
floor of the algorithm. Slow peers run on a prefix of the query list, and
every ratio compares the two on the same queries.

Times are per call: a call is repeated until the repetitions take 50 µs,
and the fastest of three such rounds counts (rapidfuzz, symspellpy and the
pure-Python walk are timed once per query). Rows give the median over the
queries and, in brackets, the 10th and 90th percentiles. Distance 3 (and 2 on
the generated list, whose large alphabets make every search wide) runs on a
prefix of the query list.
"""
import argparse
import datetime
import gc
import importlib.metadata
import math
import os
import platform
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

import _kelvaro  # noqa: E402
import reference  # noqa: E402
from trie_arrays import build_arrays  # noqa: E402

WORD_LISTS = {
    "wamerican-huge": "/usr/share/dict/american-english-huge",
    "wamerican-insane": "/usr/share/dict/american-english-insane",
}
GENERATED = "generated non-ASCII"
DISTANCES = [0, 1, 2, 3]
QUERY_COUNT = 2000
SEED = 20240611


# --- data --------------------------------------------------------------------


def read_words(path):
    """The distinct lines of a word list, in file order."""
    with open(path, encoding="utf-8") as f:
        return list(dict.fromkeys(line.strip() for line in f if line.strip()))


def generated_words(count=300_000, seed=SEED):
    """Words over four alphabets: each word one script, lengths as its script's words run."""
    rng = random.Random(seed)
    scripts = [
        ([chr(c) for c in range(0x430, 0x450)], 3, 12),  # Cyrillic
        ([chr(c) for c in range(0x3B1, 0x3CA)], 3, 12),  # Greek
        ([chr(c) for c in range(0x4E00, 0x4E00 + 800)], 1, 4),  # CJK
        ([chr(c) for c in range(0x1F600, 0x1F650)], 1, 5),  # emoji
    ]
    words = {}
    while len(words) < count:
        alphabet, shortest, longest = rng.choice(scripts)
        words["".join(rng.choice(alphabet) for _ in range(rng.randint(shortest, longest)))] = None
    return list(words)


def make_queries(words, count=QUERY_COUNT, seed=SEED):
    """Dictionary words; every second one with one random insertion, deletion or substitution."""
    rng = random.Random(seed)
    alphabet = sorted(set("".join(words)))
    queries = []
    for i in range(count):
        word = rng.choice(words)
        if i % 2 and word:
            at = rng.randrange(len(word))
            edit = rng.choice(["insert", "delete", "substitute"])
            if edit == "insert":
                word = word[:at] + rng.choice(alphabet) + word[at:]
            elif edit == "delete":
                word = word[:at] + word[at + 1 :]
            else:
                word = word[:at] + rng.choice(alphabet) + word[at + 1 :]
        queries.append(word)
    return queries


# --- measuring ---------------------------------------------------------------


def seconds_per_call(call, *args, target=50e-6, rounds=3):
    """Seconds per call: the fastest of `rounds` rounds, each repeating the
    call for at least `target` seconds. The first call, which tells how many
    repetitions that takes, counts only when rounds is 1."""
    start = time.perf_counter()
    call(*args)
    first = time.perf_counter() - start
    if rounds == 1:
        return first
    repeats = max(1, math.ceil(target / max(first, 1e-9)))
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        for _ in range(repeats):
            call(*args)
        best = min(best, (time.perf_counter() - start) / repeats)
    return best


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


class Stat:
    """Per-query values: the median and the 10th to 90th percentile."""

    def __init__(self, values):
        self.values = list(values)
        self.median = statistics.median(self.values)
        self.low = percentile(self.values, 0.1)
        self.high = percentile(self.values, 0.9)


def time_text(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def stat_text(stat, form=time_text):
    return f"{form(stat.median)} [{form(stat.low)}–{form(stat.high)}]"


def times_text(value):
    if value >= 100:
        return f"{value:,.0f}×"
    if value >= 10:
        return f"{value:.1f}×"
    return f"{value:.2f}×" if value >= 0.1 else f"{value:.2g}×"


def ratio(peer, ours):
    """How many times faster ours is than the peer, medians over the same queries."""
    return times_text(statistics.median(peer) / statistics.median(ours))


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_in_fresh_process(kind, path):
    """Resident bytes that one structure adds, measured in an interpreter of its own."""
    output = subprocess.run(
        [sys.executable, os.path.abspath(__file__), "--measure-memory", kind, path],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return int(output.split()[-1])


def measure_memory(kind, path):
    """Run in a fresh interpreter: what building one structure adds to the process."""
    if kind == "kelvaro":
        with open(path, "rb") as f:
            data = f.read()
        gc.collect()
        before = resident_bytes()
        kept = _kelvaro.from_bytes(data)
    elif kind == "marisa-trie":
        import marisa_trie

        gc.collect()
        before = resident_bytes()
        kept = marisa_trie.Trie()
        kept.load(path)
    else:
        # dict and the word list of the rapidfuzz scan: the strs are part of them.
        gc.collect()
        before = resident_bytes()
        words = read_words(path)
        kept = {word: i for i, word in enumerate(words)} if kind == "dict" else words
        del words
    gc.collect()
    print(resident_bytes() - before)
    return kept


# --- the dataset ----------------------------------------------------------------


class Dataset:
    def __init__(self, name, words, workdir, quick, deep_samples):
        self.name = name
        # Deep searches take long: the number of queries they run on, by distance.
        self.deep_samples = {d: n // 10 if quick else n for d, n in deep_samples.items()}
        self.words = words
        self.queries = make_queries(words, 200 if quick else QUERY_COUNT)
        self.payload_of = {word: i for i, word in enumerate(words)}
        self.arrays = build_arrays(words, range(len(words)))
        self.trie = _kelvaro.from_internal_data(*self.arrays)
        self.data = self.trie.to_bytes()
        self.nodes = len(self.arrays[0])
        self.path = os.path.join(workdir, name.replace(" ", "-"))
        with open(self.path + ".words", "w", encoding="utf-8") as f:
            f.writelines(word + "\n" for word in words)
        with open(self.path + ".kelvaro", "wb") as f:
            f.write(self.data)
        self.peer_queries = 20 if quick else 100  # rapidfuzz, symspellpy
        self.python_queries = 5 if quick else 20  # the pure-Python walk
        self.symspell_memory = None

    def queries_at(self, distance):
        return self.queries[: self.deep_samples.get(distance, len(self.queries))]


def fuzzy_rows(ds, bare, bare_walk):
    """Per distance and limit: kelvaro against the bare walk, from Python and in C++."""
    rows = []
    for distance in DISTANCES:
        for limit in (None, 10):
            queries = ds.queries_at(distance)
            ours, floor = [], []
            for query in queries:
                ours.append(seconds_per_call(ds.trie.fuzzy_match, query, distance, limit))
                floor.append(seconds_per_call(bare_walk.fuzzy_match, bare, query, distance, limit))
            for query in queries[:200]:
                assert bare_walk.fuzzy_match(bare, query, distance, limit) == ds.trie.fuzzy_match(
                    query, distance, limit
                ), (query, distance, limit)
            walks = bare_walk.time_walks(bare, queries, distance, limit, 3)
            visited = [nodes for _, _, nodes in walks]
            rows.append(
                {
                    "distance": distance,
                    "limit": limit,
                    "queries": len(queries),
                    "kelvaro": ours,
                    "bare": floor,
                    "visited": visited,
                    "bare_walk_ns": [b for b, _, _ in walks],
                    "engine_ns": [k for _, k, _ in walks],
                }
            )
            print(f"  fuzzy d={distance} limit={limit}: {time_text(statistics.median(ours))}", flush=True)
    return rows


def rapidfuzz_rows(ds, rows):
    from rapidfuzz import process
    from rapidfuzz.distance import Levenshtein

    for row in rows:
        if row["limit"] is not None:
            continue
        distance = row["distance"]
        times, equal = [], 0
        queries = ds.queries[: ds.peer_queries]
        for query in queries:
            start = time.perf_counter()
            found = process.extract(query, ds.words, scorer=Levenshtein.distance, score_cutoff=distance, limit=None)
            times.append(time.perf_counter() - start)
            theirs = {(word, index, score) for word, score, index in found}
            equal += theirs == set(ds.trie.fuzzy_match(query, distance, None))
        row["rapidfuzz"] = times
        row["rapidfuzz_equal"] = (equal, len(queries))
        assert equal == len(queries), f"rapidfuzz and kelvaro differ at distance {distance}"


def symspell_rows(ds, rows):
    from symspellpy import SymSpell, Verbosity

    gc.collect()
    before = resident_bytes()
    start = time.perf_counter()
    checker = SymSpell(max_dictionary_edit_distance=max(DISTANCES))
    for word in ds.words:
        checker.create_dictionary_entry(word, 1)
    build_seconds = time.perf_counter() - start
    memory = resident_bytes() - before
    for row in rows:
        if row["limit"] is not None:
            continue
        distance = row["distance"]
        times, differing = [], 0
        queries = ds.queries[: ds.peer_queries]
        def lookup(query):
            return checker.lookup(query, Verbosity.ALL, max_edit_distance=distance)

        for query in queries:
            times.append(seconds_per_call(lookup, query, rounds=1))
            theirs = {(s.term, s.distance) for s in lookup(query)}
            differing += theirs != {(text, d) for text, _, d in ds.trie.fuzzy_match(query, distance, None)}
        row["symspell"] = times
        row["symspell_differing"] = (differing, len(queries))
    del checker
    gc.collect()
    return build_seconds, memory


def python_rows(ds, rows):
    for row in rows:
        queries = ds.queries[: ds.python_queries if row["distance"] < 3 else max(1, ds.python_queries // 4)]
        times = []
        for query in queries:
            start = time.perf_counter()
            found = reference.fuzzy_match(ds.arrays, query, row["distance"], row["limit"])
            times.append(time.perf_counter() - start)
            assert found == ds.trie.fuzzy_match(query, row["distance"], row["limit"])
        row["python"] = times


def exact_rows(ds, bare, bare_walk):
    import marisa_trie

    trie = marisa_trie.Trie(ds.words)
    trie.save(ds.path + ".marisa")
    table = ds.payload_of
    kinds = {
        "hit": [q for q in ds.queries if q in table],
        "miss": [q for q in ds.queries if q not in table],
    }
    result = {}
    for kind, queries in kinds.items():
        ours, visited = [], []
        for query in queries:
            ours.append(seconds_per_call(ds.trie.exact_match, query))
            visited.append(bare_walk.visited(bare, query, 0, None))
        result[kind] = {
            "kelvaro": ours,
            "visited": visited,
            "per_node": [t / n for t, n in zip(ours, visited)],
            "dict": [seconds_per_call(table.get, query) for query in queries],
            "marisa-trie": [seconds_per_call(trie.get, query) for query in queries],
        }
    return result


def build_and_save_rows(ds):
    def runs(call, count):
        times = []
        for _ in range(count):
            gc.collect()
            start = time.perf_counter()
            kept = call()
            times.append(time.perf_counter() - start)
            del kept
        return times

    building = runs(lambda: _kelvaro.from_internal_data(*ds.arrays), 5)
    saving = runs(ds.trie.to_bytes, 7)
    loading = runs(lambda: _kelvaro.from_bytes(ds.data), 7)
    size = len(ds.data)
    return {
        "from_internal_data": [ds.nodes / t for t in building],
        "to_bytes": [size / t for t in saving],
        "from_bytes": [size / t for t in loading],
    }


def memory_rows(ds):
    return {
        "kelvaro": memory_in_fresh_process("kelvaro", ds.path + ".kelvaro"),
        "marisa-trie": memory_in_fresh_process("marisa-trie", ds.path + ".marisa"),
        "dict": memory_in_fresh_process("dict", ds.path + ".words"),
        "word list (rapidfuzz)": memory_in_fresh_process("list", ds.path + ".words"),
    }


# --- the report -------------------------------------------------------------------


def versions():
    names = ["rapidfuzz", "symspellpy", "marisa-trie"]
    found = {name: importlib.metadata.version(name) for name in names}
    try:
        found["kelvaro"] = importlib.metadata.version("kelvaro")
    except importlib.metadata.PackageNotFoundError:
        found["kelvaro"] = "(source tree)"
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


def rate_text(value, unit):
    return f"{value / 1e6:,.1f} M{unit}" if unit == "nodes/s" else f"{value / 1e6:,.0f} M{unit}"


def report_dataset(ds, fuzzy, exact, io, memory, symspell_build):
    out = [f"## {ds.name}", ""]
    out.append(
        f"{len(ds.words):,} words, {ds.nodes:,} nodes, {len(ds.data):,} bytes saved; "
        f"{len(ds.queries):,} queries (rapidfuzz and symspellpy: the first {ds.peer_queries}; "
        f"the pure-Python walk: the first {ds.python_queries}, at distance 3 a quarter of that)."
    )
    out += ["", "### Fuzzy lookups against the bare C++ walk", ""]
    out.append(
        "Per query, called from Python (both return the same list), and the walk alone timed in C++. "
        "kelvaro's time is also given as a multiple of the bare walk's, and both per visited node."
    )
    out += [
        "",
        "| distance | limit | queries | visited nodes | kelvaro | bare walk | kelvaro ÷ bare | walks in C++: kelvaro ÷ bare | kelvaro ns/node | bare ns/node |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for row in fuzzy:
        k, b, v = Stat(row["kelvaro"]), Stat(row["bare"]), Stat(row["visited"])
        nodes = sum(row["visited"])
        out.append(
            f"| {row['distance']} | {row['limit']} | {row['queries']} | {v.median:,.0f} | {stat_text(k)} | {stat_text(b)} "
            f"| {statistics.median(row['kelvaro']) / statistics.median(row['bare']):.2f} "
            f"| {sum(row['engine_ns']) / sum(row['bare_walk_ns']):.2f} "
            f"| {sum(row['engine_ns']) / nodes:.1f} | {sum(row['bare_walk_ns']) / nodes:.1f} |"
        )
    out += ["", "### Fuzzy lookups against the peers", ""]
    out += [
        "| distance | limit | kelvaro | rapidfuzz scan | × | symspellpy | × | pure-Python walk | × |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for row in fuzzy:
        cells = [str(row["distance"]), str(row["limit"]), stat_text(Stat(row["kelvaro"]))]
        for peer in ("rapidfuzz", "symspell", "python"):
            if peer in row:
                cells += [stat_text(Stat(row[peer])), ratio(row[peer], row["kelvaro"][: len(row[peer])])]
            else:
                cells += ["–", "–"]
        out.append("| " + " | ".join(cells) + " |")
    notes = []
    for row in fuzzy:
        if "rapidfuzz_equal" in row:
            equal, total = row["rapidfuzz_equal"]
            notes.append(f"d={row['distance']}: {equal}/{total} equal")
    out += ["", "rapidfuzz's result sets, (word, payload, distance), against kelvaro's: " + "; ".join(notes) + "."]
    notes = []
    for row in fuzzy:
        if "symspell_differing" in row:
            differing, total = row["symspell_differing"]
            notes.append(f"d={row['distance']}: {differing}/{total} differ")
    out.append(
        "symspellpy counts a transposition of neighbours as one edit, so its results differ where a "
        f"query has one: {'; '.join(notes)}. Its dictionary (distance 3) took {symspell_build:.0f} s to build."
    )
    out += ["", "### Exact lookups", ""]
    out += [
        "| queries | visited nodes | kelvaro | kelvaro ns/visited node | dict | marisa-trie | × dict | × marisa-trie |",
        "|---|---|---|---|---|---|---|---|",
    ]
    for kind, row in exact.items():
        if not row["kelvaro"]:
            continue
        out.append(
            f"| {kind} ({len(row['kelvaro'])}) | {Stat(row['visited']).median:,.0f} | {stat_text(Stat(row['kelvaro']))} "
            f"| {Stat(row['per_node']).median * 1e9:.1f} | {stat_text(Stat(row['dict']))} "
            f"| {stat_text(Stat(row['marisa-trie']))} | {ratio(row['dict'], row['kelvaro'])} "
            f"| {ratio(row['marisa-trie'], row['kelvaro'])} |"
        )
    out += ["", "(× is how many times faster kelvaro is; below 1 it is slower.)", ""]
    out += ["### Building and saving", ""]
    out += ["| operation | median [min–max] |", "|---|---|"]
    for name, unit in (("from_internal_data", "nodes/s"), ("to_bytes", "B/s"), ("from_bytes", "B/s")):
        s = io[name]
        out.append(
            f"| {name} | {rate_text(statistics.median(s), unit)} [{rate_text(min(s), unit)}–{rate_text(max(s), unit)}] |"
        )
    out += ["", "### Resident memory", ""]
    out += ["| structure | bytes | per node | per word |", "|---|---|---|---|"]
    for name, size in memory.items():
        per_node = f"{size / ds.nodes:.1f}" if name == "kelvaro" else "–"
        out.append(f"| {name} | {size:,} | {per_node} | {size / len(ds.words):.1f} |")
    if ds.symspell_memory is not None:
        out.append(f"| symspellpy (in this process) | {ds.symspell_memory:,} | – | {ds.symspell_memory / len(ds.words):.1f} |")
    out.append("")
    return out


def targets(ds, fuzzy, exact, io, memory):
    """The issue's targets, on wamerican-huge."""

    def row(distance):
        return next(r for r in fuzzy if r["distance"] == distance and r["limit"] is None)

    def over_rapidfuzz(distance):
        r = row(distance)
        return statistics.median(r["rapidfuzz"]) / statistics.median(r["kelvaro"][: len(r["rapidfuzz"])])

    def over_bare(distance):
        r = row(distance)
        return statistics.median(r["kelvaro"]) / statistics.median(r["bare"])

    per_node = statistics.median(exact["hit"]["per_node"] + exact["miss"]["per_node"]) * 1e9
    checks = [
        ("fuzzy_match d=1 ≥ 30× the rapidfuzz scan", over_rapidfuzz(1), ">=", 30, "{:.0f}×"),
        ("fuzzy_match d=2 ≥ 5× the rapidfuzz scan", over_rapidfuzz(2), ">=", 5, "{:.0f}×"),
        ("d=1 within 2× of the bare walk", over_bare(1), "<=", 2, "{:.2f}×"),
        ("d=2 within 2× of the bare walk", over_bare(2), "<=", 2, "{:.2f}×"),
        ("exact_match ≤ 40 ns per visited node", per_node, "<=", 40, "{:.1f} ns"),
        ("from_internal_data ≥ 10 M nodes/s", statistics.median(io["from_internal_data"]) / 1e6, ">=", 10, "{:.1f} M"),
        ("to_bytes ≥ 500 MB/s", statistics.median(io["to_bytes"]) / 1e6, ">=", 500, "{:.0f} MB/s"),
        ("from_bytes ≥ 300 MB/s", statistics.median(io["from_bytes"]) / 1e6, ">=", 300, "{:.0f} MB/s"),
        ("≤ 24 bytes per node", memory["kelvaro"] / ds.nodes, "<=", 24, "{:.1f} B"),
    ]
    out = ["## Targets (wamerican-huge)", "", "| target | measured | met |", "|---|---|---|"]
    for name, value, relation, bound, form in checks:
        met = value >= bound if relation == ">=" else value <= bound
        out.append(f"| {name} | {form.format(value)} | {'yes' if met else 'no'} |")
    out.append("")
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bare-walk-dir", help="where the _bare_walk module was built")
    parser.add_argument("--output", default=os.path.join(HERE, "..", "BENCHMARKS.md"))
    parser.add_argument("--workdir", default=os.path.join(HERE, "..", "build", "bench-data"))
    parser.add_argument("--quick", action="store_true", help="200 queries and small peer samples")
    parser.add_argument("--measure-memory", nargs=2, metavar=("KIND", "PATH"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure_memory:
        measure_memory(*args.measure_memory)
        return
    sys.path.insert(0, args.bare_walk_dir)
    import _bare_walk

    missing = [path for path in WORD_LISTS.values() if not os.path.exists(path)]
    if missing:
        sys.exit(f"missing {', '.join(missing)}: apt-get install wamerican-huge wamerican-insane")
    os.makedirs(args.workdir, exist_ok=True)

    sections, target_lines = [], []
    sources = [(name, lambda path=path: read_words(path), {3: 500}) for name, path in WORD_LISTS.items()]
    # The generated alphabets are large, so every search visits many nodes.
    sources.append((GENERATED, generated_words, {2: 500, 3: 200}))
    for name, load, deep_samples in sources:
        print(f"{name}: building", flush=True)
        ds = Dataset(name, load(), args.workdir, args.quick, deep_samples)
        bare = _bare_walk.load(ds.data)
        fuzzy = fuzzy_rows(ds, bare, _bare_walk)
        print(f"{name}: peers", flush=True)
        rapidfuzz_rows(ds, fuzzy)
        symspell_build, ds.symspell_memory = symspell_rows(ds, fuzzy)
        python_rows(ds, fuzzy)
        exact = exact_rows(ds, bare, _bare_walk)
        io = build_and_save_rows(ds)
        memory = memory_rows(ds)
        sections += report_dataset(ds, fuzzy, exact, io, memory, symspell_build)
        if name == "wamerican-huge":
            target_lines = targets(ds, fuzzy, exact, io, memory)
        del ds, bare
        gc.collect()

    header = [
        "# Benchmarks",
        "",
        "Written by `make bench` (bench/benchmark.py); the method is described at the top of that file.",
        "",
        f"- Date: {datetime.date.today().isoformat()}",
        f"- Machine: {machine()}",
        f"- Python {platform.python_version()} ({platform.python_implementation()}); "
        + ", ".join(f"{name} {version}" for name, version in versions().items()),
        "",
    ]
    with open(args.output, "w", encoding="utf-8") as f:
        f.write("\n".join(header + target_lines + sections))
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
