"""The public API as a typed program uses it.

`make test` runs mypy --strict over this file: a change to the annotations
of kelvaro or _kelvaro that breaks ordinary typed code fails there. Under
pytest it checks that what the annotations promise is what comes back.
"""
from __future__ import annotations

import pathlib
from typing import Callable, Dict, Iterator, List, Optional, Tuple

import _kelvaro
import kelvaro
from kelvaro import Index, Match


def build_all_ways() -> List[Index]:
    by_words: Index = Index.from_words(["tree", "trie"], values=[1, 2])
    mapping: Dict[str, int] = {"tree": 1, "trie": 2}
    pairs: List[Tuple[str, int]] = [("tree", 1), ("trie", 2)]
    fold: Callable[[str], str] = str.casefold
    return [by_words, Index.from_words(mapping), Index.from_words(pairs, normalize=fold)]


def nearest(index: Index, query: str) -> Optional[str]:
    matches: List[Match] = index.search(query, max_dist=2, limit=1, sorted=True)
    return matches[0].word if matches else None


def walk(trie: _kelvaro.PrefixSearch, word: str) -> Optional[int]:
    node = 0
    for ch in word:
        children: List[Tuple[str, int]] = trie.get_children(node)
        found = [child for label, child in children if label == ch]
        if not found:
            return None
        node = found[0]
    return trie.get_payload(node)


def test_typed_usage(tmp_path: pathlib.Path) -> None:
    for index in build_all_ways():
        assert index.get("tree") == 1
        value: int = index.get("bush", 0)
        assert value == 0
        assert nearest(index, "tre") == "tree"
        assert walk(index.trie, "trie") == 2
        words: Iterator[str] = iter(index)
        assert list(words) == ["tree", "trie"] and len(index) == 2 and "trie" in index

        path = tmp_path / "index.kvx"
        index.save(path)
        loaded = Index.load(path, normalize=index.normalize)
        batches: List[List[Match]] = loaded.search_many(["tre", "tri"], 1, threads=1)
        distances: List[int] = [match.distance for batch in batches for match in batch]
        assert distances == [1, 1, 1]

    trie: _kelvaro.PrefixSearch = _kelvaro.from_bytes(Index.from_words(["a"]).trie.to_bytes())
    found: Optional[Tuple[str, int, int]] = trie.exact_match("a")
    assert found == ("a", 0, 0)
    assert kelvaro.FORMAT_VERSION == 2
