"""The file formats: how each is told from its name, cut into chunks of rows,
smoothed and written back in the same format.

| format | names | how |
|---|---|---|
| GeoJSON document | ``.geojson``, ``.json`` | the whole text through ``smooth_simplify_geojson`` |
| GeoJSON lines / text sequence | ``.geojsonl``, ``.geojsons``, ``.ndjson``, ``.jsonl`` | streamed, one text per line (or per RFC 8142 record) |
| WKT lines | ``.wkt``, ``.txt`` | streamed, one POLYGON or MULTIPOLYGON per line |
| CSV, TSV | ``.csv``, ``.tsv`` | streamed, the geometry column rewritten |
| GeoParquet | ``.parquet`` | row group by row group (see ``parquet.py``) |
"""

from __future__ import annotations

import codecs
import csv
import io
import itertools
import lzma
import mmap
import os
from dataclasses import dataclass, field
from typing import Any, Iterator

import quillmere_tools

from .atomic import AtomicOutput, OutputError
from .files import Input, InputError, strip_compression
from .progress import Progress
from .rows import NOT_UTF8, Rejects, RowError, Settings, reason_line, smooth_texts
from .streaming import byte_chunks, chunk_bytes, run_pipeline

# Format name (the extension without its dot) -> family; the output is always
# written in the input's family.
FORMATS = {
    "geojson": "geojson",
    "json": "geojson",
    "geojsonl": "geojsonl",
    "geojsons": "geojsonl",
    "ndjson": "geojsonl",
    "jsonl": "geojsonl",
    "wkt": "wkt",
    "txt": "wkt",
    "csv": "csv",
    "tsv": "tsv",
    "parquet": "parquet",
}

FAMILY_NAMES = {
    "geojson": "a GeoJSON document",
    "geojsonl": "newline-delimited GeoJSON",
    "wkt": "WKT lines",
    "csv": "CSV",
    "tsv": "TSV",
    "parquet": "GeoParquet",
}

# Default geometry column of CSV and TSV (the first match, any letter case).
GEOMETRY_COLUMNS = ("wkt", "geometry", "geom")

BOM = b"\xef\xbb\xbf"
RS = "\x1e"


def format_of(name: str) -> str | None:
    """The format named by a file's extension (after any compression suffix)."""
    inner, _ = strip_compression(name)
    extension = os.path.splitext(inner)[1].lower().lstrip(".")
    return extension if extension in FORMATS else None


@dataclass
class Job:
    input: Input
    output: AtomicOutput
    settings: Settings
    rejects: Rejects
    progress: Progress
    column: str | None = None
    rows_written: int = 0
    noun: str = "row"
    extra: dict[str, Any] = field(default_factory=dict)

    def input_error(self, error: BaseException) -> BaseException:
        """A failure while reading the input, as the one-line error it is."""
        if isinstance(error, (OSError, EOFError, lzma.LZMAError)):
            reason = getattr(error, "strerror", None) or str(error) or type(error).__name__
            return InputError(f"cannot read {self.input.label}: {reason}")
        return error

    def output_error(self, error: BaseException) -> BaseException:
        if isinstance(error, OSError):
            return OutputError(f"cannot write {self.output.label}: {error.strerror or error}")
        return error


def run(job: Job, family: str) -> None:
    if family == "geojson":
        _run_document(job)
    elif family in ("geojsonl", "wkt"):
        _run_lines(job, "geojson" if family == "geojsonl" else "wkt")
    elif family in ("csv", "tsv"):
        _run_csv(job, family)
    else:
        from .parquet import run_parquet

        run_parquet(job)


# -- GeoJSON document -----------------------------------------------------------------


def _run_document(job: Job) -> None:
    job.noun = "document"
    size = chunk_bytes()
    data: Any
    if job.input.size and job.input.compression is None:
        # A plain file is decoded straight from its pages, without a copy.
        try:
            data = mmap.mmap(job.input.raw.fileno(), 0, access=mmap.ACCESS_READ)
        except (OSError, ValueError) as error:
            raise job.input_error(error) from None
    else:
        pieces = []
        while True:
            try:
                block = job.input.stream.read(size)
            except BaseException as error:
                raise job.input_error(error) from None
            if not block:
                break
            pieces.append(block)
            job.progress.update(job.input.position(), 0)
        data = b"".join(pieces)
        del pieces
    job.progress.update(job.input.position(), 0)
    bom = data[:3] == BOM
    try:
        with memoryview(data) as view:
            text = codecs.decode(view[3:] if bom else view, "utf-8")
    except UnicodeDecodeError as error:
        start = error.start + (3 if bom else 0)
        raise RowError(data[:start].count(b"\n") + 1, NOT_UTF8) from None
    except OSError as error:  # a file that shrank under the map
        raise job.input_error(error) from None
    finally:
        if isinstance(data, mmap.mmap):
            data.close()
    del data
    settings = job.settings
    error_class = quillmere_tools.InvalidGeometryError
    try:
        result = quillmere_tools.smooth_simplify_geojson(
            text, settings.iterations, settings.tolerance, keep_collapsed=settings.keep_collapsed
        )
    except error_class as error:
        # A document is one record: --on-invalid skip cannot leave part of it out.
        raise RowError(reason_line(error.reason), error.reason) from None
    del text
    out = job.output.stream
    try:
        if bom:
            out.write(BOM)
        for start in range(0, len(result), size):
            out.write(result[start : start + size].encode("utf-8"))
    except BaseException as error:
        raise job.output_error(error) from None
    job.rows_written = 1
    job.progress.update(job.input.position(), 1)


# -- GeoJSON lines, text sequences, WKT lines -----------------------------------------------

# Around a line's text: kept aside and written back as found. Spaces and tabs
# go to the readers, which accept them (the GeoJSON rewrite keeps them).
_LINE_SPACE = "\r\x1e"
_RECORD_SPACE = " \t\r\n"


@dataclass
class _LineChunk:
    bodies: list[str]
    lines: list[int] | int  # line of each body, or the first line when they follow each other
    layout: list[tuple[str, int, str]] | None  # (before, body index or -1, after); None: bodies alone
    newline_at_end: bool
    prefix: bytes
    position: int
    joiner: str = "\n"  # between the parts of the layout ("" for RFC 8142 records)
    strict: bool = True  # decoded as UTF-8 without errors
    results: list[str | None] = field(default_factory=list)

    def line(self, index: int) -> int:
        return self.lines + index if isinstance(self.lines, int) else self.lines[index]

    def record(self, index: int) -> str:
        """The text of a row as the reader got it (for the rejects file)."""
        return self.bodies[index]


def _decode(piece: bytes) -> tuple[str, bool]:
    try:
        return piece.decode("utf-8"), True
    except UnicodeDecodeError:
        # Rows that are not UTF-8 are found later, row by row.
        return piece.decode("utf-8", "surrogateescape"), False


def _line_chunks(job: Job, kind: str) -> Iterator[_LineChunk]:
    stream = job.input.stream
    head = stream.peek(4)[:4] if hasattr(stream, "peek") else b""
    prefix = b""
    if head.startswith(BOM):
        stream.read(3)
        prefix = BOM
        head = head[3:] or (stream.peek(1)[:1] if hasattr(stream, "peek") else b"")
    sequence = kind == "geojson" and head[:1] == b"\x1e"
    line = 1
    if sequence:
        pieces = byte_chunks(stream, chunk_bytes(), b"\x1e", before=True)
    else:
        pieces = byte_chunks(stream, chunk_bytes(), b"\n")
    for piece in pieces:
        text, strict = _decode(piece)
        chunk = _split_records(text, line) if sequence else _split_lines(text, line)
        chunk.strict = strict
        chunk.prefix, prefix = prefix, b""
        chunk.position = job.input.position()
        line += piece.count(b"\n")
        del piece, text  # not kept while the chunk waits in the queue
        yield chunk


def _split_lines(text: str, first_line: int, *, plain: bool | None = None) -> _LineChunk:
    lines = text.split("\n")
    newline_at_end = lines[-1] == ""
    if newline_at_end:
        lines.pop()
    if plain is None:
        # Searches for single characters and "\n\n" are fast; a line of spaces
        # alone is found when it fails to read (see _run_lines).
        plain = bool(lines) and lines[0] != "" and "\r" not in text and RS not in text and "\n\n" not in text
    if plain:
        return _LineChunk(lines, first_line, None, newline_at_end, b"", 0)
    bodies: list[str] = []
    numbers: list[int] = []
    layout: list[tuple[str, int, str]] = []
    for offset, raw in enumerate(lines):
        body = raw.strip(_LINE_SPACE)
        if not body.strip():
            layout.append((raw, -1, ""))
            continue
        start = len(raw) - len(raw.lstrip(_LINE_SPACE))
        end = len(raw.rstrip(_LINE_SPACE))
        layout.append((raw[:start], len(bodies), raw[end:]))
        bodies.append(body)
        numbers.append(first_line + offset)
    return _LineChunk(bodies, numbers, layout, newline_at_end, b"", 0)


def _blank_lines_unseen(chunk: _LineChunk) -> bool:
    """A chunk read as plain lines, which has lines of spaces alone."""
    return chunk.layout is None and any(not body.strip() for body in chunk.bodies)


def _with_layout(chunk: _LineChunk) -> _LineChunk:
    text = "\n".join(chunk.bodies) + ("\n" if chunk.newline_at_end else "")
    assert isinstance(chunk.lines, int)
    again = _split_lines(text, chunk.lines, plain=False)
    again.prefix, again.position, again.strict = chunk.prefix, chunk.position, chunk.strict
    return again


def _split_records(text: str, first_line: int) -> _LineChunk:
    """RFC 8142: records start with the record separator and may span lines."""
    bodies: list[str] = []
    numbers: list[int] = []
    layout: list[tuple[str, int, str]] = []
    line = first_line
    for number, part in enumerate(text.split(RS)):
        separator = RS if number else ""
        if not number and not part:
            continue
        body = part.strip(_RECORD_SPACE)
        if not body:
            layout.append((separator + part, -1, ""))
        else:
            start = len(part) - len(part.lstrip(_RECORD_SPACE))
            end = len(part.rstrip(_RECORD_SPACE))
            layout.append((separator + part[:start], len(bodies), part[end:]))
            numbers.append(line + part.count("\n", 0, start))
            bodies.append(body)
        line += part.count("\n")
    return _LineChunk(bodies, numbers, layout, False, b"", 0, joiner="")


def _run_lines(job: Job, kind: str) -> None:
    out = job.output.stream

    def process(chunk: _LineChunk) -> _LineChunk:
        rejected: list[tuple[int, str]] = []
        try:
            chunk.results = smooth_texts(
                kind, chunk.bodies, chunk.line, job.settings, lambda i, reason: rejected.append((i, reason)),
                maybe_undecodable=not chunk.strict,
            )  # fmt: skip
        except RowError:
            if _blank_lines_unseen(chunk):
                return process(_with_layout(chunk))
            raise
        if rejected and _blank_lines_unseen(chunk):
            return process(_with_layout(chunk))
        for index, reason in rejected:
            job.rejects.add(chunk.line(index), reason, chunk.record(index))
        chunk.bodies = []  # only the results are written
        job.rows_written += len(chunk.results) - chunk.results.count(None)
        job.progress.update(chunk.position, job.rows_written)
        return chunk

    def write(chunk: _LineChunk) -> None:
        if chunk.prefix:
            out.write(chunk.prefix)
        results = chunk.results
        if chunk.layout is None:
            if None in results:
                results = [r for r in results if r is not None]
            if results:
                text = "\n".join(results)  # type: ignore[arg-type]
                out.write(text.encode("utf-8"))
                if chunk.newline_at_end:
                    out.write(b"\n")
            return
        parts = []
        for before, index, after in chunk.layout:
            if index < 0:
                parts.append(before + after)
            elif results[index] is not None:
                parts.append(before + results[index] + after)  # type: ignore[operator]
        text = chunk.joiner.join(parts)
        if chunk.newline_at_end and parts:
            text += "\n"
        out.write(text.encode("utf-8", "surrogateescape"))

    run_pipeline(_line_chunks(job, kind), process, write, source_error=job.input_error, sink_error=job.output_error)


# -- CSV and TSV ------------------------------------------------------------------------


@dataclass
class _CsvChunk:
    rows: list[list[str]]
    starts: list[int]
    header: bool
    position: int
    prefix: bytes = b""


class _CountingLines:
    """Iterates lines and counts their characters (for the chunk size)."""

    def __init__(self, lines: Any) -> None:
        self._lines = lines
        self.characters = 0

    def __iter__(self) -> Iterator[str]:
        for line in self._lines:
            self.characters += len(line)
            yield line


def _dialect(first_line: str, family: str, column: str | None) -> type[csv.Dialect]:
    body = first_line.rstrip("\r\n")
    ending = first_line[len(body) :] or "\n"
    if ending not in ("\n", "\r\n", "\r"):
        ending = "\n"
    if family == "tsv":
        delimiter = "\t"
    else:
        wanted = (column,) if column is not None else GEOMETRY_COLUMNS
        delimiter = ","
        for candidate in (",", ";", "\t", "|"):
            names = next(csv.reader([body], delimiter=candidate), [])
            if any(name.strip().lower() in wanted for name in names):
                delimiter = candidate
                break
    names = next(csv.reader([body], delimiter=delimiter), [])
    quote_all = bool(names) and body.startswith('"') and body.endswith('"') and body.count('"' + delimiter + '"') == len(names) - 1

    class Dialect(csv.Dialect):
        pass

    Dialect.delimiter = delimiter
    Dialect.quotechar = '"'
    Dialect.doublequote = True
    Dialect.skipinitialspace = False
    Dialect.lineterminator = ending
    Dialect.quoting = csv.QUOTE_ALL if quote_all else csv.QUOTE_MINIMAL
    Dialect.strict = False
    return Dialect


def _geometry_index(header: list[str], column: str | None) -> int:
    if column is not None:
        for index, name in enumerate(header):
            if name == column:
                return index
        for index, name in enumerate(header):
            if name.strip().lower() == column.strip().lower():
                return index
        raise RowError(1, f"no column named {column!r} (columns: {', '.join(header)})")
    for index, name in enumerate(header):
        if name.strip().lower() in GEOMETRY_COLUMNS:
            return index
    raise RowError(1, f"no geometry column named wkt, geometry or geom: give --column (columns: {', '.join(header)})")


def _csv_chunks(job: Job, family: str) -> Iterator[_CsvChunk]:
    text = io.TextIOWrapper(job.input.stream, encoding="utf-8", errors="surrogateescape", newline="")  # type: ignore[arg-type]
    first = text.readline()
    prefix = b""
    if first.startswith("\ufeff"):
        first = first[1:]
        prefix = BOM
    dialect = _dialect(first, family, job.column)
    job.extra["dialect"] = dialect
    lines = _CountingLines(itertools.chain([first], text))
    reader = csv.reader(lines, dialect)
    size = chunk_bytes()
    rows: list[list[str]] = []
    starts: list[int] = []
    last = 0
    header = True
    for row in reader:
        starts.append(last + 1)
        last = reader.line_num
        rows.append(row)
        if header and len(rows) == 1:
            job.extra["geometry"] = _geometry_index(row, job.column)
        if lines.characters >= size:
            yield _CsvChunk(rows, starts, header, job.input.position(), prefix)
            rows, starts, header, prefix = [], [], False, b""
            lines.characters = 0
    if rows or header:
        yield _CsvChunk(rows, starts, header, job.input.position(), prefix)


def _run_csv(job: Job, family: str) -> None:
    out = job.output.stream
    settings = job.settings

    def row_text(row: list[str]) -> str:
        buffer = io.StringIO()
        csv.writer(buffer, job.extra["dialect"]).writerow(row)
        return buffer.getvalue().rstrip("\r\n")

    def process(chunk: _CsvChunk) -> _CsvChunk:
        if not chunk.rows:
            return chunk
        index = job.extra["geometry"]
        groups: dict[str, tuple[list[int], list[str]]] = {"wkt": ([], []), "geojson": ([], [])}
        problems: list[RowError] = []
        rejected: list[tuple[int, str]] = []
        first = 1 if chunk.header else 0
        rows = chunk.rows
        for number in range(first, len(rows)):
            row = rows[number]
            if len(row) <= index:
                if not row:
                    continue  # a blank line
                reason = f"row has {len(row)} fields, no geometry column (field {index + 1})"
                if not settings.skip_invalid:
                    problems.append(RowError(chunk.starts[number], reason))
                    break
                rejected.append((number, reason))
                continue
            cell = row[index].strip()
            if not cell:
                continue  # no geometry
            positions, texts = groups["geojson" if cell[0] == "{" else "wkt"]
            positions.append(number)
            texts.append(cell)
        for kind, (positions, texts) in groups.items():
            try:
                results = smooth_texts(
                    kind,
                    texts,
                    lambda i, positions=positions: chunk.starts[positions[i]],  # type: ignore[misc]
                    settings,
                    lambda i, reason, positions=positions: rejected.append((positions[i], reason)),  # type: ignore[misc]
                )
            except RowError as problem:
                problems.append(problem)
                continue
            for position, result in zip(positions, results):
                if result is not None:
                    rows[position][index] = result
        if problems:
            raise min(problems, key=lambda p: p.line)
        for position, reason in sorted(rejected):
            row = rows[position]
            job.rejects.add(chunk.starts[position], reason, row_text(row))
            if len(row) > index:
                row[index] = ""
        job.rows_written += sum(1 for row in rows[first:] if row)
        job.progress.update(chunk.position, job.rows_written)
        return chunk

    def write(chunk: _CsvChunk) -> None:
        buffer = io.StringIO()
        csv.writer(buffer, job.extra["dialect"]).writerows(chunk.rows)
        if chunk.prefix:
            out.write(chunk.prefix)
        out.write(buffer.getvalue().encode("utf-8", "surrogateescape"))

    run_pipeline(_csv_chunks(job, family), process, write, source_error=job.input_error, sink_error=job.output_error)

