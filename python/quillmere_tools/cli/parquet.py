"""GeoParquet: row group by row group, through the array path.

The geometry column is the GeoParquet primary column (or ``--column``), in
one of the GeoParquet encodings:

- ``WKB``: read with shapely, smoothed with ``quillmere_tools.smooth_simplify``
  and written back as ISO WKB; rows that hold no Polygon or MultiPolygon keep
  their bytes;
- GeoArrow ``polygon`` / ``multipolygon`` (interleaved or separated x/y): the
  coordinate and offset buffers go straight to ``smooth_simplify_ragged``;
- a plain Parquet file with ``--column`` naming a binary (WKB) or string (WKT)
  column is read the same way.

Every other column, the row groups, the schema and its metadata are kept
(compression: the codec of the input's first column chunk). A bad geometry
stops the run with its row number (1-based, over the whole file), or with
``--on-invalid skip`` becomes null. The GeoParquet ``bbox`` of the column
stays valid (results lie within the input's extent); a bbox covering column
(GeoParquet 1.1) is recomputed for every row (null for null or empty
geometries). Input from standard input or compressed is first copied to a
temporary file, since Parquet is read from its end.
"""

from __future__ import annotations

import json
import shutil
import tempfile
from typing import TYPE_CHECKING, Any

import quillmere_tools

from .files import InputError
from .rows import RowError, smooth_texts
from .streaming import run_pipeline

if TYPE_CHECKING:
    from .formats import Job

_EXTRA = "quillmere[parquet]"


def _require() -> tuple[Any, Any, Any, Any]:
    try:
        import numpy as np
        import pyarrow as pa
        import pyarrow.parquet as pq
        import shapely
    except ImportError as error:
        raise ImportError(
            f"GeoParquet needs pyarrow, shapely and numpy ({error.name} is missing): pip install '{_EXTRA}'"
        ) from None
    return np, pa, pq, shapely


class _Unsupported(Exception):
    """The file cannot be handled as a whole (not a row's fault)."""


class _Column:
    """How the geometry column is read and written."""

    def __init__(self, name: str, encoding: str, covering: dict[str, Any] | None) -> None:
        self.name = name
        self.encoding = encoding
        self.covering = covering


def run_parquet(job: Job) -> None:
    np, pa, pq, shapely = _require()
    spooled = None
    try:
        source: Any = job.input.raw
        if job.input.compression is not None or job.input.name == "-":
            spooled = tempfile.TemporaryFile()  # noqa: SIM115 - closed below
            try:
                shutil.copyfileobj(job.input.stream, spooled, 1 << 20)
            except BaseException as error:
                raise job.input_error(error) from None
            spooled.seek(0)
            source = spooled
        try:
            parquet = pq.ParquetFile(source)
        except (pa.ArrowInvalid, OSError) as error:
            raise job.input_error(OSError(f"not a Parquet file ({error})")) from None
        try:
            _run(job, parquet, np, pa, pq, shapely)
        except _Unsupported as error:
            raise InputError(f"{job.input.label}: {error}") from None
    finally:
        if spooled is not None:
            spooled.close()


def _geometry_column(job: Job, schema: Any, pa: Any) -> tuple[_Column, dict[str, Any] | None]:
    metadata = schema.metadata or {}
    geo = None
    if b"geo" in metadata:
        try:
            geo = json.loads(metadata[b"geo"])
        except ValueError:
            raise _Unsupported("the 'geo' metadata is not JSON") from None
    name = job.column or (geo or {}).get("primary_column")
    if name is None:
        raise _Unsupported("not a GeoParquet file (no 'geo' metadata): give --column")
    if schema.get_field_index(name) < 0:
        raise _Unsupported(f"no column named {name!r} (columns: {', '.join(schema.names)})")
    described = ((geo or {}).get("columns") or {}).get(name)
    kind = schema.field(name).type
    if described is not None:
        encoding = str(described.get("encoding", "WKB"))
        covering = (described.get("covering") or {}).get("bbox")
    elif pa.types.is_binary(kind) or pa.types.is_large_binary(kind):
        encoding, covering = "WKB", None
    elif pa.types.is_string(kind) or pa.types.is_large_string(kind):
        encoding, covering = "WKT", None
    else:
        raise _Unsupported(f"column {name!r} holds {kind}, not WKB, WKT or GeoArrow geometries")
    if encoding not in ("WKB", "WKT", "polygon", "multipolygon", "point", "linestring", "multipoint", "multilinestring"):
        raise _Unsupported(f"column {name!r}: unsupported geometry encoding {encoding!r}")
    return _Column(name, encoding, covering), geo


def _run(job: Job, parquet: Any, np: Any, pa: Any, pq: Any, shapely: Any) -> None:
    schema = parquet.schema_arrow
    column, geo = _geometry_column(job, schema, pa)
    if geo is not None and column.encoding == "WKB":
        # Smoothed polygons are 2-D.
        described = geo["columns"][column.name]
        types = described.get("geometry_types")
        if isinstance(types, list):
            described["geometry_types"] = list(
                dict.fromkeys(t[:-2] if t in ("Polygon Z", "MultiPolygon Z") else t for t in types)
            )
        schema = schema.with_metadata({**schema.metadata, b"geo": json.dumps(geo).encode()})
    metadata = parquet.metadata
    codec = "snappy"
    if metadata.num_row_groups and metadata.num_columns:
        codec = metadata.row_group(0).column(0).compression.lower()
        if codec == "uncompressed":
            codec = "none"
    size = job.input.size or 0
    groups = parquet.num_row_groups
    try:
        writer = pq.ParquetWriter(job.output.stream, schema, compression=codec)
    except BaseException as error:
        raise job.output_error(error) from None
    first_row = [0]

    def read() -> Any:
        for number in range(groups):
            table = parquet.read_row_group(number)
            yield table, (size * (number + 1)) // max(groups, 1)

    def process(item: Any) -> Any:
        table, position = item
        table = _smooth_table(job, table, column, first_row[0], np, pa, shapely)
        first_row[0] += table.num_rows
        job.rows_written += table.num_rows
        job.progress.update(position, job.rows_written)
        return table

    def write(table: Any) -> None:
        writer.write_table(table, row_group_size=max(table.num_rows, 1))

    try:
        # Row groups can be large: one waits on each side.
        run_pipeline(read(), process, write, source_error=job.input_error, sink_error=job.output_error, depth=1)
        try:
            writer.close()
        except BaseException as error:
            raise job.output_error(error) from None
    except BaseException:
        try:
            writer.close()
        except BaseException:  # noqa: BLE001 - the output is discarded anyway
            pass
        raise


def _smooth_table(job: Job, table: Any, column: _Column, first_row: int, np: Any, pa: Any, shapely: Any) -> Any:
    index = table.schema.get_field_index(column.name)
    field = table.schema.field(index)
    chunks = []
    geometries = []
    row = first_row
    for chunk in table.column(index).chunks:
        new_chunk, shapes = _smooth_chunk(job, chunk, column, row, np, pa, shapely)
        chunks.append(new_chunk)
        geometries.append(shapes)
        row += len(chunk)
    table = table.set_column(index, field, pa.chunked_array(chunks, type=field.type))
    if column.covering:
        table = _recompute_covering(table, column.covering, geometries, np, pa, shapely)
    return table


def _smooth_chunk(job: Job, chunk: Any, column: _Column, first_row: int, np: Any, pa: Any, shapely: Any) -> Any:
    """The new chunk, and its geometries as shapely objects when a covering needs them."""
    settings = job.settings
    if column.encoding == "WKB":
        return _smooth_wkb(job, chunk, first_row, np, pa, shapely)
    if column.encoding == "WKT":
        texts = chunk.to_pylist()
        where = [i for i, t in enumerate(texts) if t is not None and t.strip()]
        rejected: list[int] = []

        def reject(i: int, reason: str) -> None:
            rejected.append(where[i])
            job.rejects.add(first_row + where[i] + 1, reason, texts[where[i]])

        results = smooth_texts("wkt", [texts[i] for i in where], lambda i: first_row + where[i] + 1, settings, reject)
        for i, result in zip(where, results):
            texts[i] = result
        new_chunk = pa.array(texts, type=chunk.type)
        shapes = shapely.from_wkt(np.array(texts, dtype=object)) if column.covering else None
        return new_chunk, shapes
    if column.encoding in ("polygon", "multipolygon"):
        return _smooth_geoarrow(job, chunk, column.encoding, np, pa, shapely, column.covering is not None)
    # Points and lines: nothing to smooth.
    shapes = _geoarrow_shapes(chunk, column.encoding, np, shapely) if column.covering else None
    return chunk, shapes


def _smooth_wkb(job: Job, chunk: Any, first_row: int, np: Any, pa: Any, shapely: Any) -> Any:
    values = chunk.to_numpy(zero_copy_only=False)
    present = np.asarray(chunk.is_valid())
    geometries = shapely.from_wkb(values, on_invalid="ignore")
    bad = np.flatnonzero(present & shapely.is_missing(geometries))
    if bad.size:
        if not job.settings.skip_invalid:
            raise RowError(first_row + int(bad[0]) + 1, _wkb_reason(values[bad[0]], shapely))
        values = values.copy()
        for i in bad:
            job.rejects.add(first_row + int(i) + 1, _wkb_reason(values[i], shapely), bytes(values[i]).hex())
            values[i] = None
    types = shapely.get_type_id(geometries)
    polygons = np.flatnonzero((types == 3) | (types == 6))
    if polygons.size:
        smoothed = quillmere_tools.smooth_simplify(
            geometries[polygons], job.settings.iterations, job.settings.tolerance,
            keep_collapsed=job.settings.keep_collapsed,
        )  # fmt: skip
        geometries[polygons] = smoothed
        values[polygons] = _to_wkb(shapely, smoothed)
    return pa.array(values, type=chunk.type), geometries


def _to_wkb(shapely: Any, geometries: Any) -> Any:
    try:
        return shapely.to_wkb(geometries, flavor="iso")
    except TypeError:  # shapely < 2.1 writes ISO WKB for 2-D geometries anyway
        return shapely.to_wkb(geometries)


def _wkb_reason(value: Any, shapely: Any) -> str:
    try:
        shapely.from_wkb(value)
    except Exception as error:  # noqa: BLE001 - GEOS's message is the reason
        return str(error)
    return "invalid WKB"


def _levels(chunk: Any, depth: int, np: Any) -> tuple[list[Any], Any]:
    """Offsets of each list level (outermost first, starting at 0) and the coordinates array."""
    offsets = []
    array = chunk
    for _ in range(depth):
        level = np.asarray(array.offsets)
        start, end = int(level[0]), int(level[-1])
        offsets.append(level - start)
        array = array.values.slice(start, end - start)
    return offsets, array


def _xy(coordinates: Any, np: Any, pa: Any) -> Any:
    if pa.types.is_fixed_size_list(coordinates.type):
        width = coordinates.type.list_size
        if width != 2:
            raise _Unsupported("3-D GeoArrow coordinates are not supported: write the column as WKB")
        return np.asarray(coordinates.flatten()).reshape(-1, 2)
    fields = coordinates.flatten()
    if len(fields) != 2:
        raise _Unsupported("3-D GeoArrow coordinates are not supported: write the column as WKB")
    return np.column_stack([np.asarray(fields[0]), np.asarray(fields[1])])


def _smooth_geoarrow(job: Job, chunk: Any, encoding: str, np: Any, pa: Any, shapely: Any, want_shapes: bool) -> Any:
    depth = 2 if encoding == "polygon" else 3
    kind = 3 if encoding == "polygon" else 6
    if len(chunk) == 0:
        return chunk, (np.empty(0, dtype=object) if want_shapes else None)
    offsets, coordinates = _levels(chunk, depth, np)
    xy = _xy(coordinates, np, pa)
    settings = job.settings
    _, new_xy, new_offsets = quillmere_tools.smooth_simplify_ragged(
        kind, xy, tuple(reversed(offsets)), settings.iterations, settings.tolerance,
        keep_collapsed=settings.keep_collapsed,
    )  # fmt: skip
    # Rebuild the nested lists with the input's types (field names included).
    types = [chunk.type]
    for _ in range(depth):
        types.append(types[-1].value_type)
    coordinate_type = types[depth]
    if pa.types.is_fixed_size_list(coordinate_type):
        array = pa.FixedSizeListArray.from_arrays(pa.array(new_xy.reshape(-1), type=coordinate_type.value_type), type=coordinate_type)
    else:
        x_field, y_field = coordinate_type[0], coordinate_type[1]
        array = pa.StructArray.from_arrays(
            [pa.array(new_xy[:, 0], type=x_field.type), pa.array(new_xy[:, 1], type=y_field.type)], fields=[x_field, y_field]
        )
    levels = list(reversed(new_offsets))  # outermost first
    mask = chunk.is_null() if chunk.null_count else None
    for level in range(depth - 1, -1, -1):
        list_type = types[level]
        large = pa.types.is_large_list(list_type)
        offsets_array = pa.array(levels[level], type=pa.int64() if large else pa.int32())
        builder = pa.LargeListArray if large else pa.ListArray
        array = builder.from_arrays(offsets_array, array, type=list_type, mask=mask if level == 0 else None)
    shapes = shapely.from_ragged_array(kind, new_xy, tuple(new_offsets)) if want_shapes else None
    if shapes is not None and chunk.null_count:
        shapes[np.asarray(chunk.is_null())] = None
    return array, shapes


def _geoarrow_shapes(chunk: Any, encoding: str, np: Any, shapely: Any) -> Any:
    import pyarrow as pa

    depth = {"point": 0, "linestring": 1, "multipoint": 1, "multilinestring": 2}[encoding]
    kind = {"point": 1, "linestring": 2, "multipoint": 4, "multilinestring": 5}[encoding]
    offsets, coordinates = _levels(chunk, depth, np)
    shapes = shapely.from_ragged_array(kind, _xy(coordinates, np, pa), tuple(reversed(offsets)) or None)
    if chunk.null_count:
        shapes[np.asarray(chunk.is_null())] = None
    return shapes


def _recompute_covering(table: Any, covering: dict[str, Any], geometries: list[Any], np: Any, pa: Any, shapely: Any) -> Any:
    name = covering.get("xmin", [None])[0]
    index = table.schema.get_field_index(name) if name else -1
    if index < 0:
        return table
    field = table.schema.field(index)
    if not pa.types.is_struct(field.type):
        return table
    shapes = np.concatenate(geometries) if geometries else np.empty(0, dtype=object)
    bounds = shapely.bounds(shapes)
    missing = np.isnan(bounds[:, 0])
    columns = {"xmin": bounds[:, 0], "ymin": bounds[:, 1], "xmax": bounds[:, 2], "ymax": bounds[:, 3]}
    keys = {covering[key][1]: key for key in ("xmin", "ymin", "xmax", "ymax") if key in covering}
    children = []
    for child in field.type:
        values = columns.get(keys.get(child.name, child.name))
        if values is None:
            return table
        children.append(pa.array(np.where(missing, 0.0, values), type=child.type))
    array = pa.StructArray.from_arrays(children, fields=list(field.type), mask=pa.array(missing))
    return table.set_column(index, field, array)
