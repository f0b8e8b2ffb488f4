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


def wkt_column() -> list[str | None]:
    texts: list[str | None] = quillmere_tools.smooth_simplify_wkts(
        (SQUARE_WKT, None, "MULTIPOLYGON(((0 0,1 0,1 1,0 0)))"), 1, 0.0, keep_collapsed=True
    )
    lenient = quillmere_tools.smooth_simplify_wkts(["not WKT"], 1, 0.0, on_invalid="ignore")
    assert lenient == [None]
    try:
        quillmere_tools.smooth_simplify_wkts([SQUARE_WKT, "POLYGON((0 0"], 1, 0.0)
    except quillmere_tools.InvalidGeometryError as error:
        index: int = error.index
        reason: str = error.reason
        assert index == 1 and reason
    return texts


def geojson_texts() -> str:
    features: list[str | None] = quillmere_tools.smooth_simplify_geojsons([SQUARE_FC, None], 1, 0.0, on_invalid="warn")
    document: str = quillmere_tools.smooth_simplify_geojson(SQUARE_FC, 2, 0.01, keep_collapsed=False)
    assert features[1] is None
    return document


def command_line() -> int:
    with tempfile.TemporaryDirectory() as folder:
        source, target = Path(folder) / "in.wkt", Path(folder) / "out.wkt"
        source.write_text(SQUARE_WKT + "\n", encoding="utf-8")
        status: int = quillmere_tools.cli.main(["smooth", str(source), "-o", str(target), "-k", "1", "-t", "0", "-q"])
        assert target.read_text(encoding="utf-8").startswith("POLYGON((")
    return status


def main() -> None:
    assert wkts()[0].startswith("POLYGON((")
    assert feature_collection().endswith('"type":"FeatureCollection"}')
    assert num_threads() >= 1
    assert all(p.area > 0 for p in smooth_simplify())
    assert smooth_simplify_ragged() > 0
    assert wkt_column()[1] is None
    assert geojson_texts().startswith('{"type":"FeatureCollection"')
    assert command_line() == 0


if __name__ == "__main__":
    main()
