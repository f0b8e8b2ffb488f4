"""Module attributes, initialisation and the PanicException raised for stops."""
import subprocess
import sys

import pytest

import quillmere

FEATURE = '{"type":"Feature","geometry":null,"properties":{}}'


def panic_of(call):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__name__ == "PanicException"
    return info.value


def test_all_lists_both_functions_in_order():
    assert quillmere.__all__ == ["smooth_and_simplify_polygon_fc", "smooth_and_simplify_polygons_from_wkts"]
    assert quillmere.__doc__ == ""
    for name in quillmere.__all__:
        function = getattr(quillmere, name)
        assert callable(function)
        assert function.__name__ == name
        assert function.__module__ == "quillmere"
    assert "PanicException" not in dir(quillmere)


def test_second_initialisation_fails_but_first_module_stays_valid():
    script = (
        "import sys, importlib, quillmere\n"
        "first = quillmere\n"
        "del sys.modules['quillmere']\n"
        "try:\n"
        "    importlib.import_module('quillmere')\n"
        "except ImportError as e:\n"
        "    print(e)\n"
        "print(first.smooth_and_simplify_polygons_from_wkts([], 0, 0.0))\n"
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert out.splitlines() == ["PyO3 modules may only be initialized once per interpreter process", "[]"]


def test_panic_exception_class_properties():
    error = panic_of(lambda: quillmere.smooth_and_simplify_polygon_fc(FEATURE, 0, 0.0))
    cls = type(error)
    assert str(error) == "Empty or invalid GeoJSON"
    assert error.args == ("Empty or invalid GeoJSON",)
    assert cls.__module__ == "pyo3_runtime"
    assert cls.__qualname__ == "PanicException"
    assert cls.__mro__[-2:] == (BaseException, object)
    assert Exception not in cls.__mro__
    assert cls.__doc__.startswith("\n") and cls.__doc__.endswith(
        "\n\nLike SystemExit, this exception is derived from BaseException so that\n"
        "it will typically propagate all the way through the stack and cause the\n"
        "Python interpreter to exit.\n"
    )
    assert cls.__doc__.count("\n") == 6


def test_panic_exception_class_is_created_once_and_not_caught_by_exception():
    first = panic_of(lambda: quillmere.smooth_and_simplify_polygon_fc(FEATURE, 0, 0.0))
    second = panic_of(lambda: quillmere.smooth_and_simplify_polygons_from_wkts([""], 0, 0.0))
    assert type(first) is type(second)
    with pytest.raises(BaseException):
        try:
            quillmere.smooth_and_simplify_polygon_fc(FEATURE, 0, 0.0)
        except Exception:  # a PanicException must not be caught here
            pytest.fail("PanicException was caught as an Exception")


def test_module_stays_usable_after_a_stop():
    panic_of(lambda: quillmere.smooth_and_simplify_polygons_from_wkts(["POLYGON((0 0,1 0,1 1,0 0))", "x"], 1, 0.0))
    assert quillmere.smooth_and_simplify_polygons_from_wkts(["POLYGON((0 0,1 0,1 1,0 0))"], 0, 0.0) == [
        "POLYGON((0 0,1 0,1 1,0 0))"
    ]


def test_memory_exhaustion_is_a_clean_python_error():
    # 2^64 - 1 passes cannot be represented; the call must fail, not crash or hang.
    with pytest.raises(MemoryError):
        quillmere.smooth_and_simplify_polygons_from_wkts(["POLYGON((0 0,1 0,1 1,0 0))"], 2**64 - 1, 0.0)
    with pytest.raises(MemoryError):
        quillmere.smooth_and_simplify_polygons_from_wkts(["POLYGON((0 0,1 0,1 1,0 0))"], 62, 0.0)
