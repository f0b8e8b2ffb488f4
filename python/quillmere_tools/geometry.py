"""Smoothing and simplification of shapely geometries and of their ragged
array form, without text in between."""

from __future__ import annotations

import sys
from typing import TYPE_CHECKING, Any, Sequence, TypeVar, overload

from . import _native
from ._arguments import check_iterations, check_tolerance, require

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

_POLYGON = 3
_MULTIPOLYGON = 6

RaggedArrays = tuple[Any, "npt.NDArray[np.float64]", tuple["npt.NDArray[np.int64]", ...]]


def smooth_simplify_ragged(
    geometry_type: int,
    coords: Any,
    offsets: Sequence[Any],
    iterations: int,
    tolerance: float,
    *,
    keep_collapsed: bool = False,
) -> RaggedArrays:
    """Smooths and simplifies polygons held in the layout of ``shapely.to_ragged_array``.

    Parameters
    ----------
    geometry_type
        ``shapely.GeometryType.POLYGON`` (3) or ``MULTIPOLYGON`` (6); returned as given.
    coords
        float64 array of shape (n, 2), read in place (3-D coordinates are refused).
    offsets
        The offset arrays (int32 or int64): rings into ``coords``, polygons into
        rings and, for MultiPolygon, multipolygons into polygons.
    iterations
        Chaikin corner-cutting passes over every ring (0: none).
    tolerance
        Ramer–Douglas–Peucker tolerance in the coordinates' units (<= 0: none).
    keep_collapsed
        False (default): a ring left with fewer than 4 positions is dropped, a
        polygon without its exterior becomes empty (and leaves its MultiPolygon),
        as GEOS and PostGIS simplification do. True: such rings are kept, as
        ``quillmere`` keeps them; shapely may then refuse to build them.

    Returns
    -------
    ``(geometry_type, coords, offsets)`` with new float64 coordinates and int64
    offsets, which ``shapely.from_ragged_array`` accepts. Each polygon's
    coordinates are bit-for-bit those ``quillmere`` computes for it.

    Raises
    ------
    TypeError, ValueError, OverflowError
        For bad arguments; a bad array is named with the position at fault.
    MemoryError
        At once, when the result could not exist.

    The work runs on quillmere's worker pool with the interpreter lock
    released; Ctrl-C interrupts it.
    """
    np = require("numpy", "geo")
    count = check_iterations(iterations)
    tol = check_tolerance(tolerance)
    if isinstance(offsets, (str, bytes)) or not isinstance(offsets, Sequence):
        raise TypeError(f"offsets must be a sequence of arrays, not {type(offsets).__name__}")
    # Strided views are made contiguous; contiguous arrays pass uncopied.
    def contiguous(array: Any) -> Any:
        return np.ascontiguousarray(array) if isinstance(array, np.ndarray) else array

    coords_array = contiguous(coords)
    offset_arrays = tuple(contiguous(o) for o in offsets)
    kind, out_coords, out_offsets = _native.smooth_simplify_ragged(
        geometry_type, coords_array, offset_arrays, count, tol, bool(keep_collapsed)
    )
    return (
        kind,
        np.frombuffer(out_coords, dtype=np.float64).reshape(-1, 2),
        tuple(np.frombuffer(o, dtype=np.int64) for o in out_offsets),
    )


G = TypeVar("G")


@overload
def smooth_simplify(
    geometries: "npt.NDArray[np.object_]", iterations: int, tolerance: float, *, keep_collapsed: bool = False
) -> "npt.NDArray[np.object_]": ...
@overload
def smooth_simplify(
    geometries: Sequence[G], iterations: int, tolerance: float, *, keep_collapsed: bool = False
) -> list[G]: ...
@overload
def smooth_simplify(geometries: G, iterations: int, tolerance: float, *, keep_collapsed: bool = False) -> G: ...
def smooth_simplify(geometries: Any, iterations: int, tolerance: float, *, keep_collapsed: bool = False) -> Any:
    """Smooths and simplifies the Polygons and MultiPolygons among shapely geometries.

    ``geometries`` is a GeoPandas ``GeoSeries``, a NumPy array of shapely
    geometries, or a sequence of them (``None`` allowed). The result is of the
    same kind: a GeoSeries keeps its index, name and CRS, an array its shape, a
    sequence becomes a list. Each Polygon and MultiPolygon gets ``iterations``
    Chaikin passes and RDP simplification with ``tolerance``, bit-for-bit as
    ``quillmere`` computes them, and keeps its type; every other geometry,
    ``None`` and empty geometries come back unchanged. Z values are dropped
    from the polygons that are processed.

    ``keep_collapsed`` as in :func:`smooth_simplify_ragged`: by default rings
    that collapse below 4 positions are dropped so shapely can build every
    result. Needs the ``geo`` extra (shapely, NumPy). The work runs with the
    interpreter lock released; Ctrl-C interrupts it.
    """
    np = require("numpy", "geo")
    shapely = require("shapely", "geo")
    count = check_iterations(iterations)
    tol = check_tolerance(tolerance)

    geoseries_type = _geoseries_type()
    if geoseries_type is not None and isinstance(geometries, geoseries_type):
        values = np.asarray(geometries.values, dtype=object)
        result = _smooth_simplify_array(np, shapely, values, count, tol, keep_collapsed)
        return geoseries_type(result, index=geometries.index, name=geometries.name, crs=geometries.crs)
    if isinstance(geometries, np.ndarray):
        if geometries.dtype != object:
            raise TypeError(f"geometries must be an array of shapely geometries (dtype object), not {geometries.dtype}")
        flat = geometries.reshape(-1)
        return _smooth_simplify_array(np, shapely, flat, count, tol, keep_collapsed).reshape(geometries.shape)
    if isinstance(geometries, (str, bytes)) or not isinstance(geometries, Sequence):
        raise TypeError(
            f"geometries must be a GeoSeries, an array or a sequence of shapely geometries, not {type(geometries).__name__}"
        )
    values = np.empty(len(geometries), dtype=object)
    values[:] = list(geometries)
    return list(_smooth_simplify_array(np, shapely, values, count, tol, keep_collapsed))


def _geoseries_type() -> Any:
    # Only when the caller has GeoPandas loaded: it is never imported here.
    module = sys.modules.get("geopandas")
    return getattr(module, "GeoSeries", None) if module is not None else None


def _smooth_simplify_array(np: Any, shapely: Any, values: Any, iterations: int, tolerance: float, keep: bool) -> Any:
    bad = [i for i, g in enumerate(values) if g is not None and not isinstance(g, shapely.Geometry)]
    if bad:
        raise TypeError(
            f"geometries must be shapely geometries or None; position {bad[0]} holds {type(values[bad[0]]).__name__}"
        )
    out = values.copy()
    types = shapely.get_type_id(values)
    empty = shapely.is_empty(values)
    for kind in (_POLYGON, _MULTIPOLYGON):
        (where,) = np.nonzero((types == kind) & ~empty)
        if where.size == 0:
            continue
        kind_code, coords, offsets = shapely.to_ragged_array(values[where], include_z=False)
        result = smooth_simplify_ragged(kind_code, coords, offsets, iterations, tolerance, keep_collapsed=keep)
        out[where] = shapely.from_ragged_array(*result)
    return out
