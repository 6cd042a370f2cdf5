"""The kelvaro command, run as a separate process the way a user runs it."""
import io
import json
import os
import pty
import shutil
import subprocess
import sys

import pytest

from kelvaro import Index
from kelvaro._cli.frame import _size


def kelvaro(*args, stdin=None):
    return subprocess.run(
        [sys.executable, "-m", "kelvaro", *map(str, args)],
        input=stdin,
        capture_output=True,
        text=True,
        timeout=120,
    )


def succeeded(*args, **kwargs):
    result = kelvaro(*args, **kwargs)
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
    return result.stdout


@pytest.fixture
def words_file(tmp_path):
    path = tmp_path / "words.txt"
    path.write_bytes("tree\r\n  trie \n\nthree\nTree\n\u00e9t\u00e9\ntree\n".encode("utf-8"))
    return path


class TestBuildSearchInfo:
    def test_build_then_search(self, words_file, tmp_path):
        index_path = tmp_path / "words.kvx"
        assert succeeded("build", words_file, "-o", index_path) == (
            f"{index_path}: 5 words, 18 nodes, {_size(os.path.getsize(index_path))}\n"
        )
        assert Index.load(index_path).memory_usage()["sound table"] > 0
        succeeded("build", words_file, "-o", index_path, "--no-sounds")
        assert Index.load(index_path).memory_usage()["sound table"] == 0
        # Blank lines skipped, blanks trimmed, the last "tree" wins: position 5 among the words.
        assert Index.load(index_path).get("tree") == 5
        assert succeeded("search", "-i", index_path, "tre", "ete") == (
            "'tre' within distance 1: 2 matches\n"
            "  distance  word  value\n"
            "         1  tree  5\n"
            "         1  trie  1\n"
            "\n"
            "'ete' within distance 1: no matches\n"
        )

    def test_json_lines(self, words_file, tmp_path):
        index_path = tmp_path / "words.kvx"
        succeeded("build", words_file, "-o", index_path, "--casefold")
        lines = succeeded("search", "--index", index_path, "TREE", "\u00c9TE", "-d", "2", "-k", "2", "--json")
        assert [json.loads(line) for line in lines.splitlines()] == [
            {"query": "TREE", "matches": [{"word": "tree", "value": 5, "distance": 0}, {"word": "three", "value": 2, "distance": 1}]},
            {"query": "\u00c9TE", "matches": [{"word": "\u00e9t\u00e9", "value": 4, "distance": 1}]},
        ]

    def test_info(self, words_file, tmp_path):
        index_path = tmp_path / "words.kvx"
        succeeded("build", words_file, "-o", index_path, "--casefold")
        size = os.path.getsize(index_path)
        assert succeeded("info", index_path).splitlines() == [
            f"index           {index_path}",
            "format version  2",
            "words           4",
            "nodes           14",
            f"file size       {size:,} bytes",  # under 1 KiB, no other unit
            "normalization   casefold",
            "values          identifiers",
        ]

    def test_words_from_standard_input(self, tmp_path):
        succeeded("build", "-", "-o", tmp_path / "in.kvx", stdin="b\na\n")
        assert list(Index.load(tmp_path / "in.kvx")) == ["a", "b"]

    def test_queries_from_standard_input_and_a_byte_order_mark(self, tmp_path):
        words_path, index_path = tmp_path / "bom.txt", tmp_path / "bom.kvx"
        words_path.write_bytes("\ufefftree\ntrie\n".encode("utf-8"))
        assert succeeded("build", words_path, "-o", index_path).startswith(f"{index_path}: 2 words, 7 nodes, ")
        lines = succeeded("search", "-i", index_path, "tree", "-", "-d", "0", "--json", stdin="\ufefftrie\n\n tre \n")
        assert [json.loads(line)["query"] for line in lines.splitlines()] == ["tree", "trie", "tre"]
        assert [len(json.loads(line)["matches"]) for line in lines.splitlines()] == [1, 1, 0]

    def test_info_json_plurals_and_no_matches_shown(self, tmp_path):
        index_path = tmp_path / "one.kvx"
        assert succeeded("build", "-", "-o", index_path, stdin="\n").startswith(f"{index_path}: 0 words, 1 node, ")
        assert succeeded("build", "-", "-o", index_path, stdin="a\n").startswith(f"{index_path}: 1 word, 2 nodes, ")
        Index.from_words(["a"], normalize=str.lower).save(index_path)
        assert json.loads(succeeded("info", index_path, "--json")) == {
            "index": str(index_path), "format_version": 2, "words": 1, "nodes": 2,
            "file_size": os.path.getsize(index_path), "normalization": "lower", "weighted": False,
        }
        assert succeeded("search", "-i", index_path, "b", "c", "-k", "0").splitlines() == [
            "'b' within distance 1: matches found, none shown (-k 0)", "", "'c' within distance 1: matches found, none shown (-k 0)"
        ]

    def test_the_default_english_index(self):
        lines = succeeded("search", "speling", "-d", "2", "--json")
        words = [match["word"] for match in json.loads(lines)["matches"]]
        assert "spelling" in words and len(words) > 20

    def test_the_console_script(self):
        script = shutil.which("kelvaro", path=os.path.dirname(sys.executable))
        assert script is not None
        result = subprocess.run([script, "--version"], capture_output=True, text=True, timeout=60)
        assert result.stdout.startswith("kelvaro ") and result.returncode == 0


class TestErrors:
    @pytest.mark.parametrize(
        "args, status, message",
        [
            ([], 2, "kelvaro: error: the following arguments are required: COMMAND (see kelvaro --help)"),
            (["search", "x", "-d", "two"], 2, "expected an integer of 0 or more, not 'two'"),
            (["search", "x", "-k", "-1"], 2, "expected an integer of 0 or more, not '-1'"),
            (["build", "words.txt"], 2, "the following arguments are required: -o/--output"),
            (["frobnicate"], 2, "invalid choice: 'frobnicate'"),
            (["info", "{missing}"], 1, "kelvaro: error: {missing}: No such file or directory"),
            (["search", "-i", "{missing}", "x"], 1, "kelvaro: error: {missing}: No such file or directory"),
            (["search", "-i", "{garbage}", "x"], 1, "kelvaro: error: {garbage}: not a kelvaro index"),
            (["info", "{truncated}"], 1, "kelvaro: error: {truncated}: truncated: 20 bytes, too short for a kelvaro index"),
            (["build", "{latin1}", "-o", "{tmp}/x.kvx"], 1, "kelvaro: error: {latin1}: line 1 is not UTF-8 text (at byte 3)"),
            (["build", "{missing}", "-o", "{tmp}/x.kvx"], 1, "No such file or directory"),
            (["build", "{words}", "-o", "{tmp}/no/such/dir.kvx"], 1, "No such file or directory"),
            (["search", "-i", "{tmp}", "x"], 1, "kelvaro: error: {tmp}: a directory, not an index file"),
            (["build", "{words}", "-o", "{tmp}"], 1, "kelvaro: error: {tmp}: Is a directory"),
            (["search", "-i", "{custom}", "x"], 1, "built with the normalize function test_cli.reversed_word, which the command line cannot apply"),
            (["search", "caf\udce9"], 1, "kelvaro: error: the query b'caf\\xe9' is not UTF-8 text"),
            (["info", "{tmp}/x\udcff.kvx"], 1, "kelvaro: error: {tmp}/x\\xff.kvx: No such file or directory"),
            (["info", "{garbage_bytes}"], 1, "kelvaro: error: {tmp}/y\\xff.kvx: not a kelvaro index"),
        ],
    )
    def test_one_line_and_a_status(self, tmp_path, words_file, args, status, message):
        index_path = tmp_path / "good.kvx"
        Index.from_words(["a"]).save(index_path)
        places = {
            "missing": tmp_path / "missing",
            "garbage": words_file,
            "words": words_file,
            "truncated": tmp_path / "truncated.kvx",
            "latin1": tmp_path / "latin1.txt",
            "tmp": tmp_path,
            "custom": tmp_path / "custom.kvx",
            "garbage_bytes": os.fsdecode(bytes(tmp_path) + b"/y\xff.kvx"),
        }
        shutil.copy(words_file, places["garbage_bytes"])
        Index.from_words(["a"], normalize=reversed_word).save(places["custom"])
        places["truncated"].write_bytes(index_path.read_bytes()[:20])
        places["latin1"].write_bytes("caf\xe9\n".encode("latin-1"))
        args = [arg.format(**places) for arg in args]
        result = kelvaro(*args)
        assert result.returncode == status
        assert result.stdout == ""
        assert result.stderr.count("\n") == 1 and "Traceback" not in result.stderr
        assert message.format(**places) in result.stderr


    @pytest.mark.parametrize(
        "content, number",
        [
            (b"the\t5\t6\n", 1),  # two tabs: a word does not hold one
            (b"the 5\rof 3\r", 1),  # an old Mac's line endings
            ("of 1\nthe \u00b2\n".encode(), 2),  # digits that are not ASCII
            ("the \u0663\n".encode(), 1),
            ("the \uff15\n".encode(), 1),
            (b"the\n", 1),
        ],
    )
    def test_a_line_that_is_not_a_word_and_a_count(self, tmp_path, content, number):
        (tmp_path / "counts.txt").write_bytes(content)
        result = kelvaro("build", "--counts", tmp_path / "counts.txt", "-o", tmp_path / "x.kvx")
        assert result.returncode == 1 and result.stderr.count("\n") == 1
        assert f"kelvaro: error: {tmp_path / 'counts.txt'}: line {number} is not a word and a count" in result.stderr

    def test_counts_of_any_length_saturate(self, tmp_path):
        (tmp_path / "counts.txt").write_text("the " + "9" * 5000 + "\nof 007\n")
        succeeded("build", "--counts", tmp_path / "counts.txt", "-o", tmp_path / "x.kvx")
        index = Index.load(tmp_path / "x.kvx")
        assert (index.get("the"), index.get("of")) == (4294967295, 7)

    @pytest.mark.parametrize(
        "args",
        [
            ["suggest", "-"], ["search", "a", "-"], ["complete", "-"], ["build", "-", "-o", "x.kvx"],
            ["check"], ["check", "-"], ["check", "-", "--diff"], ["check", "-", "--strict"], ["check", "a.txt", "-"],
        ],
    )
    def test_a_closed_standard_input(self, tmp_path, args):
        (tmp_path / "a.txt").write_text("the cat\n")
        result = subprocess.run(
            [sys.executable, "-m", "kelvaro", *args],
            capture_output=True, text=True, timeout=120, cwd=tmp_path, stdin=subprocess.DEVNULL,
            preexec_fn=lambda: os.close(0),
        )
        # check's 1 says it found typos: its failures are 2.
        status = 2 if args[0] == "check" else 1
        assert (result.returncode, result.stderr) == (status, "kelvaro: error: standard input is closed\n")

    def test_json_whatever_the_encoding_of_standard_output(self):
        result = subprocess.run(
            [sys.executable, "-m", "kelvaro", "suggest", "caf\u00e9", "\U0001f600a", "--json"],
            capture_output=True, timeout=120, env={**os.environ, "PYTHONIOENCODING": "ascii"},
        )
        records = [json.loads(line) for line in result.stdout.decode("ascii").splitlines()]
        assert [record["query"] for record in records] == ["caf\u00e9", "\U0001f600a"]

    @pytest.mark.parametrize(
        "stdout, message",
        [
            (None, "kelvaro: error: standard output is closed\n"),
            ("/dev/full", "kelvaro: error: cannot write to standard output: No space left on device\n"),
        ],
    )
    def test_an_unwritable_standard_output(self, stdout, message):
        with open(stdout or os.devnull, "w") as out:
            result = subprocess.run(
                [sys.executable, "-m", "kelvaro", "search", "speling"],
                stdout=out,
                stderr=subprocess.PIPE,
                text=True,
                timeout=120,
                preexec_fn=(lambda: os.close(1)) if stdout is None else None,
            )
        assert (result.returncode, result.stderr) == (1, message)

    def test_ctrl_c_while_the_package_loads(self):
        script = (
            "import builtins, sys\n"
            "real_import = builtins.__import__\n"
            "def interrupted(name, *args, **kwargs):\n"
            "    if name == 'kelvaro._cli':\n"
            "        raise KeyboardInterrupt\n"
            "    return real_import(name, *args, **kwargs)\n"
            "builtins.__import__ = interrupted\n"
            "import _kelvaro_command\n"
            "sys.exit(_kelvaro_command.main())\n"
        )
        result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
        assert (result.returncode, result.stderr) == (130, "kelvaro: error: interrupted\n")


def reversed_word(word):
    return word[::-1]


class TestProgress:
    def test_shown_on_a_terminal_for_a_large_list(self, tmp_path):
        words_path = tmp_path / "many.txt"
        words_path.write_text("".join(f"word{n}\n" for n in range(200_000)))
        stderr = run_with_terminal_stderr([sys.executable, "-m", "kelvaro", "build", str(words_path), "-o", str(tmp_path / "many.kvx")])
        assert f"reading {words_path} [" in stderr and "100%" in stderr
        assert "building the index of 200,000 words" in stderr

    def test_not_shown_otherwise(self, tmp_path, words_file):
        # stderr is a pipe here, and the list is small besides.
        succeeded("build", words_file, "-o", tmp_path / "w.kvx")


def run_with_terminal_stderr(command):
    """Runs `command` with its standard error on a pseudo-terminal; returns
    what it wrote there."""
    leader, follower = pty.openpty()
    try:
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=follower)
        os.close(follower)
        chunks = []
        while True:
            try:
                chunk = os.read(leader, 4096)
            except OSError:  # the terminal closes when the process ends
                break
            if not chunk:
                break
            chunks.append(chunk)
        assert process.wait(timeout=120) == 0
    finally:
        os.close(leader)
    return b"".join(chunks).decode("utf-8", "replace")


class TestCheck:
    @pytest.fixture
    def tree(self, tmp_path):
        """Files of every kind that check meets, and an index of the right words."""
        index = Index.from_words({"the": 9, "quick": 5, "brown": 4, "fox": 3, "over": 2, "dog": 1}, weighted=True)
        index.save(tmp_path / "words.kvx")
        (tmp_path / "crlf.txt").write_bytes("\ufeffthe quikc fox\r\n\r\nover the dgo\r\nthe fox\r\nthe\r\nthe\r\nthe\r\nthe\r\nteh".encode())
        (tmp_path / "clean.txt").write_text("the quick brown fox\n")
        (tmp_path / "latin1.txt").write_bytes("the fox\ncaf\xe9\n".encode("latin-1"))
        (tmp_path / "image.bin").write_bytes(b"\x89PNG\x00\x01")
        (tmp_path / "ignore.txt").write_text("QUIKC\n")
        (tmp_path / "sub").mkdir()
        (tmp_path / "sub" / "caf\u00e9.txt").write_text("the caf\u00e9 \u00e9t\u00e9 fox\n")
        return tmp_path

    def check(self, tree, *args, stdin=None):
        result = subprocess.run(
            [sys.executable, "-m", "kelvaro", "check", "-i", "words.kvx", *args],
            input=stdin.encode("latin-1") if isinstance(stdin, str) else stdin,
            capture_output=True, timeout=120, cwd=tree, env={**os.environ, "LC_ALL": "C", "PYTHONIOENCODING": ""},
        )
        return result.returncode, result.stdout.decode().splitlines(), result.stderr.decode().splitlines()

    CRLF = ["crlf.txt:1:5: quikc -> quick", "crlf.txt:3:10: dgo -> dog", "crlf.txt:9:1: teh -> the"]
    LATIN1 = "kelvaro: latin1.txt: not UTF-8 text (line 2), skipped"

    # 0: nothing found; 1: typos found; 2: an error, whatever else was found,
    # the other files checked all the same. Binary files are no error.
    @pytest.mark.parametrize(
        "args, status, out, err",
        [
            (["clean.txt"], 0, [], []),
            (["clean.txt", "image.bin"], 0, [], ["kelvaro: image.bin: a binary file, skipped"]),
            (["crlf.txt", "image.bin", "clean.txt"], 1, CRLF, ["kelvaro: image.bin: a binary file, skipped"]),
            (["missing.txt"], 2, [], ["kelvaro: missing.txt: No such file or directory"]),
            (["crlf.txt", "missing.txt", "--ignore", "ignore.txt", "-k", "0"], 2,
             ["crlf.txt:3:10: dgo -> (no suggestions)", "crlf.txt:9:1: teh -> (no suggestions)"],
             ["kelvaro: missing.txt: No such file or directory"]),
            (["loop.txt", "crlf.txt"], 2, CRLF, ["kelvaro: loop.txt: Too many levels of symbolic links"]),
            (["sub", "crlf.txt"], 2, CRLF, ["kelvaro: sub: a directory (add -r to check the files below it)"]),
            (["fifo", "clean.txt"], 2, [], ["kelvaro: fifo: not a regular file"]),
            (["latin1.txt", "clean.txt"], 2, [], [LATIN1]),
            (["crlf.txt", "latin1.txt", "image.bin", "clean.txt"], 2, CRLF, [LATIN1, "kelvaro: image.bin: a binary file, skipped"]),
            (["latin1.txt", "clean.txt", "--skip-undecodable"], 0, [], []),
            (["latin1.txt", "crlf.txt", "--skip-undecodable"], 1, CRLF, []),
            (["latin1.txt", "crlf.txt", "--strict"], 2, CRLF, [LATIN1]),
            # Below a folder a binary file is passed over without a word, and a pipe with one.
            (["-r", "mixed"], 2, ["mixed/typo.txt:1:5: quikc -> quick"],
             ["kelvaro: mixed/fifo: not a regular file, skipped", "kelvaro: mixed/latin1.txt: not UTF-8 text (line 2), skipped"]),
            (["-r", "mixed", "--skip-undecodable"], 1, ["mixed/typo.txt:1:5: quikc -> quick"], ["kelvaro: mixed/fifo: not a regular file, skipped"]),
            (["-r", "mixed", "--strict", "--diff", "--skip-undecodable"], 1,
             ["--- a/mixed/typo.txt", "+++ b/mixed/typo.txt", "@@ -1,1 +1,1 @@", "-the quikc fox", "+the quick fox"],
             ["kelvaro: mixed/fifo: not a regular file, skipped"]),
            (["crlf.txt", "-i", "missing.kvx"], 2, [], ["kelvaro: error: missing.kvx: No such file or directory"]),
            (["--json", "--diff"], 2, [], ["kelvaro check: error: argument --diff: not allowed with argument --json (see kelvaro check --help)"]),
        ],
    )
    def test_findings_and_status(self, tree, args, status, out, err):
        (tree / "loop.txt").symlink_to("loop.txt")
        os.mkfifo(tree / "fifo")
        (tree / "mixed").mkdir()
        (tree / "mixed" / "image.bin").write_bytes(b"\x89PNG\x00\x01")
        (tree / "mixed" / "latin1.txt").write_bytes("the fox\ncaf\xe9\n".encode("latin-1"))
        (tree / "mixed" / "typo.txt").write_text("the quikc fox\n")
        os.mkfifo(tree / "mixed" / "fifo")
        assert self.check(tree, *args) == (status, out, err)

    @pytest.mark.parametrize(
        "args, status, out, err",
        [
            ([], 2, [], ["kelvaro: <stdin>: not UTF-8 text (line 2), skipped"]),
            (["--strict"], 2, [], ["kelvaro: <stdin>: not UTF-8 text (line 2), skipped"]),
            (["--diff"], 2, [], ["kelvaro: <stdin>: not UTF-8 text (line 2), skipped"]),
            (["--skip-undecodable"], 0, [], []),
            (["--strict", "--diff", "--skip-undecodable"], 0, [], []),
        ],
    )
    def test_standard_input_that_is_not_utf8(self, tree, args, status, out, err):
        assert self.check(tree, *args, stdin="the quikc fox\ncaf\xe9\n") == (status, out, err)

    def test_standard_input_that_fails_to_read(self, tree, monkeypatch, capsys):
        from kelvaro import _cli

        class Failing(io.RawIOBase):
            def readable(self):
                return True

            def readinto(self, buffer):
                raise OSError(5, "Input/output error")

        monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BufferedReader(Failing())))
        monkeypatch.chdir(tree)
        assert _cli.main(["check", "-i", "words.kvx", "-", "crlf.txt"]) == 2
        out, err = capsys.readouterr()
        assert (out.splitlines(), err) == (self.CRLF, "kelvaro: <stdin>: Input/output error\n")

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
    def test_a_file_that_may_not_be_read(self, tree):
        (tree / "locked.txt").write_text("the quikc fox\n")
        os.chmod(tree / "locked.txt", 0)
        assert self.check(tree, "locked.txt", "crlf.txt") == (2, self.CRLF, ["kelvaro: locked.txt: Permission denied"])

    def test_the_statuses_are_in_the_help(self):
        epilog = " ".join(succeeded("check", "--help").split())
        assert "0 when nothing was found; 1 when a typo was found" in epilog and "2 for an error, which wins over 1" in epilog

    def test_json_is_ascii_and_standard_input(self, tree):
        # Words with no likely correction are the project's: only --strict shows them.
        assert self.check(tree, "-r", "sub", "--json")[:2] == (0, [])
        status, out, _ = self.check(tree, "-r", "sub", "--json", "--strict")
        assert status == 1 and all(line.isascii() for line in out)
        assert [json.loads(line) for line in out] == [
            {"path": os.path.join("sub", "caf\u00e9.txt"), "line": 1, "column": 5, "word": "caf\u00e9", "suggestions": [], "suspect": False, "confidence": 1.0},
            {"path": os.path.join("sub", "caf\u00e9.txt"), "line": 1, "column": 10, "word": "\u00e9t\u00e9", "suggestions": [], "suspect": False, "confidence": 1.0},
        ]
        assert self.check(tree, stdin="the fox\nteh\n")[:2] == (1, ["<stdin>:2:1: teh -> the"])

    @pytest.mark.skipif(shutil.which("patch") is None, reason="needs patch")
    def test_the_diff_applies(self, tree):
        before = (tree / "crlf.txt").read_bytes()
        status, out, _ = self.check(tree, "crlf.txt", "clean.txt", "--diff")
        assert status == 1 and out[:3] == ["--- a/crlf.txt", "+++ b/crlf.txt", "@@ -1,9 +1,9 @@"]
        assert (tree / "crlf.txt").read_bytes() == before
        diff = subprocess.run([sys.executable, "-m", "kelvaro", "check", "-i", "words.kvx", "crlf.txt", "--diff"],
                              cwd=tree, capture_output=True, timeout=120).stdout
        subprocess.run(["patch", "-p1", "--quiet"], input=diff, cwd=tree, check=True, timeout=60)
        assert (tree / "crlf.txt").read_bytes() == before.replace(b"quikc", b"quick").replace(b"dgo", b"dog").replace(b"teh", b"the")

    # Names that a header must quote or end with a tab, and names that
    # need neither but are easily mistaken for something else.
    AWKWARD_NAMES = [
        "my notes.txt", "tab\there.txt", 'q"uote.txt', "back\\slash.txt", "caf\u00e9.txt", "-dash.txt",
        "new\nline.txt", "cr\rbell\a.txt", "trail ", " lead.txt", 'both "q" and space.txt', os.fsdecode(b"latin\xe9.txt"),
    ]

    @pytest.mark.skipif(shutil.which("patch") is None or shutil.which("git") is None, reason="needs patch and git")
    @pytest.mark.parametrize("strict", [[], ["--strict"]])
    def test_the_diff_of_awkward_names_applies_with_patch_and_git(self, tree, strict):
        (tree / "names").mkdir()
        # A different typo in each: one repeated across files would be the project's word.
        typos = ["quikc", "qiuck", "quck", "qucik", "quic", "quickk", "dgo", "brwon", "dogg", "ovre", "oevr", "foxx"]
        for name, typo in zip(self.AWKWARD_NAMES, typos):
            (tree / "names" / name).write_text(f"the {typo} fox\nthe dog\n")
        result = subprocess.run([sys.executable, "-m", "kelvaro", "check", "-i", "../words.kvx", *strict, "--diff", "--", *self.AWKWARD_NAMES],
                                cwd=tree / "names", capture_output=True, timeout=120)
        assert result.returncode == 1, result.stderr
        diff = result.stdout
        assert diff.isascii() and diff.count(b"\n--- ") + diff.startswith(b"--- ") == len(self.AWKWARD_NAMES)
        assert b'--- "a/q\\"uote.txt"\n' in diff and b"--- a/my notes.txt\t\n" in diff and b'--- "a/caf\\303\\251.txt"\n' in diff
        (tree / "names").rename(tree / "before")
        shutil.copytree(tree / "before", tree / "written")
        # Not in the C locale of check(): there PyPy reads non-ASCII arguments as UTF-8 but cannot open them.
        written = subprocess.run([sys.executable, "-m", "kelvaro", "check", "-i", "../words.kvx", *strict, "--write", "--", *self.AWKWARD_NAMES],
                                 cwd=tree / "written", capture_output=True, timeout=120)
        assert written.returncode == 1 and written.stderr.count(b"\n") == len(self.AWKWARD_NAMES), written.stderr
        for tool in (["patch", "-p1", "--quiet", "--batch"], ["git", "apply"]):
            shutil.copytree(tree / "before", tree / "patched")
            subprocess.run(["git", "init", "--quiet"], cwd=tree / "patched", check=True, timeout=60)
            applied = subprocess.run(tool, input=diff, cwd=tree / "patched", capture_output=True, timeout=60)
            assert applied.returncode == 0, (tool, applied.stdout, applied.stderr)
            shutil.rmtree(tree / "patched" / ".git")
            for name in self.AWKWARD_NAMES:
                before = (tree / "before" / name).read_text()
                patched = (tree / "patched" / name).read_text()
                assert patched != before and patched == (tree / "written" / name).read_text(), (tool, name)
            assert sorted(os.listdir(tree / "patched")) == sorted(self.AWKWARD_NAMES)
            shutil.rmtree(tree / "patched")

    @pytest.mark.parametrize(
        "strict, text, found",
        [
            (["--strict"], "the quikc fox " * 40 + "\n" + "the fox \u00e9t\u00e9 dgo\n" * 30, 40 + 60),
            # By default a word repeated is the project's: one of each here.
            ([], "the fox " * 300 + "teh quikc\n" + "the dog over the fox\n" * 30 + "brwon dgo\n", 4),
        ],
    )
    def test_chunks_cut_anywhere_find_the_same(self, tree, monkeypatch, capsys, strict, text, found):
        from kelvaro import _cli
        from kelvaro._cli import check_chunks

        (tree / "long.txt").write_text(text)
        argv = ["check", "-i", str(tree / "words.kvx"), str(tree / "long.txt"), *strict]
        assert _cli.main(argv) == 1
        whole = capsys.readouterr().out
        monkeypatch.setattr(check_chunks, "TEXT_CHUNK", 7)
        assert _cli.main(argv) == 1
        assert capsys.readouterr().out == whole and whole.count("\n") == found
