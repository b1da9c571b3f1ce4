"""The gel analysis over many files with Dask: locally on threads, or on a cluster through a
distributed Client. Dask is needed only here.

    from dask.distributed import Client
    from kestroimage.batch import analyse_files
    rows = analyse_files(sorted(Path("scans").glob("*.tif")), client=Client("scheduler:8786"))
"""
from __future__ import annotations

import os
import warnings
from typing import Any, Iterable, List, Optional, Union

PathLike = Union[str, "os.PathLike[str]"]


def analyse_file(path: PathLike, accept_damaged: bool = False, **options: Any) -> List[dict]:
    """The records of one file: kestroimage.gel.analyse(load(path), **options).records()."""
    from . import gel, load

    return gel.analyse(load(path, accept_damaged=accept_damaged), **options).records()


def _files(paths: Union[PathLike, Iterable[PathLike]]) -> List[str]:
    if isinstance(paths, (str, os.PathLike)):
        folder = os.fspath(paths)
        if not os.path.isdir(folder):
            return [folder]
        return sorted(os.path.join(folder, name) for name in os.listdir(folder)
                      if not name.startswith(".") and os.path.isfile(os.path.join(folder, name)))
    return [os.fspath(p) for p in paths]


def _records_or_error(path: str, accept_damaged: bool, options: dict) -> Union[List[dict], str]:
    try:
        return analyse_file(path, accept_damaged, **options)
    except (OSError, ValueError) as error:
        return str(error)


def analyse_files(paths: Union[PathLike, Iterable[PathLike]], client: Optional[Any] = None, *,
                  accept_damaged: bool = False, errors: str = "raise", **options: Any) -> List[dict]:
    """Analyses every file and returns one table: the records of all files, in the order of the
    files (a folder stands for its files, sorted by name).

    client: a dask.distributed Client to run on its cluster; None uses Dask's current scheduler
    (a Client made earlier in this process, else threads: the analysis releases the
    interpreter's lock). errors: 'raise' stops at the first file that cannot be read or
    analysed; 'skip' leaves such files out and warns how many there were. Other keyword
    arguments go to kestroimage.gel.analyse.
    """
    if errors not in ("raise", "skip"):
        raise ValueError(f"errors is 'raise' or 'skip', not {errors!r}")
    try:
        import dask
    except ImportError as error:
        raise ImportError("kestroimage.batch needs Dask (Debian: python3-dask, python3-distributed)") from error
    files = _files(paths)
    task = analyse_file if errors == "raise" else _records_or_error
    args = (accept_damaged,) if errors == "raise" else (accept_damaged, options)
    kwargs = options if errors == "raise" else {}
    tasks = [dask.delayed(task, pure=True)(f, *args, **kwargs) for f in files]
    if client is not None:
        results = client.gather(client.compute(tasks))
    else:
        results = dask.compute(*tasks)
    table: List[dict] = []
    failed = []
    for f, r in zip(files, results):
        if isinstance(r, str):
            failed.append(f"{f}: {r}" if not r.startswith(f) else r)
        else:
            table.extend(r)
    if failed:
        warnings.warn(f"{len(failed)} of {len(files)} files skipped; the first: {failed[0]}", stacklevel=2)
    return table


def to_frame(records: List[dict]) -> Any:
    """The records as a pandas DataFrame (pandas needed), with the columns of bands.csv even
    when there are no bands."""
    import pandas

    columns = ["file", "lane", "band", "centre x", "peak y", "top", "bottom", "raw volume", "corrected volume",
               "relative volume", "saturated pixels", "size", "size extrapolated", "volume is lower bound", "diffuse"]
    return pandas.DataFrame(records, columns=columns)
