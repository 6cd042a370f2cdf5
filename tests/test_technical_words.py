"""The technical words shipped with the English index
(tools/make_technical_words.py): the file, what the index makes of it, and
the tool's own rules for cutting code into words and telling typos."""
import gzip
import subprocess
import sys
from pathlib import Path

import pytest

from kelvaro import default_index
from test_english_data import shipped_counts

ROOT = Path(__file__).parent.parent
DATA = ROOT / "src" / "kelvaro" / "data"
sys.path.insert(0, str(ROOT / "tools"))

import make_technical_words as tool  # noqa: E402


def shipped_technical():
    words = {}
    with gzip.open(DATA / "english-technical.txt.gz", "rt", encoding="utf-8") as f:
        for line in f:
            word, count = line.rstrip("\n").split("\t")
            assert word.casefold() not in words, word
            words[word.casefold()] = (word, int(count))
    return words


def test_the_shipped_file_adds_words_the_english_list_lacks():
    technical = shipped_technical()
    english = {w.casefold() for w in shipped_counts()}
    assert 1000 < len(technical) < 20_000
    assert not technical.keys() & english
    for word, count in technical.values():
        assert word.isascii() and word.isalpha() and len(word) >= 2, word
        assert 0 < count < 2**32
    # The commonest English words stay above the commonest technical ones.
    assert max(c for _, c in technical.values()) < shipped_counts()["about"]
    # Spelled as prose writes them, not as code imports them.
    assert technical["yaml"][0] == "YAML" and technical["stdout"][0] == "stdout"


def test_the_english_index_knows_them_ranked_by_their_counts():
    index = default_index()
    for word in ["async", "config", "namespace", "stdout", "kwargs", "isinstance", "getattr", "YAML",
                 "traceback", "yaml", "json", "utf"]:
        assert word in index, word
    # The list's own words keep their spelling and count.
    assert index.get("JavaScript") == shipped_counts()["JavaScript"]
    for typo, right in [("kwrags", "kwargs"), ("namepsace", "namespace"), ("isinstnace", "isinstance"),
                        ("tracebak", "traceback")]:
        assert index.suggest(typo)[0].word == right
    # Likely typos and words less their apostrophe stayed out.
    assert "dont" not in index and "cccccc" not in index


@pytest.mark.parametrize(
    "text, words",
    [
        ("parseHTTPResponse2", ["parse", "HTTP", "Response"]),
        ("isinstance(x, str)", ["isinstance", "x", "str"]),
        ("MAX_LINE_LENGTH", ["MAX", "LINE", "LENGTH"]),
        ("getElementById", ["getElementById", "get", "Element", "By", "Id"]),
        # Escapes, string prefixes and apostrophes.
        (r"'\xab\ncafe' + b'data' r'raw'", ["data", "raw"]),
        ("it isn't utf8", ["it", "utf"]),
    ],
)
def test_how_the_tool_cuts_text_into_words(text, words):
    assert [w for w, _ in tool.words_of(text)] == words


def test_the_tool_tells_a_misspelling_from_a_name_made_of_words():
    seen = tool.Counter({"receive": 3000, "recieve": 5, "digit": 3000, "isdigit": 5, "to": 9000, "tp": 800,
                         "fn": 30, "in": 500})
    found = tool.likeliest_corrections(["recieve", "isdigit", "tp", "fn"], {"receive", "digit", "to", "in"}, seen)
    # A swap is one edit; a name that adds letters to a word is no typo of
    # it; the ratio to the correction decides later.
    assert found == {"recieve": "receive", "tp": "to", "fn": "in"}
    assert tool.distance("recieve", "receive") == 1 and tool.typo_reach("json") == 1


# That the tool makes the shipped file again, byte for byte, is checked by
# `make check-data` (part of `make check`): it downloads the pinned wheels.
def test_make_check_data_rebuilds_the_technical_words():
    recipe = subprocess.run(["make", "-n", "check-data"], cwd=ROOT, capture_output=True, text=True, check=True)
    assert "tools/make_technical_words.py --check" in recipe.stdout
