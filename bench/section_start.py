"""Issue 27: the English index ready in milliseconds.

The first use of the English index builds it and saves it in the cache
folder; later uses map the file. Every figure here comes from fresh
processes, so that none inherits another's imports or memory; kelvaro and
its peer take turns run by run, so that a busy moment of the machine falls
on both, and a row gives the median of the runs.

  a  `kelvaro check small.txt` (the console script, on a paragraph of prose
     with two misspellings), wall time from the parent, start to exit:
     with an empty cache folder (each run builds the index and saves it)
     and with the file cached (each run maps it); beside `aspell list` and
     `hunspell -l` on the same file, each with its own English dictionary.
  b  `import kelvaro; kelvaro.default_index().suggest("speling")` in a
     fresh interpreter, timed inside it from its first statement to the
     answer (the imports included, the interpreter's own start not), and
     the whole process from the parent; beside symspellpy loading its
     English dictionary (frequency_dictionary_en_82_765.txt, the one it
     ships) and looking up the same word.
  c  Eight processes each hold the English index, mapped, after one
     suggestion, all at once; this process reads each one's
     /proc/PID/smaps_rollup (Rss, Pss, Shared_Clean) while all eight are
     alive. Beside them, eight processes that each hold symspellpy's
     dictionary, and eight that imported the library and hold nothing, to
     show what the interpreter itself takes.

Run alone, it prints its section of BENCHMARKS.md:
    .venv-bench/bin/python bench/section_start.py [--quick]
"""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from report_format import Targets, table, time_text, times_text  # noqa: E402
from timing import median  # noqa: E402

PROCESSES = 8

SMALL_TEXT = """\
The quick brown fox jumps over the lazy dog. A spelling checker reads every
word of a text and reports the ones it does not know, with the likeliest
corrections: here there are two misspelt words, recieve and definately, and
everything else is ordinary English prose of the kind a person writes in a
note, a letter or the comments of a program.
"""

KELVARO_FIRST = """\
import time
start = time.perf_counter()
import kelvaro
kelvaro.default_index().suggest("speling")
print(time.perf_counter() - start)
"""

SYMSPELL_FIRST = """\
import sys, time
start = time.perf_counter()
from symspellpy import SymSpell, Verbosity
checker = SymSpell(max_dictionary_edit_distance=2)
checker.load_dictionary(sys.argv[1], 0, 1)
checker.lookup("speling", Verbosity.TOP, max_edit_distance=2)
print(time.perf_counter() - start)
"""

# Each holder makes what it holds, answers once, says so, and waits for its
# standard input to close.
HOLDERS = {
    "kelvaro": 'import kelvaro\nkelvaro.default_index().suggest("speling")\n',
    "symspellpy": "import sys\nfrom symspellpy import SymSpell, Verbosity\n"
    "checker = SymSpell(max_dictionary_edit_distance=2)\nchecker.load_dictionary(sys.argv[1], 0, 1)\n"
    'checker.lookup("speling", Verbosity.TOP, max_edit_distance=2)\n',
    "kelvaro imported": "import kelvaro\n",
    "symspellpy imported": "import symspellpy\n",
}
WAIT = 'import sys\nprint("ready", flush=True)\nsys.stdin.read()\n'


def symspell_dictionary():
    """The English dictionary that symspellpy ships, or None without it."""
    try:
        from importlib import resources

        path = resources.files("symspellpy").joinpath("frequency_dictionary_en_82_765.txt")
    except ImportError:
        return None
    return str(path) if os.path.isfile(str(path)) else None


def kelvaro_command():
    """The console script beside this interpreter, as a user runs it."""
    script = os.path.join(os.path.dirname(sys.executable), "kelvaro")
    return [script] if os.path.exists(script) else [sys.executable, "-m", "kelvaro"]


def wall(command, environment=None, stdin=None):
    """Seconds from starting `command` to its exit, and its standard output."""
    with open(stdin, "rb") if stdin else open(os.devnull, "rb") as source:
        start = time.perf_counter()
        done = subprocess.run(command, stdin=source, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              env=environment, check=False)
        seconds = time.perf_counter() - start
    return seconds, done.stdout.decode("utf-8", "replace")


def peers(small):
    """The command-line checkers on this machine, as (name, command, stdin)."""
    found = []
    if shutil.which("aspell"):
        found.append(("aspell list --lang=en_US", ["aspell", "list", "--lang=en_US"], small))
    if shutil.which("hunspell"):
        found.append(("hunspell -l -d en_US", ["hunspell", "-l", "-d", "en_US", small], None))
    return [peer for peer in found if wall(peer[1], stdin=peer[2])[1].split()]


def memory_of(pid):
    fields = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            name, _, rest = line.partition(":")
            if name in ("Rss", "Pss", "Shared_Clean"):
                fields[name] = int(rest.split()[0]) * 1024
    return fields


def hold_all(code, environment, argument=None):
    """The memory of PROCESSES processes that each run `code` and then
    wait, read while every one of them is alive."""
    command = [sys.executable, "-c", code + WAIT] + ([argument] if argument else [])
    children = [subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=environment)
                for _ in range(PROCESSES)]
    try:
        for child in children:
            if child.stdout.readline().strip() != b"ready":
                raise RuntimeError(f"a holder failed: {command}")
        readings = [memory_of(child.pid) for child in children]
    finally:
        for child in children:
            child.stdin.close()
            child.wait()
    return readings


def mib(value):
    return f"{value / 2**20:,.1f} MiB"


def measure(quick, workdir, log):
    os.makedirs(workdir, exist_ok=True)
    small = os.path.join(workdir, "small.txt")
    with open(small, "w", encoding="utf-8") as f:
        f.write(SMALL_TEXT)
    runs = 5 if quick else 15
    cold_runs = 2 if quick else 5
    cached = os.path.join(workdir, "cache")
    shutil.rmtree(cached, ignore_errors=True)
    environment = dict(os.environ, KELVARO_CACHE_DIR=cached)
    command = kelvaro_command() + ["check", small]
    results = {"command": command, "peers": {}, "words_found": None}

    log("issue 27: kelvaro check with the index built and saved, each run in an empty cache folder")
    cold = []
    for run in range(cold_runs):
        folder = os.path.join(workdir, f"cold-{run}")
        seconds, output = wall(command, dict(os.environ, KELVARO_CACHE_DIR=folder))
        cold.append(seconds)
        shutil.rmtree(folder, ignore_errors=True)
    results["cold"] = cold
    wall(command, environment)  # makes the file that the runs below map
    described = json.loads(subprocess.run(kelvaro_command() + ["info", "--json"], env=environment, check=True,
                                          stdout=subprocess.PIPE).stdout)
    results["file_size"], results["words"] = described["file_size"], described["words"]
    found_peers = peers(small)
    log("issue 27: kelvaro check with the file cached, against " + (", ".join(p[0] for p in found_peers) or "no peer"))
    mapped, theirs = [], {name: [] for name, _, _ in found_peers}
    for _ in range(runs):
        seconds, output = wall(command, environment)
        mapped.append(seconds)
        results["words_found"] = len(output.splitlines())
        for name, peer, stdin in found_peers:
            theirs[name].append(wall(peer, stdin=stdin)[0])
    results["mapped"], results["peers"] = mapped, theirs

    log("issue 27: default_index() and a first suggestion in a fresh process, against symspellpy's load")
    dictionary = symspell_dictionary()
    first = {"kelvaro": ([], []), "symspellpy": ([], [])}
    for _ in range(runs):
        seconds, output = wall([sys.executable, "-c", KELVARO_FIRST], environment)
        first["kelvaro"][0].append(float(output))
        first["kelvaro"][1].append(seconds)
        if dictionary:
            seconds, output = wall([sys.executable, "-c", SYMSPELL_FIRST, dictionary], environment)
            first["symspellpy"][0].append(float(output))
            first["symspellpy"][1].append(seconds)
    results["first"] = first

    log(f"issue 27: {PROCESSES} processes holding the mapped index at once, and symspellpy's")
    held = {}
    for name, code in HOLDERS.items():
        if "symspellpy" in name and not dictionary:
            continue
        held[name] = hold_all(code, environment, dictionary if name == "symspellpy" else None)
    results["held"] = held
    return results


def report(results, quick):
    t = Targets()
    mapped, cold = median(results["mapped"]), median(results["cold"])
    kelvaro_first, kelvaro_process = (median(v) for v in results["first"]["kelvaro"])
    t.add("kelvaro check of a small file, index cached: ≤ 150 ms", time_text(mapped), mapped <= 0.150)
    t.add("default_index() and its first suggestion: ≤ 50 ms", time_text(kelvaro_first), kelvaro_first <= 0.050)
    held = results["held"]["kelvaro"]
    shared = median([reading["Shared_Clean"] for reading in held])
    t.add(f"{PROCESSES} processes share the mapped file's pages",
          f"{mib(shared)} shared by each of {PROCESSES}, the file {mib(results['file_size'])}",
          shared >= 0.9 * results["file_size"])
    out = ["## Issue 27: the English index ready in milliseconds", "", "### Targets", ""] + t.lines()

    out += ["### a. kelvaro check of a small file", "",
            f"`{' '.join(os.path.basename(part) for part in results['command'][:-1])} small.txt`, a paragraph of "
            f"{len(SMALL_TEXT.split())} words ({results['words_found']} lines of findings); wall time of the whole "
            f"process, median of {len(results['mapped'])} runs ({len(results['cold'])} with an empty cache folder).",
            ""]
    rows = [["kelvaro check, the index built and saved (first use)", time_text(cold), "–"],
            ["kelvaro check, the index file mapped", time_text(mapped), "–"]]
    for name, times in results["peers"].items():
        rows.append([name, time_text(median(times)), times_text(mapped / median(times))])
    if not results["peers"]:
        rows.append(["aspell, hunspell", "not installed", "–"])
    out += table(["command", "median", "kelvaro mapped ÷ this"], rows)
    out += [f"The first use builds and saves the index in {time_text(cold)}; every later one maps it, "
            f"{cold / mapped:.0f}× sooner.", ""]

    out += ["### b. default_index() and its first suggestion in a fresh process", ""]
    rows = [["kelvaro: import, default_index() mapped, suggest(\"speling\")", time_text(kelvaro_first),
             time_text(kelvaro_process), "–"]]
    symspell = results["first"]["symspellpy"]
    if symspell[0]:
        theirs, theirs_process = median(symspell[0]), median(symspell[1])
        rows.append(["symspellpy: import, load_dictionary (its English list), lookup", time_text(theirs),
                     time_text(theirs_process), times_text(kelvaro_first / theirs)])
    out += table(["", "in the process", "whole process", "kelvaro ÷ this"], rows)

    out += [f"### c. Memory of {PROCESSES} processes at once", "",
            "Medians over the processes of /proc/PID/smaps_rollup, read while all were alive; the sum of the "
            f"PSS is what the {PROCESSES} take together. kelvaro's index file is {mib(results['file_size'])}.", ""]
    rows = []
    for name, readings in results["held"].items():
        rows.append([name] + [mib(median([r[field] for r in readings])) for field in ("Rss", "Pss", "Shared_Clean")]
                    + [mib(sum(r["Pss"] for r in readings))])
    out += table(["each process holds", "RSS", "PSS", "Shared_Clean", f"PSS of all {PROCESSES}"], rows)
    if "symspellpy" in results["held"]:
        mine = sum(r["Pss"] for r in results["held"]["kelvaro"])
        theirs = sum(r["Pss"] for r in results["held"]["symspellpy"])
        out += [f"The {PROCESSES} kelvaro processes take {mine / theirs:.2f}× the memory (PSS) of the "
                f"{PROCESSES} symspellpy ones, with {results['words']:,} words against symspellpy's 82,765.", ""]
    return out


def issue_27(quick=False, workdir=None, log=lambda message: print(message, file=sys.stderr)):
    workdir = workdir or tempfile.mkdtemp(prefix="kelvaro-start-")
    return report(measure(quick, workdir, log), quick)


def main():
    quick = "--quick" in sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="kelvaro-start-") as workdir:
        print("\n".join(issue_27(quick, workdir)))


if __name__ == "__main__":
    main()
