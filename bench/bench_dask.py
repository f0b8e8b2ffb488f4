"""Dask on one machine: a GeoParquet dataset read, smoothed and simplified,
and written, through a distributed.LocalCluster of 2 worker processes x 1 Dask
thread with a quillmere pool of 1 thread each, against one process with a pool
of 2 doing the same with geopandas.

    python bench/bench_dask.py [--data coastline|generated] [--partitions 4,16,64,256]

The data: the polygons of countries-coastline-1m (63,061 after exploding the
MultiPolygons, 4.86 M coordinates), rows shuffled so that partitions get even
work, or --data generated (--rows polygons of 4-80 vertices). The input
dataset is written once per partition count (not timed). Each timing is the
best of --repeat runs, end to end: read Parquet, smooth and simplify, write
Parquet. The cluster is started once (its start-up is reported apart).

The fit T(P) = a + b * P over the partition counts P gives b, the cost of one
more partition (scheduling, task and file overhead); a is the work itself.
Needs the dask extra. Take timings on a quiet machine (check `uptime`).
"""

from __future__ import annotations

import argparse
import logging
import lzma
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any

import numpy as np

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-coastline-1m.geo.json.xz"
ITERATIONS = 2
TOLERANCE = 1e-4

# One process, pool of 2 (set before the pool starts: a fresh interpreter).
SINGLE = r"""
import sys, time, geopandas, quillmere_tools
source, target, repeat = sys.argv[1], sys.argv[2], int(sys.argv[3])
best = {}
for _ in range(repeat):
    c0 = time.process_time()
    t0 = time.perf_counter()
    frame = geopandas.read_parquet(source)
    t1 = time.perf_counter()
    frame["geometry"] = quillmere_tools.smooth_simplify(frame.geometry, %d, %r)
    t2 = time.perf_counter()
    frame.to_parquet(target)
    t3 = time.perf_counter()
    c3 = time.process_time()
    for name, value in (("read", t1 - t0), ("smooth", t2 - t1), ("write", t3 - t2), ("total", t3 - t0), ("cpu", c3 - c0)):
        best[name] = min(best.get(name, value), value)
print(quillmere_tools.num_threads(), best["read"], best["smooth"], best["write"], best["total"], best["cpu"])
""" % (ITERATIONS, TOLERANCE)


def cpu_seconds() -> float:
    import resource

    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def load(kind: str, rows: int) -> Any:
    import geopandas as gpd
    import shapely

    if kind == "coastline":
        with lzma.open(DATA) as f:
            frame = gpd.read_file(f.read())
        frame = frame[["geometry"]].explode(index_parts=False, ignore_index=True)
    else:
        rng = np.random.default_rng(14)
        geometries = []
        for _ in range(rows):
            n = int(rng.integers(4, 81))
            cx, cy, r = rng.uniform(-170, 170), rng.uniform(-80, 80), 10 ** rng.uniform(-3, -1)
            a = np.sort(rng.uniform(0, 2 * np.pi, n))
            radii = r * (0.6 + 0.4 * rng.random(n))
            geometries.append(shapely.Polygon(np.column_stack([cx + radii * np.cos(a), cy + radii * np.sin(a)])))
        frame = gpd.GeoDataFrame(geometry=geometries, crs=4326)
    order = np.random.default_rng(1).permutation(len(frame))
    frame = frame.iloc[order].reset_index(drop=True)
    frame.insert(0, "id", np.arange(len(frame)))
    return frame


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", choices=("coastline", "generated"), default="coastline")
    parser.add_argument("--rows", type=int, default=200_000, help="polygons for --data generated")
    parser.add_argument("--partitions", default="4,16,64,256")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    counts = [int(p) for p in args.partitions.split(",")]

    import dask_geopandas
    import shapely
    from distributed import Client

    import quillmere_tools
    from quillmere_tools.dask import local_cluster, smooth_simplify

    print(f"load average before: {os.getloadavg()}")
    frame = load(args.data, args.rows)
    coordinates = int(shapely.get_num_coordinates(np.asarray(frame.geometry.values)).sum())
    print(f"{args.data}: {len(frame)} polygons, {coordinates} coordinates; k = {ITERATIONS}, tolerance {TOLERANCE}")

    work = Path(tempfile.mkdtemp(prefix="bench-dask-"))
    try:
        whole = work / "whole.parquet"
        frame.to_parquet(whole)
        inputs = {}
        for p in counts:
            inputs[p] = work / f"in-{p}"
            dask_geopandas.from_geopandas(frame, npartitions=p).to_parquet(
                inputs[p], compute_kwargs={"scheduler": "sync"}
            )

        env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
        single = {}
        for pool in (1, 2):
            env["RAYON_NUM_THREADS"] = str(pool)
            out = subprocess.run(
                [sys.executable, "-c", SINGLE, str(whole), str(work / "single-out.parquet"), str(args.repeat)],
                env=env, capture_output=True, text=True, check=True,
            ).stdout.split()
            assert int(out[0]) == pool
            single[pool] = [float(x) for x in out[1:]]
            read, smooth, write, total, cpu = single[pool]
            print(f"one process, pool of {pool}: read {read:.2f} s, smooth {smooth:.2f} s, write {write:.2f} s, "
                  f"total {total:.2f} s (CPU {cpu:.2f} s)")

        print(f"load average: {os.getloadavg()}")
        import dask

        cluster_times: dict[str, dict[int, float]] = {}
        # Dask's nanny starts workers with MALLOC_TRIM_THRESHOLD_=65536; the
        # second run leaves glibc's default (dynamic thresholds).
        for trim in ("65536 (Dask's default)", "glibc default"):
            setting = None if trim == "glibc default" else 65536
            # The nanny runs in this process and leaves the variable in its environment.
            os.environ.pop("MALLOC_TRIM_THRESHOLD_", None)
            with dask.config.set({"distributed.nanny.pre-spawn-environ.MALLOC_TRIM_THRESHOLD_": setting}):
                started = time.perf_counter()
                with local_cluster(
                    2, pool_threads=1, dashboard_address=None, silence_logs=logging.CRITICAL
                ) as cluster, Client(cluster) as client:
                    startup = time.perf_counter() - started
                    assert set(client.run(quillmere_tools.num_threads).values()) == {1}
                    seen = set(client.run(os.environ.get, "MALLOC_TRIM_THRESHOLD_").values())
                    assert seen == {None if setting is None else str(setting)}, seen
                    print(f"cluster 2 workers x 1 thread, pool of 1 each, MALLOC_TRIM_THRESHOLD_ {trim}: "
                          f"start-up {startup:.2f} s")
                    times = cluster_times[trim] = {}
                    cpus = {}

                    def cpu_now() -> float:
                        # Workers, and this process (scheduler, nannies, client).
                        return sum(client.run(cpu_seconds).values()) + cpu_seconds()

                    for p in counts:
                        best, best_cpu = float("inf"), float("inf")
                        for _ in range(args.repeat):
                            target = work / f"out-{p}"
                            shutil.rmtree(target, ignore_errors=True)
                            c0 = cpu_now()
                            t0 = time.perf_counter()
                            lazy = dask_geopandas.read_parquet(inputs[p])
                            smooth_simplify(lazy, ITERATIONS, TOLERANCE).to_parquet(target)
                            best = min(best, time.perf_counter() - t0)
                            best_cpu = min(best_cpu, cpu_now() - c0)
                        times[p], cpus[p] = best, best_cpu
                        print(f"  {p:4d} partitions: {best:.2f} s, CPU {best_cpu:.2f} s "
                              f"({len(frame) / p:.0f} polygons each)")
                    ps = np.array(counts, dtype=float)
                    b, a = np.polyfit(ps, np.array([times[p] for p in counts]), 1)
                    bc, ac = np.polyfit(ps, np.array([cpus[p] for p in counts]), 1)
                    print(f"  load average: {os.getloadavg()}")
                    print(f"  fit T = a + b*P: a = {a:.2f} s, b = {b * 1000:.1f} ms per partition; "
                          f"CPU: a = {ac:.2f} s, b = {bc * 1000:.1f} ms per partition")

        total1 = single[1][3]
        print(f"per core: {len(frame) / total1:,.0f} polygons/s, {coordinates / total1 / 1e6:.2f} M coordinates/s "
              f"end to end (one process, pool of 1); smoothing alone {len(frame) / single[1][1]:,.0f} polygons/s")
        print(f"load average after: {os.getloadavg()}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
