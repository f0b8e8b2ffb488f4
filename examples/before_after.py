"""Draws part of the sample before and after smoothing, for k = 0..3 Chaikin
passes with one simplification tolerance, into ``examples/before_after.png``.

    pip install '.[examples]'   # matplotlib
    python examples/before_after.py [--tolerance 0.02] [--output examples/before_after.png]

Data: ``europe-land-10km.geojson`` (see ``examples/README.md``), © OpenStreetMap
contributors, ODbL.
"""

from __future__ import annotations

import argparse
import json
from pathlib import Path

import quillmere_tools

HERE = Path(__file__).resolve().parent
SAMPLE = HERE / "europe-land-10km.geojson"
# Denmark and the south of Sweden: islands, fjords and straits (lon/lat degrees).
WINDOW = (8.0, 54.5, 13.2, 57.8)


def rings(document: dict) -> list[list[list[float]]]:
    found = []
    for feature in document["features"]:
        geometry = feature["geometry"]
        polygons = [geometry["coordinates"]] if geometry["type"] == "Polygon" else geometry["coordinates"]
        for polygon in polygons:
            found.extend(polygon)
    return found


def visible(ring: list[list[float]]) -> bool:
    west, south, east, north = WINDOW
    return any(west <= x <= east and south <= y <= north for x, y, *_ in ring)


def main() -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tolerance", type=float, default=0.02)
    parser.add_argument("--output", type=Path, default=HERE / "before_after.png")
    args = parser.parse_args()

    text = SAMPLE.read_text(encoding="utf-8")
    original = [r for r in rings(json.loads(text)) if visible(r)]
    figure, axes = plt.subplots(1, 4, figsize=(16, 4.8), sharex=True, sharey=True)
    for k, axis in enumerate(axes):
        smoothed = json.loads(quillmere_tools.smooth_simplify_geojson(text, k, args.tolerance))
        result = [r for r in rings(smoothed) if visible(r)]
        points = sum(len(r) for r in result)
        for ring in original:
            axis.plot([p[0] for p in ring], [p[1] for p in ring], color="0.6", linewidth=0.8, linestyle=":")
        for ring in result:
            axis.fill([p[0] for p in ring], [p[1] for p in ring], color="#3b7dd8", alpha=0.18, linewidth=0)
            axis.plot([p[0] for p in ring], [p[1] for p in ring], color="#1f4e9c", linewidth=1.0)
        axis.set_title(f"k = {k}, tolerance {args.tolerance:g}°  ({points:,} points)", fontsize=10)
        axis.set_xlim(WINDOW[0], WINDOW[2])
        axis.set_ylim(WINDOW[1], WINDOW[3])
        axis.set_aspect(1 / 0.574)  # about cos(55°): degrees of longitude are shorter there
        axis.tick_params(labelsize=7)
    input_points = sum(len(r) for r in original)
    figure.suptitle(
        f"quillmere smooth on examples/europe-land-10km.geojson: input dotted ({input_points:,} points), "
        "result in blue — data © OpenStreetMap contributors, ODbL",
        fontsize=10,
    )
    figure.tight_layout()
    figure.savefig(args.output, dpi=110)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
