"""examples/dask_search.py on a LocalCluster of two worker processes."""
import os
import subprocess
import sys

import pytest

from conftest import IS_PYPY

pytestmark = [
    pytest.mark.skipif(IS_PYPY, reason="Dask's distributed scheduler does not run on PyPy"),
    # Under the sanitizers (make check) Dask's own worker processes report
    # leaks of the interpreter's that have nothing to do with kelvaro.
    pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="not under the sanitizers"),
]

EXAMPLE = os.path.join(os.path.dirname(__file__), os.pardir, "examples", "dask_search.py")


def test_the_batch_on_a_cluster_matches_a_loop_of_search():
    pytest.importorskip("distributed")
    # Run as a script, as its users run it: Dask ships the functions of
    # __main__ to the workers by value.
    result = subprocess.run(
        [sys.executable, EXAMPLE, "--workers", "2"], capture_output=True, text=True, timeout=300
    )
    assert result.returncode == 0, result.stderr
    assert "queries on 2 Dask workers" in result.stdout
    assert result.stdout.rstrip().endswith("identical to a loop of search")
