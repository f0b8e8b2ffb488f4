"""Real country borders survive reading and writing unchanged apart from ring closing."""
import json
from pathlib import Path

import pytest

import quillmere

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-land-10km.geo.json"


def closed(ring):
    ring = [(float(x), float(y)) for x, y, *_ in ring]
    if ring and ring[0] != ring[-1]:
        ring.append(ring[0])
    return ring


def polygons_of(collection):
    for feature in collection["features"]:
        geometry = feature["geometry"]
        if geometry["type"] == "Polygon":
            yield geometry["coordinates"]
        elif geometry["type"] == "MultiPolygon":
            yield from geometry["coordinates"]


def to_wkt(rings):
    return "POLYGON(" + ",".join("(" + ",".join(f"{x!r} {y!r}" for x, y, *_ in ring) + ")" for ring in rings) + ")"


def rings_of(text):
    assert text.startswith("POLYGON((") and text.endswith("))")
    return [
        [tuple(float(v) for v in coord.split(" ")) for coord in ring.split(",")]
        for ring in text[len("POLYGON((") : -2].split("),(")
    ]


@pytest.mark.skipif(not DATA.exists(), reason="shared data not present")
def test_country_borders_come_back_unchanged():
    polygons = list(polygons_of(json.loads(DATA.read_text())))
    assert len(polygons) > 220
    out = quillmere.smooth_and_simplify_polygons_from_wkts([to_wkt(p) for p in polygons], 0, 0.0)
    assert len(out) == len(polygons)
    coordinates = 0
    for rings, text in zip(polygons, out):
        expected = [closed(ring) for ring in rings]
        assert rings_of(text) == expected
        coordinates += sum(len(r) for r in expected)
    assert coordinates > 70_000
