"""The three-stage pipeline: a reader thread, the calling thread and a writer
thread, joined by small bounded queues so that at most a few chunks are in
memory at once, in input order.

The calling thread does the smoothing (the native functions release the
interpreter lock, so the reader and the writer run meanwhile). An exception in
any stage stops the other two and is raised in the calling thread; so is
Ctrl-C, which only the calling thread receives.
"""

from __future__ import annotations

import os
import queue
import threading
from typing import Any, Callable, Iterable, Iterator

# A few MB per chunk: large enough for the native calls to keep every worker
# busy, small enough that peak memory does not depend on the file.
DEFAULT_CHUNK_BYTES = 4 << 20
# How many chunks wait between two stages.
DEPTH = 2
_POLL = 0.05


def chunk_bytes() -> int:
    # Tests shrink the chunks to cross many chunk boundaries in small files.
    value = os.environ.get("QUILLMERE_CLI_CHUNK_BYTES")
    return max(1, int(value)) if value else DEFAULT_CHUNK_BYTES


class _End:
    pass


class _Failed:
    def __init__(self, error: BaseException) -> None:
        self.error = error


_END = _End()


class Stopped(Exception):
    """Raised inside a stage thread when the pipeline is being torn down."""


def run_pipeline(
    source: Iterable[Any],
    process: Callable[[Any], Any],
    sink: Callable[[Any], None],
    *,
    source_error: Callable[[BaseException], BaseException] = lambda error: error,
    sink_error: Callable[[BaseException], BaseException] = lambda error: error,
    depth: int = DEPTH,
) -> None:
    """``for item in source: sink(process(item))`` with ``source`` iterated in a
    reader thread and ``sink`` called in a writer thread. ``source_error`` and
    ``sink_error`` translate the exceptions of those stages (to tell a reading
    failure from a writing one)."""
    stop = threading.Event()
    inbox: queue.Queue[Any] = queue.Queue(depth)
    outbox: queue.Queue[Any] = queue.Queue(depth)
    writer_failure: list[BaseException] = []

    def put(box: queue.Queue[Any], item: Any) -> None:
        while True:
            if stop.is_set():
                raise Stopped
            try:
                box.put(item, timeout=_POLL)
                return
            except queue.Full:
                continue

    def read() -> None:
        try:
            for item in source:
                put(inbox, item)
            put(inbox, _END)
        except Stopped:
            pass
        except BaseException as error:  # noqa: BLE001 - handed to the calling thread
            try:
                put(inbox, _Failed(source_error(error)))
            except Stopped:
                pass

    def write() -> None:
        try:
            while not stop.is_set():
                try:
                    item = outbox.get(timeout=_POLL)
                except queue.Empty:
                    continue
                if item is _END:
                    return
                sink(item)
        except BaseException as error:  # noqa: BLE001 - handed to the calling thread
            writer_failure.append(sink_error(error))
            stop.set()

    reader = threading.Thread(target=read, name="quillmere-reader", daemon=True)
    writer = threading.Thread(target=write, name="quillmere-writer", daemon=True)
    reader.start()
    writer.start()
    finished = False
    try:
        while True:
            item = _get(inbox, writer_failure)
            if item is _END:
                break
            if isinstance(item, _Failed):
                raise item.error
            result = process(item)
            del item
            _put_checked(outbox, result, writer_failure)
            del result
        _put_checked(outbox, _END, writer_failure)
        while writer.is_alive():
            writer.join(_POLL)
        if writer_failure:
            raise writer_failure[0]
        finished = True
    finally:
        stop.set()
        if not finished:
            # The writer stops after its current write; the reader may sit in a
            # blocking read of a pipe, and is a daemon thread.
            writer.join(5.0)
        reader.join(0.5 if not finished else 5.0)


def _get(box: queue.Queue[Any], writer_failure: list[BaseException]) -> Any:
    while True:
        if writer_failure:
            raise writer_failure[0]
        try:
            return box.get(timeout=_POLL)
        except queue.Empty:
            continue


def _put_checked(box: queue.Queue[Any], item: Any, writer_failure: list[BaseException]) -> None:
    while True:
        if writer_failure:
            raise writer_failure[0]
        try:
            box.put(item, timeout=_POLL)
            return
        except queue.Full:
            continue


def byte_chunks(stream: Any, size: int, boundary: bytes, *, before: bool = False) -> Iterator[bytes]:
    """Reads ``stream`` in blocks of about ``size`` bytes and yields pieces that
    end just after the last ``boundary`` byte in them (or, with ``before``, just
    before it), so that no record is cut; the last piece is whatever remains.
    A record longer than ``size`` makes its piece longer."""
    pending: list[bytes] = []
    pending_length = 0
    while True:
        block = stream.read(size)
        if not block:
            break
        cut = block.rfind(boundary)
        if before and cut == 0 and not pending:
            # A piece starts with its boundary: look for the next one.
            cut = -1
        if cut < 0:
            pending.append(block)
            pending_length += len(block)
            continue
        if not before:
            cut += len(boundary)
        pending.append(block[:cut])
        yield b"".join(pending)
        pending = [block[cut:]] if cut < len(block) else []
        pending_length = len(block) - cut
    if pending_length or pending:
        rest = b"".join(pending)
        if rest:
            yield rest
