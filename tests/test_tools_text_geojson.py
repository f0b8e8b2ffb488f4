"""quillmere_tools.smooth_simplify_geojson(s): only the coordinates of Polygon
and MultiPolygon geometries are replaced, every other byte kept; the new
coordinates are quillmere's; invalid texts carry quillmere's messages."""
import json
import math
import random
import warnings
from pathlib import Path

import pytest

import quillmere
from quillmere_tools import InvalidGeometryError, smooth_simplify_geojson, smooth_simplify_geojsons

REAL_DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-land-10km.geo.json"
real_data = pytest.mark.skipif(not REAL_DATA.is_file(), reason="real data not present")


def coordinate_spans(text):
    """(begin, end) of every "coordinates" member value that is an array, by a
    plain scan of the text (strings and their escapes skipped)."""
    spans, i, n = [], 0, len(text)
    while i < n:
        if text[i] != '"':
            i += 1
            continue
        j = i + 1
        while text[j] != '"':
            j += 2 if text[j] == "\\" else 1
        key = json.loads(text[i : j + 1])
        k = j + 1
        while k < n and text[k] in " \t\r\n":
            k += 1
        if key == "coordinates" and k < n and text[k] == ":":
            k += 1
            while text[k] in " \t\r\n":
                k += 1
            if text[k] == "[":
                depth, end = 0, k
                while True:
                    depth += {"[": 1, "]": -1}.get(text[end], 0)
                    end += 1
                    if depth == 0:
                        break
                spans.append((k, end))
                i = end
                continue
        i = j + 1
    return spans


def outside(text, spans):
    parts, cursor = [], 0
    for begin, end in spans:
        parts.append(text[cursor:begin])
        cursor = end
    return parts + [text[cursor:]]


def quillmere_coordinates(polygons, k, tolerance):
    """Each polygon's coordinates text as quillmere's FeatureCollection writes it."""
    collection = {"type": "FeatureCollection", "features": [
        {"type": "Feature", "geometry": {"type": "Polygon", "coordinates": p}} for p in polygons]}
    out = quillmere.smooth_and_simplify_polygon_fc(json.dumps(collection), k, tolerance)
    return [out[b:e] for b, e in coordinate_spans(out)]


def expected_values(geometries, k, tolerance):
    """The replaced values: quillmere's coordinates, members joined for a MultiPolygon."""
    values = []
    for geometry in geometries:
        if geometry["type"] == "Polygon":
            values += quillmere_coordinates([geometry["coordinates"]], k, tolerance)
        else:
            values.append("[" + ",".join(quillmere_coordinates(geometry["coordinates"], k, tolerance)) + "]")
    return values


def random_polygon(rng, holes=True):
    cx, cy, radius = rng.uniform(-170, 170), rng.uniform(-80, 80), rng.uniform(0.01, 3)

    def ring(r, n):
        points = [[round(cx + r * rng.uniform(0.6, 1) * math.cos(2 * math.pi * i / n), rng.choice([2, 7, 15])),
                   cy + r * rng.uniform(0.6, 1) * math.sin(2 * math.pi * i / n)] for i in range(n)]
        return points + points[:1]

    return [ring(radius, rng.randint(4, 50))] + [ring(radius / 5, rng.randint(4, 9)) for _ in range(rng.choice([0, 1, 2]) if holes else 0)]


def random_collection(rng, count):
    features = []
    for i in range(count):
        if i % 3 == 0:
            geometry = {"type": "MultiPolygon", "coordinates": [random_polygon(rng) for _ in range(rng.randint(1, 4))]}
        else:
            geometry = {"type": "Polygon", "coordinates": random_polygon(rng)}
        features.append({"type": "Feature", "id": i, "properties": {"name": f"n\u00e4me {i}", "v": [1, 2.50]},
                         "geometry": geometry})
    return {"type": "FeatureCollection", "features": features}


def check_rewrite(text, result, k, tolerance):
    """Bytes outside the polygonal coordinates unchanged, the values quillmere's
    (for a result made with keep_collapsed=True)."""
    spans, new_spans = coordinate_spans(text), coordinate_spans(result)
    assert outside(text, spans) == outside(result, new_spans)
    geometries = []
    document = json.loads(text)

    def walk(value):
        if isinstance(value, dict):
            if value.get("type") in ("Polygon", "MultiPolygon") and "coordinates" in value:
                geometries.append(value)
            for member in value.values():
                walk(member)
        elif isinstance(value, list):
            for member in value:
                walk(member)

    walk(document)
    assert [result[b:e] for b, e in new_spans] == expected_values(geometries, k, tolerance)


@real_data
@pytest.mark.parametrize("k, tolerance", [(0, 0.0), (2, 0.01)])
def test_country_borders_keep_every_other_byte(k, tolerance):
    text = REAL_DATA.read_text(encoding="utf-8")
    result = smooth_simplify_geojson(text, k, tolerance, keep_collapsed=True)
    check_rewrite(text, result, k, tolerance)
    if k == 0 and tolerance == 0:
        # The same coordinates back, as numbers (integers are written as floats).
        assert json.loads(result) == json.loads(text)
        assert smooth_simplify_geojson(text, 0, 0.0) == result


@real_data
def test_country_borders_as_polygon_features_equal_quillmere():
    document = json.loads(REAL_DATA.read_text(encoding="utf-8"))
    features = []
    for feature in document["features"]:
        geometry = feature["geometry"]
        members = [geometry["coordinates"]] if geometry["type"] == "Polygon" else geometry["coordinates"]
        features += [{"type": "Feature", "properties": feature["properties"],
                      "geometry": {"type": "Polygon", "coordinates": m}} for m in members]
    text = json.dumps({"type": "FeatureCollection", "features": features})
    for k, tolerance in [(1, 0.0), (3, 0.02)]:
        ours = json.loads(smooth_simplify_geojson(text, k, tolerance, keep_collapsed=True))
        theirs = json.loads(quillmere.smooth_and_simplify_polygon_fc(text, k, tolerance))
        assert [f["geometry"] for f in ours["features"]] == [f["geometry"] for f in theirs["features"]]
        assert [f["properties"] for f in ours["features"]] == [f["properties"] for f in features]


@pytest.mark.parametrize("k, tolerance", [(0, 0.0), (1, 0.001), (3, 0.05)])
@pytest.mark.parametrize("indent", [None, 2])
def test_generated_collections(k, tolerance, indent):
    rng = random.Random(k * 10 + (indent or 0))
    text = json.dumps(random_collection(rng, 60), indent=indent, ensure_ascii=indent is None)
    result = smooth_simplify_geojson(text, k, tolerance, keep_collapsed=True)
    check_rewrite(text, result, k, tolerance)


def test_large_text_runs_in_parallel_with_the_same_bytes():
    # Over a megabyte: the polygons are converted and written in parallel.
    rng = random.Random(2)
    document = random_collection(rng, 1200)
    text = json.dumps(document)
    assert len(text) > 1 << 20
    whole = smooth_simplify_geojson(text, 2, 0.001)
    pieces = smooth_simplify_geojsons([json.dumps(f) for f in document["features"]], 2, 0.001)
    spans = coordinate_spans(whole)
    assert [whole[b:e] for b, e in spans] == [p[b:e] for p in pieces for b, e in coordinate_spans(p)]


UNUSUAL = """ {
  "features" : [ { "geometry" : { "coordinates" : [ [ [ 0 , 0 ] , [ 4 , 0 ] , [ 4 , 4 ] , [ 0 , 4 ] , [ 0 , 0 ] ] ] ,
      "bbox" : [0, 0, 4, 4], "type" : "Polygon", "extra": {"coordinates": [[[9, 9]]]} },
    "properties" : { "s" : "\\u00e9\\n\\"x\\"", "n" : 1.50e0 }, "type" : "Feature", "id" : "a" } ],
  "type" : "FeatureCollection", "crs": null
}
"""


def test_member_order_whitespace_escapes_and_foreign_members_are_kept():
    result = smooth_simplify_geojson(UNUSUAL, 1, 0.0)
    expected = UNUSUAL.replace(
        "[ [ [ 0 , 0 ] , [ 4 , 0 ] , [ 4 , 4 ] , [ 0 , 4 ] , [ 0 , 0 ] ] ]",
        "[[[1.0,0.0],[3.0,0.0],[4.0,1.0],[4.0,3.0],[3.0,4.0],[1.0,4.0],[0.0,3.0],[0.0,1.0],[1.0,0.0]]]",
    )
    assert result == expected


@pytest.mark.parametrize(
    "text, expected",
    [
        # Feature and Geometry at the top level.
        ('{"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[0,0],[4,0],[4,4],[0,0]]]},"properties":null}',
         '{"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[0.0,0.0],[4.0,0.0],[4.0,4.0],[0.0,0.0]]]},"properties":null}'),
        ('{"coordinates":[[[0,0,9],[4,0,9],[4,4,9]]],"type":"Polygon"}',
         '{"coordinates":[[[0.0,0.0],[4.0,0.0],[4.0,4.0],[0.0,0.0]]],"type":"Polygon"}'),
        # Other geometries untouched, at any depth; polygons inside collections replaced.
        ('{"type":"GeometryCollection","geometries":[{"type":"Point","coordinates":[1,2]},'
         '{"type":"GeometryCollection","geometries":[{"type":"MultiPolygon","coordinates":[[[[0,0],[4,0],[4,4],[0,0]]]]}]},'
         '{"type":"LineString","coordinates":[[0,0],[1e0,1]]}]}',
         '{"type":"GeometryCollection","geometries":[{"type":"Point","coordinates":[1,2]},'
         '{"type":"GeometryCollection","geometries":[{"type":"MultiPolygon","coordinates":[[[[0.0,0.0],[4.0,0.0],[4.0,4.0],[0.0,0.0]]]]}]},'
         '{"type":"LineString","coordinates":[[0,0],[1e0,1]]}]}'),
        # A repeated key: the last value is the one read and replaced.
        ('{"type":"Polygon","coordinates":[[[5,5]]],"coordinates":[[[0,0],[4,0],[4,4],[0,0]]]}',
         '{"type":"Polygon","coordinates":[[[5,5]]],"coordinates":[[[0.0,0.0],[4.0,0.0],[4.0,4.0],[0.0,0.0]]]}'),
        # An escaped key names the member just the same.
        ('{"type":"Polygon","co\\u006frdinates":[[[0,0],[4,0],[4,4],[0,0]]]}',
         '{"type":"Polygon","co\\u006frdinates":[[[0.0,0.0],[4.0,0.0],[4.0,4.0],[0.0,0.0]]]}'),
        # Null geometries and empty collections pass.
        ('{"type":"FeatureCollection","features":[{"type":"Feature","geometry":null}]}',
         '{"type":"FeatureCollection","features":[{"type":"Feature","geometry":null}]}'),
        ('{"type":"Polygon","coordinates":[]}', '{"type":"Polygon","coordinates":[]}'),
    ],
)
def test_kinds_and_depths(text, expected):
    assert smooth_simplify_geojson(text, 0, 0.0) == expected


def test_results_stay_within_the_bounding_box():
    rng = random.Random(4)
    collection = random_collection(rng, 80)
    for feature in collection["features"]:
        geometry = feature["geometry"]
        points = [p for polygon in ([geometry["coordinates"]] if geometry["type"] == "Polygon" else geometry["coordinates"])
                  for ring in polygon for p in ring]
        feature["bbox"] = [min(p[0] for p in points), min(p[1] for p in points),
                           max(p[0] for p in points), max(p[1] for p in points)]
    result = json.loads(smooth_simplify_geojson(json.dumps(collection), 4, 0.0))
    for feature in result["features"]:
        x0, y0, x1, y1 = feature["bbox"]
        geometry = feature["geometry"]
        for polygon in [geometry["coordinates"]] if geometry["type"] == "Polygon" else geometry["coordinates"]:
            for ring in polygon:
                assert all(x0 <= x <= x1 and y0 <= y <= y1 for x, y in ring)


@pytest.mark.parametrize(
    "text, keep, dropped",
    [
        ('{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,1],[0,0]]]}', '[[[0.0,0.0],[0.0,0.0]]]', "[]"),
        ('{"type":"Polygon","coordinates":[[[0,0],[100,0],[100,100],[0,100],[0,0]],[[1,1],[2,1],[2,2],[1,1]]]}',
         "[[[0.0,0.0],[100.0,0.0],[100.0,100.0],[0.0,100.0],[0.0,0.0]],[[1.0,1.0],[1.0,1.0]]]",
         "[[[0.0,0.0],[100.0,0.0],[100.0,100.0],[0.0,100.0],[0.0,0.0]]]"),
        ('{"type":"MultiPolygon","coordinates":[[[[0,0],[1,0],[1,1],[0,1],[0,0]]],[[[0,0],[100,0],[100,100],[0,100],[0,0]]]]}',
         "[[[[0.0,0.0],[0.0,0.0]]],[[[0.0,0.0],[100.0,0.0],[100.0,100.0],[0.0,100.0],[0.0,0.0]]]]",
         "[[[[0.0,0.0],[100.0,0.0],[100.0,100.0],[0.0,100.0],[0.0,0.0]]]]"),
        ('{"type":"MultiPolygon","coordinates":[[[[0,0],[1,0],[1,1],[0,1],[0,0]]],[]]}', "[[[[0.0,0.0],[0.0,0.0]]],[[]]]", "[]"),
    ],
)
def test_collapse_policy(text, keep, dropped):
    def value(result):
        (span,) = coordinate_spans(result)
        return result[span[0] : span[1]]

    assert value(smooth_simplify_geojson(text, 0, 10.0, keep_collapsed=True)) == keep
    assert value(smooth_simplify_geojson(text, 0, 10.0)) == dropped


BROKEN_BASE = json.dumps(random_collection(random.Random(8), 3))


def broken_texts():
    rng = random.Random(6)
    pieces = ['"', "[", "]", "{", "}", ",", ":", "1", "-", "null", '"type"', '"Feature"', "\\", "\t", "e"]
    for _ in range(300):
        i = rng.randrange(len(BROKEN_BASE))
        yield BROKEN_BASE[:i] + rng.choice(pieces) + BROKEN_BASE[i + rng.randint(0, 2) :]
    yield ""
    yield "[]"
    yield "{}"
    yield '{"type":"FeatureCollection","features":[{"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[1]]]}}]}'


def test_reasons_are_quillmere_messages():
    compared = 0
    for text in broken_texts():
        try:
            quillmere.smooth_and_simplify_polygon_fc(text, 0, 0.0)
            continue
        except BaseException as error:  # PanicException derives from BaseException
            message = str(error)
        if message == "Empty or invalid GeoJSON":
            continue  # a valid Feature or Geometry, which is accepted here
        with pytest.raises(InvalidGeometryError) as raised:
            smooth_simplify_geojson(text, 0, 0.0)
        assert (raised.value.index, raised.value.reason) == (0, message)
        compared += 1
    assert compared > 150


def test_short_position_in_any_polygon_is_invalid():
    text = '{"type":"GeometryCollection","geometries":[{"type":"Polygon","coordinates":[[[0,0],[1]]]}]}'
    with pytest.raises(InvalidGeometryError, match=r"^input 0: index out of bounds: the len is 1 but the index is 1$"):
        smooth_simplify_geojson(text, 0, 0.0)


@pytest.mark.parametrize("mode", ["raise", "warn", "ignore"])
def test_on_invalid_modes(mode):
    good = '{"type":"Polygon","coordinates":[[[0,0],[4,0],[4,4],[0,0]]]}'
    texts = [good, None, "{", good, "[]", good]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        if mode == "raise":
            with pytest.raises(InvalidGeometryError) as raised:
                smooth_simplify_geojsons(texts, 0, 0.0, on_invalid=mode)
            assert raised.value.index == 2
            assert raised.value.reason == (
                'called `Result::unwrap()` on an `Err` value: MalformedJson(Error("EOF while parsing an object", '
                "line: 1, column: 1))"
            )
            return
        results = smooth_simplify_geojsons(texts, 0, 0.0, on_invalid=mode)
    out = smooth_simplify_geojson(good, 0, 0.0)
    assert results == [out, None, None, out, None, out]
    assert len(caught) == (mode == "warn")
    if caught:
        assert caught[0].category is RuntimeWarning and "2 invalid inputs" in str(caught[0].message)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: smooth_simplify_geojsons('{"type":"Polygon","coordinates":[]}', 0, 0.0), TypeError),
        (lambda: smooth_simplify_geojsons([b"{}"], 0, 0.0), TypeError),
        (lambda: smooth_simplify_geojson(None, 0, 0.0), TypeError),
        (lambda: smooth_simplify_geojson(b"{}", 0, 0.0), TypeError),
        (lambda: smooth_simplify_geojsons([], 0, 0.0, on_invalid="no"), ValueError),
    ],
)
def test_argument_errors(call, error):
    with pytest.raises(error):
        call()


@pytest.mark.parametrize("depth", [60, 62, 100000])
def test_deep_nesting_is_bounded_as_in_quillmere(depth):
    text = '{"type":"GeometryCollection","geometries":[' * depth + '{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1]]]}' + "]}" * depth
    if depth <= 60:  # two levels per collection and four for the polygon: within 127
        assert smooth_simplify_geojson(text, 0, 0.0).count("[[[0.0,0.0],[1.0,0.0],[1.0,1.0],[0.0,0.0]]]") == 1
        return
    with pytest.raises(InvalidGeometryError, match="recursion limit exceeded"):
        smooth_simplify_geojson(text, 0, 0.0)


def large_collection_variants():
    """A collection over a megabyte (its features rewritten apart from each
    other) with the faults that must still give the message of reading it in
    order."""
    document = random_collection(random.Random(5), 1200)
    late_short = json.loads(json.dumps(document))
    late_short["features"][-1]["geometry"] = {"type": "Polygon", "coordinates": [[[0, 0], [1]]]}
    early_type = json.loads(json.dumps(late_short))
    early_type["features"][3]["type"] = "Feat"
    bare_geometry = json.loads(json.dumps(document))
    bare_geometry["features"][7] = bare_geometry["features"][7]["geometry"]
    deep = json.loads(json.dumps(document))
    deep["features"][9]["properties"] = {"d": json.loads("[" * 126 + "]" * 126)}
    text = json.dumps(document)
    return [json.dumps(late_short), json.dumps(early_type), json.dumps(bare_geometry), json.dumps(deep),
            text[:-3], text[:500] + "]" + text[501:]]


@pytest.mark.parametrize("text", large_collection_variants())
def test_large_collections_report_the_first_fault_in_order(text):
    assert len(text) > 1 << 20
    try:
        quillmere.smooth_and_simplify_polygon_fc(text, 0, 0.0)
        pytest.fail("the variant is valid")
    except BaseException as error:  # PanicException derives from BaseException
        message = str(error)
    with pytest.raises(InvalidGeometryError) as raised:
        smooth_simplify_geojson(text, 0, 0.0)
    assert raised.value.reason == message


def test_features_member_of_a_feature_is_kept_as_it_is():
    features = random_collection(random.Random(6), 1200)["features"]
    text = json.dumps({"type": "Feature", "properties": {}, "geometry": None, "features": features})
    assert len(text) > 1 << 20
    assert smooth_simplify_geojson(text, 2, 0.001) == text
