"""Bulk Chaikin smoothing and Ramer-Douglas-Peucker simplification of polygons
from WKT or GeoJSON text, on a process-wide pool of worker threads.

Types for the extension module quillmere, whose functions carry no
docstrings of their own.
"""

from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex

__all__ = ["smooth_and_simplify_polygon_fc", "smooth_and_simplify_polygons_from_wkts"]

def smooth_and_simplify_polygons_from_wkts(
    polygon_wkts: Sequence[str],
    smoothing_iterations: SupportsIndex,
    simplify_tolerance_m: SupportsFloat | SupportsIndex,
) -> list[str]:
    """Smooths, then simplifies, every polygon of a sequence of WKT texts.

    Parameters
    ----------
    polygon_wkts
        A sequence (list, tuple, ...) of str, each one WKT ``POLYGON`` (any
        letter case, ``EMPTY`` allowed, two numbers per coordinate; text after
        the polygon is ignored). A bare str is refused.
    smoothing_iterations
        Chaikin corner-cutting passes over every ring, 0 ... 2**64 - 1
        (0: no smoothing). Each pass doubles the number of points.
    simplify_tolerance_m
        The Ramer-Douglas-Peucker distance tolerance, in the coordinates' own
        units (<= 0: no simplification).

    Returns
    -------
    list[str]
        One WKT text per input, in input order, laid out as
        ``POLYGON((x y,x y,...),(...))`` with shortest round-trip numbers and
        no exponent (``POLYGON EMPTY`` for an empty polygon). The result is
        bit-for-bit the same whatever the number of threads.

    Raises
    ------
    TypeError, ValueError, OverflowError, UnicodeEncodeError
        For a wrong argument (a bare str as ``polygon_wkts`` is a
        ValueError), before any work starts.
    pyo3_runtime.PanicException
        For a text that cannot be read as a polygon: the message names the
        problem of the first such text in list order. It derives from
        BaseException, not Exception.
    MemoryError
        When memory runs out. A call returns its whole result or raises.

    Threads
    -------
    The work runs on the process-wide worker pool, started by the first call
    with ``RAYON_NUM_THREADS`` threads, else ``RAYON_RS_NUM_CPUS``, else the
    processor count (cgroup CPU quota and affinity mask respected), at most
    65535; the environment is read once.
    """

def smooth_and_simplify_polygon_fc(
    geojson: str,
    smoothing_iterations: SupportsIndex,
    simplify_tolerance_m: SupportsFloat | SupportsIndex,
) -> str:
    """Smooths, then simplifies, every polygon of a GeoJSON FeatureCollection.

    Parameters
    ----------
    geojson
        One GeoJSON ``FeatureCollection`` as text. Every ``Polygon`` feature
        and every polygon of a ``MultiPolygon`` feature is taken, in document
        order; other geometry kinds and ``null`` geometries are skipped.
    smoothing_iterations
        Chaikin corner-cutting passes over every ring, 0 ... 2**64 - 1
        (0: no smoothing). Each pass doubles the number of points.
    simplify_tolerance_m
        The Ramer-Douglas-Peucker distance tolerance, in the coordinates' own
        units (<= 0: no simplification).

    Returns
    -------
    str
        A compact FeatureCollection text with one ``Polygon`` feature per
        polygon found, ``"properties":{}``, members in key order. The result
        is bit-for-bit the same whatever the number of threads.

    Raises
    ------
    TypeError, ValueError, OverflowError, UnicodeEncodeError
        For a wrong argument, before any work starts.
    pyo3_runtime.PanicException
        For invalid JSON or GeoJSON, or a text that is not a
        FeatureCollection, with a message naming the problem. It derives from
        BaseException, not Exception.
    MemoryError
        When memory runs out. A call returns its whole result or raises.

    Threads
    -------
    The work runs on the process-wide worker pool, started by the first call
    with ``RAYON_NUM_THREADS`` threads, else ``RAYON_RS_NUM_CPUS``, else the
    processor count (cgroup CPU quota and affinity mask respected), at most
    65535; the environment is read once.
    """
