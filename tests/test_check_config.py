"""kelvaro check's configuration and inline ignores, as tables: which file
holds, what it says, and what the command line adds."""
import pytest

from kelvaro import Index, _cli
from kelvaro._cli import check_chunks

WORDS = {"the": 90, "quick": 50, "brown": 40, "fox": 30, "dog": 20, "over": 10}


def make_tree(root, files):
    for name, content in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if name.endswith(".kvx"):
            Index.from_words({**WORDS, **{word: 1 for word in content.split()}}, weighted=True).save(path)
        else:
            path.write_text(content)


def run(root, monkeypatch, capsys, *args):
    """kelvaro check --strict in `root`, with its small index unless -i is given: (status, words reported, stderr)."""
    monkeypatch.chdir(root)
    if not (root / "words.kvx").exists():
        make_tree(root, {"words.kvx": ""})
    # "from-config": the index is the configuration's, with no -i.
    index = [] if "-i" in args or "from-config" in args else ["-i", str(root / "words.kvx")]
    args = tuple(arg for arg in args if arg != "from-config")
    status = _cli.main(["check", "--strict", "-k", "0", *index, *map(str, args)])
    captured = capsys.readouterr()
    words = [line.split(": ")[1].split(" -> ")[0] for line in captured.out.splitlines() if not args or args[-1] != "--diff"]
    return status, words if "--diff" not in args else captured.out, captured.err


# Each file of the tree says the word it holds is unknown; the table says
# which of them are reported.
PRECEDENCE = [
    # No configuration anywhere: everything unknown is reported.
    ({"a/t.txt": "foo bar"}, ["a/t.txt"], ["foo", "bar"]),
    ({".kelvaro.toml": 'words = ["FOO"]', "a/t.txt": "foo Foo bar"}, ["a/t.txt"], ["bar"]),
    ({"pyproject.toml": '[tool.kelvaro]\nwords = ["foo"]', "a/t.txt": "foo bar"}, ["a/t.txt"], ["bar"]),
    # A .kelvaro.toml beats the pyproject.toml beside it.
    (
        {".kelvaro.toml": 'words = ["bar"]', "pyproject.toml": '[tool.kelvaro]\nwords = ["foo"]', "t.txt": "foo bar"},
        ["t.txt"],
        ["foo"],
    ),
    # The nearest configuration holds alone: no merging with the one above.
    ({".kelvaro.toml": 'words = ["foo"]', "a/.kelvaro.toml": 'words = ["bar"]', "a/t.txt": "foo bar"}, ["a/t.txt"], ["foo"]),
    ({".kelvaro.toml": 'words = ["foo"]', "a/.kelvaro.toml": 'words = ["bar"]', "t.txt": "foo bar"}, ["t.txt"], ["bar"]),
    # A pyproject.toml that says nothing of kelvaro is passed over.
    ({".kelvaro.toml": 'words = ["foo"]', "a/pyproject.toml": "[project]\nname = 'x'", "a/t.txt": "foo"}, ["a/t.txt"], []),
    ({".kelvaro.toml": 'words = ["foo"]', "a/pyproject.toml": "[tool.other]\nkelvaro = 1", "a/t.txt": "foo"}, ["a/t.txt"], []),
    # Word lists are relative to their configuration file.
    ({"a/.kelvaro.toml": 'word-lists = ["lists/w.txt"]', "a/lists/w.txt": "foo\n\n Bar \n", "a/t.txt": "foo bar baz"}, ["a/t.txt"], ["baz"]),
    # --ignore adds to the configuration's words.
    ({".kelvaro.toml": 'words = ["foo"]', "mine.txt": "bar", "t.txt": "foo bar baz"}, ["t.txt", "--ignore", "mine.txt"], ["baz"]),
    # The configuration's index, relative to it; -i wins over it.
    ({"a/.kelvaro.toml": 'index = "idx/more.kvx"', "a/idx/more.kvx": "foo", "a/t.txt": "foo bar"}, ["a/t.txt", "from-config"], ["bar"]),
    ({"a/.kelvaro.toml": 'index = "more.kvx"', "a/more.kvx": "foo", "bar.kvx": "bar", "a/t.txt": "foo bar"}, ["a/t.txt", "-i", "bar.kvx"], ["foo"]),
    # Patterns: a word inside a match on its line is not reported.
    (
        {".kelvaro.toml": r'ignore-patterns = ["`[^`]*`", "TODO\\(\\w+\\)"]', "t.txt": "foo `bar baz` TODO(qux) `quux\n`zap`"},
        ["t.txt"],
        ["foo", "quux"],
    ),
    # Standard input takes the configuration of the current folder.
    ({".kelvaro.toml": 'words = ["foo"]', "in.txt": "foo bar"}, ["-"], ["bar"]),
]


@pytest.mark.parametrize("files, args, reported", PRECEDENCE)
def test_which_configuration_holds(tmp_path, monkeypatch, capsys, files, args, reported):
    make_tree(tmp_path, files)
    if args == ["-"]:
        monkeypatch.setattr("sys.stdin", open(tmp_path / "in.txt"))
    assert run(tmp_path, monkeypatch, capsys, *args)[1] == reported


def test_exclude_is_relative_to_its_configuration(tmp_path, monkeypatch, capsys):
    make_tree(
        tmp_path,
        {
            "a/.kelvaro.toml": 'exclude = ["gen/", "*.out", "/top.txt"]',
            "a/gen/x.txt": "genword",
            "a/b/c.out": "outword",
            "a/top.txt": "topword",
            "a/b/top.txt": "lowword",
            "gen/x.txt": "otherword",
        },
    )
    assert sorted(run(tmp_path, monkeypatch, capsys, "-r", ".")[1]) == ["lowword", "otherword"]
    # Named on the command line, an excluded file is checked all the same.
    assert run(tmp_path, monkeypatch, capsys, "a/top.txt")[1] == ["topword"]


@pytest.mark.parametrize(
    "name, content, message",
    [
        (".kelvaro.toml", 'words = ["a"]\nspeling = 1\n', "{}: unknown key 'speling'"),
        ("pyproject.toml", "[tool.kelvaro]\nexclude = 'x'\n", "{}: exclude is not a list of strings"),
        (".kelvaro.toml", "words = [\n", "{}: not valid TOML: "),
        (".kelvaro.toml", 'ignore-patterns = ["("]', "{}: ignore-patterns: '(': missing ), unterminated subpattern"),
        (".kelvaro.toml", 'word-lists = ["none.txt"]', "{}: word-lists: "),
        (".kelvaro.toml", "index = 3", "{}: index is not a string"),
        ("pyproject.toml", "[tool]\nkelvaro = 3\n", "{}: tool.kelvaro is not a table"),
    ],
)
def test_a_broken_configuration_is_one_line_and_status_2(tmp_path, monkeypatch, capsys, name, content, message):
    (tmp_path / name).write_text(content)
    (tmp_path / "t.txt").write_text("foo\n")
    status, words, err = run(tmp_path, monkeypatch, capsys, "t.txt")
    assert (status, words) == (2, [])
    assert err.startswith("kelvaro: error: " + message.format(tmp_path / name)) and err.count("\n") == 1


# Inline directives: the words of each text that are reported, by line.
INLINE = [
    ("foo\nbar\n", [(1, "foo"), (2, "bar")]),
    ("foo  # kelvaro: ignore\nbar\n", [(2, "bar")]),
    ("// kelvaro:ignore-next-line\nfoo\nbar\n", [(3, "bar")]),
    ("foo\n# kelvaro: ignore-next-line\n", [(1, "foo")]),
    ("foo kelvaro: ignore-next-line\nbar\nbaz\n", [(3, "baz")]),
    # Not the directive: another word, or no colon.
    ("kelvaro ignore foo\n", [(1, "kelvaro"), (1, "foo")]),
]


@pytest.mark.parametrize("chunk", [None, 30])
@pytest.mark.parametrize("text, reported", INLINE)
def test_inline_ignores(tmp_path, monkeypatch, capsys, text, reported, chunk):
    if chunk is not None:  # directives that meet the next line across a chunk's end
        monkeypatch.setattr(check_chunks, "TEXT_CHUNK", chunk)
    (tmp_path / "t.txt").write_text(text)
    make_tree(tmp_path, {"words.kvx": "ignore next line"})
    monkeypatch.chdir(tmp_path)
    _cli.main(["check", "--strict", "-k", "0", "-i", "words.kvx", "t.txt"])
    out = capsys.readouterr().out
    assert [(int(line.split(":")[1]), line.split(": ")[1].split(" -> ")[0]) for line in out.splitlines()] == reported


def test_inline_ignores_and_patterns_hold_for_the_diff_too(tmp_path, monkeypatch, capsys):
    make_tree(tmp_path, {".kelvaro.toml": 'ignore-patterns = ["<[^>]*>"]'})
    (tmp_path / "t.txt").write_text("the quikc fox  # kelvaro: ignore\nthe <quikc> fox\nthe quikc fox\n")
    status, out, _ = run(tmp_path, monkeypatch, capsys, "t.txt", "--diff")
    assert status == 1
    assert [line for line in out.splitlines() if line[:1] in "+-" and not line.startswith(("---", "+++"))] == [
        "-the quikc fox",
        "+the quick fox",
    ]
