"""A user's code that calls every public function of quillmere and
quillmere_tools, as an editor or mypy --strict sees it.

run_typing_checks.py type-checks this file with mypy --strict (it must pass),
then runs it (every call must work), and fails when a name in a package's
``__all__`` appears nowhere here. Give each new public function a small
function below, annotated as a user would, and call it from ``main``.
"""

from __future__ import annotations

import tempfile
from pathlib import Path

import numpy as np
import numpy.typing as npt
import shapely

import quillmere
import quillmere_tools
import quillmere_tools.cli

SQUARE_WKT = "POLYGON((0 0,1 0,1 1,0 1,0 0))"
SQUARE_FC = (
    '{"type":"FeatureCollection","features":[{"type":"Feature","properties":{},'
    '"geometry":{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,1],[0,0]]]}}]}'
)


# ---- quillmere ----------------------------------------------------------------


def wkts() -> list[str]:
    texts: list[str] = quillmere.smooth_and_simplify_polygons_from_wkts([SQUARE_WKT], 1, 0.0)
    by_keyword = quillmere.smooth_and_simplify_polygons_from_wkts(
        polygon_wkts=(SQUARE_WKT,), smoothing_iterations=np.uint64(2), simplify_tolerance_m=0.01
    )
    return texts + by_keyword


def feature_collection() -> str:
    text: str = quillmere.smooth_and_simplify_polygon_fc(SQUARE_FC, 1, 0)
    quillmere.smooth_and_simplify_polygon_fc(geojson=text, smoothing_iterations=0, simplify_tolerance_m=np.float64(0.1))
    return text


# ---- quillmere_tools ---------------------------------------------------------


def num_threads() -> int:
    return quillmere_tools.num_threads()


def smooth_simplify() -> list[shapely.Polygon]:
    polygons = [shapely.box(0, 0, 1, 1), shapely.box(2, 2, 3, 4)]
    smoothed: list[shapely.Polygon] = quillmere_tools.smooth_simplify(polygons, 2, 0.01)
    array: npt.NDArray[np.object_] = quillmere_tools.smooth_simplify(
        np.array(polygons, dtype=object), 1, 0.0, keep_collapsed=True
    )
    assert array.shape == (2,)
    return smoothed


def smooth_simplify_ragged() -> int:
    kind, coords, offsets = shapely.to_ragged_array([shapely.box(0, 0, 1, 1)])
    out_kind, out_coords, out_offsets = quillmere_tools.smooth_simplify_ragged(kind, coords, offsets, 1, 0.0)
    back = shapely.from_ragged_array(out_kind, out_coords, out_offsets)
    return len(back) + int(out_coords.shape[0])


def smooth_simplify_wkts() -> list[str | None]:
    texts: list[str | None] = quillmere_tools.smooth_simplify_wkts(
        [SQUARE_WKT, None, "MULTIPOLYGON(((0 0,1 0,1 1,0 0)))"], 1, 0.0
    )
    skipped = quillmere_tools.smooth_simplify_wkts(
        (t for t in ["POINT(1 2)", SQUARE_WKT]), 0, 0.0, on_invalid="ignore", keep_collapsed=True
    )
    return texts + skipped


def smooth_simplify_geojson() -> str:
    text: str = quillmere_tools.smooth_simplify_geojson(SQUARE_FC, 1, 0.0, keep_collapsed=False)
    try:
        quillmere_tools.smooth_simplify_geojson("{}", 1, 0.0)
    except quillmere_tools.InvalidGeometryError as error:
        index: int = error.index
        reason: str = error.reason
        assert index == 0 and reason
    return text


def smooth_simplify_geojsons() -> list[str | None]:
    return quillmere_tools.smooth_simplify_geojsons([SQUARE_FC, None, "[]"], 2, 0.01, on_invalid="ignore")


def command_line() -> int:
    with tempfile.TemporaryDirectory() as folder:
        source, target = Path(folder) / "in.wkt", Path(folder) / "out.wkt"
        source.write_text(SQUARE_WKT + "\n", encoding="utf-8")
        status: int = quillmere_tools.cli.main(["smooth", str(source), "-o", str(target), "-k", "1", "-t", "0", "-q"])
        assert target.read_text(encoding="utf-8").startswith("POLYGON((")
    return status


def dask_partitions() -> tuple[int, int]:
    # Dask itself is an optional extra: only the error type and the cluster
    # helper are used here (tests/test_dask_cluster.py starts real clusters).
    import quillmere_tools.dask

    error = quillmere_tools.dask.PartitionInvalidGeometryError(2, 5, "bad ring", label=105)
    assert isinstance(error, quillmere_tools.InvalidGeometryError) and callable(quillmere_tools.dask.local_cluster)
    return error.partition, error.index


def main() -> None:
    assert wkts()[0].startswith("POLYGON((")
    assert feature_collection().endswith('"type":"FeatureCollection"}')
    assert num_threads() >= 1
    assert all(p.area > 0 for p in smooth_simplify())
    assert smooth_simplify_ragged() > 0
    assert smooth_simplify_wkts()[1] is None
    assert '"properties":{}' in smooth_simplify_geojson()
    assert smooth_simplify_geojsons()[2] is None
    assert command_line() == 0
    assert dask_partitions() == (2, 5)


if __name__ == "__main__":
    main()
