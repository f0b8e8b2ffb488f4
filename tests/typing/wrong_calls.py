"""Calls that mypy --strict must refuse: each line marked ``# expect: CODE``
(or ``CODE, CODE``) must get errors with exactly those codes, and no other
line any error (run_typing_checks.py). Never run."""

from __future__ import annotations

import numpy as np
import shapely

import quillmere
import quillmere_tools
import quillmere_tools.cli

WKT = "POLYGON((0 0,1 0,1 1,0 0))"

# ---- quillmere ----------------------------------------------------------------
quillmere.smooth_and_simplify_polygons_from_wkts([b"POLYGON EMPTY"], 1, 0.0)  # expect: list-item
quillmere.smooth_and_simplify_polygons_from_wkts([1.5], 1, 0.0)  # expect: list-item
quillmere.smooth_and_simplify_polygons_from_wkts([WKT], 1.5, 0.0)  # expect: arg-type
quillmere.smooth_and_simplify_polygons_from_wkts([WKT], "1", 0.0)  # expect: arg-type
quillmere.smooth_and_simplify_polygons_from_wkts([WKT], 1, "0.5")  # expect: arg-type
quillmere.smooth_and_simplify_polygons_from_wkts([WKT], 1)  # expect: call-arg
quillmere.smooth_and_simplify_polygons_from_wkts([WKT], 1, 0.0, 0.0)  # expect: call-arg
quillmere.smooth_and_simplify_polygons_from_wkts([WKT], 1, tolerance=0.0)  # expect: call-arg
quillmere.smooth_and_simplify_polygon_fc([WKT], 1, 0.0)  # expect: arg-type
quillmere.smooth_and_simplify_polygon_fc(b"{}", 1, 0.0)  # expect: arg-type
quillmere.smooth_and_simplify_polygon_fc("{}", None, 0.0)  # expect: arg-type
quillmere.smooth_and_simplify_polygon_fc(text="{}", smoothing_iterations=1, simplify_tolerance_m=0.0)  # expect: call-arg
wrong_result: str = quillmere.smooth_and_simplify_polygons_from_wkts([WKT], 1, 0.0)  # expect: assignment
wrong_text: list[str] = quillmere.smooth_and_simplify_polygon_fc("{}", 1, 0.0)  # expect: assignment
quillmere.smooth_and_simplify  # expect: attr-defined

# ---- quillmere_tools ---------------------------------------------------------
polygons = [shapely.box(0, 0, 1, 1)]
quillmere_tools.smooth_simplify(polygons, "2", 0.5)  # expect: call-overload
quillmere_tools.smooth_simplify(polygons, 2, "0.5")  # expect: call-overload
quillmere_tools.smooth_simplify(polygons, 2, 0.5, True)  # expect: call-overload
quillmere_tools.smooth_simplify(polygons, 2)  # expect: call-overload
coords = np.zeros((4, 2))
quillmere_tools.smooth_simplify_ragged(3, coords, [], 1.5, 0.0)  # expect: arg-type
quillmere_tools.smooth_simplify_ragged(3, coords, [], 1, 0.0, False)  # expect: call-arg
threads: str = quillmere_tools.num_threads()  # expect: assignment
quillmere_tools.num_threads(2)  # expect: call-arg
quillmere_tools.smooth_simplify_wkts([WKT], 1.5, 0.0)  # expect: arg-type
quillmere_tools.smooth_simplify_wkts([1], 1, 0.0)  # expect: list-item
quillmere_tools.smooth_simplify_wkts([WKT], 1, 0.0, "ignore")  # expect: call-arg
wkt_results: list[str] = quillmere_tools.smooth_simplify_wkts([WKT], 1, 0.0)  # expect: assignment
quillmere_tools.smooth_simplify_geojsons([b"{}"], 1, 0.0)  # expect: list-item
quillmere_tools.smooth_simplify_geojson(None, 1, 0.0)  # expect: arg-type
quillmere_tools.smooth_simplify_geojson("{}", 1, 0.0, on_invalid="ignore")  # expect: call-arg
quillmere_tools.InvalidGeometryError("bad")  # expect: call-arg, arg-type
status: str = quillmere_tools.cli.main(["--version"])  # expect: assignment
