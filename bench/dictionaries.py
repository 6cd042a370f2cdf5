"""Each dictionary as kelvaro holds it, and symspellpy over the same words."""
import gc
import os
import time

import kelvaro
from resident_memory import resident_bytes
from word_lists import make_queries


class Dictionary:
    def __init__(self, name, words, workdir, query_count, walk_timer):
        self.name = name
        self.words = words
        self.queries = make_queries(words, query_count)
        self.index = kelvaro.Index.from_words(words)
        self.index.search(words[0], 1)  # the reversed trie, made by the first search
        self.trie = self.index.trie
        self.data = self.trie.to_bytes()
        self.path = os.path.join(workdir, name)
        with open(self.path + ".kelvaro", "wb") as f:
            f.write(self.data)
        self.index.save(self.path + ".index")
        self.timed = walk_timer.load(self.data)
        self.memory = walk_timer.memory(self.timed)
        self.nodes = self.memory["nodes"]
        self.stored = set(words)
        self.hits = [q for q in self.queries if q in self.stored]
        self.misses = [q for q in self.queries if q not in self.stored]


class SymSpellPeer:
    """symspellpy over a dictionary's words, deep enough for every distance asked."""

    def __init__(self, words, max_distance):
        from symspellpy import SymSpell, Verbosity

        self.verbosity = Verbosity.ALL
        gc.collect()
        before = resident_bytes()
        start = time.perf_counter()
        self.checker = SymSpell(max_dictionary_edit_distance=max_distance)
        for word in words:
            self.checker.create_dictionary_entry(word, 1)
        self.build_seconds = time.perf_counter() - start
        self.memory = resident_bytes() - before

    def lookup(self, query, distance):
        return self.checker.lookup(query, self.verbosity, max_edit_distance=distance)
