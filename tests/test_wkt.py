"""The WKT function end to end: reading, stop messages, and the written text."""
import os
import random
import struct
import subprocess
import sys
from decimal import Decimal

import pytest

import quillmere

WKTS = quillmere.smooth_and_simplify_polygons_from_wkts
SQUARE = "POLYGON((0 0,1 0,1 1,0 0))"
PARSE = 'Unable to parse Polygon from WKT: "{}"'
MISMATCH = (
    'Unable to read Polygon from WKT: MismatchedGeometry {{ expected: "geo_types::geometry::polygon::Polygon", '
    'found: "geo_types::geometry::{}" }}'
)


def one(text):
    """The text of one polygon read, left alone (no smoothing, tolerance 0) and written."""
    (out,) = WKTS([text], 0, 0.0)
    return out


def panic_message(texts):
    with pytest.raises(BaseException) as info:
        WKTS(texts, 0, 0.0)
    assert type(info.value).__name__ == "PanicException"
    assert info.value.args == (str(info.value),)
    return str(info.value)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("POLYGON((0 0,1 0,1 1,0 0))", SQUARE),
        ("polygon ( ( 0 0 , 1 0 , 1 1 , 0 0 ) )", SQUARE),
        ("PoLyGoN((0 0,1 0,1 1,0 0))", SQUARE),
        ("\tPOLYGON\n(\r(0\t0,1 0,1 1,0 0)\r)\n", SQUARE),
        ("POLYGON((0 0,1 0,1 1))", SQUARE),  # closed by the polygon construction
        ("POLYGON((0 0,1 0,1 1,0 0)) trailing text ))", SQUARE),
        ("POLYGON((0 0,1 0,1 1,0 0)) anything", SQUARE),
        ("POLYGON((0 0,1 0,1 1,0 0))\x00junk", SQUARE),
        ("POLYGON EMPTY", "POLYGON EMPTY"),
        ("POLYGON(EMPTY)", "POLYGON EMPTY"),
        ("polygon empty", "POLYGON EMPTY"),
        # An empty exterior leaves no trace: the first interior takes its place.
        ("POLYGON(EMPTY,(0 0,1 0,1 1,0 0))", SQUARE),
        ("POLYGON(EMPTY,EMPTY)", "POLYGON(())"),
        ("POLYGON(EMPTY,EMPTY,(5 5))", "POLYGON((),(5 5))"),
        ("POLYGON((0 0,1 0,1 1,0 0),EMPTY)", "POLYGON((0 0,1 0,1 1,0 0),())"),
        ("POLYGON((5 5))", "POLYGON((5 5))"),
        ("POLYGON((0 0,4 0,4 4,0 4,0 0),(1 1,2 1,2 2))", "POLYGON((0 0,4 0,4 4,0 4,0 0),(1 1,2 1,2 2,1 1))"),
        ("POLYGON((0 0,10 0,10 10,0 10),(2 2,3 2,3 3,2 2))", "POLYGON((0 0,10 0,10 10,0 10,0 0),(2 2,3 2,3 3,2 2))"),
        # 0 equals -0 for ring closing; a NaN never equals anything.
        ("POLYGON((0 0,1 0,-0 -0))", "POLYGON((0 0,1 0,-0 -0))"),
        # A ring starting with NaN never counts as closed, so both the reading
        # and the simplification step's polygon construction append a copy.
        ("POLYGON((-nan 0,1 0,1 1,-nan 0))", "POLYGON((NaN 0,1 0,1 1,NaN 0,NaN 0,NaN 0))"),
        ("POLYGON((-nan 0))", "POLYGON((NaN 0,NaN 0,NaN 0))"),
        # Number syntax.
        ("POLYGON((+1 -2,+-1 2,1. .5,1E+2 -0))", "POLYGON((1 -2,-1 2,1 0.5,100 -0,1 -2))"),
        ("POLYGON((-inf +Infinity,1e400 1e-400,-1e400 -1e-400))", "POLYGON((-inf inf,inf 0,-inf -0,-inf inf))"),
        ("POLYGON((-NaN -INF))", "POLYGON((NaN -inf,NaN -inf,NaN -inf))"),
        ("POLYGON((0.1 0.30000000000000004))", "POLYGON((0.1 0.30000000000000004))"),
        ("POLYGON((1e16 1e21))", "POLYGON((10000000000000000 1000000000000000000000))"),
        ("POLYGON((1e-7 1.5e-7))", "POLYGON((0.0000001 0.00000015))"),
        ("POLYGON((2.5 -123.456000))", "POLYGON((2.5 -123.456))"),
        pytest.param(
            "POLYGON((1.7976931348623157e308 5e-324))",
            "POLYGON((17976931348623157" + "0" * 292 + " 0." + "0" * 323 + "5))",
            id="max-and-smallest-subnormal",
        ),
        ("POLYGON((9007199254740993 0))", "POLYGON((9007199254740992 0))"),  # ties to even
    ],
)
def test_reads_and_writes(text, expected):
    assert one(text) == expected


@pytest.mark.parametrize(
    "text, error",
    [
        ("", "Invalid WKT format"),
        ("   ", "Invalid WKT format"),
        ("(0 0)", "Invalid WKT format"),
        ("1 2", "Invalid WKT format"),
        ("\x00POLYGON EMPTY", "Invalid WKT format"),
        ("POLYGÖN((0 0,1 0,1 1,0 0))", "Encountered non-ascii word"),
        ("x", "Invalid type encountered"),
        ("POLYGONZ((0 0,1 0,1 1,0 0))", "Invalid type encountered"),
        ("POLYGON\f((0 0,1 0,1 1,0 0))", "Invalid type encountered"),  # form feed is not whitespace
        ("POLYGON", "Missing open parenthesis for type"),
        ("POLYGON Z ((0 0 0,1 0 0,1 1 0,0 0 0))", "Missing open parenthesis for type"),
        ("POLYGON\x00((0 0,1 0,1 1,0 0))", "Missing open parenthesis for type"),
        ("POLYGON((0 0 0,1 0 0,1 1 0,0 0 0))", "Missing closing parenthesis for type"),
        ("POLYGON((0 0,1))", "Missing closing parenthesis for type"),
        ("POLYGON((0 0,1 0)", "Missing closing parenthesis for type"),
        ("POLYGON((0 0,x))", "Expected a number for the X coordinate"),
        ("POLYGON((0 0,1 y))", "Expected a number for the Y coordinate"),
        ("POLYGON((0 nan))", "Expected a number for the Y coordinate"),
        ("POLYGON((nan 0))", "Missing closing parenthesis for type"),
        ("POLYGON((1 2abc))", "Unable to parse input number as the desired output type"),
        ("POLYGON((1 +))", "Unable to parse input number as the desired output type"),
        ("POLYGON((0 1-2))", "Unable to parse input number as the desired output type"),
        ("POLYGON((0 0x10))", "Unable to parse input number as the desired output type"),
        ("POLYGON((0 1_000))", "Unable to parse input number as the desired output type"),
        ("POLYGON((0 0\f0))", "Unable to parse input number as the desired output type"),
        # A failed number only surfaces where a ")" follows the point of failure.
        ("POLYGON((1-2 0))", "Missing closing parenthesis for type"),
        ("GEOMETRYCOLLECTION(1)", "Expected a word in GEOMETRYCOLLECTION"),
        ("GEOMETRYCOLLECTION()", "Missing closing parenthesis for type"),
        pytest.param("GEOMETRYCOLLECTION(" * 100_000, "Nesting too deep in GEOMETRYCOLLECTION", id="100000-open"),
        pytest.param(
            "GEOMETRYCOLLECTION(" * 1001 + "POINT(1 2)" + ")" * 1001,
            "Nesting too deep in GEOMETRYCOLLECTION",
            id="1001-levels",
        ),
    ],
)
def test_parse_failures(text, error):
    assert panic_message([text]) == PARSE.format(error)


@pytest.mark.parametrize(
    "text, found",
    [
        ("POINT(1 2)", "point::Point"),
        ("POINT EMPTY", "multi_point::MultiPoint"),
        ("MULTIPOINT(1 2,(3 4))", "multi_point::MultiPoint"),
        ("MULTIPOINT((1 2),3 4)", "multi_point::MultiPoint"),
        ("LINESTRING(0 0,1 1)", "line_string::LineString"),
        ("LINEARRING(0 0,1 1)", "line_string::LineString"),
        ("MULTILINESTRING((0 0,1 1))", "multi_line_string::MultiLineString"),
        ("MULTIPOLYGON(((0 0,1 0,1 1,0 0)))", "multi_polygon::MultiPolygon"),
        ("GEOMETRYCOLLECTION(POLYGON((0 0,1 0,1 1,0 0)))", "geometry_collection::GeometryCollection"),
        ("GEOMETRYCOLLECTION EMPTY", "geometry_collection::GeometryCollection"),
        pytest.param(
            "GEOMETRYCOLLECTION(" * 1000 + "POINT(1 2)" + ")" * 1000,
            "geometry_collection::GeometryCollection",
            id="1000-levels",
        ),
    ],
)
def test_other_kinds_are_mismatches(text, found):
    # Several copies, so the reading runs on the worker threads too.
    assert panic_message([text] * 4) == MISMATCH.format(found)


def test_empty_list():
    assert WKTS([], 3, 1.0) == []


def test_one_bad_text_returns_nothing_for_the_good_ones():
    assert panic_message([SQUARE, "x", "POINT(1 2)"]) == PARSE.format("Invalid type encountered")


def test_lowest_index_failure_wins_on_long_lists():
    texts = [SQUARE] * 50_000
    texts[2] = "POLYGON((0 0,1 y))"
    texts[6] = "POINT(1 2)"
    for i in range(1000, len(texts), 101):
        texts[i] = ""
    for _ in range(10):
        assert panic_message(texts) == PARSE.format("Expected a number for the Y coordinate")
    texts[2] = SQUARE
    assert panic_message(texts) == MISMATCH.format("point::Point")
    texts[6] = SQUARE
    assert panic_message(texts) == PARSE.format("Invalid WKT format")


@pytest.mark.parametrize("threads", ["1", "3", "64"])
def test_lowest_index_rule_does_not_depend_on_thread_count(threads):
    script = (
        "import quillmere\n"
        "t = ['POLYGON((0 0,1 0,1 1,0 0))'] * 10\n"
        "t[2] = 'x'\n"
        "t[6] = ''\n"
        "try:\n"
        "    quillmere.smooth_and_simplify_polygons_from_wkts(t, 0, 0.0)\n"
        "except BaseException as e:\n"
        "    print(type(e).__name__, e)\n"
    )
    env = dict(os.environ, RAYON_NUM_THREADS=threads)
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "PanicException " + PARSE.format("Invalid type encountered")


def test_output_order_follows_input_order():
    texts = [f"POLYGON(({i} 0,{i} 1,{i + 1} 1))" for i in range(20_000)]
    out = WKTS(texts, 0, 0.0)
    assert out == [f"POLYGON(({i} 0,{i} 1,{i + 1} 1,{i} 0))" for i in range(20_000)]


def positional(x):
    """The expected number text: shortest round-trip digits, no exponent."""
    if x != x:
        return "NaN"
    if x in (float("inf"), float("-inf")):
        return "inf" if x > 0 else "-inf"
    return format(Decimal(repr(x)).normalize(), "f")


def test_random_finite_doubles_round_trip():
    rng = random.Random(5)
    values = []
    while len(values) < 40_000:
        (x,) = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))
        if x == x and abs(x) != float("inf"):
            values.append(x)
    values += [0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 1e21, 1e22, 0.1, -1.5e-7]
    texts = [f"POLYGON(({values[i]!r} {values[i + 1]!r}))" for i in range(0, len(values) - 1, 2)]
    out = WKTS(texts, 0, 0.0)
    for i, text in zip(range(0, len(values) - 1, 2), out):
        x, y = values[i], values[i + 1]
        assert text == f"POLYGON(({positional(x)} {positional(y)}))"
        ring = text[len("POLYGON((") : -2]
        back_x, back_y = (float(v) for v in ring.split(" "))
        assert struct.pack("<dd", back_x, back_y) == struct.pack("<dd", x, y)
    # Our own reader reads our own text back exactly.
    again = WKTS(out, 0, 0.0)
    assert again == out
