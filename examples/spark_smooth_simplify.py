"""PySpark job: smooth and simplify the polygons of one column of a Parquet
dataset and write the result as Parquet.

The column holds WKT texts (POLYGON / MULTIPOLYGON) or WKB (the geometry
column of a GeoParquet file, as Spark reads it: binary). Every other column is
written unchanged. Each Arrow batch that Spark hands to Python is one call of
``quillmere_tools.smooth_simplify_wkts`` (WKT) or of
``quillmere_tools.smooth_simplify`` through shapely (WKB), inside
``DataFrame.mapInArrow``: no row-by-row Python, no pandas in between.

    spark-submit examples/spark_smooth_simplify.py INPUT OUTPUT \\
        --column wkt --kind wkt --iterations 2 --tolerance 0.001

or ``python examples/spark_smooth_simplify.py ... --master local[2]``.

Sizing. Spark runs one Python worker process per running task (that is, per
executor core) and reuses it across tasks (``spark.python.worker.reuse``,
on by default). quillmere's pool lives in each such process and reads
``RAYON_NUM_THREADS`` once, when the process first calls it: the job sets it
to 1 for the executors (``spark.executorEnv.RAYON_NUM_THREADS``) and for
local mode (the driver's environment, which local workers inherit), so that
executor cores x pool threads = cores. ``--pool-threads`` changes it.
``spark.sql.execution.arrow.maxRecordsPerBatch`` (``--batch-rows``, default
10,000) sets the rows per call: larger batches spread the per-call cost over
more polygons but hold more memory per worker.

Invalid texts: ``--on-invalid raise`` (default) fails the task, and so the
job after Spark's retries, with ``InvalidGeometryError`` naming the row within
the batch; ``ignore`` writes null for them; ``warn`` also writes null and logs
a warning in the executor's log. The packages quillmere (this repository,
``pip install .``), pyarrow and, for WKB, shapely and numpy must be installed
where the executors run their Python.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from typing import Any, Iterator, Literal, cast

OnInvalid = Literal["raise", "warn", "ignore"]


def smooth_batches(
    batches: Iterator[Any],
    column: str,
    kind: str,
    iterations: int,
    tolerance: float,
    on_invalid: OnInvalid,
    keep_collapsed: bool,
) -> Iterator[Any]:
    """The mapInArrow function: each pyarrow.RecordBatch with ``column`` replaced."""
    import pyarrow as pa

    import quillmere_tools

    for batch in batches:
        position = batch.schema.get_field_index(column)
        field = batch.schema.field(position)
        values = batch.column(position).to_pylist()
        if kind == "wkt":
            result = quillmere_tools.smooth_simplify_wkts(
                values, iterations, tolerance, on_invalid=on_invalid, keep_collapsed=keep_collapsed
            )
        else:
            import numpy as np
            import shapely

            geometries = shapely.from_wkb(np.asarray(values, dtype=object), on_invalid=on_invalid)
            smoothed = quillmere_tools.smooth_simplify(geometries, iterations, tolerance, keep_collapsed=keep_collapsed)
            result = list(shapely.to_wkb(smoothed))
        columns = list(batch.columns)
        columns[position] = pa.array(result, type=field.type)
        yield pa.RecordBatch.from_arrays(columns, schema=batch.schema)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input", help="Parquet file or directory")
    parser.add_argument("output", help="Parquet directory to write (overwritten)")
    parser.add_argument("--column", default="wkt", help="the column of WKT or WKB (default: wkt)")
    parser.add_argument("--kind", choices=("wkt", "wkb"), default="wkt")
    parser.add_argument("--iterations", type=int, default=2)
    parser.add_argument("--tolerance", type=float, default=0.0)
    parser.add_argument("--on-invalid", choices=("raise", "warn", "ignore"), default="raise")
    parser.add_argument("--keep-collapsed", action="store_true")
    parser.add_argument("--master", help="Spark master, e.g. local[2] (default: spark-submit's)")
    parser.add_argument("--pool-threads", type=int, default=1, help="quillmere pool threads per Python worker")
    parser.add_argument("--batch-rows", type=int, default=10_000, help="rows per Arrow batch (one call each)")
    args = parser.parse_args(argv)

    # Local mode: Python workers inherit the driver's environment, and run
    # this interpreter (Spark's default is whatever "python3" is on the PATH).
    os.environ["RAYON_NUM_THREADS"] = str(args.pool_threads)
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    from pyspark.sql import SparkSession

    builder = SparkSession.builder.appName("quillmere smooth_simplify")
    if args.master:
        builder = builder.master(args.master)
    spark = (
        builder.config("spark.executorEnv.RAYON_NUM_THREADS", str(args.pool_threads))
        .config("spark.sql.execution.arrow.maxRecordsPerBatch", str(args.batch_rows))
        .config("spark.ui.enabled", "false")
        .config("spark.ui.showConsoleProgress", "false")
        .getOrCreate()
    )
    spark.sparkContext.setLogLevel("ERROR")
    try:
        start = time.perf_counter()
        frame = spark.read.parquet(args.input)
        column, kind, iterations, tolerance = args.column, args.kind, args.iterations, args.tolerance
        on_invalid, keep = cast(OnInvalid, args.on_invalid), args.keep_collapsed

        def job(batches: Iterator[Any]) -> Iterator[Any]:
            return smooth_batches(batches, column, kind, iterations, tolerance, on_invalid, keep)

        frame.mapInArrow(job, frame.schema).write.mode("overwrite").parquet(args.output)
        print(f"wrote {args.output} in {time.perf_counter() - start:.2f} s")
    finally:
        spark.stop()


if __name__ == "__main__":
    main()
