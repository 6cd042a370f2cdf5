"""Index.check, segment and correct over whole texts."""
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from kelvaro import Index, _text, default_index

WEIGHTS = {"the": 500, "quick": 40, "brown": 30, "fox": 20, "jumps": 10, "over": 60, "lazy": 9, "dog": 25,
           "a": 400, "part": 35, "apart": 12, "spelling": 15, "well": 50, "known": 45, "don't": 30,
           "Paris": 20, "dog's": 0, "is": 300, "in": 350, "café": 5}
# Stand-ins for text: words, space, punctuation, digits, a character beyond
# the first plane, a combining mark, CRLF, apostrophes and hyphens, lone
# surrogates and NUL.
PIECES = list(WEIGHTS) + ["teh", "qiuck", "Brwon", "x86", "3rd", "http://e.com/teh", "me@teh.org", " ", "  ",
                          ", ", ".", "\r\n", "\n", "-", "'", "\u2019", "𝔘", "e\u0301", "ÀÉ", "ß", "ǅ", "\ud800",
                          "\udfff", "\0"]


@pytest.fixture(scope="module")
def weighted():
    return Index.from_words(WEIGHTS, weighted=True)


@pytest.fixture(scope="module")
def folded():
    return Index.from_words(WEIGHTS, weighted=True, normalize=str.casefold)


@pytest.fixture(scope="module")
def english():
    return default_index()


texts = st.lists(st.sampled_from(PIECES), max_size=30).map("".join)


@settings(max_examples=150)
@given(text=texts)
def test_findings_slice_back_and_correct_keeps_what_is_right(weighted, folded, text):
    for index in (weighted, folded):
        found = index.check(text, suspects=None)
        assert [m.start for m in found] == sorted(m.start for m in found)
        for miss in found:
            assert text[miss.start:miss.end] == miss.word and miss.word not in index
        # Corrections only touch what check reports, and the rest of the
        # text comes back as written, whatever it holds.
        if not found:
            assert index.correct(text) == text
        corrected, at = index.correct(text), 0
        gaps = [text[start:end] for start, end in _gaps(_text.corrections(index, text, 2), len(text))]
        assert corrected.startswith(gaps[0]) and corrected.endswith(gaps[-1])
        for gap in gaps:
            at = corrected.find(gap, at)
            assert at >= 0
            at += len(gap)
        assert index.segment(text).replace(" ", "") == text.replace(" ", "")


def _gaps(corrections, length):
    """The spans of a text of `length` characters that `corrections` leave alone."""
    at = 0
    for start, end, _ in corrections:
        yield at, start
        at = end
    yield at, length


@pytest.mark.parametrize(
    "text, reported",
    [
        ("The quick brwn fox", ["brwn"]),
        ("THE FOX, the Fox: Paris in PARIS is paris", ["paris"]),  # another case; not the lower of a name
        ("x86 3rd 42 http://teh.com/teh www.teh.org me@teh.org teh", ["teh"]),
        ("well-known well-knwon knwon-well", ["knwon", "knwon"]),  # hyphenated: each part
        ("don't don\u2019t dog's quick' quick's qiuck's", ["qiuck's"]),  # apostrophes, possessives
        ("'quick' -fox- \u00abteh\u00bb caf\u00e9 cafe\u0301", ["teh", "cafe\u0301"]),
        ("teh-1 teh'1 1-teh", ["teh", "teh", "teh"]),  # a digit is no part of the word beside it
    ],
)
def test_what_check_reports(weighted, text, reported):
    assert [m.word for m in weighted.check(text)] == reported


def test_suggestions_and_suspects(english):
    # Counts in the proportions of a large web corpus, where these slips are
    # common enough to have been counted.
    counts = {"which": 124000, "wich": 100, "whether": 27000, "wether": 100, "pursue": 12100, "persue": 100}
    web = Index.from_words({**counts, "weather": 5000, "fox": 10, "whick": 0}, weighted=True)
    suspects = {m.word: m for m in web.check("wich wether persue fox which weather", suspects=1000)}
    assert web.check("wich wether persue fox which weather") == []  # 1,240 times is not 10,000
    assert set(suspects) == {"wich"} and suspects["wich"].suspect
    assert "which" in [m.word for m in suspects["wich"].suggestions]
    # A lower threshold catches the rarer slips too; None, unweighted indexes and
    # words without a weight (nothing is known of them) report none.
    assert {m.word for m in web.check("wich wether persue which whick", suspects=100)} == {"wich", "wether", "persue"}
    assert web.check("wich wether", suspects=None) == []
    assert Index.from_words(["which", "wich"]).check("wich which") == []
    # The default ratio is a least: exactly 10,000 times likelier is a suspect.
    at_ratio = Index.from_words({"which": 1000000, "wich": 100}, weighted=True)
    assert [(m.word, m.suspect) for m in at_ratio.check("wich")] == [("wich", True)]
    assert Index.from_words({"which": 999999, "wich": 100}, weighted=True).check("wich") == []
    [typo] = english.check("a speling mistake", limit=1)
    assert (typo.start, typo.end, [m.word for m in typo.suggestions]) == (2, 9, ["spelling"])


@pytest.mark.parametrize(
    "text, corrected",
    [
        ("Teh quick brwn fox.", "The quick brown fox."),
        ("TEH  QUIKC fox,\tjumps!", "THE  QUICK fox,\tjumps!"),  # spacing kept, case carried
        ("the quickbrownfox jumps", "the quick brown fox jumps"),  # run together
        ("the brown fox jum ps over", "the brown fox jumps over"),  # split
        ("a part, apart", "a part, apart"),  # stored words are never joined
        ("teh\nfox", "the\nfox"),
    ],
)
def test_correct(weighted, text, corrected):
    assert weighted.correct(text) == corrected


def test_a_typo_split_off_a_stored_word_is_joined():
    # "a" is stored and "prat" is not: the two read together are one slip
    # from a word far commoner than "a" is beside a typo of its own.
    index = Index.from_words({"a": 400, "apart": 100000, "the": 500}, weighted=True)
    assert index.correct("a prat") == "apart"


@pytest.mark.parametrize(
    "text, segmented",
    [
        ("thequickbrownfox", "the quick brown fox"),
        ("TheQuickBrownFox, jumpsoverthelazydog!", "The Quick Brown Fox, jumps over the lazy dog!"),
        ("ilovecafés", "i love cafés"),
    ],
)
def test_segment(english, text, segmented):
    assert english.segment(text) == segmented


def test_segment_with_misspellings(english):
    assert english.segment("thequikbrownfoxjumpsovrthelazydog", max_dist=1) == "the quick brown fox jumps over the lazy dog"
    # A corrected piece takes the case of what was typed; the rest, lone
    # surrogates too, comes back as written.
    assert english.segment("TheQuikBrownFox", max_dist=1) == "The Quick Brown Fox"
    assert english.segment("THEQUIKBROWNFOX \ud800", max_dist=1) == "THE QUICK BROWN FOX \ud800"


@settings(max_examples=60)
@given(words=st.lists(st.sampled_from(["quick", "brown", "fox", "jumps", "over", "lazy", "dog", "spelling"]), max_size=12))
def test_segmentation_round_trips(weighted, words):
    assert weighted.segment("".join(words)) == " ".join(words)


def test_folding_that_changes_length(folded):
    # "ß" casefolds to "ss": offsets still count the characters of the text.
    text = "Straße teh ﬁx teh"
    assert [(m.start, m.end) for m in folded.check(text) if m.word == "teh"] == [(7, 10), (14, 17)]


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda i: i.check(b"teh"), TypeError),
        (lambda i: i.check("teh", suspects=0), ValueError),
        (lambda i: i.check("teh", suspects=True), TypeError),
        (lambda i: i.check("teh", max_dist=-1), ValueError),
        (lambda i: i.correct(None), TypeError),
        (lambda i: Index.from_words(["a"]).segment("aa"), ValueError),
    ],
)
def test_bad_arguments(weighted, call, error):
    with pytest.raises(error):
        call(weighted)


def test_lone_surrogates_and_the_empty_text(weighted):
    assert [m.word for m in weighted.check("teh\ud800fox")] == ["teh"]
    assert weighted.check("") == [] and weighted.correct("") == "" and weighted.segment("") == ""
