"""Timing of smooth_and_simplify_polygon_fc on the 1 m coastline collection
(107 MB of GeoJSON) against a plain load and dump of the same text with the
standard json module and with orjson, and against the same work done with
shapely 2 (GEOS reading the collection, NumPy Chaikin for k = 2, simplify,
GeoJSON writing); the share of the cores kept busy (CPU time / (wall x
cores)); T = 2 against T = 1 at k = 3; and the call's peak memory.

    PYTHONPATH=build/<dir> python bench/bench_geojson.py [--repeat N] [--no-json] [--no-shapely]
"""
import argparse
import gc
import json
import lzma
import os
import subprocess
import sys
import time
from pathlib import Path

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-coastline-1m.geo.json.xz"
TOLERANCE = 1e-4


CORES = len(os.sched_getaffinity(0))


def best_of(repeat, function):
    """Best wall time, with the process CPU time (all threads) of that run."""
    best = (float("inf"), 0.0)
    for _ in range(repeat):
        gc.collect()
        start, cpu = time.perf_counter(), time.process_time()
        result = function()
        best = min(best, (time.perf_counter() - start, time.process_time() - cpu))
        del result
    return best


def with_shapely(text, k):
    """The collection read by GEOS, each feature's polygons smoothed (NumPy
    Chaikin) and simplified one by one (GEOS on a whole MultiPolygon mends
    its topology and takes minutes), regrouped and written back."""
    import numpy as np
    import shapely

    sys.path.insert(0, str(Path(__file__).resolve().parent))
    from bench_tools_geometry import numpy_chaikin

    features = shapely.get_parts(shapely.from_geojson(text))
    polygons, owner = shapely.get_parts(features, return_index=True)
    if k:
        polygons = numpy_chaikin(polygons, k)
    simplified = shapely.simplify(polygons, TOLERANCE, preserve_topology=False)
    multi = shapely.get_type_id(features) == shapely.GeometryType.MULTIPOLYGON
    result = features.copy()
    single = ~multi[owner]
    result[owner[single]] = simplified[single]
    parts, within = shapely.get_parts(simplified[~single], return_index=True)
    taken = np.flatnonzero(multi)
    result[taken] = shapely.multipolygons(parts, indices=np.searchsorted(taken, owner[~single][within]))
    texts = shapely.to_geojson(result)
    return ('{"features":[' + ",".join('{"geometry":' + t + ',"properties":{},"type":"Feature"}' for t in texts)
            + '],"type":"FeatureCollection"}')


THREADS_SCRIPT = """
import lzma, sys, time, quillmere
text = lzma.open(sys.argv[1]).read().decode("utf-8")
best = (9e9, 0)
for _ in range(int(sys.argv[2])):
    wall, cpu = time.perf_counter(), time.process_time()
    quillmere.smooth_and_simplify_polygon_fc(text, 3, float(sys.argv[3]))
    best = min(best, (time.perf_counter() - wall, time.process_time() - cpu))
print(*best)
"""


def threads(repeat):
    """k = 3 with one worker thread and with two, each in a fresh interpreter."""
    walls = {}
    for count in (1, 2):
        env = dict(os.environ, RAYON_NUM_THREADS=str(count))
        result = subprocess.run([sys.executable, "-c", THREADS_SCRIPT, str(DATA), str(repeat), str(TOLERANCE)],
                                check=True, capture_output=True, text=True, env=env)
        wall, cpu = (float(v) for v in result.stdout.split())
        walls[count] = wall
        print(f"k=3, T={count}: {wall:.3f} s wall, {cpu / wall / CORES:.0%} busy")
    print(f"T=2 against T=1: {walls[1] / walls[2]:.2f}x")


# Run in a fresh interpreter; the kernel's high-water mark is reset just
# before the call (clear_refs 5), so the peak is the call's own.
PEAK_SCRIPT = """
import gc, lzma, sys
import quillmere

def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024

text = lzma.open(sys.argv[1]).read().decode("utf-8")
gc.collect()
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
before = status("VmRSS:")
if sys.argv[2] == "orjson":
    import orjson
    out = orjson.dumps(orjson.loads(text))
else:
    out = quillmere.smooth_and_simplify_polygon_fc(text, int(sys.argv[2]), float(sys.argv[3]))
print(before, status("VmHWM:"), len(out))
"""


def peak_memory(k):
    result = subprocess.run(
        [sys.executable, "-c", PEAK_SCRIPT, str(DATA), str(k), str(TOLERANCE)],
        check=True, capture_output=True, text=True,
    )
    before, after, out_len = (int(v) for v in result.stdout.split())
    return before, after, out_len


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--no-json", action="store_true", help="skip the slow standard json baseline")
    parser.add_argument("--no-shapely", action="store_true", help="skip the shapely comparison")
    args = parser.parse_args()

    import quillmere

    text = lzma.open(DATA).read().decode("utf-8")
    size = len(text.encode("utf-8"))
    print(f"input: {size / 1e6:.1f} MB")

    rows = {}
    for k in (0, 2):
        rows[f"quillmere k={k} tol={TOLERANCE:g}"] = best_of(
            args.repeat, lambda: quillmere.smooth_and_simplify_polygon_fc(text, k, TOLERANCE))
    try:
        import orjson

        rows["orjson loads+dumps"] = best_of(args.repeat, lambda: orjson.dumps(orjson.loads(text)))
    except ImportError:
        print("orjson not installed; skipped")
    if not args.no_shapely:
        try:
            import shapely

            for k in (0, 2):
                rows[f"shapely {shapely.__version__} k={k}"] = best_of(1, lambda: with_shapely(text, k))
        except ImportError:
            print("shapely or NumPy not installed; skipped")
    if not args.no_json:
        rows["json loads+dumps"] = best_of(1, lambda: json.dumps(json.loads(text), separators=(",", ":")))

    reference = rows.get("orjson loads+dumps")
    for name, (seconds, cpu) in rows.items():
        ratio = f"  {seconds / reference[0]:.2f}x orjson" if reference else ""
        print(f"{name:32s} {seconds:7.3f} s {cpu / seconds / CORES:4.0%} busy{ratio}")
    for k in (0, 2):
        ours = rows[f"quillmere k={k} tol={TOLERANCE:g}"][0]
        peers = [(name, seconds) for name, (seconds, _) in rows.items() if name.startswith("shapely") and name.endswith(f"k={k}")]
        for name, seconds in peers:
            print(f"speed-up at k={k} against {name}: {seconds / ours:.1f}x")
    threads(args.repeat)

    for k in (0, 2, "orjson"):
        before, after, out_len = peak_memory(k)
        print(f"peak RSS {k if k == 'orjson' else f'k={k}'}: {after / 1e6:.0f} MB, {before / 1e6:.0f} MB before the call: "
              f"the call adds {(after - before) / 1e6:.0f} MB = {(after - before) / size:.2f}x the input, "
              f"output {out_len / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
