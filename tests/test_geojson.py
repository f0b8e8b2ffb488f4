"""The GeoJSON function end to end: JSON reading errors, GeoJSON decoding
errors, the collection reader's choices and the exact output text."""
import json

import pytest

import quillmere

fc_call = quillmere.smooth_and_simplify_polygon_fc
UNWRAP = "called `Result::unwrap()` on an `Err` value: "


def panic_message(text, k=0, tolerance=0.0):
    with pytest.raises(BaseException) as info:
        fc_call(text, k, tolerance)
    assert type(info.value).__name__ == "PanicException"
    assert len(info.value.args) == 1
    return info.value.args[0]


def malformed(message, line, column):
    quoted = message.replace("\\", "\\\\")
    return f'{UNWRAP}MalformedJson(Error("{quoted}", line: {line}, column: {column}))'


def collection(*features):
    return json.dumps({"type": "FeatureCollection", "features": list(features)})


def feature(geometry, **extra):
    return {"type": "Feature", "geometry": geometry, **extra}


def polygon(*rings):
    return {"type": "Polygon", "coordinates": list(rings)}


def out_feature(*rings):
    coords = ",".join(
        "[" + ",".join(f"[{x},{y}]" for x, y in ring) + "]" for ring in rings
    )
    return (
        '{"geometry":{"coordinates":[' + coords + '],"type":"Polygon"},'
        '"properties":{},"type":"Feature"}'
    )


def out_collection(*features):
    return '{"features":[' + ",".join(features) + '],"type":"FeatureCollection"}'


CONTROL = "control character (\\u0000-\\u001F) found while parsing a string"


@pytest.mark.parametrize(
    "text, message, line, column",
    [
        ("", "EOF while parsing a value", 1, 0),
        ("   ", "EOF while parsing a value", 1, 3),
        ("{} x", "trailing characters", 1, 4),
        ("[1,]", "trailing comma", 1, 4),
        ('{"a":1,}', "trailing comma", 1, 8),
        ("01", "invalid number", 1, 2),
        ("-", "EOF while parsing a value", 1, 1),
        ("1.", "EOF while parsing a value", 1, 2),
        ("1.a", "invalid number", 1, 3),
        ("1e400", "number out of range", 1, 5),
        ("[" * 128 + "]" * 128, "recursion limit exceeded", 1, 128),
        ("\ufeff{}", "expected value", 1, 1),
        ('"\\uDE00"', "lone leading surrogate in hex escape", 1, 7),
        ('"\\uD83Da"', "unexpected end of hex escape", 1, 8),
        ('"a\tb"', CONTROL, 1, 3),
        ('{\n"type":\n  x}', "expected value", 3, 3),
        # columns count UTF-8 bytes, not characters
        ('"é€" x', "trailing characters", 1, 9),
    ],
)
def test_json_errors_with_line_and_column(text, message, line, column):
    assert panic_message(text) == malformed(message, line, column)


@pytest.mark.parametrize(
    "text, debug",
    [
        ("[" * 127 + "]" * 127, "ExpectedObjectValue(" + "Array [" * 127 + "]" * 127 + ")"),
        ("{}  \n\n ", 'GeometryUnknownType("type")'),
        ("0e999999999999", "ExpectedObjectValue(Number(0.0))"),
        ("1e-400", "ExpectedObjectValue(Number(0.0))"),
        ("-1e-400", "ExpectedObjectValue(Number(-0.0))"),
        ("18446744073709551615", "ExpectedObjectValue(Number(18446744073709551615))"),
        ("18446744073709551616", "ExpectedObjectValue(Number(1.8446744073709552e19))"),
        ("-9223372036854775808", "ExpectedObjectValue(Number(-9223372036854775808))"),
        ("-9223372036854775809", "ExpectedObjectValue(Number(-9.223372036854776e18))"),
        ('"\\ud83d\\ude00"', 'ExpectedObjectValue(String("\U0001F600"))'),
        ('"a\\tb"', 'ExpectedObjectValue(String("a\\tb"))'),
        # two-step conversion, not correctly rounded (that would end in ...68e-300)
        ("1.2345678901234567e-300", "ExpectedObjectValue(Number(1.234567890123457e-300))"),
    ],
)
def test_json_texts_that_parse(text, debug):
    # Valid JSON that is not an object fails GeoJSON decoding, not parsing.
    assert panic_message(text) == UNWRAP + debug


@pytest.mark.parametrize(
    "text, debug",
    [
        ("[]", "ExpectedObjectValue(Array [])"),
        ("{}", 'GeometryUnknownType("type")'),
        ('{"type":', 'MalformedJson(Error("EOF while parsing a value", line: 1, column: 8))'),
        ("-0", "ExpectedObjectValue(Number(-0.0))"),
        ("1e16", "ExpectedObjectValue(Number(1e16))"),
        ('"a\\"b"', 'ExpectedObjectValue(String("a\\"b"))'),
        ('[true, {"b": 1, "a": [2.5]}]',
         'ExpectedObjectValue(Array [Bool(true), Object {"a": Array [Number(2.5)], "b": Number(1)}])'),
        ('{"type":"featurecollection"}', "EmptyType"),
        ('{"type":"FeatureCollection"}', 'ExpectedProperty("features")'),
        ('{"type":"FeatureCollection","features":{}}', 'ExpectedArrayValue("Object")'),
        ('{"type":"FeatureCollection","features":[7]}', "ExpectedObjectValue(Number(7))"),
        ('{"type":"FeatureCollection","features":[],"bbox":null}', "BboxExpectedArray(Null)"),
        ('{"type":"FeatureCollection","features":[],"bbox":[1,"2"]}', 'BboxExpectedNumericValues(String("2"))'),
        (collection({"type": "Feature"}), 'ExpectedProperty("geometry")'),
        (collection(feature(None, properties=5)), "PropertiesExpectedObjectOrNull(Number(5))"),
        (collection(feature(None, id=None)), "FeatureInvalidIdentifierType(Null)"),
        (collection(feature(None, bbox=None)), "BboxExpectedArray(Null)"),
        (collection(feature([1])), "FeatureInvalidGeometryValue(Array [Number(1)])"),
        (collection(feature({"type": "Polygon", "coordinates": 7})), 'ExpectedArrayValue("None")'),
        (collection(feature({"type": "Circle"})), 'GeometryUnknownType("Circle")'),
        (collection(feature({"type": "LineString", "coordinates": [[1, "a"]]})), "ExpectedF64Value"),
        # geometry before properties, properties before id, the first feature first
        (collection(feature({"type": "Point", "coordinates": ["x"]}, properties=5)), "ExpectedF64Value"),
        (collection(feature(None, properties=5, id=None)), "PropertiesExpectedObjectOrNull(Number(5))"),
        (collection(feature(None, id=[]), feature(None, properties=1)), "FeatureInvalidIdentifierType(Array [])"),
        # a short position loses against any decoding error, wherever it is
        (collection(feature(polygon([[1]])), 5), "ExpectedObjectValue(Number(5))"),
    ],
)
def test_geojson_errors(text, debug):
    assert panic_message(text) == UNWRAP + debug


@pytest.mark.parametrize(
    "position, n", [([1], 1), ([], 0)]
)
def test_short_position_in_a_polygon(position, n):
    text = collection(feature(polygon([[0, 0], position, [0, 0]])))
    assert panic_message(text) == f"index out of bounds: the len is {n} but the index is {n}"


@pytest.mark.parametrize(
    "text",
    [
        json.dumps(feature(polygon([[0, 0], [1, 0], [0, 0]]))),
        json.dumps({"type": "Point", "coordinates": [1, 2]}),
        json.dumps({"type": "Polygon", "coordinates": [[[1]]]}),
    ],
)
def test_valid_feature_or_geometry_is_not_a_collection(text):
    assert panic_message(text) == "Empty or invalid GeoJSON"


def test_triangle_example_text():
    text = collection(feature(polygon([[0, 0], [1, 0], [1, 1], [0, 0]])))
    assert fc_call(text, 0, 0.0) == (
        '{"features":[{"geometry":{"coordinates":[[[0.0,0.0],[1.0,0.0],[1.0,1.0],[0.0,0.0]]],'
        '"type":"Polygon"},"properties":{},"type":"Feature"}],"type":"FeatureCollection"}'
    )


def test_empty_collection_and_nothing_taken():
    empty = '{"features":[],"type":"FeatureCollection"}'
    assert fc_call(collection(), 0, 0.0) == empty
    skipped = collection(
        feature(None),
        feature({"type": "Point", "coordinates": [1]}),
        feature({"type": "LineString", "coordinates": [[0, 0], [1, 1]]}),
        feature({"type": "GeometryCollection", "geometries": [polygon([[0, 0], [1, 0], [0, 0]])]}),
    )
    assert fc_call(skipped, 3, 1.0) == empty


def test_multipolygon_expands_in_order_between_neighbours():
    text = collection(
        feature(polygon([[0, 0], [1, 0], [0, 0]])),
        feature({"type": "MultiPolygon", "coordinates": [
            [[[1, 1], [2, 1], [1, 1]]],
            [[[2, 2], [3, 2], [2, 2]], [[2.5, 2.5], [2.6, 2.5], [2.5, 2.5]]],
            [],
        ]}),
        feature(polygon([[9, 9], [8, 9], [9, 9]])),
    )
    assert fc_call(text, 0, 0.0) == out_collection(
        out_feature([(0.0, 0.0), (1.0, 0.0), (0.0, 0.0)]),
        out_feature([(1.0, 1.0), (2.0, 1.0), (1.0, 1.0)]),
        out_feature([(2.0, 2.0), (3.0, 2.0), (2.0, 2.0)], [(2.5, 2.5), (2.6, 2.5), (2.5, 2.5)]),
        out_feature([]),
        out_feature([(9.0, 9.0), (8.0, 9.0), (9.0, 9.0)]),
    )


def test_ring_shapes_positions_and_dropped_members():
    text = collection(
        feature(
            {"type": "Polygon", "coordinates": [[[0, 0, 5], [4, 0, 6, 7], [4, 4]]], "bbox": [0, 0, 4, 4], "crs": 1},
            properties={"name": "x"}, id="a", bbox=[1, 2], extra=[1],
        ),
        feature(polygon(), id=1.5, bbox=[], properties=None),
    )
    # altitude dropped, the open ring closed, input members gone
    assert fc_call(text, 0, 0.0) == out_collection(
        out_feature([(0.0, 0.0), (4.0, 0.0), (4.0, 4.0), (0.0, 0.0)]),
        out_feature([]),
    )


@pytest.mark.parametrize(
    "x, written",
    [
        ("2", "2.0"),
        ("-0.0", "-0.0"),
        ("-0", "-0.0"),
        ("1e16", "1e16"),
        ("1e15", "1000000000000000.0"),
        ("0.00001", "0.00001"),
        ("0.000001", "1e-6"),
        ("12.5", "12.5"),
        ("5e-324", "5e-324"),
        ("1.7976931348623157e308", "1.7976931348623157e308"),
        ("18446744073709551615", "1.8446744073709552e19"),
        ("-9223372036854775808", "-9.223372036854776e18"),
        ("1e-400", "0.0"),
    ],
)
def test_number_text(x, written):
    text = '{"type":"FeatureCollection","features":[{"type":"Feature","geometry":' \
           '{"type":"Polygon","coordinates":[[[' + x + ',1]]]}}]}'
    # a one-point ring counts as closed and stays one point
    assert fc_call(text, 0, 0.0) == out_collection(out_feature([(written, "1.0")]))


def test_repeated_keys_keep_the_last_value():
    text = ('{"type":"FeatureCollection","features":[{"type":"Feature",'
            '"geometry":{"type":"Polygon","coordinates":[[[0,0]]]},"geometry":null}],'
            '"features":[]}')
    assert fc_call(text, 0, 0.0) == out_collection()


def test_smoothing_and_simplification_apply():
    square = polygon([[0, 0], [4, 0], [4, 4], [0, 4], [0, 0]])
    out = json.loads(fc_call(collection(feature(square)), 1, 0.0))
    ring = out["features"][0]["geometry"]["coordinates"][0]
    assert ring[0] == ring[-1]
    assert len(ring) == 9
    out = json.loads(fc_call(collection(feature(square)), 0, 10.0))
    assert out["features"][0]["geometry"]["coordinates"] == [[[0.0, 0.0], [0.0, 0.0]]]
