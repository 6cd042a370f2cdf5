"""kelvaro check --write and --strict: the file --write leaves is the one
--diff and patch make, and untouched when anything fails; --strict finds
what the check always found."""
import os
import shutil
import stat
import subprocess
import sys
import tempfile

import pytest

from kelvaro import Index, _cli, _vocabulary
from kelvaro._match import Match

PROSE_WORDS = {
    "the": 900, "quick": 50, "brown": 40, "fox": 30, "jumps": 20, "over": 60, "lazy": 10, "dog": 25,
    "which": 300, "witch": 2, "with": 400, "was": 500, "a": 1000, "spelling": 12, "checker": 5,
    "well": 80, "known": 40, "to": 800, "it": 700, "is": 750, "not": 300, "hard": 30, "read": 40, "word": 50,
}
PROSE = (
    "Teh quick brwn fox jumps ovr the lazy dgo.\n"
    "It is not hard to raed a speling chekcer, witch was well known.\n"
    "THE QUIKC fox, the well-knwon word; na\u00efve caf\u00e9 r\u00e9sum\u00e9.\n"
    "  Indented: teh dog's dogg and 42 foxes at http://example.com/teh or me@examle.org\n"
    "a wich word\n"
)

# What kelvaro check printed for PROSE before it knew code and confidence.
BEFORE = [
    "prose.txt:1:1: Teh -> the, to",
    "prose.txt:1:11: brwn -> brown",
    "prose.txt:1:26: ovr -> over",
    "prose.txt:1:39: dgo -> dog, to",
    "prose.txt:2:19: raed -> read, hard",
    "prose.txt:2:26: speling -> spelling",
    "prose.txt:2:34: chekcer -> checker",
    "prose.txt:3:5: QUIKC -> quick",
    "prose.txt:3:25: knwon -> known",
    "prose.txt:3:37: na\u00efve -> (no suggestions)",
    "prose.txt:3:43: caf\u00e9 -> (no suggestions)",
    "prose.txt:3:48: r\u00e9sum\u00e9 -> (no suggestions)",
    "prose.txt:4:3: Indented -> (no suggestions)",
    "prose.txt:4:13: teh -> the, to",
    "prose.txt:4:23: dogg -> dog",
    "prose.txt:4:28: and -> a, hard",
    "prose.txt:4:35: foxes -> fox",
    "prose.txt:4:41: at -> it, a, to",
    "prose.txt:4:67: or -> over, word, not",
    "prose.txt:5:3: wich -> which, witch, with",
]
BEFORE_SUSPECTS = [line.split(", ")[0] if " -> " in line else line for line in BEFORE]
BEFORE_SUSPECTS.insert(7, "prose.txt:2:43: witch -> with (a real word, but likely a typo)")
BEFORE_DIFF = [
    "--- a/prose.txt",
    "+++ b/prose.txt",
    "@@ -1,5 +1,5 @@",
    "-Teh quick brwn fox jumps ovr the lazy dgo.",
    "-It is not hard to raed a speling chekcer, witch was well known.",
    "-THE QUIKC fox, the well-knwon word; na\u00efve caf\u00e9 r\u00e9sum\u00e9.",
    "-  Indented: teh dog's dogg and 42 foxes at http://example.com/teh or me@examle.org",
    "-a wich word",
    "+The quick brown fox jumps over the lazy dog.",
    "+It is not hard to read a spelling checker, witch was well known.",
    "+THE QUICK fox, the well-known word; na\u00efve caf\u00e9 r\u00e9sum\u00e9.",
    "+  Indented: the dog's dog a 42 fox is it http://example.com/teh over me@examle.org",
    "+a which word",
]


@pytest.fixture
def prose(tmp_path, monkeypatch):
    Index.from_words(PROSE_WORDS, weighted=True).save(tmp_path / "prose.kvx")
    (tmp_path / "prose.txt").write_text(PROSE)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def check(capsys, *args):
    status = _cli.main(["check", "-i", "prose.kvx", *args])
    captured = capsys.readouterr()
    return status, captured.out.splitlines(), captured.err.splitlines()


@pytest.mark.parametrize(
    "args, out",
    [
        ([], BEFORE),
        (["-k", "1", "--suspects", "5"], BEFORE_SUSPECTS),
        (["--diff"], BEFORE_DIFF),
    ],
)
def test_strict_finds_what_the_check_always_found(prose, capsys, args, out):
    assert check(capsys, "prose.txt", "--strict", *args) == (1, out, [])


def test_strict_json_carries_a_confidence_of_one(prose, capsys):
    import json

    status, out, _ = check(capsys, "prose.txt", "--strict", "--json")
    records = [json.loads(line) for line in out]
    assert [f"{r['path']}:{r['line']}:{r['column']}: {r['word']}" for r in records] == [line.split(" ->")[0] for line in BEFORE]
    assert {record["confidence"] for record in records} == {1.0}


CRLF = "\ufeffTeh quick brwn fox\r\n\r\njumps ovr the lazy dgo\r\na wich word\r\nthe end brwn"


@pytest.mark.parametrize("strict", [[], ["--strict"]])
@pytest.mark.skipif(shutil.which("patch") is None, reason="needs patch")
def test_write_leaves_the_file_as_diff_and_patch_make_it(prose, capsys, strict):
    (prose / "copy").mkdir()
    for folder in (prose, prose / "copy"):
        (folder / "crlf.txt").write_bytes(CRLF.encode())
        os.chmod(folder / "crlf.txt", 0o640)
    assert _cli.main(["check", "-i", "prose.kvx", "crlf.txt", "--diff", *strict]) == 1
    diff = capsys.readouterr().out  # CRLF kept: not split into lines
    subprocess.run(["patch", "-p1", "--quiet"], input=diff.encode(), cwd=prose / "copy", check=True, timeout=60)
    status, out, err = check(capsys, "crlf.txt", "--write", *strict)
    assert (prose / "crlf.txt").read_bytes() == (prose / "copy" / "crlf.txt").read_bytes() != CRLF.encode()
    assert stat.S_IMODE(os.stat(prose / "crlf.txt").st_mode) == 0o640
    assert status == 1 and err[0].startswith("kelvaro: crlf.txt: ") and err[0].endswith(" words corrected")
    assert out == []  # every word found had a clear fix
    assert sorted(os.listdir(prose)) == ["copy", "crlf.txt", "prose.kvx", "prose.txt"]
    # Run again, nothing is left to fix and nothing is written.
    before = os.stat(prose / "crlf.txt")
    check(capsys, "crlf.txt", "--write", *strict)
    assert os.stat(prose / "crlf.txt").st_mtime_ns == before.st_mtime_ns


def test_write_shows_the_words_it_could_not_fix(prose, capsys, monkeypatch):
    (prose / "t.txt").write_text("the qiuck dgo\n")
    unclear = _vocabulary.Verdict(0.9, [Match("quick", 50, 2), Match("quack", 50, 2)], None)
    clear = _vocabulary.Verdict(0.9, [Match("dog", 25, 2)], "dog")
    monkeypatch.setattr(_vocabulary.ProjectWords, "verdict", lambda self, kept: clear if kept.found.word == "dgo" else unclear)
    status, out, err = check(capsys, "t.txt", "--write")
    assert (status, out) == (1, ["t.txt:1:5: qiuck -> quick, quack"])
    assert (prose / "t.txt").read_text() == "the qiuck dog\n"
    assert err == ["kelvaro: t.txt: 1 word corrected"]


def fail(*args, **kwargs):
    raise OSError(28, "No space left on device")


@pytest.mark.parametrize("fault", ["tempfile.mkstemp", "os.fsync", "os.fchmod", "os.replace"])
@pytest.mark.parametrize("strict", [[], ["--strict"]])
def test_write_leaves_the_file_untouched_on_any_error(prose, capsys, monkeypatch, fault, strict):
    module, name = fault.split(".")
    monkeypatch.setattr({"tempfile": tempfile, "os": os}[module], name, fail)
    status, _, err = check(capsys, "prose.txt", "--write", *strict)
    monkeypatch.undo()
    assert (prose / "prose.txt").read_text() == PROSE
    assert status == 2 and err[-1] == "kelvaro: prose.txt: No space left on device, left as it is"
    assert sorted(os.listdir(prose)) == ["prose.kvx", "prose.txt"]


@pytest.mark.skipif(os.name != "posix" or os.geteuid() == 0, reason="needs a folder that refuses a new file")
def test_write_in_a_folder_that_refuses_a_new_file(prose, capsys):
    (prose / "locked").mkdir()
    (prose / "locked" / "t.txt").write_text(PROSE)
    os.chmod(prose / "locked", 0o555)
    try:
        status, _, err = check(capsys, "locked/t.txt", "--write")
    finally:
        os.chmod(prose / "locked", 0o755)
    assert status == 2 and "Permission denied" in err[-1]
    assert (prose / "locked" / "t.txt").read_text() == PROSE and os.listdir(prose / "locked") == ["t.txt"]


def test_write_leaves_a_file_that_changed_since_it_was_checked(prose, capsys, monkeypatch):
    verdict = _vocabulary.ProjectWords.verdict

    def meanwhile(self, miss):
        # Another program writes the file between the passes.
        with open(prose / "prose.txt", "a") as file:
            file.write("more\n")
        return verdict(self, miss)

    monkeypatch.setattr(_vocabulary.ProjectWords, "verdict", meanwhile)
    status, _, err = check(capsys, "prose.txt", "--write")
    assert status == 1 and err == ["kelvaro: prose.txt: changed since it was checked, left as it is"]
    assert (prose / "prose.txt").read_text().startswith(PROSE) and (prose / "prose.txt").read_text() != PROSE


@pytest.mark.parametrize(
    "args, message",
    [
        (["prose.txt", "--write", "--diff"], "--write and --diff do not go together"),
        (["prose.txt", "--diff", "--format", "github"], "--diff prints a diff, not --format github"),
        (["prose.txt", "-", "--write"], "--write corrects files, not standard input"),
    ],
)
def test_options_that_do_not_go_together(prose, capsys, args, message):
    status, out, err = check(capsys, *args)
    assert (status, out) == (2, []) and err == [f"kelvaro: error: {message} (see kelvaro --help)"]


def test_the_default_check_in_two_passes(tmp_path, monkeypatch, capsys):
    """Files in the order given, each file's findings in text order, and the
    vocabulary hearing every unknown occurrence before its first verdict."""
    Index.from_words(PROSE_WORDS, weighted=True).save(tmp_path / "prose.kvx")
    monkeypatch.chdir(tmp_path)
    names = [f"f{n}.txt" for n in (3, 1, 2)]
    for number, name in enumerate(names):
        (tmp_path / name).write_text(f"teh fox\nbrwn {number}\n" * 3)
    heard, asked = [], []
    monkeypatch.setattr(_vocabulary.ProjectWords, "add", lambda self, occurrence: heard.append(occurrence.found.word))
    # Every word reported, whatever the vocabulary would say: the order is what is tested.
    reported = _vocabulary.Verdict(1.0, [], None)
    monkeypatch.setattr(_vocabulary.ProjectWords, "verdict", lambda self, kept: asked.append(len(heard)) or reported)
    status, out, _ = check(capsys, *names, "--json")
    assert status == 1 and set(asked) == {18}
    import json

    records = [json.loads(line) for line in out]
    assert [(r["path"], r["line"], r["word"]) for r in records] == [
        (name, line, word) for name in names for line in range(1, 7) for word in (["teh"] if line % 2 else ["brwn"])
    ]
    assert {r["confidence"] for r in records} == {1.0}
