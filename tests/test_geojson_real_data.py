"""Real country borders through the GeoJSON function unchanged (k = 0,
tolerance 0): every polygon comes back, in document order, coordinate for
coordinate."""
import json
from pathlib import Path

import pytest

import quillmere

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-land-10km.geo.json"

pytestmark = pytest.mark.skipif(not DATA.is_file(), reason="real data not present")


def closed(ring):
    ring = [position[:2] for position in ring]
    if ring and ring[0] != ring[-1]:
        ring.append(ring[0])
    return ring


def expected_polygons(document):
    for feature in document["features"]:
        geometry = feature["geometry"]
        if geometry is None:
            continue
        if geometry["type"] == "Polygon":
            yield [closed(ring) for ring in geometry["coordinates"]]
        elif geometry["type"] == "MultiPolygon":
            for polygon in geometry["coordinates"]:
                yield [closed(ring) for ring in polygon]


def test_identity_on_country_borders():
    text = DATA.read_text(encoding="utf-8")
    result = json.loads(quillmere.smooth_and_simplify_polygon_fc(text, 0, 0.0))
    expected = list(expected_polygons(json.loads(text)))
    assert len(expected) > 220
    assert result["type"] == "FeatureCollection"
    got = []
    for feature in result["features"]:
        assert feature == {"type": "Feature", "properties": {}, "geometry": feature["geometry"]}
        assert feature["geometry"]["type"] == "Polygon"
        got.append(feature["geometry"]["coordinates"])
    assert got == expected
