"""The progress bar: tqdm on standard error, only when standard error is a
terminal, the input's size is known and ``--quiet`` is not given. Without
tqdm installed (the ``cli`` extra) there is simply no bar."""

from __future__ import annotations

import sys
import time
from typing import Any


class Progress:
    def __init__(self, total_bytes: int | None, *, quiet: bool, label: str) -> None:
        self.rows = 0
        self._started = time.perf_counter()
        self._bar: Any = None
        if quiet or total_bytes is None or not _is_terminal(sys.stderr):
            return
        try:
            from tqdm import tqdm
        except ImportError:
            return
        self._bar = tqdm(
            total=total_bytes,
            unit="B",
            unit_scale=True,
            unit_divisor=1024,
            desc=label,
            file=sys.stderr,
            leave=False,
            dynamic_ncols=True,
            miniters=1,
        )

    @property
    def active(self) -> bool:
        return self._bar is not None

    def update(self, position: int, rows: int) -> None:
        """``position``: bytes of the stored input consumed; ``rows``: rows done so far."""
        self.rows = rows
        if self._bar is None:
            return
        self._bar.update(max(0, position - self._bar.n))
        elapsed = time.perf_counter() - self._started
        if elapsed > 0:
            self._bar.set_postfix_str(f"{rows / elapsed:,.0f} rows/s", refresh=False)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None


def _is_terminal(stream: Any) -> bool:
    try:
        return bool(stream.isatty())
    except (AttributeError, ValueError):
        return False
