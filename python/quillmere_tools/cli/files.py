"""Opening the input (a file or standard input, compressed or not) and the
compressed writers of outputs.

Compression of the input is recognised from its first bytes (gzip, bzip2, xz),
whatever its name; compression of an output comes from its name's last
extension (``.gz``, ``.bz2``, ``.xz``).
"""

from __future__ import annotations

import bz2
import gzip
import lzma
import os
import stat
import sys
from dataclasses import dataclass
from typing import BinaryIO

COMPRESSIONS = (".gz", ".bz2", ".xz")

_MAGIC = (
    (b"\x1f\x8b", "gz"),
    (b"BZh", "bz2"),
    (b"\xfd7zXZ\x00", "xz"),
)

# Errors that a damaged compressed stream raises while it is read.
DAMAGED = (EOFError, gzip.BadGzipFile, lzma.LZMAError)


class InputError(Exception):
    """The input cannot be opened or read (exit status 1, one line)."""


@dataclass
class Input:
    name: str  # as the user gave it ("-" for standard input)
    label: str  # for messages: the path, or "<stdin>"
    raw: BinaryIO  # the file as stored
    stream: BinaryIO  # decompressed bytes
    size: int | None  # bytes of the stored file, when known (regular files)
    compression: str | None

    def position(self) -> int:
        """Bytes of the stored file consumed so far (for the progress bar)."""
        try:
            return self.raw.tell()
        except (OSError, ValueError):
            return 0

    def close(self) -> None:
        if self.stream is not self.raw:
            self.stream.close()
        if self.name != "-":
            self.raw.close()


def strip_compression(name: str) -> tuple[str, str | None]:
    """``"a.wkt.gz"`` -> ``("a.wkt", "gz")``."""
    lower = name.lower()
    for suffix in COMPRESSIONS:
        if lower.endswith(suffix):
            return name[: -len(suffix)], suffix[1:]
    return name, None


def open_input(name: str) -> Input:
    if name == "-":
        raw = sys.stdin.buffer
        label = "<stdin>"
    else:
        label = name
        try:
            if os.path.isdir(name):
                raise InputError(f"cannot read {name}: Is a directory")
            raw = open(name, "rb")  # noqa: SIM115 - closed by Input.close
        except OSError as error:
            raise InputError(f"cannot read {name}: {error.strerror or error}") from None
    size = None
    try:
        info = os.fstat(raw.fileno())
        if stat.S_ISREG(info.st_mode):
            size = info.st_size
    except (OSError, ValueError, AttributeError):
        pass
    try:
        head = raw.peek(6)[:6] if hasattr(raw, "peek") else b""
    except OSError as error:
        raise InputError(f"cannot read {label}: {error.strerror or error}") from None
    compression = next((kind for magic, kind in _MAGIC if head.startswith(magic)), None)
    stream: BinaryIO = raw
    if compression == "gz":
        stream = gzip.GzipFile(fileobj=raw, mode="rb")  # type: ignore[assignment]
    elif compression == "bz2":
        stream = bz2.BZ2File(raw, mode="rb")  # type: ignore[assignment]
    elif compression == "xz":
        stream = lzma.LZMAFile(raw, mode="rb")  # type: ignore[assignment]
    return Input(name, label, raw, stream, size, compression)


def compressing_writer(raw: BinaryIO, compression: str | None, inner_name: str) -> BinaryIO:
    """A writer that compresses into ``raw`` (itself when ``compression`` is None)."""
    if compression == "gz":
        # No time stamp: the same input gives the same bytes.
        # Level 6, as the gzip command: level 9 (GzipFile's default) is several
        # times slower for a few per cent.
        return gzip.GzipFile(filename=os.path.basename(inner_name), mode="wb", fileobj=raw, mtime=0, compresslevel=6)  # type: ignore[return-value]
    if compression == "bz2":
        return bz2.BZ2File(raw, mode="wb")  # type: ignore[return-value]
    if compression == "xz":
        return lzma.LZMAFile(raw, mode="wb")  # type: ignore[return-value]
    return raw
