"""Smoothing and simplification of Dask collections, one partition per call.

:func:`smooth_simplify` takes a dask-geopandas ``GeoSeries`` or
``GeoDataFrame``, a dask DataFrame ``Series`` of WKT or GeoJSON texts, or a
dask ``Bag`` of such texts, and returns the same lazy kind: nothing is computed
until the caller asks (``compute``, ``persist``, ``to_parquet``...). Each
partition is one call of the in-memory function of ``quillmere_tools``
(:func:`~quillmere_tools.smooth_simplify`,
:func:`~quillmere_tools.smooth_simplify_wkts` or
:func:`~quillmere_tools.smooth_simplify_geojsons`), on the worker pool of the
process that runs it.

:func:`local_cluster` starts a ``distributed.LocalCluster`` sized so that
Dask's workers and quillmere's pools use each core once.

Needs the ``dask`` extra (dask, distributed, dask-geopandas), imported only
when one of these functions is called.
"""

from __future__ import annotations

import os
import sys
import warnings
from typing import TYPE_CHECKING, Any, Literal

from . import InvalidGeometryError
from ._arguments import check_iterations, check_tolerance

if TYPE_CHECKING:
    from distributed import LocalCluster

__all__ = ["PartitionInvalidGeometryError", "local_cluster", "smooth_simplify"]


_KINDS = ("wkt", "geojson")
_ON_INVALID = ("raise", "warn", "ignore")


def _require(module: str) -> Any:
    import importlib

    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(
            f"quillmere_tools.dask needs {module}; install it with pip install 'quillmere[dask]'"
        ) from error


class PartitionInvalidGeometryError(InvalidGeometryError):
    """An invalid text met in one partition of a Dask collection.

    A :class:`~quillmere_tools.InvalidGeometryError` (so a ``ValueError``)
    raised by the task that processes the partition and re-raised by Dask on
    the client. Attributes:

    ``partition``
        the number of the partition (0-based, in the collection's order);
    ``index``
        the position of the text within that partition (0-based), as the
        in-memory function reports it for the partition's list;
    ``label``
        the row's index label for a DataFrame ``Series`` (its global
        identity when the index is meaningful, for example the default
        ``RangeIndex`` of ``from_pandas`` or an index stored in Parquet),
        ``None`` for a ``Bag``;
    ``reason``
        the message of the in-memory function for that text.

    Within a partition the lowest invalid position is reported; when several
    partitions hold invalid texts, the one reported is the first partition
    whose task fails, which need not be the lowest-numbered.
    """

    partition: int
    label: Any

    def __init__(self, partition: int, index: int, reason: str, label: Any = None) -> None:
        where = f"partition {partition}, input {index}"
        if label is not None:
            where += f" (index label {label!r})"
        # ValueError's own __init__: the parent's signature is not relied on.
        ValueError.__init__(self, f"{where}: {reason}")
        self.partition = partition
        self.index = index
        self.reason = reason
        self.label = label

    def __reduce__(self) -> tuple[Any, ...]:
        # Crosses process boundaries (worker to client) with its attributes.
        return (type(self), (self.partition, self.index, self.reason, self.label))

    def __str__(self) -> str:
        return str(self.args[0])


def smooth_simplify(
    obj: Any,
    iterations: int,
    tolerance: float,
    *,
    kind: Literal["wkt", "geojson"] | None = None,
    on_invalid: Literal["raise", "warn", "ignore"] | None = None,
    keep_collapsed: bool = False,
) -> Any:
    """Smooths and simplifies the polygons of a Dask collection, lazily.

    Parameters
    ----------
    obj
        One of:

        - a dask-geopandas ``GeoSeries``: every Polygon and MultiPolygon is
          processed as :func:`quillmere_tools.smooth_simplify` does (other
          geometries, ``None`` and empty ones unchanged, CRS kept);
        - a dask-geopandas ``GeoDataFrame``: the same on its active geometry
          column, every other column unchanged;
        - a dask DataFrame ``Series`` of WKT or GeoJSON texts (missing values
          allowed): each text as :func:`quillmere_tools.smooth_simplify_wkts`
          or :func:`quillmere_tools.smooth_simplify_geojsons` does; the result
          keeps the Series' dtype, name and index;
        - a dask ``Bag`` of such texts (``None`` allowed), e.g. the lines of
          ``dask.bag.read_text``.
    iterations, tolerance
        Chaikin passes and Ramer–Douglas–Peucker tolerance, as in the
        in-memory functions.
    kind
        Texts only: ``"wkt"`` or ``"geojson"``. When omitted, each partition
        takes it from its first non-missing text (GeoJSON when it starts with
        ``{`` after white space, WKT otherwise); finding one global first
        value would mean computing data before the graph is built. A text of
        the other kind in the same partition is then invalid.
    on_invalid
        Texts only: ``"raise"`` (the default, also when ``None``), ``"warn"``
        or ``"ignore"``, as in the in-memory text functions, an invalid text
        giving a missing value in the last two. With ``"raise"`` the first
        invalid text that a task meets raises
        :class:`PartitionInvalidGeometryError` on the client, with its
        partition, its position in the partition and, for a Series, its index
        label. With ``"warn"`` the ``RuntimeWarning`` (one per partition with
        invalid texts) is emitted where the partition runs: on a
        ``distributed`` cluster that is the worker's log.
    keep_collapsed
        As in the in-memory functions.

    Returns
    -------
    The same kind of collection, lazy, with the same number of partitions,
    the same divisions and the same ``meta`` as ``obj``.

    The values of ``iterations``, ``tolerance``, ``kind`` and ``on_invalid``
    are checked at once; the texts and geometries when the result is computed.
    """
    count = check_iterations(iterations)
    tol = check_tolerance(tolerance)
    keep = bool(keep_collapsed)
    if kind is not None and kind not in _KINDS:
        raise ValueError(f"kind must be 'wkt', 'geojson' or None, not {kind!r}")
    if on_invalid is not None and on_invalid not in _ON_INVALID:
        raise ValueError(f"on_invalid must be 'raise', 'warn' or 'ignore', not {on_invalid!r}")

    _require("dask")
    dask_geopandas = sys.modules.get("dask_geopandas")
    if dask_geopandas is not None and isinstance(obj, (dask_geopandas.GeoSeries, dask_geopandas.GeoDataFrame)):
        for name, value in (("kind", kind), ("on_invalid", on_invalid)):
            if value is not None:
                raise TypeError(f"{name} applies to texts, not to the geometries of a dask-geopandas collection")
        function = _geoseries_partition if isinstance(obj, dask_geopandas.GeoSeries) else _geodataframe_partition
        return obj.map_partitions(function, count, tol, keep, meta=obj._meta)

    policy: Literal["raise", "warn", "ignore"] = "raise" if on_invalid is None else on_invalid
    dask_dataframe = sys.modules.get("dask.dataframe")
    if dask_dataframe is not None and isinstance(obj, dask_dataframe.Series):
        dtype = obj._meta.dtype
        if not (dtype == object or _require("pandas").api.types.is_string_dtype(dtype)):
            hint = "; for geometries use a dask-geopandas GeoSeries" if str(dtype) == "geometry" else ""
            raise TypeError(f"a dask Series must hold texts (object or string dtype), not {dtype}{hint}")
        return obj.map_partitions(_series_partition, kind, count, tol, policy, keep, meta=obj._meta)
    if dask_dataframe is not None and isinstance(obj, dask_dataframe.DataFrame):
        raise TypeError(
            "a dask DataFrame is taken only as a dask-geopandas GeoDataFrame; "
            "for a column of texts pass that column (frame[name])"
        )
    dask_bag = sys.modules.get("dask.bag")
    if dask_bag is not None and isinstance(obj, dask_bag.Bag):
        numbers = dask_bag.range(obj.npartitions, npartitions=obj.npartitions)
        return obj.map_partitions(_bag_partition, numbers, kind, count, tol, policy, keep)
    raise TypeError(
        "obj must be a dask-geopandas GeoSeries or GeoDataFrame, a dask DataFrame Series of texts "
        f"or a dask Bag of texts, not {type(obj).__module__}.{type(obj).__qualname__}"
    )


# Partition functions: module-level so that workers import them by name.


def _geoseries_partition(part: Any, iterations: int, tolerance: float, keep: bool) -> Any:
    from .geometry import smooth_simplify as smooth

    return smooth(part, iterations, tolerance, keep_collapsed=keep)


def _geodataframe_partition(part: Any, iterations: int, tolerance: float, keep: bool) -> Any:
    from .geometry import smooth_simplify as smooth

    geometry = part.geometry
    out = part.copy(deep=False)
    out[geometry.name] = smooth(geometry, iterations, tolerance, keep_collapsed=keep)
    return out


def _series_partition(
    part: Any,
    kind: Literal["wkt", "geojson"] | None,
    iterations: int,
    tolerance: float,
    on_invalid: Literal["raise", "warn", "ignore"],
    keep: bool,
    partition_info: dict[str, Any] | None = None,
) -> Any:
    missing = part.isna().to_numpy()
    texts = [None if gone else value for value, gone in zip(part.tolist(), missing)]
    number = partition_info["number"] if partition_info is not None else 0
    results = _texts(texts, kind, iterations, tolerance, on_invalid, keep, number, part.index)
    return type(part)(results, index=part.index, name=part.name, dtype=part.dtype)


def _bag_partition(
    part: Any,
    number: Any,
    kind: Literal["wkt", "geojson"] | None,
    iterations: int,
    tolerance: float,
    on_invalid: Literal["raise", "warn", "ignore"],
    keep: bool,
) -> list[str | None]:
    (partition,) = list(number)
    return _texts(list(part), kind, iterations, tolerance, on_invalid, keep, partition, None)


def _detect(texts: list[Any]) -> Literal["wkt", "geojson"]:
    for text in texts:
        if isinstance(text, str):
            return "geojson" if text.lstrip().startswith("{") else "wkt"
        if text is not None:
            break
    return "wkt"


def _texts(
    texts: list[Any],
    kind: Literal["wkt", "geojson"] | None,
    iterations: int,
    tolerance: float,
    on_invalid: Literal["raise", "warn", "ignore"],
    keep: bool,
    partition: int,
    labels: Any,
) -> list[str | None]:
    from . import smooth_simplify_geojsons, smooth_simplify_wkts

    function = smooth_simplify_wkts if (kind or _detect(texts)) == "wkt" else smooth_simplify_geojsons
    if on_invalid == "raise":
        try:
            return function(texts, iterations, tolerance, on_invalid="raise", keep_collapsed=keep)
        except PartitionInvalidGeometryError:
            raise
        except InvalidGeometryError as error:
            label = _label(labels, error.index)
            raise PartitionInvalidGeometryError(partition, error.index, error.reason, label) from None
    results = function(texts, iterations, tolerance, on_invalid="ignore", keep_collapsed=keep)
    if on_invalid == "warn":
        bad = [i for i, (text, result) in enumerate(zip(texts, results)) if text is not None and result is None]
        if bad:
            where = f"input {bad[0]}"
            if labels is not None:
                where += f" (index label {_label(labels, bad[0])!r})"
            warnings.warn(
                f"partition {partition}: {len(bad)} invalid input(s) gave None, the first at {where}",
                RuntimeWarning,
                stacklevel=2,
            )
    return results


def _label(labels: Any, position: int) -> Any:
    if labels is None:
        return None
    label = labels[position]
    item = getattr(label, "item", None)
    # NumPy scalars as plain Python values (they print and compare simply).
    return item() if type(label).__module__ == "numpy" and item is not None else label


def available_cores() -> int:
    """The cores this process may run on (affinity mask), at least 1."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        return max(1, os.cpu_count() or 1)


def local_cluster(
    n_workers: int | None = None,
    *,
    pool_threads: int | None = None,
    threads_per_worker: int = 1,
    cores: int | None = None,
    **kwargs: Any,
) -> LocalCluster:
    """Starts a ``distributed.LocalCluster`` that uses each core once.

    Dask runs ``n_workers`` worker processes with ``threads_per_worker``
    threads each; inside each process, quillmere's worker pool runs
    ``pool_threads`` threads. The pool reads ``RAYON_NUM_THREADS`` once, when
    the process first calls quillmere, so it is set in each worker's
    environment (the nanny's ``env``) before any task runs. The defaults give
    ``n_workers * threads_per_worker * pool_threads == cores``: one worker
    process per core with a pool of one thread, which keeps the Python part of
    each partition (the conversion to and from shapely, Arrow, Parquet)
    parallel too. ``cores`` defaults to the cores this process may use.

    Other keyword arguments go to ``LocalCluster`` (``memory_limit``,
    ``dashboard_address``...); an ``env`` given there is kept, with
    ``RAYON_NUM_THREADS`` added unless it names one.

    Use it as ``with local_cluster() as cluster, Client(cluster) as client:``.
    """
    distributed = _require("distributed")
    total = available_cores() if cores is None else int(cores)
    if total < 1 or threads_per_worker < 1:
        raise ValueError("cores and threads_per_worker must be >= 1")
    if n_workers is None:
        n_workers = max(1, total // (threads_per_worker * (pool_threads or 1)))
    if n_workers < 1:
        raise ValueError(f"n_workers must be >= 1, not {n_workers}")
    if pool_threads is None:
        pool_threads = max(1, total // (n_workers * threads_per_worker))
    if pool_threads < 1:
        raise ValueError(f"pool_threads must be >= 1, not {pool_threads}")
    env = {str(k): str(v) for k, v in (kwargs.pop("env", None) or {}).items()}
    env.setdefault("RAYON_NUM_THREADS", str(pool_threads))
    cluster: LocalCluster = distributed.LocalCluster(
        n_workers=n_workers,
        threads_per_worker=threads_per_worker,
        processes=True,
        env=env,
        **kwargs,
    )
    return cluster
