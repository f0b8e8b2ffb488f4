"""Binding of positional and keyword arguments and conversion of their values."""
import math
import sys

import pytest

import quillmere

WKTS = quillmere.smooth_and_simplify_polygons_from_wkts
FC = quillmere.smooth_and_simplify_polygon_fc
EMPTY_FC = '{"type":"FeatureCollection","features":[]}'
EMPTY_FC_OUT = '{"features":[],"type":"FeatureCollection"}'


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class AsFloat:
    def __float__(self):
        return 2.5


class Text(str):
    pass


class Raising:
    """__index__ raising the given exception."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


BINDING_ERRORS = [
    (lambda: WKTS(), "smooth_and_simplify_polygons_from_wkts() missing 3 required positional arguments: "
                     "'polygon_wkts', 'smoothing_iterations', and 'simplify_tolerance_m'"),
    (lambda: WKTS([]), "smooth_and_simplify_polygons_from_wkts() missing 2 required positional arguments: "
                       "'smoothing_iterations' and 'simplify_tolerance_m'"),
    (lambda: WKTS([], 1), "smooth_and_simplify_polygons_from_wkts() missing 1 required positional argument: "
                          "'simplify_tolerance_m'"),
    (lambda: WKTS(smoothing_iterations=1), "smooth_and_simplify_polygons_from_wkts() missing 2 required "
                                           "positional arguments: 'polygon_wkts' and 'simplify_tolerance_m'"),
    (lambda: FC("x", 1, 2.0, 4), "smooth_and_simplify_polygon_fc() takes 3 positional arguments but 4 were given"),
    (lambda: FC("x", 1, 2.0, geojson="y"),
     "smooth_and_simplify_polygon_fc() got multiple values for argument 'geojson'"),
    # Positional count is checked before any keyword.
    (lambda: FC("x", 1, 2.0, 4, 5, bogus=1),
     "smooth_and_simplify_polygon_fc() takes 3 positional arguments but 5 were given"),
    (lambda: FC("x", bogus=1), "smooth_and_simplify_polygon_fc() got an unexpected keyword argument 'bogus'"),
    # Keywords are visited in dictionary order; the first failing one wins.
    (lambda: FC("x", **{"geojson": "y", "bogus": 1}),
     "smooth_and_simplify_polygon_fc() got multiple values for argument 'geojson'"),
    (lambda: FC("x", **{"bogus": 1, "geojson": "y"}),
     "smooth_and_simplify_polygon_fc() got an unexpected keyword argument 'bogus'"),
    (lambda: FC(**{"Geojson": "x"}), "smooth_and_simplify_polygon_fc() got an unexpected keyword argument 'Geojson'"),
    # Keyword errors come before missing arguments, and nothing is converted before binding.
    (lambda: WKTS(5, polygon_wkts=[]),
     "smooth_and_simplify_polygons_from_wkts() got multiple values for argument 'polygon_wkts'"),
    (lambda: WKTS(5, simplify_tolerance_m="x"),
     "smooth_and_simplify_polygons_from_wkts() missing 1 required positional argument: 'smoothing_iterations'"),
]


@pytest.mark.parametrize("call,message", BINDING_ERRORS)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message


CONVERSION_ERRORS = [
    (lambda: WKTS("POLYGON EMPTY", 0, 0.0), ValueError, "Can't extract `str` to `Vec`"),
    (lambda: WKTS(Text("x"), 0, 0.0), ValueError, "Can't extract `str` to `Vec`"),
    (lambda: WKTS(5, 0, 0.0), TypeError, "argument 'polygon_wkts': 'int' object cannot be converted to 'Sequence'"),
    (lambda: WKTS({"a"}, 0, 0.0), TypeError, "argument 'polygon_wkts': 'set' object cannot be converted to 'Sequence'"),
    (lambda: WKTS({"a": 1}, 0, 0.0), TypeError,
     "argument 'polygon_wkts': 'dict' object cannot be converted to 'Sequence'"),
    (lambda: WKTS((s for s in ["a"]), 0, 0.0), TypeError,
     "argument 'polygon_wkts': 'generator' object cannot be converted to 'Sequence'"),
    (lambda: WKTS(b"POLYGON", 0, 0.0), TypeError,
     "argument 'polygon_wkts': 'int' object cannot be converted to 'PyString'"),
    (lambda: WKTS([None], 0, 0.0), TypeError,
     "argument 'polygon_wkts': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda: WKTS(["POLYGON EMPTY", b"x"], 0, 0.0), TypeError,
     "argument 'polygon_wkts': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: FC(b"{}", 0, 0.0), TypeError, "argument 'geojson': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: FC(["{}"], 0, 0.0), TypeError, "argument 'geojson': 'list' object cannot be converted to 'PyString'"),
    (lambda: WKTS([], 2.0, 0.0), TypeError,
     "argument 'smoothing_iterations': 'float' object cannot be interpreted as an integer"),
    (lambda: WKTS([], "1", 0.0), TypeError,
     "argument 'smoothing_iterations': 'str' object cannot be interpreted as an integer"),
    (lambda: WKTS([], -1, 0.0), OverflowError, "can't convert negative int to unsigned"),
    (lambda: WKTS([], 2**64, 0.0), OverflowError, "int too big to convert"),
    (lambda: WKTS([], 0, "1.0"), TypeError, "argument 'simplify_tolerance_m': must be real number, not str"),
    (lambda: WKTS([], 0, None), TypeError, "argument 'simplify_tolerance_m': must be real number, not NoneType"),
    (lambda: WKTS([], 0, 10**400), OverflowError, "int too large to convert to float"),
    # Parameter order: only the first failing parameter is reported.
    (lambda: WKTS(5, -1, "x"), TypeError, "argument 'polygon_wkts': 'int' object cannot be converted to 'Sequence'"),
    (lambda: FC(EMPTY_FC, -1, "x"), OverflowError, "can't convert negative int to unsigned"),
]


@pytest.mark.parametrize("call,kind,message", CONVERSION_ERRORS)
def test_conversion_errors(call, kind, message):
    with pytest.raises(kind) as info:
        call()
    assert type(info.value) is kind
    assert str(info.value) == message


def test_lone_surrogate_raises_unicode_encode_error_unchanged():
    for call in (lambda: WKTS(["POLYGON EMPTY", "\ud800"], 0, 0.0), lambda: FC("\udfff", 0, 0.0)):
        with pytest.raises(UnicodeEncodeError) as info:
            call()
        assert "surrogates not allowed" in str(info.value)


def test_type_error_prefix_keeps_cause_and_spares_subclasses():
    root = ValueError("root")
    error = TypeError("boom")
    error.__cause__ = root
    with pytest.raises(TypeError) as info:
        WKTS([], Raising(error), 0.0)
    assert str(info.value) == "argument 'smoothing_iterations': boom"
    assert info.value.__cause__ is root

    class OwnTypeError(TypeError):
        pass

    with pytest.raises(OwnTypeError) as info:
        WKTS([], Raising(OwnTypeError("mine")), 0.0)
    assert str(info.value) == "mine"

    with pytest.raises(KeyError):
        WKTS([], Raising(KeyError("k")), 0.0)


def test_iteration_errors():
    class Broken(list):
        def __init__(self, error):
            super().__init__()
            self.error = error

        def __iter__(self):
            raise self.error

    with pytest.raises(TypeError) as info:
        WKTS(Broken(TypeError("no iter")), 0, 0.0)
    assert str(info.value) == "argument 'polygon_wkts': no iter"
    with pytest.raises(RuntimeError) as info:
        WKTS(Broken(RuntimeError("gone")), 0, 0.0)
    assert str(info.value) == "gone"


class FakeLength(list):
    """A sequence whose length lies; the length only sizes the list up front."""

    def __len__(self):
        raise RuntimeError("no length")


@pytest.mark.parametrize(
    "sequence",
    [[], (), FakeLength(), ["POLYGON EMPTY"], ("POLYGON EMPTY",), [Text("POLYGON EMPTY")], FakeLength(["POLYGON EMPTY"])],
)
def test_accepted_sequences(sequence):
    assert WKTS(sequence, 0, 0.0) == ["POLYGON EMPTY"] * len(list(iter(sequence)))


@pytest.mark.parametrize("iterations", [0, 1, True, False, Index(3), 2**64 - 1])
@pytest.mark.parametrize("tolerance", [0.0, -1.0, 1, math.nan, math.inf, -math.inf, AsFloat()])
def test_accepted_numbers(iterations, tolerance):
    assert WKTS([], iterations, tolerance) == []
    assert FC(EMPTY_FC, iterations, tolerance) == EMPTY_FC_OUT


def test_keywords_bind_like_positions():
    square = "POLYGON((0 0,1 0,1 1,0 1,0 0))"
    by_position = WKTS([square], 1, 0.0)
    assert WKTS(simplify_tolerance_m=0.0, polygon_wkts=[square], smoothing_iterations=1) == by_position
    assert WKTS([square], simplify_tolerance_m=0.0, smoothing_iterations=True) == by_position
    assert FC(simplify_tolerance_m=0.0, smoothing_iterations=0, geojson=Text(EMPTY_FC)) == EMPTY_FC_OUT


def test_conversion_errors_win_over_texts_read_meanwhile():
    # Long lists are read in chunks while the rest is still being converted;
    # a conversion failure still wins over an unreadable text before it.
    square = "POLYGON((0 0,1 0,1 1,0 0))"
    WKTS([square], 0, 0.0)  # the pool runs from here on
    texts = [square] * 20_000
    texts[3] = "x"
    texts[9_000] = "POINT(1 2)"
    bad_item = texts[:15_000] + [b"POLYGON EMPTY"] + texts[15_000:]
    for call, kind, message in [
        (lambda: WKTS(bad_item, 0, 0.0), TypeError,
         "argument 'polygon_wkts': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: WKTS(texts, -1, 0.0), OverflowError,
         "can't convert negative int to unsigned"),
        (lambda: WKTS(texts, 0, "x"), TypeError, "argument 'simplify_tolerance_m': must be real number, not str"),
    ]:
        with pytest.raises(kind) as info:
            call()
        assert str(info.value) == message
    with pytest.raises(BaseException) as info:
        WKTS(texts, 0, 0.0)
    assert type(info.value).__name__ == "PanicException"
    assert str(info.value) == 'Unable to parse Polygon from WKT: "Invalid type encountered"'


class LyingStr(str):
    def isascii(self):  # must not be consulted: only the characters count
        raise AssertionError("called")


@pytest.mark.parametrize("make", [str, LyingStr])
def test_texts_read_without_leaving_utf8_copies(make):
    ascii_text = make("POLYGON((0 0,1 0,1 1,0 0))")
    wide_text = make("POLYGON((0 0,1 0,1 1,0 0)) é")  # nothing after the geometry is read
    sizes = [sys.getsizeof(t) for t in (ascii_text, wide_text)]
    result = WKTS([ascii_text, wide_text], 0, 0.0)
    assert result == ["POLYGON((0 0,1 0,1 1,0 0))"] * 2
    # A cached UTF-8 form would make the non-ASCII object larger for good.
    assert [sys.getsizeof(t) for t in (ascii_text, wide_text)] == sizes


class FreshTexts:
    """A sequence that makes a new str for every item it hands out."""

    def __len__(self):
        return 3000

    def __getitem__(self, i):
        if i >= len(self):
            raise IndexError(i)
        return "".join(["POLYGON((0 0,", str(i), " 0,1 1,0 0))"])


def test_texts_made_by_the_sequence_stay_readable():
    assert WKTS(FreshTexts(), 0, 0.0) == [f"POLYGON((0 0,{i} 0,1 1,0 0))" for i in range(3000)]
