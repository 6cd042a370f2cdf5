"""search_many: one batch of queries over a pool of worker processes.

Each worker receives the index once, through the pool's initializer, and
then only queries and results cross between processes. With the fork start
method the workers inherit the index without even that copy.

Queries are normalised here and the workers receive the index without its
normalize function, which the spawn and forkserver start methods could not
send them whenever it does not pickle (a lambda, a nested function).
"""

from __future__ import annotations

import multiprocessing
import os
from typing import TYPE_CHECKING, Iterable, List, Optional, Tuple

if TYPE_CHECKING:
    from ._index import Index, Match

# Chunks per worker: enough to even out queries of uneven cost, few enough
# that each task is worth its round trip.
_CHUNKS_PER_PROCESS = 4

_worker_index: Optional[Index] = None

_Task = Tuple[List[str], int, Optional[int], bool]


def search_many(
    index: Index,
    queries: Iterable[str],
    max_dist: int,
    limit: Optional[int],
    sorted: bool,
    processes: Optional[int],
) -> List[List[Match]]:
    """max_dist and limit are already checked."""
    batch = _checked_queries(queries)
    processes = _checked_processes(processes)
    workers = min(processes, len(batch))
    if workers <= 1:
        return [index.search(query, max_dist, limit, sorted=sorted) for query in batch]

    # Workers search the keys as they are, which answers what a search of
    # each query through the normalisation would.
    keys = [index._key(query, "query") for query in batch]
    chunk_size = -(-len(keys) // (workers * _CHUNKS_PER_PROCESS))
    tasks: List[_Task] = [
        (keys[start : start + chunk_size], max_dist, limit, sorted)
        for start in range(0, len(keys), chunk_size)
    ]
    unnormalized = index._without_normalization()
    with multiprocessing.get_context().Pool(workers, _receive_index, (unnormalized,)) as pool:
        chunks = pool.map(_search_chunk, tasks)
    return [results for chunk in chunks for results in chunk]


def _checked_queries(queries: Iterable[str]) -> List[str]:
    if isinstance(queries, str):
        raise TypeError("queries must be an iterable of str, not a single str")
    try:
        batch = list(queries)
    except TypeError:
        raise TypeError(f"queries must be iterable, not {type(queries).__name__}") from None
    for i, query in enumerate(batch):
        if not isinstance(query, str):
            raise TypeError(f"queries[{i}] must be a str, not {type(query).__name__}")
    return batch


def _checked_processes(processes: Optional[int]) -> int:
    if processes is None:
        return os.cpu_count() or 1
    if isinstance(processes, bool) or not isinstance(processes, int):
        raise TypeError(f"processes must be an int or None, not {type(processes).__name__}")
    if processes < 1:
        raise ValueError(f"processes must be 1 or more, not {processes}")
    return processes


def _receive_index(index: Index) -> None:
    global _worker_index
    _worker_index = index


def _search_chunk(task: _Task) -> List[List[Match]]:
    queries, max_dist, limit, sorted = task
    index = _worker_index
    assert index is not None, "the pool's initializer delivers the index"
    return [index.search(query, max_dist, limit, sorted=sorted) for query in queries]
