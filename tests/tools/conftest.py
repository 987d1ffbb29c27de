"""Shared fixtures of the tools tests."""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


@pytest.fixture(scope="session")
def slurm():
    """A private one-node Slurm cluster (see slurm_cluster.py), started once.

    Skipped where it cannot run (not root, Slurm or munge not installed),
    except on CI, where a missing cluster is a failure.
    """
    import slurm_cluster

    ok, why = slurm_cluster.available()
    if not ok:
        if os.environ.get("CI") == "true":
            pytest.fail("Slurm cluster unavailable on CI: " + why, pytrace=False)
        pytest.skip(why)
    # the ports are picked free just before the daemons bind them; another
    # developer's cluster starting at the same moment may take one first
    for attempt in range(3):
        cluster = slurm_cluster.SlurmCluster()
        try:
            cluster.start()
            break
        except slurm_cluster.SlurmError:
            if attempt == 2:
                raise
    try:
        yield cluster
    finally:
        cluster.stop()
