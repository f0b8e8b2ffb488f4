"""The GeoJSON function reads the features of a collection apart from each
other; whatever goes wrong, the call reports what a reading of the whole text
in order reports, and the result does not depend on the thread count."""
import hashlib
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import quillmere

UNWRAP = "called `Result::unwrap()` on an `Err` value: "
HEAD = '{"type":"FeatureCollection","features":['
OK = '{"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1]]]}}'
LAND = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-land-10km.geo.json"


def panic_message(text):
    with pytest.raises(BaseException) as info:
        quillmere.smooth_and_simplify_polygon_fc(text, 1, 0.0)
    assert type(info.value).__name__ == "PanicException"
    return info.value.args[0]


def malformed(text, message, at):
    return f'{UNWRAP}MalformedJson(Error("{message}", line: 1, column: {at}))'


def late_json_error():
    # A GeoJSON error in the first feature, a JSON one in the last: JSON wins.
    text = HEAD + '{"type":"Feature","geometry":null,"properties":5},' + OK + ',{"type":"Feature","geometry":tru}]}'
    return text, malformed(text, "expected ident", text.index("tru}") + 4)


def truncated():
    text = (HEAD + OK + "]}")[: len(HEAD) + 69]  # just after a comma
    return text, malformed(text, "EOF while parsing a value", len(text))


def deep(arrays):
    return HEAD + '{"type":"Feature","geometry":null,"x":' + "[" * arrays + "]" * arrays + "}]}"


def deep_error():
    text = deep(125)
    return text, malformed(text, "recursion limit exceeded", text.index("[" * 125) + 125)


@pytest.mark.parametrize(
    "case",
    [
        late_json_error,
        truncated,
        deep_error,
        lambda: (
            HEAD + '{"type":"Feature","geometry":null,"id":null},{"type":"Feature","properties":5}]}',
            UNWRAP + "FeatureInvalidIdentifierType(Null)",
        ),
        lambda: (HEAD + OK + '],"features":[{"type":"Feature"}]}', UNWRAP + 'ExpectedProperty("geometry")'),
        lambda: (
            HEAD + OK + ',{"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[0,0],[1]]]}}]}',
            "index out of bounds: the len is 1 but the index is 1",
        ),
        lambda: ('{"type":"Feature","geometry":null,"features":[' + OK + "]}", "Empty or invalid GeoJSON"),
    ],
)
def test_errors_are_those_of_the_whole_text(case):
    text, message = case()
    assert panic_message(text) == message


def test_repeated_features_member_keeps_the_last():
    text = HEAD + '{"type":"Feature","properties":5}],"features":[]}'
    assert quillmere.smooth_and_simplify_polygon_fc(text, 0, 0.0) == '{"features":[],"type":"FeatureCollection"}'


def test_nesting_at_the_limit_inside_a_feature_is_accepted():
    assert quillmere.smooth_and_simplify_polygon_fc(deep(124), 0, 0.0) == '{"features":[],"type":"FeatureCollection"}'


def test_same_text_with_one_and_two_threads():
    if not LAND.exists():
        pytest.skip("land data not present")
    script = (
        "import hashlib, sys, quillmere\n"
        "text = open(sys.argv[1]).read()\n"
        "print([hashlib.sha256(quillmere.smooth_and_simplify_polygon_fc(text, k, 1e-3).encode()).hexdigest()"
        " for k in (0, 2)])\n"
    )
    digests = set()
    for threads in ("1", "2"):
        env = dict(os.environ, RAYON_NUM_THREADS=threads, PYTHONPATH=os.pathsep.join(sys.path))
        result = subprocess.run([sys.executable, "-c", script, str(LAND)], env=env, check=True,
                                capture_output=True, text=True)
        digests.add(result.stdout)
    assert len(digests) == 1
