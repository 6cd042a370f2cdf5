"""Search a batch of queries on a Dask cluster.

    python examples/dask_search.py                  a local cluster of two worker processes
    python examples/dask_search.py --workers 4      ... of four
    python examples/dask_search.py --scheduler tcp://HOST:8786

The queries become a dask.bag, and each partition is searched by a worker
that already holds the index (the client scatters it to every worker once,
up front, rather than with every task), in one call of Index.search_many,
which spreads the partition over the worker's threads. The results are checked against a
loop of Index.search in this process.

Needs Dask's distributed scheduler: pip install "kelvaro[dask]".
"""
from __future__ import annotations

import argparse
import os
import sys
import time
from typing import Any, List, Optional

import dask.bag
from dask.distributed import Client, LocalCluster

from kelvaro import Index, Match

HERE = os.path.dirname(os.path.abspath(__file__))


def search_on_cluster(
    client: Client,
    index: Index,
    queries: List[str],
    max_dist: int = 1,
    limit: Optional[int] = None,
) -> List[List[Match]]:
    """index.search for every query, on the cluster behind `client`; the
    results come back in the order of `queries`."""
    workers = len(client.scheduler_info()["workers"])
    shipped = client.scatter(index, broadcast=True)
    # Dask's collections are untyped; Any marks where this file leaves typed ground.
    bag: Any = dask.bag.from_sequence(queries, npartitions=max(1, 4 * workers))
    results: List[List[Match]] = bag.map_partitions(search_partition, shipped, max_dist, limit).compute()
    return results


def search_partition(
    queries: List[str], index: Index, max_dist: int, limit: Optional[int]
) -> List[List[Match]]:
    return index.search_many(queries, max_dist, limit)


def typos(words: List[str]) -> List[str]:
    """Every word with one letter dropped, one doubled, and as it is."""
    queries = []
    for n, word in enumerate(words):
        at = n % len(word)
        queries += [word[:at] + word[at + 1 :], word[:at] + word[at] + word[at:], word]
    return queries


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scheduler", help="address of a running scheduler (default: start a local cluster)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster")
    parser.add_argument("-d", "--distance", type=int, default=1)
    args = parser.parse_args()

    with open(os.path.join(HERE, "words.txt"), encoding="utf-8") as f:
        words = [line.strip() for line in f if line.strip()]
    index = Index.from_words(words)
    queries = typos(words)

    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
    with client:
        started = time.perf_counter()
        on_cluster = search_on_cluster(client, index, queries, args.distance)
        elapsed = time.perf_counter() - started
        workers = len(client.scheduler_info()["workers"])

    in_process = [index.search(query, args.distance) for query in queries]
    matches = sum(map(len, on_cluster))
    print(f"{len(queries)} queries on {workers} Dask workers in {elapsed:.2f} s: {matches} matches")
    if on_cluster != in_process:
        print("the results differ from a loop of search", file=sys.stderr)
        return 1
    print("identical to a loop of search")
    return 0


if __name__ == "__main__":
    sys.exit(main())
