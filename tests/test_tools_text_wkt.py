"""quillmere_tools.smooth_simplify_wkts: POLYGON and MULTIPOLYGON texts read
by quillmere's grammar, written in its layout, bit for bit its results;
invalid texts reported by index or skipped; collapsed rings dropped."""
import json
import math
import pickle
import random
import sys
import warnings
from pathlib import Path

import pytest

import quillmere
from quillmere_tools import InvalidGeometryError, smooth_simplify_wkts

REAL_DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-land-10km.geo.json"
POINT_MISMATCH = (
    'Unable to read Polygon from WKT: MismatchedGeometry { expected: "geo_types::geometry::polygon::Polygon", '
    'found: "geo_types::geometry::point::Point" }'
)


def ring_text(rng, cx, cy, radius, n, full_precision):
    points = []
    for i in range(n):
        angle = 2 * math.pi * i / n
        r = radius * rng.uniform(0.6, 1.0)
        x, y = cx + r * math.cos(angle), cy + r * math.sin(angle)
        points.append(f"{x!r} {y!r}" if full_precision else f"{x:.6f} {y:.6f}")
    return "(" + ",".join(points + points[:1]) + ")"


def polygon_body(rng, full_precision=False):
    cx, cy, radius = rng.uniform(-170, 170), rng.uniform(-80, 80), rng.uniform(0.01, 2)
    rings = [ring_text(rng, cx, cy, radius, rng.randint(4, 60), full_precision)]
    for _ in range(rng.choice([0, 0, 1, 2])):
        rings.append(ring_text(rng, cx, cy, radius / 5, rng.randint(4, 12), full_precision))
    return "(" + ",".join(rings) + ")"


def generated_polygons(count, seed):
    rng = random.Random(seed)
    return ["POLYGON" + polygon_body(rng, full_precision=i % 2 == 0) for i in range(count)]


def generated_multipolygons(count, seed):
    rng = random.Random(seed)
    return ["MULTIPOLYGON(" + ",".join(polygon_body(rng) for _ in range(rng.randint(1, 5))) + ")" for _ in range(count)]


def quillmere_multipolygon(text, k, tolerance):
    """The members of a MULTIPOLYGON through quillmere one by one, in our layout."""
    members = split_members(text)
    results = quillmere.smooth_and_simplify_polygons_from_wkts(["POLYGON" + m for m in members], k, tolerance)
    return "MULTIPOLYGON(" + ",".join(r[len("POLYGON") :] for r in results) + ")"


def split_members(text):
    body = text[text.index("(") + 1 : text.rindex(")")]
    members, depth, start = [], 0, 0
    for i, c in enumerate(body):
        if c == "(":
            if depth == 0:
                start = i
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                members.append(body[start : i + 1])
    return members


def no_ring_collapses(polygon_text):
    if polygon_text.endswith("EMPTY"):
        return False
    rings = polygon_text[polygon_text.index("((") + 2 : -2].split("),(")
    return all(ring.count(",") >= 3 for ring in rings)


@pytest.mark.parametrize("k, tolerance", [(0, 0.0), (0, 0.05), (2, 0.001), (3, 0.0)])
def test_polygons_are_quillmere_bytes(k, tolerance):
    texts = generated_polygons(600, seed=k)
    expected = quillmere.smooth_and_simplify_polygons_from_wkts(texts, k, tolerance)
    assert smooth_simplify_wkts(texts, k, tolerance, keep_collapsed=True) == expected
    dropped = smooth_simplify_wkts(texts, k, tolerance)
    kept = [i for i, e in enumerate(expected) if no_ring_collapses(e)]
    assert len(kept) > 100
    assert [dropped[i] for i in kept] == [expected[i] for i in kept]


@pytest.mark.parametrize("k, tolerance", [(0, 0.0), (2, 0.01)])
def test_multipolygons_are_quillmere_members(k, tolerance):
    texts = generated_multipolygons(300, seed=7 + k)
    got = smooth_simplify_wkts(texts, k, tolerance, keep_collapsed=True)
    assert got == [quillmere_multipolygon(t, k, tolerance) for t in texts]


@pytest.mark.skipif(not REAL_DATA.is_file(), reason="real data not present")
def test_country_borders_as_wkt():
    def rings(polygon):
        return "(" + ",".join("(" + ",".join(f"{x!r} {y!r}" for x, y, *_ in r) + ")" for r in polygon) + ")"

    texts = []
    for feature in json.loads(REAL_DATA.read_text())["features"]:
        geometry = feature["geometry"]
        if geometry["type"] == "Polygon":
            texts.append("POLYGON" + rings(geometry["coordinates"]))
        else:
            texts.append("MULTIPOLYGON(" + ",".join(rings(p) for p in geometry["coordinates"]) + ")")
    for k, tolerance in [(0, 0.0), (2, 0.01)]:
        got = smooth_simplify_wkts(texts, k, tolerance, keep_collapsed=True)
        for text, result in zip(texts, got):
            if text.startswith("POLYGON"):
                assert [result] == quillmere.smooth_and_simplify_polygons_from_wkts([text], k, tolerance)
            else:
                assert result == quillmere_multipolygon(text, k, tolerance)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("multipolygon ( ( ( 0 0 , 1 0 , 1 1 , 0 0 ) ) )", "MULTIPOLYGON(((0 0,1 0,1 1,0 0)))"),
        ("MultiPolygon(((0 0,1 0,1 1)),((5 5,6 5,6 6,5 5),(5.2 5.1,5.3 5.1,5.3 5.2,5.2 5.1)))",
         "MULTIPOLYGON(((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5),(5.2 5.1,5.3 5.1,5.3 5.2,5.2 5.1)))"),
        ("MULTIPOLYGON EMPTY", "MULTIPOLYGON EMPTY"),
        ("multipolygon\tempty", "MULTIPOLYGON EMPTY"),
        ("MULTIPOLYGON(EMPTY,((0 0,1 0,1 1,0 0)))", "MULTIPOLYGON(((0 0,1 0,1 1,0 0)))"),
        ("MULTIPOLYGON(((+1 -2,1E+2 -0,1. .5,+1 -2))) trailing ))", "MULTIPOLYGON(((1 -2,100 -0,1 0.5,1 -2)))"),
        ("POLYGON EMPTY", "POLYGON EMPTY"),
        ("polygon((0 0,1 0,1 1,0 0)) POINT(1 2)", "POLYGON((0 0,1 0,1 1,0 0))"),
    ],
)
def test_reading_and_layout(text, expected):
    assert smooth_simplify_wkts([text], 0, 0.0) == [expected]


def test_empty_member_kept_when_asked():
    assert smooth_simplify_wkts(["MULTIPOLYGON(EMPTY,((0 0,1 0,1 1,0 0)))"], 0, 0.0, keep_collapsed=True) == [
        "MULTIPOLYGON(EMPTY,((0 0,1 0,1 1,0 0)))"
    ]


@pytest.mark.parametrize(
    "text, reason",
    [
        ("", 'Unable to parse Polygon from WKT: "Invalid WKT format"'),
        ("MULTIPOLYGON(((0 0,1 0,1 1,0 0))", 'Unable to parse Polygon from WKT: "Missing closing parenthesis for type"'),
        ("MULTIPOLYGON(((0 0,1 x)))", 'Unable to parse Polygon from WKT: "Expected a number for the Y coordinate"'),
        # The closing rule: the ring's missing "(" surfaces as the polygon's missing ")".
        ("MULTIPOLYGON((0 0,1 0,1 1,0 0))", 'Unable to parse Polygon from WKT: "Missing closing parenthesis for type"'),
        ("MULTIPOLYGON", 'Unable to parse Polygon from WKT: "Missing open parenthesis for type"'),
        ("MULTIPOLYGONZ(((0 0,1 0,1 1,0 0)))", 'Unable to parse Polygon from WKT: "Invalid type encountered"'),
        ("MULTIPOLYGON(((0 0,1 0,1 1abc)))",
         'Unable to parse Polygon from WKT: "Unable to parse input number as the desired output type"'),
        ("POINT(1 2)", POINT_MISMATCH),
        ("GEOMETRYCOLLECTION(POLYGON((0 0,1 0,1 1,0 0)))",
         'Unable to read Polygon from WKT: MismatchedGeometry { expected: "geo_types::geometry::polygon::Polygon", '
         'found: "geo_types::geometry::geometry_collection::GeometryCollection" }'),
        ("POLYGON((0 0,1 0,1 1,0 0)", 'Unable to parse Polygon from WKT: "Missing closing parenthesis for type"'),
    ],
)
def test_invalid_texts_name_their_reason(text, reason):
    with pytest.raises(InvalidGeometryError) as raised:
        smooth_simplify_wkts(["POLYGON((0 0,1 0,1 1,0 0))", text], 1, 0.0)
    assert (raised.value.index, raised.value.reason) == (1, reason)
    assert str(raised.value) == f"input 1: {reason}"


def test_reasons_are_quillmere_messages_for_broken_texts():
    rng = random.Random(5)
    base = generated_polygons(40, seed=11) + ["POINT(1 2)", "LINESTRING(0 0,1 1)", "POINT EMPTY"]
    pieces = ["(", ")", ",", " ", "x", "1", "-", "EMPTY", "+", "\0", "e", "."]
    compared = 0
    for text in base:
        for _ in range(6):
            i = rng.randrange(len(text) + 1)
            broken = text[:i] + rng.choice(pieces) + text[i + rng.randint(0, 3) :]
            try:
                quillmere.smooth_and_simplify_polygons_from_wkts([broken], 0, 0.0)
                continue
            except BaseException as error:  # PanicException derives from BaseException
                message = str(error)
            results = smooth_simplify_wkts([broken], 0, 0.0, on_invalid="ignore")
            if results != [None]:
                assert "MULTIPOLYGON" in broken.upper()
                continue
            with pytest.raises(InvalidGeometryError) as raised:
                smooth_simplify_wkts([broken], 0, 0.0)
            assert raised.value.reason == message, broken
            compared += 1
    assert compared > 150


@pytest.mark.parametrize("n, bad", [(10, [2, 6]), (5000, [2500, 4999]), (5000, [4998, 4999])])
@pytest.mark.parametrize("mode", ["raise", "warn", "ignore"])
def test_on_invalid_modes(n, bad, mode):
    texts = generated_polygons(n, seed=n)
    for i in bad:
        texts[i] = "POINT(1 2)"
    texts[1] = None
    valid = [t for t in texts if t is not None and t.startswith("POLYGON")]
    expected = quillmere.smooth_and_simplify_polygons_from_wkts(valid, 1, 0.001)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        if mode == "raise":
            with pytest.raises(InvalidGeometryError) as raised:
                smooth_simplify_wkts(texts, 1, 0.001, on_invalid=mode)
            assert (raised.value.index, raised.value.reason) == (bad[0], POINT_MISMATCH)
            assert isinstance(raised.value, ValueError)
            return
        results = smooth_simplify_wkts(texts, 1, 0.001, on_invalid=mode)
    assert [r for r in results if r is not None] == expected
    assert [i for i, r in enumerate(results) if r is None] == sorted([1] + bad)
    if mode == "warn":
        assert len(caught) == 1 and caught[0].category is RuntimeWarning
        assert str(caught[0].message).startswith(f"{len(bad)} invalid inputs replaced by None; the first is input {bad[0]}:")
        assert caught[0].filename == __file__
    else:
        assert caught == []


def test_error_is_picklable():
    error = InvalidGeometryError(3, "why")
    copy = pickle.loads(pickle.dumps(error))
    assert (copy.index, copy.reason, str(copy)) == (3, "why", "input 3: why")


def test_text_without_utf8_form_is_invalid():
    with pytest.raises(InvalidGeometryError) as raised:
        smooth_simplify_wkts(["POLYGON((0 0,1 0,1 1,0 0))", "POLYGON((0 \ud800))"], 0, 0.0)
    assert raised.value.index == 1 and "surrogates not allowed" in raised.value.reason
    assert smooth_simplify_wkts(["POLYGON((0 \ud800))", None], 0, 0.0, on_invalid="ignore") == [None, None]


def test_non_ascii_texts_keep_no_utf8_copy():
    text = "POLYGON((0 0,1 0,1 1,0 0)) é"  # nothing after the geometry is read
    size = sys.getsizeof(text)
    assert smooth_simplify_wkts([text], 0, 0.0) == ["POLYGON((0 0,1 0,1 1,0 0))"]
    assert sys.getsizeof(text) == size


def test_any_iterable_of_str():
    texts = generated_polygons(20, seed=3)
    expected = smooth_simplify_wkts(texts, 1, 0.0)
    assert smooth_simplify_wkts(tuple(texts), 1, 0.0) == expected
    assert smooth_simplify_wkts((t for t in texts), 1, 0.0) == expected
    assert smooth_simplify_wkts(iter(texts), 1, 0.0) == expected
    assert smooth_simplify_wkts([], 1, 0.0) == []
    pandas = pytest.importorskip("pandas")
    assert smooth_simplify_wkts(pandas.Series(texts, index=range(100, 120)), 1, 0.0) == expected


@pytest.mark.parametrize(
    "arguments, error",
    [
        (("POLYGON((0 0,1 0,1 1,0 0))", 1, 0.0), TypeError),
        ((b"POLYGON((0 0,1 0,1 1,0 0))", 1, 0.0), TypeError),
        ((["POLYGON((0 0,1 0,1 1,0 0))", 5], 1, 0.0), TypeError),
        ((5, 1, 0.0), TypeError),
        (([], -1, 0.0), ValueError),
        (([], 1.5, 0.0), TypeError),
        (([], 1, "0"), TypeError),
    ],
)
def test_argument_errors(arguments, error):
    with pytest.raises(error):
        smooth_simplify_wkts(*arguments)


def test_on_invalid_must_be_a_mode():
    with pytest.raises(ValueError, match="on_invalid"):
        smooth_simplify_wkts([], 1, 0.0, on_invalid="skip")


@pytest.mark.parametrize(
    "text, k, tolerance, dropped, kept",
    [
        # A hole of three positions is dropped, the exterior stays.
        ("POLYGON((0 0,10 0,10 10,0 10,0 0),(1 1,2 1,1 1))", 0, 0.0,
         "POLYGON((0 0,10 0,10 10,0 10,0 0))", "POLYGON((0 0,10 0,10 10,0 10,0 0),(1 1,2 1,1 1))"),
        # An exterior simplified to two positions empties the polygon.
        ("POLYGON((0 0,1 0,1 1,0 1,0 0))", 0, 10.0, "POLYGON EMPTY", "POLYGON((0 0,0 0))"),
        ("MULTIPOLYGON(((0 0,1 0,1 1,0 1,0 0)),((0 0,100 0,100 100,0 100,0 0)))", 0, 10.0,
         "MULTIPOLYGON(((0 0,100 0,100 100,0 100,0 0)))", "MULTIPOLYGON(((0 0,0 0)),((0 0,100 0,100 100,0 100,0 0)))"),
        ("MULTIPOLYGON(((0 0,1 0,1 1,0 1,0 0)))", 0, 10.0, "MULTIPOLYGON EMPTY", "MULTIPOLYGON(((0 0,0 0)))"),
    ],
)
def test_collapse_policy(text, k, tolerance, dropped, kept):
    assert smooth_simplify_wkts([text], k, tolerance) == [dropped]
    assert smooth_simplify_wkts([text], k, tolerance, keep_collapsed=True) == [kept]


def test_every_result_is_readable_by_shapely():
    shapely = pytest.importorskip("shapely")
    texts = generated_polygons(300, seed=9) + generated_multipolygons(100, seed=9)
    for tolerance in (0.05, 0.5, 5.0):
        results = smooth_simplify_wkts(texts, 1, tolerance)
        assert not any(g is None for g in shapely.from_wkt(results, on_invalid="raise"))


@pytest.mark.parametrize(
    "depth, reason",
    [
        (999, 'Unable to read Polygon from WKT: MismatchedGeometry { expected: "geo_types::geometry::polygon::Polygon", '
              'found: "geo_types::geometry::geometry_collection::GeometryCollection" }'),
        (5000, 'Unable to parse Polygon from WKT: "Nesting too deep in GEOMETRYCOLLECTION"'),
    ],
)
def test_deep_nesting_is_bounded_as_in_quillmere(depth, reason):
    text = "GEOMETRYCOLLECTION(" * depth + "POINT(1 2)" + ")" * depth
    assert smooth_simplify_wkts([text, None], 0, 0.0, on_invalid="ignore") == [None, None]
    with pytest.raises(InvalidGeometryError) as raised:
        smooth_simplify_wkts([text], 0, 0.0)
    assert raised.value.reason == reason
