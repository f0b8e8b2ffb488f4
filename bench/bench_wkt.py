"""Throughput of smooth_and_simplify_polygons_from_wkts on generated parcels, on
real coastline polygons and on 20 rings of 100,000 points, for k = 0 and k = 2,
against the same work done with shapely 2 (k = 2: NumPy Chaikin on the ragged
arrays, then shapely's simplify) when it is importable; the share of the two
cores kept busy (CPU time / (wall x cores)); T = 2 against T = 1 at k = 3 on the
coastline; and the call's peak extra memory against input + output.

Run against the installed module or one on PYTHONPATH:
    PYTHONPATH=build/release python bench/bench_wkt.py [--repeat N] [--skip-coastline]
"""
import argparse
import json
import lzma
import math
import os
import random
import subprocess
import sys
import time
from pathlib import Path

import quillmere

CORES = len(os.sched_getaffinity(0))

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-coastline-1m.geo.json.xz"


def parcels(count=200_000, seed=1, decimals=7):
    """Small, roughly convex parcels of 4 to 40 vertices around random places, in
    degrees with `decimals` decimals (7: about 1 cm, as survey data comes), or
    with every digit of the computed double when `decimals` is None."""
    rng = random.Random(seed)
    texts = []
    coordinates = 0
    number = repr if decimals is None else (lambda v: f"{v:.{decimals}f}")
    for _ in range(count):
        n = rng.randint(4, 40)
        cx, cy = rng.uniform(-180, 180), rng.uniform(-80, 80)
        radius = rng.uniform(1e-4, 2e-3)
        ring = []
        for i in range(n):
            angle = 2 * math.pi * i / n
            r = radius * rng.uniform(0.7, 1.0)
            ring.append(f"{number(cx + r * math.cos(angle))} {number(cy + r * math.sin(angle))}")
        ring.append(ring[0])
        coordinates += len(ring)
        texts.append("POLYGON((" + ",".join(ring) + "))")
    return texts, coordinates


def coastline():
    with lzma.open(DATA, "rt") as f:
        collection = json.load(f)
    texts = []
    coordinates = 0
    for feature in collection["features"]:
        geometry = feature["geometry"]
        polygons = [geometry["coordinates"]] if geometry["type"] == "Polygon" else geometry["coordinates"]
        for rings in polygons:
            coordinates += sum(len(r) for r in rings)
            texts.append(
                "POLYGON(" + ",".join("(" + ",".join(f"{x!r} {y!r}" for x, y, *_ in r) + ")" for r in rings) + ")"
            )
    return texts, coordinates


def rings(count=20, points=100_000, seed=2):
    """Smooth unit circles in degrees, every digit written: long rings that
    simplification thins out to a few percent of their points."""
    rng = random.Random(seed)
    texts = []
    for _ in range(count):
        cx, cy = rng.uniform(-170, 170), rng.uniform(-80, 80)
        ring = [f"{cx + math.cos(2 * math.pi * i / (points - 1))!r} {cy + math.sin(2 * math.pi * i / (points - 1))!r}"
                for i in range(points - 1)]
        ring.append(ring[0])
        texts.append("POLYGON((" + ",".join(ring) + "))")
    return texts, count * points


def best_of(repeat, work):
    """Best wall time of `repeat` runs, with the process CPU time (all threads) of that run."""
    best = (math.inf, math.inf)
    for _ in range(repeat):
        wall, cpu = time.perf_counter(), time.process_time()
        work()
        wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
        best = min(best, (wall, cpu))
    return best


def report(name, timing, coordinates, megabytes):
    wall, cpu = timing
    print(
        f"  {name:<16} {wall:7.3f} s wall {cpu:7.3f} s cpu  {cpu / wall / CORES:4.0%} busy  "
        f"{coordinates / wall / 1e6:6.2f} M coords/s  {megabytes / wall:6.1f} MB/s"
    )
    return timing


def run(label, texts, coordinates, tolerance, repeat):
    megabytes = sum(len(t) for t in texts) / 1e6
    print(f"{label}: {len(texts):,} polygons, {coordinates:,} coordinates, {megabytes:.1f} MB of WKT")
    ours = {}
    for k in (0, 2):
        timing = best_of(repeat, lambda: quillmere.smooth_and_simplify_polygons_from_wkts(texts, k, tolerance))
        ours[k] = report(f"quillmere k={k}", timing, coordinates, megabytes)
    try:
        import numpy
        import shapely

        sys.path.insert(0, str(Path(__file__).resolve().parent))
        from bench_tools_geometry import numpy_chaikin
    except ImportError:
        print("  shapely or NumPy not importable: no comparison")
        return
    # An object array: a plain list would become one fixed-width string array
    # as wide as the longest text.
    array = numpy.array(texts, dtype=object)

    def with_shapely(k):
        geometries = shapely.from_wkt(array)
        if k:
            geometries = numpy_chaikin(geometries, k)
        simplified = shapely.simplify(geometries, tolerance, preserve_topology=False)
        return shapely.to_wkt(simplified, rounding_precision=-1)

    for k in (0, 2):
        name = f"shapely k={k}" if k else f"shapely {shapely.__version__}"
        timing = report(name, best_of(repeat, lambda: with_shapely(k)), coordinates, megabytes)
        print(f"  speed-up at k={k}: {timing[0] / ours[k][0]:.1f}x wall, {timing[1] / ours[k][1]:.1f}x cpu")


# In a fresh interpreter, the kernel's high-water mark reset just before the
# call: the call's own peak, against the texts in and out.
PEAK_SCRIPT = """
import sys
sys.path.insert(0, sys.argv[1])
import bench_wkt, quillmere

def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024

texts, _ = bench_wkt.parcels()
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
before = status("VmRSS:")
out = quillmere.smooth_and_simplify_polygons_from_wkts(texts, int(sys.argv[2]), 1e-5)
peak = status("VmHWM:") - before
print(peak, sum(map(sys.getsizeof, texts)), sum(map(sys.getsizeof, out)))
"""


def peak_memory():
    print("peak extra memory of the call on the parcels (str objects' sizes):")
    for k in (0, 2):
        result = subprocess.run([sys.executable, "-c", PEAK_SCRIPT, str(Path(__file__).resolve().parent), str(k)],
                                check=True, capture_output=True, text=True)
        peak, size_in, size_out = (int(v) for v in result.stdout.split())
        print(f"  k={k}: {peak / 1e6:.0f} MB for {size_in / 1e6:.0f} MB in + {size_out / 1e6:.0f} MB out: "
              f"{peak / (size_in + size_out):.2f}x input + output")


THREADS_SCRIPT = """
import sys, time, quillmere
texts = open(sys.argv[1]).read().split("\\n")
best = (9e9, 0)
for _ in range(int(sys.argv[2])):
    wall, cpu = time.perf_counter(), time.process_time()
    quillmere.smooth_and_simplify_polygons_from_wkts(texts, 3, 1e-4)
    best = min(best, (time.perf_counter() - wall, time.process_time() - cpu))
print(*best)
"""


def threads(texts, repeat):
    """Coastline at k = 3 with one worker thread and with two."""
    path = Path(os.environ.get("TMPDIR", "/tmp")) / f"bench_wkt_{os.getpid()}.txt"
    path.write_text("\n".join(texts))
    try:
        walls = {}
        for count in (1, 2):
            env = dict(os.environ, RAYON_NUM_THREADS=str(count))
            result = subprocess.run([sys.executable, "-c", THREADS_SCRIPT, str(path), str(repeat)],
                                    check=True, capture_output=True, text=True, env=env)
            wall, cpu = (float(v) for v in result.stdout.split())
            walls[count] = wall
            print(f"  coastline k=3, T={count}: {wall:.3f} s wall, {cpu / wall / CORES:.0%} busy")
        print(f"  T=2 against T=1: {walls[1] / walls[2]:.2f}x")
    finally:
        path.unlink()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--skip-coastline", action="store_true")
    args = parser.parse_args()
    texts, coordinates = parcels()
    run("parcels, 7 decimals", texts, coordinates, 1e-5, args.repeat)
    texts, coordinates = parcels(decimals=None)
    run("parcels, full precision", texts, coordinates, 1e-5, args.repeat)
    texts, coordinates = rings()
    run("20 rings of 100,000 points", texts, coordinates, 1e-7, args.repeat)
    if not args.skip_coastline and DATA.exists():
        texts, coordinates = coastline()
        run("coastline", texts, coordinates, 1e-4, args.repeat)
        threads(texts, args.repeat)
    peak_memory()


if __name__ == "__main__":
    main()
