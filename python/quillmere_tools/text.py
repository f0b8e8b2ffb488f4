"""Smoothing and simplification of polygons in text: GeoJSON rewritten with
everything but the polygon coordinates kept, and WKT POLYGON and MULTIPOLYGON
columns, with invalid inputs reported by index or skipped."""

from __future__ import annotations

import warnings
from typing import Iterable, Optional

from . import _native
from ._arguments import check_iterations, check_on_invalid, check_text, check_texts, check_tolerance
from .errors import InvalidGeometryError

__all__ = ["smooth_simplify_geojson", "smooth_simplify_geojsons", "smooth_simplify_wkts"]


def _outcome(
    results: Optional[list[Optional[str]]], invalid: int, first: int, reason: Optional[str], on_invalid: str
) -> list[Optional[str]]:
    if invalid:
        if on_invalid == "raise":
            raise InvalidGeometryError(first, reason or "")
        if on_invalid == "warn":
            warnings.warn(
                f"{invalid} invalid input{'s' if invalid > 1 else ''} replaced by None; "
                f"the first is input {first}: {reason}",
                RuntimeWarning,
                stacklevel=3,
            )
    assert results is not None
    return results


def smooth_simplify_wkts(
    wkts: Iterable[Optional[str]],
    iterations: int,
    tolerance: float,
    *,
    on_invalid: str = "raise",
    keep_collapsed: bool = False,
) -> list[Optional[str]]:
    """Smooths and simplifies a column of WKT ``POLYGON`` and ``MULTIPOLYGON`` texts.

    Parameters
    ----------
    wkts
        Any iterable of ``str`` (list, tuple, pandas Series, ...) or ``None``;
        a bare ``str`` is refused with ``TypeError``. Texts are read with
        ``quillmere``'s WKT grammar and number reading: any letter case,
        ``EMPTY``, two numbers per coordinate, text after the geometry ignored.
    iterations
        Chaikin corner-cutting passes over every ring (0: none).
    tolerance
        Ramer–Douglas–Peucker tolerance in the coordinates' units (<= 0: none).
    on_invalid
        ``"raise"`` (default): an invalid text raises
        :class:`InvalidGeometryError` for the lowest invalid index. ``"warn"``:
        ``None`` in its place and one ``RuntimeWarning`` per call giving the
        number of invalid texts and the first index. ``"ignore"``: ``None`` in
        its place.
    keep_collapsed
        False (default): a ring left with fewer than 4 positions is dropped, a
        polygon without its exterior becomes ``POLYGON EMPTY`` or leaves its
        MultiPolygon, so every result is readable by shapely/GEOS. True: such
        rings are kept, as ``quillmere`` keeps them.

    Returns
    -------
    One text per input, in input order, in the input's kind and ``quillmere``'s
    layout (``POLYGON((x y,...),(...))``, ``MULTIPOLYGON(((x y,...)),((...)))``,
    ``POLYGON EMPTY``, ``MULTIPOLYGON EMPTY``); ``None`` for ``None`` and, unless
    ``on_invalid="raise"``, for invalid texts. A POLYGON whose rings do not
    collapse gives exactly the text of
    ``quillmere.smooth_and_simplify_polygons_from_wkts``.

    The work runs on quillmere's worker pool with the interpreter lock
    released; Ctrl-C interrupts it. Results do not depend on the thread count.
    """
    texts = check_texts(wkts, "wkts")
    count = check_iterations(iterations)
    tol = check_tolerance(tolerance)
    mode = check_on_invalid(on_invalid)
    results, invalid, first, reason = _native.smooth_simplify_wkts(
        "wkts", texts, count, tol, bool(keep_collapsed), mode == "raise"
    )
    return _outcome(results, invalid, first, reason, mode)


def smooth_simplify_geojsons(
    texts: Iterable[Optional[str]],
    iterations: int,
    tolerance: float,
    *,
    on_invalid: str = "raise",
    keep_collapsed: bool = False,
) -> list[Optional[str]]:
    """:func:`smooth_simplify_geojson` for each text of an iterable.

    ``texts`` is any iterable of ``str`` or ``None`` (a bare ``str`` is refused
    with ``TypeError``); ``None`` gives ``None``. ``on_invalid`` as in
    :func:`smooth_simplify_wkts`: ``"raise"`` raises
    :class:`InvalidGeometryError` for the lowest invalid index, ``"warn"`` and
    ``"ignore"`` put ``None`` in its place (``"warn"`` with one
    ``RuntimeWarning`` per call).
    """
    items = check_texts(texts, "texts")
    count = check_iterations(iterations)
    tol = check_tolerance(tolerance)
    mode = check_on_invalid(on_invalid)
    results, invalid, first, reason = _native.smooth_simplify_geojsons(
        "texts", items, count, tol, bool(keep_collapsed), mode == "raise"
    )
    return _outcome(results, invalid, first, reason, mode)


def smooth_simplify_geojson(text: str, iterations: int, tolerance: float, *, keep_collapsed: bool = False) -> str:
    """Smooths and simplifies the polygons of one GeoJSON text, keeping everything else.

    ``text`` holds one GeoJSON object: a FeatureCollection, a Feature or a
    Geometry. The result is the same text with the ``coordinates`` value of
    every Polygon and MultiPolygon geometry (at any depth, GeometryCollection
    members included) replaced by its smoothed and simplified coordinates,
    written compactly with numbers as ``quillmere`` writes them. Every other
    byte is kept as it is: member order, whitespace, ``properties``, ``id``,
    foreign members, other geometries, number spelling, string escapes, and
    ``bbox``, which stays a valid bound since every result lies within its
    input's extent. Positions with more than two numbers lose the extra ones
    (as in ``quillmere``). For a FeatureCollection of Polygon features, the
    coordinates are those of ``quillmere.smooth_and_simplify_polygon_fc``.

    A text is valid when ``quillmere``'s JSON reader and GeoJSON rules accept
    it (a Feature or Geometry at the top level is accepted too) and every
    polygon position has at least two numbers; otherwise
    :class:`InvalidGeometryError` is raised with index 0 and ``quillmere``'s
    message.

    ``iterations``, ``tolerance`` and ``keep_collapsed`` as in
    :func:`smooth_simplify_wkts`; by default a polygon that collapses is
    written ``[]`` and leaves its MultiPolygon. The work runs on quillmere's
    worker pool with the interpreter lock released; Ctrl-C interrupts it.
    """
    item = check_text(text, "text")
    count = check_iterations(iterations)
    tol = check_tolerance(tolerance)
    results, invalid, first, reason = _native.smooth_simplify_geojsons(
        "text", (item,), count, tol, bool(keep_collapsed), True
    )
    if invalid:
        raise InvalidGeometryError(0, reason or "")
    assert results is not None and results[0] is not None
    return results[0]
