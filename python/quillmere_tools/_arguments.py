"""Checks of the arguments every public function shares, with messages that
name the parameter."""

from __future__ import annotations

import numbers
import operator
from typing import Any


def check_iterations(iterations: Any) -> int:
    if isinstance(iterations, bool) or not isinstance(iterations, numbers.Integral):
        raise TypeError(f"iterations must be an int, not {type(iterations).__name__}")
    count = operator.index(iterations)
    if count < 0:
        raise ValueError(f"iterations must be >= 0, not {count}")
    if count >= 2**64:
        raise OverflowError(f"iterations must be < 2**64, not {count}")
    return count


def check_tolerance(tolerance: Any) -> float:
    if isinstance(tolerance, bool) or not isinstance(tolerance, numbers.Real):
        raise TypeError(f"tolerance must be a real number, not {type(tolerance).__name__}")
    return float(tolerance)


def require(module: str, extra: str) -> Any:
    """Imports an optional dependency, or says which extra provides it."""
    import importlib

    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(
            f"this quillmere_tools function needs {module}; install it with pip install 'quillmere[{extra}]'"
        ) from error


ON_INVALID = ("raise", "warn", "ignore")


def check_on_invalid(on_invalid: Any) -> str:
    if not isinstance(on_invalid, str) or on_invalid not in ON_INVALID:
        raise ValueError(f"on_invalid must be 'raise', 'warn' or 'ignore', not {on_invalid!r}")
    return on_invalid


def check_texts(texts: Any, name: str) -> tuple[Any, ...]:
    """The items of an iterable of texts as a tuple (checked natively: str or None)."""
    if isinstance(texts, (str, bytes, bytearray)):
        raise TypeError(
            f"{name} must be an iterable of str, not a single {type(texts).__name__}; wrap one text in a list"
        )
    if isinstance(texts, tuple):
        return texts
    try:
        return tuple(texts)
    except TypeError:
        raise TypeError(f"{name} must be an iterable of str, not {type(texts).__name__}") from None


def check_text(text: Any, name: str) -> str:
    if not isinstance(text, str):
        raise TypeError(f"{name} must be a str, not {type(text).__name__}")
    return text
