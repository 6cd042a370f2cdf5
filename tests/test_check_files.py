"""Which files kelvaro check -r reads, and the GitHub annotations it writes."""
import pytest

from kelvaro import Index, _cli
from kelvaro._cli import check_files, check_output

MINIFIED = "var a=function(b){return b+1};" * 40  # one line of 1,200 characters, no blanks
PARAGRAPH = "the fox jumps over the dog " * 50  # as long, but prose


def tree(root, names):
    """A tree whose every file holds one unknown word, made of its path."""
    for name in names:
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        content = {".gitignore": None, "exclude": None}.get(path.name, "")
        if content is None:
            continue
        tag = "zz" + "".join(c for c in name if c.isalpha())
        path.write_text(content + names[name].replace("TAG", tag) if isinstance(names, dict) else tag + "\n")


def reported(root, monkeypatch, capsys, *args):
    Index.from_words({"the": 5, "fox": 4, "jumps": 3, "over": 2, "dog": 1}, weighted=True).save(root / "words.kvx")
    monkeypatch.chdir(root)
    _cli.main(["check", "--strict", "-k", "0", "-i", "words.kvx", *args])
    captured = capsys.readouterr()
    assert captured.err == ""
    return sorted(set(line.split(":")[0] for line in captured.out.splitlines()))


def test_what_r_skips(tmp_path, monkeypatch, capsys):
    files = {
        "kept.txt": "TAG\n",
        "debug.log": "TAG\n",  # the root's .gitignore
        "sub/kept.py": "TAG\n",
        "sub/secret.txt": "TAG\n",  # sub/.gitignore
        "sub/keep.log": "TAG\n",  # ignored above, taken back by sub/.gitignore
        "sub/deeper/also.log": "TAG\n",
        "build/out.txt": "TAG\n",  # an ignored folder
        "private.txt": "TAG\n",  # .git/info/exclude
        ".hidden.txt": "TAG\n",
        ".config/x.txt": "TAG\n",
        "package-lock.json": '{"TAG": 1}\n',
        "Cargo.lock": "TAG\n",
        "poetry.lock": "TAG\n",
        "go.sum": "TAG\n",
        "web/app.min.js": "TAG\n",
        "web/app.min.css": "TAG\n",
        "web/bundle.js": MINIFIED + "TAG\n",
        "web/prose.md": PARAGRAPH + "TAG\n",  # a long line of prose is read
    }
    tree(tmp_path, files)
    (tmp_path / ".gitignore").write_text("*.log\nbuild/\n")
    (tmp_path / "sub" / ".gitignore").write_text("secret.txt\n!keep.log\n")
    (tmp_path / ".git" / "info").mkdir(parents=True)
    (tmp_path / ".git" / "info" / "exclude").write_text("/private.txt\n")
    (tmp_path / "web" / "image.png").write_bytes(b"\x89PNG\0\0")  # binary: skipped without a word
    (tmp_path / "linked").symlink_to(tmp_path / "sub")  # a link to a folder is not followed
    assert reported(tmp_path, monkeypatch, capsys, "-r", ".") == ["./kept.txt", "./sub/keep.log", "./sub/kept.py", "./web/prose.md"]
    # Checked from below the repository's root, the .gitignore above still holds.
    assert reported(tmp_path / "sub", monkeypatch, capsys, "-r", ".") == ["./keep.log", "./kept.py"]
    # A file named on the command line is checked whatever it is.
    named = ["debug.log", "sub/secret.txt", ".hidden.txt", "Cargo.lock", "web/app.min.js", "web/bundle.js"]
    assert reported(tmp_path, monkeypatch, capsys, *named) == sorted(named)


def test_without_a_repository_the_gitignore_files_from_the_configuration_down(tmp_path, monkeypatch, capsys):
    tree(tmp_path, {"a/b/one.txt": "TAG\n", "a/b/two.txt": "TAG\n", "a/b/c/three.txt": "TAG\n"})
    (tmp_path / "a" / ".kelvaro.toml").write_text("words = []\n")
    (tmp_path / "a" / ".gitignore").write_text("one.txt\nc/\n")
    assert reported(tmp_path / "a" / "b", monkeypatch, capsys, "-r", ".") == ["./two.txt"]


@pytest.mark.parametrize(
    "head, minified",
    [
        (MINIFIED.encode(), True),
        (PARAGRAPH.encode(), False),
        (b"short\n" * 2000, False),
        (b"x\n" * 3000 + MINIFIED.encode(), True),  # within the first 8 KiB
        (b"x\n" * 5000 + MINIFIED.encode(), False),  # beyond them
    ],
)
def test_the_minified_rule(head, minified):
    assert check_files.looks_minified(head) == minified


@pytest.mark.parametrize(
    "path, word, suggestions, expected",
    [
        ("a.txt", "teh", ["the", "ten"], "::warning file=a.txt,line=3,col=5,endColumn=8,title=kelvaro::teh -> the, ten\n"),
        (
            "d:1,2/100%.md",
            "caf\u00e9",
            [],
            "::warning file=d%3A1%2C2/100%25.md,line=3,col=5,endColumn=9,title=kelvaro::caf\u00e9 -> (no suggestions)\n",
        ),
        # The message keeps : and , but not %, CR or LF.
        ("a.txt", "50%\r\nx", ["a:b,c"], "::warning file=a.txt,line=3,col=5,endColumn=11,title=kelvaro::50%25%0D%0Ax -> a:b,c\n"),
    ],
)
def test_github_annotations_are_escaped(path, word, suggestions, expected):
    finding = check_output.Finding(path, 3, 5, word, suggestions, False, 1.0)
    assert check_output.github_annotation(finding, f"{word} -> {', '.join(suggestions) or '(no suggestions)'}") == expected


@pytest.mark.parametrize(
    "files, args, loaded",
    [
        ({"t.txt": "teh fox\n"}, ["t.txt"], set()),
        ({"t.txt": "teh fox\n", "u.txt": "fox\n"}, ["t.txt", "u.txt"], {"concurrent.futures"}),
        ({"t.txt": "teh fox\n", ".kelvaro.toml": "words = ['teh']\n"}, ["t.txt"], {"toml"}),
        ({"t.txt": "teh fox\n", ".kelvaro.toml": "exclude = ['x/']\n"}, ["-r", "."], {"toml", "pathspec", "concurrent.futures"}),
        ({"t.txt": "teh fox\n", ".gitignore": "x/\n"}, ["-r", "."], {"pathspec", "concurrent.futures"}),
    ],
)
def test_what_the_command_imports(tmp_path, files, args, loaded):
    """A small file's check costs little more than the interpreter's start:
    a thread pool, a TOML reader and pathspec only when they are needed."""
    import subprocess
    import sys

    for name, content in files.items():
        (tmp_path / name).write_text(content)
    Index.from_words(["the", "fox"]).save(tmp_path / "words.kvx")
    script = (
        "import sys\n"
        "from kelvaro import _cli\n"
        f"_cli.main(['check', '--strict', '-i', 'words.kvx', *{args!r}])\n"
        "names = {'concurrent.futures': 'concurrent.futures', 'tomllib': 'toml', 'tomli': 'toml', 'pathspec': 'pathspec'}\n"
        "print(sorted({shown for name, shown in names.items() if name in sys.modules}))\n"
    )
    result = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert result.stdout.splitlines()[-1] == repr(sorted(loaded))
