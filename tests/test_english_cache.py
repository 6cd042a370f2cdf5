"""The English index's file in the cache folder: built once, then mapped;
named by version and sources; shared by racing processes; rebuilt when
damaged; never a reason for an error or a word on standard error."""

import errno
import json
import os
import subprocess
import sys
import time

import pytest

from kelvaro import Index, _cache, _default, _storage

SUGGESTED = ["speling", "recieve", "teh", "definately", "nessisary", "goverment"]
CHECKED = "Teh goverment will recieve the speling report, wich was late."


@pytest.fixture(scope="module")
def reference():
    """The English index as built in memory, what every cached copy must equal."""
    return _default._build_english()


@pytest.fixture
def cache(tmp_path, monkeypatch):
    """An empty cache folder of the test's own, and a count of the builds."""
    folder = tmp_path / "cache"
    monkeypatch.setenv(_cache.ENVIRONMENT, str(folder))
    builds = []
    build = _default._build_english

    def counted():
        builds.append(1)
        return build()

    monkeypatch.setattr(_default, "_build_english", counted)
    return folder, builds


def cached_files(folder):
    return sorted(name for name in os.listdir(folder))


def answers(index):
    return [index.suggest(word) for word in SUGGESTED], index.check(CHECKED), index.complete("goverm")


def run_python(code, folder, **kwargs):
    environment = dict(os.environ, **{_cache.ENVIRONMENT: str(folder)})
    return subprocess.Popen(
        [sys.executable, "-c", code], env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs
    )


class TestBuiltOnceThenMapped:
    def test_the_second_use_maps_the_file_that_the_first_saved(self, cache, reference):
        folder, builds = cache
        first = _default.cached_english()
        path = _default.english_file()
        note = f".english-{_cache.__version__}.digest"
        assert builds == [1] and cached_files(folder) == sorted([note, os.path.basename(path)])
        assert os.path.dirname(path) == str(folder)
        written = os.stat(path).st_mtime_ns
        second = _default.cached_english()
        assert builds == [1] and os.stat(path).st_mtime_ns == written
        # Both the copy returned after building and the later one read the file in place.
        assert first._mapped() and second._mapped()
        assert first == second == reference
        assert answers(second) == answers(reference)
        # Everything a lookup needs was saved: the first lookups build nothing beside the file.
        usage = second.memory_usage()
        assert usage["total"] == usage["mapped"]

    def test_default_index_is_the_cached_file_and_kept_per_process(self):
        index = _default.default_index()
        assert index._mapped() and _default.default_index() is index
        assert os.path.dirname(_default.english_file()) == os.environ[_cache.ENVIRONMENT]


class TestTheName:
    def test_a_new_version_or_a_changed_byte_of_any_source_gives_another_name(self, tmp_path, monkeypatch):
        monkeypatch.setenv(_cache.ENVIRONMENT, str(tmp_path / "cache"))
        sources = [tmp_path / "words.gz", tmp_path / "builder.so"]
        sources[0].write_bytes(b"word\t1\n")
        sources[1].write_bytes(b"\x7fELF" + bytes(100))
        name = _cache.file_for("english", sources)
        assert os.path.basename(name).startswith(f"english-{_cache.__version__}-") and name.endswith(".kvx")
        assert _cache.file_for("english", sources) == name
        sources[1].write_bytes(b"\x7fELF" + bytes(99) + b"\x01")
        assert _cache.file_for("english", sources) != name
        sources[1].write_bytes(b"\x7fELF" + bytes(100))
        # Moving a byte from one file to the next is a change too.
        sources[0].write_bytes(b"word\t1")
        sources[1].write_bytes(b"\n\x7fELF" + bytes(100))
        assert _cache.file_for("english", sources) != name
        monkeypatch.setattr(_cache, "__version__", "9.9.9")
        assert "-9.9.9-" in _cache.file_for("english", sources)

    def test_the_digest_is_read_again_only_when_a_source_file_changes(self, tmp_path, monkeypatch):
        folder = tmp_path / "cache"
        monkeypatch.setenv(_cache.ENVIRONMENT, str(folder))
        taken = []
        digest = _cache.digest
        monkeypatch.setattr(_cache, "digest", lambda sources: taken.append(1) or digest(sources))
        source = tmp_path / "words"
        source.write_bytes(b"one")
        name = _cache.file_for("english", [source])
        assert _cache.file_for("english", [source]) == name and len(taken) == 2  # no folder, no note
        folder.mkdir()
        assert [_cache.file_for("english", [source]) for _ in range(3)] == [name] * 3 and len(taken) == 3
        # Another file in its place, even of the same size, is read again.
        replacement = tmp_path / "replacement"
        replacement.write_bytes(b"two")
        os.replace(replacement, source)
        assert _cache.file_for("english", [source]) != name and len(taken) == 4
        (note,) = [path for path in folder.iterdir() if path.name.endswith(".digest")]
        note.write_bytes(b"\xff garbage")
        assert _cache.file_for("english", [source]) == _cache.file_for("english", [source]) and len(taken) == 5

    def test_every_shipped_data_file_and_the_native_builder_are_sources(self):
        sources = _default._sources()
        data = _default._data_folder()
        assert {os.path.join(data, name) for name in os.listdir(data)} <= set(sources)
        assert _default._native_index.__file__ in sources

    @pytest.mark.parametrize(
        "platform, environment, expected",
        [
            ("linux", {"XDG_CACHE_HOME": "/xdg"}, "/xdg/kelvaro"),
            ("linux", {"XDG_CACHE_HOME": "relative"}, "{home}/.cache/kelvaro"),
            ("linux", {}, "{home}/.cache/kelvaro"),
            ("darwin", {"XDG_CACHE_HOME": "/xdg"}, "{home}/Library/Caches/kelvaro"),
            ("win32", {"LOCALAPPDATA": "/local"}, "/local/kelvaro/Cache"),
            ("linux", {"XDG_CACHE_HOME": "/xdg", "KELVARO_CACHE_DIR": "/mine"}, "/mine"),
            ("win32", {"KELVARO_CACHE_DIR": "/mine"}, "/mine"),
        ],
    )
    def test_the_folder_follows_the_platform_unless_told(self, monkeypatch, tmp_path, platform, environment, expected):
        for name in ("XDG_CACHE_HOME", "LOCALAPPDATA", "KELVARO_CACHE_DIR"):
            monkeypatch.delenv(name, raising=False)
        for name, value in environment.items():
            monkeypatch.setenv(name, value)
        monkeypatch.setenv("HOME", str(tmp_path))
        monkeypatch.setattr(sys, "platform", platform)
        assert _cache.folder() == expected.format(home=tmp_path)


class TestTwoProcessesAtOnce:
    def test_both_succeed_and_leave_one_intact_file(self, tmp_path, reference):
        folder = tmp_path / "cache"
        code = (
            "import json, kelvaro\n"
            "index = kelvaro.default_index()\n"
            "print(json.dumps([[m.word for m in index.suggest(w)] for w in %r]))" % SUGGESTED
        )
        racers = [run_python(code, folder) for _ in range(2)]
        results = [racer.communicate(timeout=300) for racer in racers]
        assert [racer.returncode for racer in racers] == [0, 0]
        assert [stderr for _, stderr in results] == ["", ""]
        expected = [[m.word for m in reference.suggest(word)] for word in SUGGESTED]
        assert [json.loads(stdout) for stdout, _ in results] == [expected, expected]
        names = [name for name in cached_files(folder) if not name.endswith(".digest")]
        assert len(names) == 1 and names[0].endswith(".kvx")  # and no temporary file left
        assert Index.load(folder / names[0]) == reference


class TestFailures:
    @pytest.mark.parametrize("where", ["beneath a file", "a file itself"])
    def test_a_folder_that_cannot_be_made_leaves_the_index_in_memory_without_a_word(self, tmp_path, where):
        blocker = tmp_path / "blocker"
        blocker.write_text("not a folder")
        folder = blocker / "cache" if where == "beneath a file" else blocker
        code = "import kelvaro; print(kelvaro.default_index().suggest('speling')[0].word)"
        racer = run_python(code, folder)
        stdout, stderr = racer.communicate(timeout=300)
        assert (racer.returncode, stdout, stderr) == (0, "spelling\n", "")
        assert blocker.read_text() == "not a folder"

    def test_a_full_disk_leaves_the_index_in_memory_and_no_file_behind(self, cache, monkeypatch, reference):
        folder, builds = cache

        def full(path, file):
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC), path)

        monkeypatch.setattr(_storage, "save", full)
        index = _default.cached_english()
        assert builds == [1] and not index._mapped() and index == reference
        assert cached_files(folder) == []

    @pytest.mark.parametrize("missing", ["the data folder", "a home"])
    def test_no_cache_file_to_name_builds_in_memory(self, cache, monkeypatch, tmp_path, missing):
        _, builds = cache
        if missing == "a home":
            monkeypatch.delenv(_cache.ENVIRONMENT)
            monkeypatch.delenv("HOME")
            monkeypatch.setattr(os.path, "expanduser", lambda path: path)
            monkeypatch.chdir(tmp_path)
        else:
            monkeypatch.setattr(_default, "_data_folder", lambda: "/nonexistent/kelvaro/data")
        assert _default.english_file() is None
        assert not _default.cached_english()._mapped() and builds == [1]
        assert os.listdir(tmp_path) == []

    @pytest.mark.parametrize("damage", ["garbage", "empty", "truncated", "a flipped byte", "another index", "a folder"])
    def test_a_damaged_or_foreign_file_is_built_again_and_replaced(self, cache, reference, damage):
        folder, builds = cache
        path = _default.english_file()
        folder.mkdir()
        good = reference._file()
        middle = len(good) // 2
        written = {
            "garbage": b"\x89KVX is not what this is" * 100,
            "empty": b"",
            "truncated": good[:middle],
            "a flipped byte": good[:middle] + bytes([good[middle] ^ 0x10]) + good[middle + 1 :],
        }
        if damage in written:
            with open(path, "wb") as file:
                file.write(written[damage])
        elif damage == "another index":
            Index.from_words(["a", "b"], normalize=str.casefold).save(path)
        else:
            os.mkdir(path)
        index = _default.cached_english()
        assert builds == [1] and index == reference
        if damage == "a folder":
            # Nothing here removes what it did not write: the index stays in memory.
            assert not index._mapped()
            return
        assert index._mapped()
        assert Index.load(path) == reference

    def test_files_of_other_versions_are_removed_once_a_month_old(self, cache):
        folder, _ = cache
        folder.mkdir()
        month_ago = time.time() - 31 * 24 * 3600
        old, recent = folder / "english-0.0.1-aaaa.kvx", folder / "english-0.0.2-bbbb.kvx"
        abandoned, other = folder / ".english-0.0.2-bbbb.kvx.123456.tmp", folder / "notes.kvx"
        old_note = folder / ".english-0.0.1.digest"
        for path in (old, recent, abandoned, other, old_note):
            path.write_bytes(b"x")
            os.utime(path, (month_ago, month_ago))
        os.utime(recent, None)
        _default.cached_english()
        path = _default.english_file()
        note = f".english-{_cache.__version__}.digest"
        assert cached_files(folder) == sorted([os.path.basename(path), note, recent.name, other.name])


class TestInfo:
    def kelvaro(self, *args):
        result = subprocess.run(
            [sys.executable, "-m", "kelvaro", "info", *args], capture_output=True, text=True, timeout=120
        )
        assert result.returncode == 0 and result.stderr == ""
        return result.stdout

    def test_info_names_the_english_file_before_and_after_it_is_made(self, cache):
        folder, _ = cache
        path = _default.english_file()
        before = self.kelvaro().splitlines()
        assert before == [
            "index           the built-in English index",
            f"cache file      {path}",
            "cached          not yet: the first use builds it and saves it there",
        ]
        assert not folder.exists()  # describing it does not make it
        index = _default.cached_english()
        after = self.kelvaro().splitlines()
        assert after[:3] == before[:2] + ["cached          yes"]
        assert f"words           {len(index):,}" in after and "values          weights (word counts)" in after
        record = json.loads(self.kelvaro("--json"))
        assert record["index"] == "english" and record["cache_file"] == path and record["cached"] is True
        assert record["words"] == len(index) and record["file_size"] == os.path.getsize(path)
        with open(path, "r+b") as file:
            file.write(b"\0")
        assert "the next use builds it again" in self.kelvaro().splitlines()[2]
        assert json.loads(self.kelvaro("--json"))["cached"] is False
