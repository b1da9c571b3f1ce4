import numpy as np
import pytest

import kestroimage as ki
from kestroimage.batch import analyse_file, analyse_files


def test_a_cluster_of_two_processes_gives_the_one_process_table(synthetic):
    distributed = pytest.importorskip("distributed")
    alone = [r for f in synthetic for r in analyse_file(f)]
    assert len(alone) > 0
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=50) as cluster, distributed.Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        assert analyse_files(synthetic[0].parent, client=client) == alone


def test_threads_and_skipped_files(synthetic, tmp_path):
    pytest.importorskip("dask")
    bad = tmp_path / "bad.tif"
    bad.write_bytes(b"nothing")
    files = list(synthetic) + [bad]
    with pytest.raises(OSError):
        analyse_files(files)
    with pytest.warns(UserWarning, match="1 of 4 files skipped"):
        table = analyse_files(files, errors="skip")
    assert table == [r for f in synthetic for r in analyse_file(f)]
