"""Outputs that are never half-written.

A file output is written to a temporary file in the output's own folder
(``.NAME.XXXXXXXX.tmp``, so the final rename stays on one file system), which
is flushed to disk and renamed over ``NAME`` only when the whole run has
succeeded. On any failure, or Ctrl-C, the temporary file is removed and an
existing ``NAME`` is left untouched. Standard output (``-``) is a stream: what
was written before a failure has been written.
"""

from __future__ import annotations

import os
import sys
import tempfile
from typing import BinaryIO

from .files import compressing_writer, strip_compression


class OutputError(Exception):
    """The output cannot be created or written (exit status 1, one line)."""


def _describe(error: OSError) -> str:
    return error.strerror or str(error)


class AtomicOutput:
    """``stream`` is the binary writer (compressing when the name says so);
    ``commit()`` publishes the file, ``discard()`` removes every trace."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.label = "<stdout>" if name == "-" else name
        self._temp: str | None = None
        self._raw: BinaryIO | None = None
        if name == "-":
            self.stream: BinaryIO = sys.stdout.buffer
            return
        if os.path.isdir(name):
            raise OutputError(f"cannot write {name}: Is a directory")
        folder = os.path.dirname(os.path.abspath(name))
        try:
            fd, self._temp = tempfile.mkstemp(prefix=f".{os.path.basename(name)}.", suffix=".tmp", dir=folder)
        except OSError as error:
            raise OutputError(f"cannot write {name}: {_describe(error)}") from None
        self._raw = os.fdopen(fd, "wb", buffering=1 << 20)
        inner, compression = strip_compression(name)
        self.stream = compressing_writer(self._raw, compression, inner)

    def commit(self) -> None:
        if self._temp is None:
            try:
                self.stream.flush()
            except OSError as error:
                raise OutputError(f"cannot write {self.label}: {_describe(error)}") from None
            return
        assert self._raw is not None
        try:
            if self.stream is not self._raw:
                self.stream.close()  # writes the compressed stream's end
            self._raw.flush()
            os.fsync(self._raw.fileno())
            os.fchmod(self._raw.fileno(), _final_mode(self.name))
            self._raw.close()
            os.replace(self._temp, self.name)
        except OSError as error:
            self.discard()
            raise OutputError(f"cannot write {self.name}: {_describe(error)}") from None
        self._temp = None

    def discard(self) -> None:
        if self._temp is None:
            return
        for closing in (self.stream, self._raw):
            try:
                if closing is not None:
                    closing.close()
            except (OSError, ValueError):
                pass
        try:
            os.unlink(self._temp)
        except OSError:
            pass
        self._temp = None


def _final_mode(name: str) -> int:
    """The mode of the file being replaced, else what ``open`` would give."""
    try:
        return os.stat(name).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask
