"""The JSON reader against the public parser conformance files.

Every `y_` file must parse (it then fails GeoJSON decoding, since none is a
FeatureCollection, but never with a MalformedJson stop) and every `n_` file
must fail with a MalformedJson stop. Files that are not valid UTF-8 are left
out: they cannot be passed to the module as a Python str. No file currently
disagrees with the reader's own rules; one that did would be listed in
DISAGREEING with the reason, and the reader's rules would hold.
"""
from pathlib import Path

import pytest

import quillmere

SUITE = Path(__file__).resolve().parents[2] / "shared" / "data" / "JSONTestSuite" / "test_parsing"
PREFIX = "called `Result::unwrap()` on an `Err` value: "

# file name -> reason; the expectation for these is inverted.
DISAGREEING = {}


def texts(prefix):
    if not SUITE.is_dir():
        return []
    found = []
    for path in sorted(SUITE.glob(prefix + "*.json")):
        try:
            found.append(pytest.param(path.read_bytes().decode("utf-8"), id=path.name))
        except UnicodeDecodeError:
            continue  # cannot reach the module as a str
    return found


def stop_message(text):
    with pytest.raises(BaseException) as info:
        quillmere.smooth_and_simplify_polygon_fc(text, 0, 0.0)
    assert type(info.value).__name__ == "PanicException"
    return str(info.value)


pytestmark = pytest.mark.skipif(not SUITE.is_dir(), reason="conformance files not present")


@pytest.mark.parametrize("text", texts("y_"))
def test_accepted_files_parse(text):
    message = stop_message(text)
    assert message.startswith(PREFIX)
    assert "MalformedJson" not in message


@pytest.mark.parametrize("text", texts("n_"))
def test_rejected_files_fail_as_malformed_json(text):
    assert stop_message(text).startswith(PREFIX + "MalformedJson(Error(")


@pytest.mark.parametrize("text", texts("i_"))
def test_implementation_defined_files_end_in_a_stop(text):
    # Either outcome is allowed; the call must end in an orderly stop.
    assert stop_message(text).startswith(PREFIX)


def test_suite_is_complete():
    assert len(texts("y_")) == 95
    assert len(texts("n_")) == 188 - 12
