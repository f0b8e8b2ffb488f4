"""Companion of the quillmere extension module: smoothing and simplification
of shapely geometries, ragged arrays, GeoJSON with its properties, MULTIPOLYGON
WKT and files, on the same worker pool.

Every function releases the interpreter lock during its native work and
answers Ctrl-C.
"""

from __future__ import annotations

from ._load import load_native

load_native()

from ._native import num_threads  # noqa: E402
from .errors import InvalidGeometryError  # noqa: E402
from .geometry import smooth_simplify, smooth_simplify_ragged  # noqa: E402
from .text import smooth_simplify_geojson, smooth_simplify_geojsons, smooth_simplify_wkts  # noqa: E402

__all__ = [
    "InvalidGeometryError",
    "num_threads",
    "smooth_simplify",
    "smooth_simplify_geojson",
    "smooth_simplify_geojsons",
    "smooth_simplify_ragged",
    "smooth_simplify_wkts",
]
