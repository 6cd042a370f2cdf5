"""Index.save and Index.load: the round trip, and every way a file can be
damaged, foreign or forged, each of which must end in a ValueError."""
import os
import pickle
import re
import stat
import struct
import zlib
from random import Random

import pytest

import _kelvaro
import kelvaro
from kelvaro import Index, Match, _native_index

WORDS = ["Spelling", "spelt", "swelling", "\u00e9t\u00e9", "", "tree", "trie"]
HEADER = struct.Struct("<8sIIQQQ5Q")


def _crc32c_table():
    table = []
    for i in range(256):
        crc = i
        for _ in range(8):
            crc = (crc >> 1) ^ 0x82F63B78 if crc & 1 else crc >> 1
        table.append(crc)
    return table


_CRC32C = _crc32c_table()


def crc32c(data):
    """CRC-32C, which files of the current format end in, to forge them."""
    crc = 0xFFFFFFFF
    for byte in data:
        crc = _CRC32C[(crc ^ byte) & 0xFF] ^ (crc >> 8)
    return crc ^ 0xFFFFFFFF


@pytest.fixture
def saved(tmp_path):
    """A small casefolded index saved to a file: (path, its bytes)."""
    path = tmp_path / "words.kvx"
    Index.from_words(WORDS, normalize=str.casefold).save(path)
    return path, path.read_bytes()


@pytest.fixture
def saved_v1(tmp_path):
    """The same index in kelvaro's first file format, which is still read:
    (path, its bytes)."""
    index = Index.from_words(WORDS, normalize=str.casefold)
    _, _, keys, spellings = index._sections()
    sections = [b"casefold", index.trie.to_bytes(), word_table(list(index)), bytes(keys), bytes(spellings)]
    fields = [b"\x89KVX\r\n\x1a\n", 1, 0, 0, len(index), index.node_count, *map(len, sections)]
    fields[3] = HEADER.size + sum(fields[6:]) + 4
    body = HEADER.pack(*fields) + b"".join(sections)
    path = tmp_path / "first.kvx"
    path.write_bytes(body + struct.pack("<I", zlib.crc32(body)))
    # A file of that format has no sound-alike table, as an index built
    # without one.
    assert Index.load(path) == Index.from_words(WORDS, normalize=str.casefold, sounds=False)
    return path, path.read_bytes()


def sections_of(data):
    """The header fields and the five sections of a saved index (in the
    current format, each padded to 8 bytes)."""
    fields = HEADER.unpack_from(data)
    sections, offset = [], HEADER.size
    for size in fields[6:]:
        sections.append(data[offset : offset + size])
        offset += size + (-size % 8 if fields[1] >= 2 else 0)
    return list(fields), sections


def forged(data, **changes):
    """`data`, a file of the first format, with header fields or sections
    replaced, sizes and checksum made to match again: what a file written by
    someone else's tool looks like."""
    fields, sections = sections_of(data)
    names = ["magic", "version", "flags", "file_size", "word_count", "node_count"]
    section_names = ["normalization", "trie", "words", "spelling_keys", "spelling_words"]
    for name, value in changes.items():
        if name in section_names:
            sections[section_names.index(name)] = value
        else:
            fields[names.index(name)] = value
    fields[6:] = [len(section) for section in sections]
    if "file_size" not in changes:
        fields[3] = HEADER.size + sum(fields[6:]) + 4
    body = HEADER.pack(*fields) + b"".join(sections)
    return body + struct.pack("<I", zlib.crc32(body))


def current_counts(data):
    """Where the counts of a file of the current format lie: the header's
    node count and the image's count of best payloads, after the forward
    trie and the reversed one."""
    fields = HEADER.unpack_from(data)
    at = HEADER.size + fields[6] + (-fields[6] % 8)
    tries = struct.unpack_from("<Q", data, at)[0]
    at += 8
    for _ in range(tries):
        at += 24  # node count, height, rank width
        # alphabet, ranks, ends, label_end, first_child, reach, has_word, payloads
        for size in (4, 1, 8, 4, 4, 1, 8, 4):
            count = struct.unpack_from("<Q", data, at)[0]
            at += 8 + count * size + (-(count * size) % 8)
    return {"header nodes": 32, "best payloads": at}


def load_error(tmp_path, data):
    path = tmp_path / "damaged.kvx"
    path.write_bytes(data)
    with pytest.raises(ValueError) as error:
        Index.load(path)
    message = str(error.value)
    assert message.startswith(f"{path}: ")
    return message[len(f"{path}: ") :]


def word_table(words):
    encoded = [word.encode("utf-8") for word in words]
    offsets = [0]
    for word in encoded:
        offsets.append(offsets[-1] + len(word))
    return struct.pack(f"<{len(offsets) + 1}I", len(words), *offsets) + b"".join(encoded)


class TestRoundTrip:
    def test_answers_the_same(self, saved):
        path, _ = saved
        original = Index.from_words(WORDS, normalize=str.casefold)
        loaded = Index.load(path)
        assert list(loaded) == list(original) and len(loaded) == len(original)
        assert loaded.normalize is str.casefold
        assert loaded.node_count == original.node_count
        assert loaded.trie.to_bytes() == original.trie.to_bytes()
        for query in ["speling", "SPELT", "ete", "", "tre"]:
            for max_dist in range(3):
                assert loaded.search(query, max_dist) == original.search(query, max_dist)
        assert loaded.get("\u00c9T\u00c9") == 3 and loaded.search("x", 1, 1) == [Match("", 4, 1)]

    def test_saving_again_writes_the_same_bytes(self, saved, tmp_path):
        path, data = saved
        Index.load(path).save(tmp_path / "again.kvx")
        assert (tmp_path / "again.kvx").read_bytes() == data

    def test_an_empty_index(self, tmp_path):
        Index.from_words([]).save(tmp_path / "empty.kvx")
        assert len(Index.load(tmp_path / "empty.kvx")) == 0

    def test_the_header(self, saved):
        path, data = saved
        fields, _ = sections_of(data)
        assert fields[:6] == [b"\x89KVX\r\n\x1a\n", kelvaro.FORMAT_VERSION, 2, len(data), 7, Index.load(path).node_count]

    def test_str_paths(self, saved, tmp_path):
        path, _ = saved
        Index.load(str(path)).save(str(tmp_path / "copy.kvx"))
        assert Index.load(tmp_path / "copy.kvx").get("tree") == 5


def with_word_table(index):
    """`index` as kelvaro wrote it before it read its words from the trie:
    flag 1 clear and a table of the words in the words section."""
    _, _, keys, spellings = index._sections()
    name = kelvaro._normalization.name_of(index.normalize)
    file = _native_index.index_file(
        name, index._image(True), word_table(list(index)), (bytes(keys), bytes(spellings)), index.node_count, index.weighted
    )
    fields, sections = sections_of(file)
    assert fields[2] == (1 if index.weighted else 0) and sections[2] == word_table(list(index))
    return file


WORDS_IN_TRIE = 2  # the header's flag


class TestFilesWithAWordTable:
    """Files written before the words were read from the trie hold a table
    of them, and are read as they were."""

    @pytest.mark.parametrize(
        "made",
        [
            lambda: Index.from_words(WORDS, normalize=str.casefold),
            lambda: Index.from_words({"spelling": 9, "spell": 5, "spelt": 3, "tree": 1, "": 2}, weighted=True),
            lambda: Index.from_words([]),
        ],
    )
    @pytest.mark.parametrize("mapped", [True, False])
    def test_answer_as_an_index_built_now(self, tmp_path, made, mapped):
        index = made()
        path = tmp_path / "before.kvx"
        path.write_bytes(with_word_table(index))
        loaded = Index.load(path, mapped=mapped)
        assert loaded == index and hash(loaded) == hash(index) and list(loaded) == list(index)
        assert len(loaded) == len(index) and loaded.memory_usage()["words"] > 0
        for query in ["speling", "SPELT", "", "tre"]:
            assert loaded.search(query, 2, sorted=True) == index.search(query, 2, sorted=True)
            assert loaded.suggest(query) == index.suggest(query)
            assert loaded.complete(query) == index.complete(query)
        assert pickle.loads(pickle.dumps(loaded)) == index
        # Saved again, it keeps its table: nothing is rewritten behind the
        # caller's back.
        loaded.save(tmp_path / "again.kvx")
        assert (tmp_path / "again.kvx").read_bytes() == path.read_bytes()

    def test_an_index_built_now_holds_no_table(self, saved):
        _, data = saved
        fields, sections = sections_of(data)
        assert fields[2] == WORDS_IN_TRIE and sections[2] == b""
        index = Index.from_words(WORDS, normalize=str.casefold)
        assert index.memory_usage()["words"] == 0 and bytes(index._sections()[1]) == b""

    @pytest.mark.parametrize(
        "flags, words, message",
        [
            (WORDS_IN_TRIE, word_table(sorted(WORDS, key=str.casefold)), "malformed: it holds a word table but reads its words from the trie"),
            (0, b"", "malformed: the word table is malformed: shorter than its header"),
        ],
    )
    def test_a_flag_that_disagrees_with_the_words_section(self, saved, tmp_path, flags, words, message):
        _, data = saved
        fields, sections = sections_of(data)
        sections[2] = words
        fields[2] = flags
        fields[6:] = [len(section) for section in sections]
        body = HEADER.pack(*fields) + b"".join(section + b"\0" * (-len(section) % 8) for section in sections)
        body = HEADER.pack(*fields[:3], len(body) + 4, *fields[4:]) + body[HEADER.size :]
        assert load_error(tmp_path, body + struct.pack("<I", crc32c(body))) == message


class TestNormalization:
    def test_a_custom_function_is_passed_again(self, tmp_path):
        path = tmp_path / "custom.kvx"
        Index.from_words(["a-b"], normalize=strip_hyphens).save(path)
        with pytest.raises(ValueError, match="built with the normalize function test_index_file.strip_hyphens; pass it"):
            Index.load(path)
        assert Index.load(path, normalize=strip_hyphens).get("ab") == 0

    @pytest.mark.parametrize(
        "built_with, loaded_with, message",
        [
            (None, str.casefold, "built with normalization none, not casefold"),
            (str.casefold, str.lower, "built with normalization casefold, not lower"),
        ],
    )
    def test_a_different_function_is_refused(self, tmp_path, built_with, loaded_with, message):
        path = tmp_path / "index.kvx"
        Index.from_words(["a"], normalize=built_with).save(path)
        with pytest.raises(ValueError, match=message):
            Index.load(path, normalize=loaded_with)

    def test_a_custom_function_by_another_name_or_behaviour_is_refused(self, tmp_path):
        path = tmp_path / "custom.kvx"
        Index.from_words(["a-b", "c"], normalize=strip_hyphens).save(path)

        def impostor(word):
            return word

        impostor.__qualname__ = "strip_hyphens"
        for normalize, message in [
            (str.casefold, "built with the normalize function test_index_file.strip_hyphens, not casefold"),
            (impostor, "normalize('a-b') gives 'a-b', but the index stores that word under 'ab'"),
        ]:
            with pytest.raises(ValueError, match=re.escape(message)):
                Index.load(path, normalize=normalize)

    def test_a_damaged_file_is_told_as_damaged_before_its_normalization(self, tmp_path):
        # The normalisation is restored from the header before the checksum
        # is read; a file whose name or body is damaged is still reported as
        # damaged, whatever the name then says.
        path = tmp_path / "custom.kvx"
        Index.from_words(["a-b", "c"], normalize=strip_hyphens).save(path)
        data = path.read_bytes()
        name_start = HEADER.size
        for position in (name_start + 3, len(data) - 10):
            damaged = bytearray(data)
            damaged[position] ^= 0x20
            path.write_bytes(bytes(damaged))
            for normalize in (None, strip_hyphens, str.casefold):
                with pytest.raises(ValueError, match="corrupted: checksum mismatch"):
                    Index.load(path, normalize=normalize)

    def test_the_named_function_may_be_passed(self, saved):
        assert Index.load(saved[0], normalize=str.casefold).get("TREE") == 5


def strip_hyphens(word):
    return word.replace("-", "")


class TestDamagedFiles:
    def test_every_truncation(self, saved, tmp_path):
        _, data = saved
        for length in range(len(data)):
            message = load_error(tmp_path, data[:length])
            assert "truncated" in message or "empty" in message, (length, message)

    def test_every_flipped_bit(self, saved, tmp_path):
        # CRC-32 catches every single-bit error; the header checks catch some first.
        _, data = saved
        for position in range(len(data)):
            for bit in (0x01, 0x80):
                damaged = bytearray(data)
                damaged[position] ^= bit
                load_error(tmp_path, bytes(damaged))

    @pytest.mark.parametrize(
        "data, message",
        [
            (b"", "empty, not a kelvaro index"),
            (b"hello, world\n" * 10, "not a kelvaro index"),
            (b"\x1f\x8b\x08\x00" + bytes(100), "not a kelvaro index"),
            (b"\x89KVX\r\n\x1a\n\x01", "truncated: 9 bytes, too short for a kelvaro index"),
            # A text-mode transfer turned CR LF into LF.
            (b"\x89KVX\n\x1a\n" + bytes(100), "not a kelvaro index"),
        ],
    )
    def test_foreign_files(self, tmp_path, data, message):
        assert load_error(tmp_path, data) == message

    def test_no_header_field_is_believed_before_the_checksum(self, saved, tmp_path):
        # A flipped bit in the version or the declared size: reported as
        # damage, never as a newer format or a size read from the damage.
        data = saved[1]
        for position, message in [
            (8, "corrupted: checksum mismatch"),
            (12, "corrupted: checksum mismatch"),
            (20, f"truncated or corrupted: {len(data)} bytes, fewer than its header declares"),
        ]:
            damaged = bytearray(data)
            damaged[position] ^= 0x40
            assert load_error(tmp_path, bytes(damaged)) == message

    def test_what_is_not_a_regular_file(self, tmp_path):
        os.mkfifo(tmp_path / "fifo")
        for path, kind in [(tmp_path / "fifo", "a FIFO"), (tmp_path, "a directory"), ("/dev/zero", "a character device")]:
            with pytest.raises(ValueError) as error:
                Index.load(path)
            assert str(error.value) == f"{path}: {kind}, not an index file"

    def test_trailing_bytes(self, saved, tmp_path):
        data = saved[1] + b"\x00"
        assert load_error(tmp_path, data) == f"corrupted: {len(data)} bytes, more than its header declares"

    def test_a_damaged_checksum(self, saved, tmp_path):
        data = saved[1]
        assert load_error(tmp_path, data[:-1] + bytes([data[-1] ^ 1])) == "corrupted: checksum mismatch"

    def test_a_newer_format(self, saved_v1, tmp_path):
        assert load_error(tmp_path, forged(saved_v1[1], version=3)) == (
            "index format version 3 is not supported (written by a newer kelvaro); this kelvaro reads versions 1 to 2"
        )


class TestForgedFiles:
    """Files whose checksum matches but whose contents were not written by
    kelvaro: every section is checked before the native decoder sees it."""

    @pytest.mark.parametrize(
        "changes, message",
        [
            ({"flags": 6}, "uses features this kelvaro does not know (flags 0x6)"),
            ({"file_size": 10**6}, "truncated or corrupted: 343 bytes, fewer than its header declares"),
            ({"normalization": b"\xff"}, "malformed: its normalization is not UTF-8"),
            ({"normalization": b"rot13"}, "the index was built with an unknown normalization 'rot13'"),
            ({"word_count": 8}, "malformed: its word counts disagree"),
            ({"node_count": 1}, "malformed: its node counts disagree"),
            ({"trie": b""}, "malformed: the trie does not decode: UnexpectedEnd { additional: 1 }"),
            ({"trie": bytes.fromhex("fdffffffffffffffff")}, "malformed: the trie does not decode: capacity overflow"),
            ({"trie": bytes.fromhex("00 00 00 00")}, "malformed: the trie is not an index trie: it has no root"),
            ({"words": b"\x01\x00"}, "malformed: the word table is malformed: shorter than its header"),
            ({"words": word_table(["a"])[:-1]}, "malformed: the word table is malformed: offsets out of order"),
            ({"words": word_table(["a"]) + b"b"}, "malformed: the word table is malformed: bytes after the last word"),
            ({"spelling_keys": word_table(["a", "b"])}, "malformed: its spelling tables differ in length"),
        ],
    )
    def test_sections(self, saved_v1, tmp_path, changes, message):
        assert load_error(tmp_path, forged(saved_v1[1], **changes)) == message

    @pytest.mark.parametrize(
        "changes, message",
        [
            # Stored keys in order: "", "spelling", "spelt", "swelling", "tree", "trie", "été".
            ({"words": word_table(["", "Spelling", "spelt", "swelling", "tree", "trie", "etc"])},
             "malformed: word 6 is not the word the trie holds there"),
            ({"words": word_table(["", "Spelling", "spelt", "swelling", "tree", "trie"]), "word_count": 6},
             "malformed: its word counts disagree"),
            ({"spelling_keys": word_table(["spelt"]), "spelling_words": word_table(["Spelling"])},
             "malformed: word 1 is not the word the trie holds there"),
            ({"spelling_keys": word_table(["spelling", "zzz"]), "spelling_words": word_table(["Spelling", "Z"])},
             "malformed: its spelling tables list a key the trie does not hold"),
            # Consistent sections, but "Spelt" does not casefold to "spelling".
            ({"words": word_table(["", "Spelt", "spelt", "swelling", "tree", "trie", "\u00e9t\u00e9"]),
              "spelling_words": word_table(["Spelt"])},
             "malformed: 'Spelt' is not stored under its casefold form"),
            ({"normalization": b""}, "malformed: it lists spellings but has no normalization"),
        ],
    )
    def test_sections_that_disagree(self, saved_v1, tmp_path, changes, message):
        assert load_error(tmp_path, forged(saved_v1[1], **changes)) == message

    @pytest.mark.parametrize(
        "count, change, message",
        [
            ("header nodes", 1, "malformed: its node counts disagree"),
            ("header nodes", 2_000_000_000_000, "malformed: its node counts disagree"),
            # Odd before, so the padded size stays and every later array
            # stays where it was.
            ("best payloads", 1, "malformed: its table of best payloads does not match its trie"),
        ],
    )
    def test_counts_of_the_current_format(self, tmp_path, count, change, message):
        """A count of a file of the current format changed, the checksum
        made to match: refused by loading, and by reading the header alone
        (kelvaro info), which shows no count that the tries do not hold."""
        path = tmp_path / "weighted.kvx"
        # A weighted index keeps the best payload of each folded node.
        Index.from_words({"spelling": 9, "spell": 5, "spelt": 3, "tree": 1, "trie": 0, "tram": 2}, weighted=True).save(path)
        data = bytearray(path.read_bytes())
        offset = current_counts(bytes(data))[count]
        value = struct.unpack_from("<Q", data, offset)[0]
        assert count != "best payloads" or value % 2 == 1
        struct.pack_into("<Q", data, offset, value + change)
        body = bytes(data[:-4])
        assert load_error(tmp_path, body + struct.pack("<I", crc32c(body))) == message
        if count == "header nodes":
            with pytest.raises(ValueError, match=message):
                kelvaro._storage.read_header(tmp_path / "damaged.kvx")

    def test_a_word_that_is_not_utf8(self, saved_v1, tmp_path):
        table = word_table(["ab"])[:-2] + b"\xed\xa0"
        assert load_error(tmp_path, forged(saved_v1[1], words=table)).endswith("word 0 is not well-formed UTF-8")

    @pytest.mark.parametrize(
        "arrays, problem",
        [
            # Node 1's run holds node 1 itself: a search would never end.
            (([0, 0], ["", "a"], [None, 0], [1]), "node 1 has a child before it"),
            (([0, 1, 1], ["", "a", "b"], [None, 0, None], [2, 1]), "its children are not in level order"),
            (([0, 1, 2], ["", "a", "b"], [None, None, 0], [1]), "it does not list every node but the root as a child"),
            (([0, 2, 1], ["", "a", "b"], [None, None, 0], [1, 2]), "its child runs are out of order"),
            (([0, 2, 2], ["", "b", "a"], [None, 0, None], [1, 2]), "the children of node 0 are not in character order"),
            (([0, 2, 2], ["", "a", "a"], [None, 0, None], [1, 2]), "the children of node 0 are not in character order"),
            (([0, 1], ["", ""], [None, 0], [1]), "node 1 has no character"),
            (([0, 1], ["x", "a"], [None, 0], [1]), "its root has a character"),
            (([0, 1], ["", "a"], [None, 0, None], [1]), "its node arrays differ in length"),
        ],
    )
    def test_tries_that_are_not_index_tries(self, saved_v1, tmp_path, arrays, problem):
        trie = _kelvaro.from_internal_data(*arrays).to_bytes()
        damaged = forged(saved_v1[1], trie=trie, word_count=1, words=word_table(["a"]))
        assert load_error(tmp_path, damaged) == f"malformed: the trie is not an index trie: {problem}"

    def test_a_trie_in_a_longer_form_than_kelvaro_writes(self, saved_v1, tmp_path):
        trie = bytes.fromhex("fb 01 00 00 01 00 01 00 00")  # one node; its count in three bytes
        assert load_error(tmp_path, forged(saved_v1[1], trie=trie)) == "malformed: the trie is not in canonical form"

    def test_no_report_on_standard_error(self, saved_v1, tmp_path, capfd):
        load_error(tmp_path, forged(saved_v1[1], trie=bytes.fromhex("fdffffffffffffffff")))
        assert capfd.readouterr().err == ""


class TestWriting:
    def test_a_failed_save_leaves_the_old_file_and_no_litter(self, saved, monkeypatch):
        path, data = saved

        def failing_fsync(descriptor):
            raise OSError(28, "No space left on device")

        monkeypatch.setattr(os, "fsync", failing_fsync)
        with pytest.raises(OSError, match="No space left"):
            Index.from_words(["other"]).save(path)
        assert path.read_bytes() == data
        assert os.listdir(path.parent) == [path.name]

    def test_the_file_mode_follows_the_umask(self, tmp_path):
        previous = os.umask(0o027)
        try:
            Index.from_words(["a"]).save(tmp_path / "a.kvx")
        finally:
            os.umask(previous)
        assert stat.S_IMODE(os.stat(tmp_path / "a.kvx").st_mode) == 0o640

    def test_saving_again_keeps_the_mode_and_writes_through_a_link(self, tmp_path):
        (tmp_path / "real").mkdir()
        target, link = tmp_path / "real" / "private.kvx", tmp_path / "link.kvx"
        Index.from_words(["old"]).save(target)
        os.chmod(target, 0o600)
        link.symlink_to(target)
        Index.from_words(["new"]).save(link)
        assert link.is_symlink() and list(Index.load(target)) == ["new"]
        assert stat.S_IMODE(os.stat(target).st_mode) == 0o600
        assert sorted(os.listdir(tmp_path / "real")) == ["private.kvx"]

    def test_errors_name_the_callers_path(self, tmp_path):
        for path, error_type in [
            (tmp_path / "no" / "such.kvx", FileNotFoundError),
            (tmp_path, IsADirectoryError),
        ]:
            with pytest.raises(error_type) as error:
                Index.from_words(["a"]).save(path)
            assert error.value.filename == str(path)
        assert os.listdir(tmp_path) == []
        with pytest.raises(ValueError, match="a character device, not a regular file"):
            Index.from_words(["a"]).save("/dev/null")

    def test_missing_directories_and_files(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            Index.from_words(["a"]).save(tmp_path / "no" / "such.kvx")
        with pytest.raises(FileNotFoundError):
            Index.load(tmp_path / "none.kvx")
        with pytest.raises(TypeError):
            Index.load(5)


class TestMappedFiles:
    """Version 2 files are mapped and searched in place."""

    def test_mapped_and_read_alike(self, saved):
        path, _ = saved
        mapped, read = Index.load(path), Index.load(path, mapped=False)
        assert mapped._mapped() and not read._mapped()
        assert mapped == read and list(mapped) == list(read) and hash(mapped) == hash(read)
        for query in ["speling", "tre", "", "\u00e9te"]:
            assert mapped.search(query, 2, sorted=True) == read.search(query, 2, sorted=True)
            assert mapped.suggest(query) == read.suggest(query)
            assert mapped.complete(query) == read.complete(query)
        assert mapped.memory_usage()["mapped"] > 0 and read.memory_usage()["mapped"] == 0
        assert mapped.memory_usage()["reversed trie"] > 0
        assert pickle.loads(pickle.dumps(mapped)) == mapped
        # A pickle from before the tries were folded holds the trie itself.
        _, _, keys, spellings = mapped._sections()
        old = (mapped.trie, word_table(list(mapped)), bytes(keys), bytes(spellings))
        # (Such an index has no sound-alike table, as one built without it.)
        restored = kelvaro._index._restore(*old, mapped.node_count, str.casefold)
        assert restored == Index.from_words(WORDS, normalize=str.casefold, sounds=False)

    def test_a_weighted_index_keeps_what_suggest_walks_first(self, tmp_path):
        # Most words without a weight: suggest walks the weighted words'
        # tries first, which the file holds, so a mapped index makes nothing.
        words = [word + "s" * k for k in range(3) for word in ["spelling", "spelt", "tree", "trie", "tram", "trek"]]
        counts = {word: i if i % 5 == 0 else 0 for i, word in enumerate(words)}
        index = Index.from_words(counts, weighted=True)
        path = tmp_path / "weighted.kvx"
        index.save(path)
        mapped = Index.load(path)
        assert mapped.suggest("tre") == index.suggest("tre") and mapped == index
        usage = mapped.memory_usage()
        assert usage["weighted words"] > 0 and usage["sound table"] > 0 and usage["total"] == usage["mapped"]

    def test_a_dictionary_keeps_the_table_of_its_words_deletions(self, tmp_path):
        # A count for every word: suggest finds the words within two edits
        # through a table of every word's deletions, which the file holds;
        # an index without weights, or of phrases, has none and keeps its
        # memory.
        words = [word + "s" * k for k in range(3) for word in ["spelling", "spelt", "tree", "trie", "tram", "trek"]]
        index = Index.from_words({word: 1 + i for i, word in enumerate(words)}, weighted=True)
        path = tmp_path / "dictionary.kvx"
        index.save(path)
        mapped = Index.load(path)
        for word in ["tre", "spleling", "trees", "x", ""]:
            assert mapped.suggest(word, 2, None) == index.suggest(word, 2, None)
        usage = mapped.memory_usage()
        assert usage["table of deletions"] > 0 and usage["weighted words"] == 0
        assert usage["total"] == usage["mapped"]
        phrases = {" ".join([word] * 4): 1 for word in words}
        for plain in [Index.from_words(words), Index.from_words(phrases, weighted=True)]:
            plain.suggest("tre")
            assert plain.memory_usage()["table of deletions"] == 0

    def test_a_file_replaced_while_mapped(self, saved):
        path, _ = saved
        mapped = Index.load(path)
        Index.from_words(["other"]).save(path)
        assert mapped.get("tree") == 5 and list(Index.load(path)) == ["other"]

    def test_forged_images_are_refused_or_searched_safely(self, saved, tmp_path):
        """Bits flipped in the tries, the checksum made to match: each file
        is refused as malformed or loads and answers without harm."""
        data = saved[1]
        fields = HEADER.unpack_from(data)
        start = HEADER.size + fields[6] + (-fields[6] % 8)
        random = Random(18)
        for position in random.sample(range(start, start + fields[7]), 300):
            flipped = bytearray(data)
            flipped[position] ^= 1 << random.randrange(8)
            body = bytes(flipped[:-4])
            path = tmp_path / "forged.kvx"
            path.write_bytes(body + struct.pack("<I", crc32c(body)))
            try:
                index = Index.load(path)
            except ValueError as error:
                assert "malformed: " in str(error)
                continue
            for query in ["spelling", "tre", ""]:
                index.search(query, 2, sorted=True), index.suggest(query), index.complete(query)
                index.trie

    def test_a_dictionary_from_an_image_with_siblings_out_of_order(self):
        # Loading checks an image's tries in time proportional to their
        # size, which leaves siblings' order to the lookups: a lookup in a
        # damaged trie may miss a word, but nothing may read past its
        # tables. Making the table of deletions for such a trie, which a
        # dictionary's pickle leaves to be made, once looked every word up
        # again and used what it did not find.
        words = {"ab": 9, "ac": 7, "ad": 5, "b": 3, "ba": 2, "ca": 1}
        image, *state = Index.from_words(words, weighted=True).__reduce__()[1]
        assert struct.unpack_from("<QQQ", image, 8)[2] == 1  # one byte a character
        alphabet = struct.unpack_from("<Q", image, 32)[0]
        start = 40 + alphabet * 4 + (-(alphabet * 4) % 8) + 8
        ranks = image[start : start + struct.unpack_from("<Q", image, start - 8)[0]]
        loaded = 0
        for i in range(len(ranks)):
            for j in range(i + 1, len(ranks)):
                swapped = bytearray(image)
                swapped[start + i], swapped[start + j] = ranks[j], ranks[i]
                try:
                    index = kelvaro._index._restore(bytes(swapped), *state)
                except ValueError:
                    continue
                loaded += 1
                # A suggestion is a word the file holds: one of its trie's,
                # or one of the texts its sound-alike table keeps apart
                # from the trie, which the damage left as they were.
                held = set(index) | set(words)
                for query in ["ab", "ca", "x"]:
                    for match in index.suggest(query, 2, None):
                        assert match.word in held
        assert loaded > 0
