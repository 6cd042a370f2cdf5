"""A mapped index file that another program rewrites, truncates, replaces
or removes never crashes the process that mapped it, which goes on
answering from the contents it loaded; the writer is never held up for
long. A crash would kill the test runner, so the reader is a process of
its own."""

import fcntl
import gc
import os
import signal
import subprocess
import sys
import textwrap

import pytest

from kelvaro import Index

pytestmark = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="leases are Linux's")

WORDS = {"tree": 5, "trees": 3, "free": 2, "three": 9, "spelling": 4, "spelt": 1}
OTHER = {"other": 1, "words": 2, "entirely": 3}
# Well under the kernel's lease-break time (45 s by default), after which
# a writer goes ahead whatever the reader did.
WRITER_BOUND = 20

# Loads the index, says whether it is mapped, waits for a line while the
# file is rewritten, then checks that it answers as before. "fork" also
# makes a child (by os.fork, or multiprocessing's fork start method) before
# the rewrite, which searches after it; "self" rewrites the file itself.
READER = textwrap.dedent(
    """
    import os, sys
    from kelvaro import Index

    path, mode = sys.argv[1], sys.argv[2]
    index = Index.load(path)
    queries = ["tre", "speling", "thre", "fre", "zzz"]

    def answers():
        return ([index.search(query, 2, sorted=True) for query in queries]
                + [index.suggest(query) for query in queries] + [list(index), len(index)])

    before = answers()

    def child_checks(read_end, write_end):
        # Should this process die, the child reads the end of the pipe and
        # goes too, rather than keep the test's pipes open.
        os.close(write_end)
        if os.read(read_end, 1) != b"x":
            os._exit(4)
        os._exit(0 if answers() == before else 3)

    if mode == "os.fork":
        read_end, write_end = os.pipe()
        child = os.fork()
        if child == 0:
            child_checks(read_end, write_end)
    elif mode == "multiprocessing":
        import multiprocessing
        read_end, write_end = os.pipe()
        process = multiprocessing.get_context("fork").Process(target=child_checks, args=(read_end, write_end))
        process.start()
    print("mapped" if index._mapped() else "read", flush=True)
    sys.stdin.readline()
    if mode == "self":
        with open(path, "r+b") as file:
            file.write(b"\\xff" * os.path.getsize(path))
            file.truncate(100)
    if mode == "os.fork":
        os.write(write_end, b"x")
        assert os.waitpid(child, 0)[1] == 0, "the child answered otherwise"
    elif mode == "multiprocessing":
        os.write(write_end, b"x")
        process.join()
        assert process.exitcode == 0, "the child answered otherwise"
    assert answers() == before, "the answers changed"
    print("same", flush=True)
    """
)


def overwrite(path):
    script = "import os, sys; f = open(sys.argv[1], 'r+b'); f.write(b'\\xff' * os.path.getsize(sys.argv[1]))"
    return [sys.executable, "-c", script, path]


def truncate(size):
    # truncate opens the file without blocking, so while the lease is being
    # given up it is told EAGAIN rather than made to wait: tried again, as
    # its user would, it goes through.
    script = 'for _ in $(seq 100); do truncate -s "$1" "$2" 2>/dev/null && exit 0; sleep 0.1; done; exit 1'
    return lambda path: ["sh", "-c", script, "sh", str(size(path)), path]


def append(path):
    return [sys.executable, "-c", "import sys; open(sys.argv[1], 'ab').write(b'junk' * 4096)", path]


def rename_over(path):
    return [sys.executable, "-c", "import os, sys; os.replace(sys.argv[1] + '.other', sys.argv[1])", path]


def unlink(path):
    return [sys.executable, "-c", "import os, sys; os.remove(sys.argv[1])", path]


REWRITES = {
    "overwrite at the same size": overwrite,
    "truncate to 0": truncate(lambda path: 0),
    "truncate to half": truncate(lambda path: os.path.getsize(path) // 2),
    "cp another index over it": lambda path: ["cp", path + ".other", path],
    "append": append,
    "rename another file over it": rename_over,
    "unlink": unlink,
}


@pytest.fixture
def saved(tmp_path):
    path = str(tmp_path / "words.kvx")
    Index.from_words(WORDS).save(path)
    Index.from_words(OTHER).save(path + ".other")
    return path


@pytest.fixture
def leases(tmp_path):
    """Whether the kernel leases files where the tests write them. Where it
    does not (leases turned off, a file system without them), every index
    is read, and the rewrites must still leave it answering."""
    probe = tmp_path / "probe"
    probe.write_bytes(b"x")
    descriptor = os.open(probe, os.O_RDONLY)
    try:
        fcntl.fcntl(descriptor, getattr(fcntl, "F_SETLEASE", 1024), fcntl.F_RDLCK)
        return True
    except OSError:
        return False
    finally:
        os.close(descriptor)


def start_reader(path, mode):
    reader = subprocess.Popen(
        [sys.executable, "-c", READER, path, mode],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    return reader, reader.stdout.readline().strip()


def finish_reader(reader):
    output, errors = reader.communicate("go\n", timeout=60)
    assert (reader.returncode, output.strip()) == (0, "same"), errors


@pytest.mark.parametrize("mode", ["plain", "os.fork", "multiprocessing"])
@pytest.mark.parametrize("rewrite", REWRITES.values(), ids=REWRITES.keys())
def test_a_rewritten_file_keeps_answering_what_was_loaded(saved, leases, rewrite, mode):
    reader, how = start_reader(saved, mode)
    try:
        assert how == ("mapped" if leases else "read")
        subprocess.run(rewrite(saved), check=True, timeout=WRITER_BOUND)
    finally:
        finish_reader(reader)
    if rewrite in (REWRITES["cp another index over it"], REWRITES["rename another file over it"]):
        assert list(Index.load(saved)) == list(Index.from_words(OTHER))


def test_the_process_that_mapped_it_may_rewrite_it_too(saved, leases):
    reader, how = start_reader(saved, "self")
    assert how == ("mapped" if leases else "read")
    finish_reader(reader)


def test_a_file_open_for_writing_is_read_not_mapped(saved):
    # The writer holds the file open while the reader loads it, so no lease
    # can be had; it then rewrites and truncates it.
    script = (
        "import os, sys; f = open(sys.argv[1], 'r+b'); print('open', flush=True); sys.stdin.readline();"
        " f.write(b'\\xff' * os.path.getsize(sys.argv[1])); f.truncate(10); f.close()"
    )
    writer = subprocess.Popen(
        [sys.executable, "-c", script, saved], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
    )
    try:
        assert writer.stdout.readline().strip() == "open"
        reader, how = start_reader(saved, "plain")
        assert how == "read"
    finally:
        writer.communicate("go\n", timeout=WRITER_BOUND)
    assert writer.returncode == 0
    finish_reader(reader)


def test_a_thread_that_blocks_the_lease_signal_reads(saved, leases):
    # A program that blocks every signal, to wait for them in one thread,
    # would never hear that a writer waits: its files are read.
    realtime = range(signal.SIGRTMIN, signal.SIGRTMAX + 1)
    before = signal.pthread_sigmask(signal.SIG_BLOCK, realtime)
    try:
        assert not Index.load(saved)._mapped()
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, before)
    assert Index.load(saved)._mapped() == leases


def open_descriptors_and_mappings(path=None):
    """The open descriptors, and the mappings (of the file `path` only, when
    given: a sanitizer's allocator maps memory of its own as the heap
    grows)."""
    with open("/proc/self/maps") as maps:
        lines = list(maps)
    if path is not None:
        target = os.path.realpath(path)
        lines = [line for line in lines if line.rstrip("\n").endswith(" " + target)]
    return len(os.listdir("/proc/self/fd")), len(lines)


# PyPy keeps a dropped index, mapped or read, through gc.collect() (as it
# did when files were mapped by the mmap module); once the table of leased
# mappings is full, loads there read the file instead.
@pytest.mark.skipif(sys.implementation.name == "pypy", reason="PyPy does not free a dropped index when asked")
def test_loading_and_dropping_leaves_nothing_behind(saved, leases):
    """Each index dropped gives its mapping, its descriptor and its slot in
    the table of leased mappings back."""
    Index.load(saved).get("tree")
    gc.collect()
    before = open_descriptors_and_mappings(saved)
    for cycle in range(1500):
        index = Index.load(saved)
        assert index._mapped() == leases and index.get("tree") == 5
        if cycle == 0:  # the count sees the file's mapping
            assert open_descriptors_and_mappings(saved)[1] == before[1] + leases
        del index
        if cycle % 100 == 0:  # (PyPy frees only when it collects)
            gc.collect()
    gc.collect()
    assert open_descriptors_and_mappings(saved) == before


def test_a_copied_index_is_dropped_cleanly(saved, leases):
    if not leases:
        pytest.skip("files here cannot be leased, so none is mapped")
    index = Index.load(saved)
    sections = index._sections()
    with open(saved, "r+b") as file:  # the lease breaks here, in this process
        file.write(b"\xff" * 16)
    assert sections[0].obj.copied and index.get("tree") == 5
    assert not index._mapped() and index.memory_usage()["mapped"] == 0
    if sys.implementation.name == "pypy":  # (see above)
        return
    before = open_descriptors_and_mappings()
    del index, sections
    gc.collect()
    assert open_descriptors_and_mappings() < before
