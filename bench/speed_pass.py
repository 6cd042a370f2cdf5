"""The speed pass: two versions of kelvaro timing the same calls in turn.

Each round starts a fresh server per version (bench_memory.py --serve, run
by that version's Python), and asks them in turn for the same blocks of
queries, the first to go changing from block to block, so that a noisy
moment of the machine falls on both. Issue 18's speed rows and issue 19's
comparison with the version before both run it.
"""

from __future__ import annotations

import gc
import json
import os
import subprocess
import sys
import time

from lookup_pass import seconds_per_call
from timing import median

HERE = os.path.dirname(os.path.abspath(__file__))
ENTRY = os.path.join(HERE, "bench_memory.py")


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
            self.process = subprocess.Popen([python, ENTRY, "--serve", job_path],
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
