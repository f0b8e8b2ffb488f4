"""Runs examples/spark_smooth_simplify.py with Spark in local[2] mode on
generated data, a WKT column and a WKB column, and compares each output row
with the single-process result of quillmere_tools. `make test-spark` runs it.

Exits with status 1 on the first difference."""

from __future__ import annotations

import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
import pyarrow as pa
import pyarrow.parquet as pq
import shapely

import quillmere_tools

JOB = Path(__file__).with_name("spark_smooth_simplify.py")
ROWS = 20_000
FILES = 4
ITERATIONS = 2
TOLERANCE = 0.002


def star(rng: np.random.Generator, cx: float, cy: float, radius: float, n: int, hole: bool) -> shapely.Polygon:
    angles = np.sort(rng.uniform(0.0, 2.0 * np.pi, n))
    radii = radius * (0.6 + 0.4 * rng.random(n))
    shell = np.column_stack([cx + radii * np.cos(angles), cy + radii * np.sin(angles)])
    holes = []
    if hole:
        back = np.linspace(2.0 * np.pi, 0.0, 9)
        holes.append(np.column_stack([cx + 0.3 * radius * np.cos(back), cy + 0.3 * radius * np.sin(back)]))
    return shapely.Polygon(shell, holes)


def generate(count: int, seed: int = 14) -> list[shapely.Geometry | None]:
    rng = np.random.default_rng(seed)
    out: list[shapely.Geometry | None] = []
    for i in range(count):
        cx, cy = rng.uniform(-170, 170), rng.uniform(-80, 80)
        radius = 10 ** rng.uniform(-3.5, 0.0)
        n = int(rng.integers(4, 80))
        if i % 4 == 3:
            parts = [star(rng, cx + 3 * radius * j, cy, radius, n, j == 0) for j in range(int(rng.integers(2, 4)))]
            out.append(shapely.MultiPolygon(parts))
        elif i % 97 == 5:
            out.append(None)
        else:
            out.append(star(rng, cx, cy, radius, n, i % 3 == 0))
    return out


def number(x: float) -> str:
    return str(np.format_float_positional(x, unique=True, trim="-"))


def exact_wkt(geometry: shapely.Geometry | None) -> str | None:
    """WKT with each coordinate written exactly (shapely's writer rounds)."""
    if geometry is None:
        return None

    def polygon(p: shapely.Polygon) -> str:
        rings = [p.exterior, *p.interiors]
        return "(" + ",".join("(" + ",".join(f"{number(x)} {number(y)}" for x, y in r.coords) + ")" for r in rings) + ")"

    if isinstance(geometry, shapely.Polygon):
        return "POLYGON" + polygon(geometry)
    assert isinstance(geometry, shapely.MultiPolygon)
    return "MULTIPOLYGON(" + ",".join(polygon(p) for p in geometry.geoms) + ")"


def run_job(source: Path, target: Path, column: str, kind: str) -> float:
    command = [
        sys.executable, str(JOB), str(source), str(target), "--master", "local[2]", "--column", column,
        "--kind", kind, "--iterations", str(ITERATIONS), "--tolerance", str(TOLERANCE), "--batch-rows", "2000",
    ]
    start = time.perf_counter()
    subprocess.run(command, check=True)
    return time.perf_counter() - start


def main() -> int:
    started = time.perf_counter()
    geometries = generate(ROWS)
    array = np.asarray(geometries, dtype=object)
    wkts = [exact_wkt(g) for g in geometries]
    wkbs = list(shapely.to_wkb(array))
    table = pa.table({
        "id": pa.array(np.arange(ROWS, dtype=np.int64)),
        "name": pa.array([f"row {i}" for i in range(ROWS)]),
        "wkt": pa.array(wkts, type=pa.string()),
        "wkb": pa.array(wkbs, type=pa.binary()),
    })
    coordinates = int(shapely.get_num_coordinates(array).sum())
    print(f"{ROWS} rows, {coordinates} coordinates, {FILES} files")

    outcomes: list[bool] = []
    with tempfile.TemporaryDirectory(prefix="spark-check-") as directory:
        source = Path(directory) / "input"
        source.mkdir()
        step = ROWS // FILES
        for f in range(FILES):
            pq.write_table(table.slice(f * step, step if f < FILES - 1 else ROWS - f * step), source / f"part-{f}.parquet")

        single = time.perf_counter()
        expected_wkt = quillmere_tools.smooth_simplify_wkts(wkts, ITERATIONS, TOLERANCE)
        expected_wkb = list(shapely.to_wkb(quillmere_tools.smooth_simplify(array, ITERATIONS, TOLERANCE)))
        single = time.perf_counter() - single

        results = {}
        for column in ("wkt", "wkb"):
            target = Path(directory) / f"output-{column}"
            seconds = run_job(source, target, column, column)
            back = pq.read_table(target).sort_by("id")
            results[column] = back
            got = back.column(column).to_pylist()
            expected = expected_wkt if column == "wkt" else expected_wkb
            same_rest = back.column("id").to_pylist() == list(range(ROWS)) and back.column("name").equals(
                table.column("name")
            )
            other = "wkb" if column == "wkt" else "wkt"
            same_rest = same_rest and back.column(other).equals(table.column(other))
            mismatches = [i for i, (a, b) in enumerate(zip(got, expected)) if a != b]
            ok = len(got) == ROWS and not mismatches and same_rest
            outcomes.append(ok)
            print(f"{column}: Spark local[2] job {seconds:.1f} s; {'identical' if ok else 'DIFFERENT'}"
                  + (f" (first difference at id {mismatches[0]})" if mismatches else ""))

        # The WKT results are the geometries of the WKB results.
        from_wkt = shapely.from_wkt(np.asarray(results["wkt"].column("wkt").to_pylist(), dtype=object))
        same = list(shapely.to_wkb(from_wkt)) == results["wkb"].column("wkb").to_pylist()
        outcomes.append(same)
        print(f"WKT and WKB results are the same geometries: {same}")
        print(f"single process, both columns: {single:.2f} s")
    print(f"total {time.perf_counter() - started:.1f} s")
    failures = outcomes.count(False)
    print(f"{outcomes.count(True)} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
