"""Throughput of smooth_and_simplify_polygons_from_wkts on generated parcels and on
real coastline polygons, for k = 0 and k = 2, and the same reading, simplifying and
writing done with shapely 2 when it is importable.

Run against the installed module or one on PYTHONPATH:
    PYTHONPATH=build/release python bench/bench_wkt.py [--repeat N] [--skip-coastline]
"""
import argparse
import json
import lzma
import math
import random
import time
from pathlib import Path

import quillmere

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
        f"  {name:<16} {wall:7.3f} s wall {cpu:7.3f} s cpu  {coordinates / wall / 1e6:6.2f} M coords/s  "
        f"{megabytes / wall:6.1f} MB/s"
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
    except ImportError:
        print("  shapely not importable: no comparison")
        return
    # An object array: a plain list would become one fixed-width string array
    # as wide as the longest text.
    array = numpy.array(texts, dtype=object)

    def with_shapely():
        geometries = shapely.from_wkt(array)
        simplified = shapely.simplify(geometries, tolerance, preserve_topology=False)
        return shapely.to_wkt(simplified, rounding_precision=-1)

    timing = report(f"shapely {shapely.__version__}", best_of(repeat, with_shapely), coordinates, megabytes)
    print(f"  speed-up at k=0: {timing[0] / ours[0][0]:.1f}x wall, {timing[1] / ours[0][1]:.1f}x cpu")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--skip-coastline", action="store_true")
    args = parser.parse_args()
    texts, coordinates = parcels()
    run("parcels, 7 decimals", texts, coordinates, 1e-5, args.repeat)
    texts, coordinates = parcels(decimals=None)
    run("parcels, full precision", texts, coordinates, 1e-5, args.repeat)
    if not args.skip_coastline and DATA.exists():
        texts, coordinates = coastline()
        run("coastline", texts, coordinates, 1e-4, args.repeat)


if __name__ == "__main__":
    main()
