"""Smoothing one chunk of geometry texts, and what happens to invalid rows:
with ``--on-invalid raise`` the first one stops the run (``RowError``), with
``skip`` each is reported to the rejects file and its result is ``None``."""

from __future__ import annotations

import json
import re
from dataclasses import dataclass
from typing import Any, BinaryIO, Callable, Sequence

import quillmere_tools


class RowError(Exception):
    """A bad row under ``--on-invalid raise``: ``INPUT:LINE: reason``."""

    def __init__(self, line: int, reason: str) -> None:
        super().__init__(f"{line}: {reason}")
        self.line = line
        self.reason = reason


@dataclass
class Settings:
    iterations: int
    tolerance: float
    keep_collapsed: bool
    skip_invalid: bool


_JSON_LINE = re.compile(r"\bline:? (\d+)")


def reason_line(reason: str) -> int:
    """The line within a text that a reader's message names (``line: 3``), else 1."""
    found = _JSON_LINE.search(reason)
    return int(found.group(1)) if found else 1


class Rejects:
    """The ``--rejects`` file: one JSON object a line,
    ``{"line": N, "reason": "...", "record": "..."}`` (``"row"`` instead of
    ``"line"`` for GeoParquet), in input order."""

    def __init__(self, stream: BinaryIO | None, key: str = "line") -> None:
        self._stream = stream
        self._key = key
        self.count = 0

    def add(self, where: int, reason: str, record: Any) -> None:
        self.count += 1
        if self._stream is not None:
            entry = {self._key: where, "reason": reason, "record": record}
            text = json.dumps(entry, ensure_ascii=False) + "\n"
            self._stream.write(text.encode("utf-8", "surrogatepass"))


def _function(kind: str) -> Callable[..., list[str | None]]:
    if kind == "wkt":
        return quillmere_tools.smooth_simplify_wkts
    return quillmere_tools.smooth_simplify_geojsons


def _has_surrogates(text: str) -> bool:
    # Input bytes that are not UTF-8 arrive as lone surrogates (surrogateescape).
    return not text.isascii() and _SURROGATE.search(text) is not None


_SURROGATE = re.compile("[\udc80-\udcff]")
NOT_UTF8 = "not valid UTF-8"


def smooth_texts(
    kind: str,
    texts: Sequence[str],
    lines: Callable[[int], int],
    settings: Settings,
    reject: Callable[[int, str], None],
    *,
    maybe_undecodable: bool = True,
) -> list[str | None]:
    """Results of ``texts`` (``kind`` "wkt" or "geojson"), in order.

    ``lines(i)`` is the input line of ``texts[i]``; ``reject(i, reason)`` is
    called for each invalid text when invalid rows are skipped (their result is
    ``None``), in order. Otherwise the lowest invalid index raises ``RowError``.
    ``maybe_undecodable``: the texts may hold input bytes that were not UTF-8
    (as lone surrogates), to be reported as such.
    """
    if not texts:
        return []
    function = _function(kind)
    error_class = quillmere_tools.InvalidGeometryError
    texts, undecodable = _set_aside_undecodable(texts) if maybe_undecodable else (texts, [])
    if not settings.skip_invalid:
        # The lowest invalid index wins, whether unreadable text or geometry.
        before = texts[: undecodable[0]] if undecodable else texts
        try:
            results = function(before, settings.iterations, settings.tolerance, keep_collapsed=settings.keep_collapsed)
        except error_class as error:
            index = error.index
            raise RowError(lines(index) + reason_line(error.reason) - 1, error.reason) from None
        if undecodable:
            raise RowError(lines(undecodable[0]), NOT_UTF8)
        return results
    results = function(
        texts, settings.iterations, settings.tolerance, on_invalid="ignore", keep_collapsed=settings.keep_collapsed
    )
    undecodable_set = set(undecodable)
    for index, result in enumerate(results):
        if result is not None:
            continue
        if index in undecodable_set:
            reason = NOT_UTF8
        else:
            reason = _reason(function, error_class, texts[index], settings)
        reject(index, reason)
    return results


def _set_aside_undecodable(texts: Sequence[str]) -> tuple[Sequence[str], list[int]]:
    bad = [i for i, text in enumerate(texts) if _has_surrogates(text)]
    if not bad:
        return texts, []
    kept = list(texts)
    for i in bad:
        kept[i] = ""  # invalid for both readers, so its result is None
    return kept, bad


def _reason(function: Callable[..., Any], error_class: type[BaseException], text: str, settings: Settings) -> str:
    """The reader's message for one invalid text (invalid rows are rare: they
    are read a second time, alone, to learn why)."""
    try:
        function([text], settings.iterations, settings.tolerance, keep_collapsed=settings.keep_collapsed)
    except error_class as error:
        return str(getattr(error, "reason", error))
    return "invalid geometry"
