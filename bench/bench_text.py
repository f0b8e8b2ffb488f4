"""The text functions of quillmere_tools against what they are measured by, in
the same run (best of N, interleaved, so that a busy machine slows both):

- smooth_simplify_geojson on the 107 MB coastline FeatureCollection against
  quillmere.smooth_and_simplify_polygon_fc, at k = 0 and k = 2 (target: at
  most 1.15x its time);
- smooth_simplify_wkts on the 200,000 parcels of bench_wkt.py against
  quillmere.smooth_and_simplify_polygons_from_wkts, k = 0 and 2 (target: at
  most 1.1x);
- smooth_simplify_geojsons on 10,000 small Feature texts (one polygon each)
  against orjson loads + dumps of the same texts (target: at least 5x faster),
  for a 5-vertex polygon and for parcels of 4 to 40 vertices.

Run against the installed packages or a build on PYTHONPATH:
    PYTHONPATH=build/release:python python bench/bench_text.py [--repeat N] [--skip-coastline]
"""
import argparse
import json
import lzma
import math
import random
import sys
import tempfile
import time
from pathlib import Path

import quillmere
import quillmere_tools as qt

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench_wkt import DATA, parcels  # noqa: E402


def interleaved(repeat, cases):
    """Best wall time of each case over `repeat` rounds, the cases taking turns."""
    best = {name: math.inf for name in cases}
    for _ in range(repeat):
        for name, work in cases.items():
            start = time.perf_counter()
            result = work()
            best[name] = min(best[name], time.perf_counter() - start)
            del result
    return best


def show(title, best, pairs):
    print(title)
    for name, seconds in best.items():
        print(f"  {name:<34} {seconds * 1e3:9.1f} ms")
    for ours, theirs, target in pairs:
        ratio = best[ours] / best[theirs]
        print(f"  {ours} / {theirs}: {ratio:.2f}x ({1 / ratio:.2f}x as fast; target {target})")


def coastline_text():
    cached = Path(tempfile.gettempdir()) / "countries-coastline-1m.geo.json"
    if not cached.exists():
        with lzma.open(DATA, "rt", encoding="utf-8") as f:
            cached.write_text(f.read(), encoding="utf-8")
    return cached.read_text(encoding="utf-8")


def small_features(count, vertices, seed=1):
    rng = random.Random(seed)
    texts = []
    for i in range(count):
        n = vertices if vertices else rng.randint(4, 40)
        cx, cy, radius = rng.uniform(-180, 180), rng.uniform(-80, 80), rng.uniform(1e-4, 2e-3)
        ring = [[round(cx + radius * rng.uniform(0.7, 1) * math.cos(2 * math.pi * k / n), 7),
                 round(cy + radius * rng.uniform(0.7, 1) * math.sin(2 * math.pi * k / n), 7)] for k in range(n)]
        ring.append(ring[0])
        feature = {"type": "Feature", "id": i, "properties": {"parcel": f"P-{i:06d}", "area_m2": round(rng.uniform(100, 5000), 1)},
                   "geometry": {"type": "Polygon", "coordinates": [ring]}}
        texts.append(json.dumps(feature, separators=(",", ":")))
    return texts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--skip-coastline", action="store_true")
    args = parser.parse_args()
    print(f"worker threads: {qt.num_threads()}")

    try:
        import orjson
    except ImportError:
        orjson = None
    for vertices in (4, 0):
        texts = small_features(10_000, vertices)
        label = "4 vertices" if vertices else "4 to 40 vertices"
        size = sum(map(len, texts)) / len(texts)
        cases = {"smooth_simplify_geojsons k=0": lambda: qt.smooth_simplify_geojsons(texts, 0, 0.0),
                 "smooth_simplify_geojsons k=2": lambda: qt.smooth_simplify_geojsons(texts, 2, 1e-5)}
        pairs = []
        if orjson is not None:
            cases["orjson loads+dumps"] = lambda: [orjson.dumps(orjson.loads(t)) for t in texts]
            pairs.append(("smooth_simplify_geojsons k=0", "orjson loads+dumps", "<= 0.2x"))
        cases["json loads+dumps"] = lambda: [json.dumps(json.loads(t)) for t in texts]
        show(f"10,000 Feature texts, {label} ({size:.0f} bytes each)", interleaved(args.repeat, cases), pairs)

    texts, coordinates = parcels()
    cases = {}
    for k in (0, 2):
        cases[f"quillmere from_wkts k={k}"] = lambda k=k: quillmere.smooth_and_simplify_polygons_from_wkts(texts, k, 1e-5)
        cases[f"smooth_simplify_wkts k={k}"] = lambda k=k: qt.smooth_simplify_wkts(texts, k, 1e-5)
    show(f"200,000 parcels as WKT ({coordinates:,} coordinates)", interleaved(args.repeat, cases),
         [(f"smooth_simplify_wkts k={k}", f"quillmere from_wkts k={k}", "<= 1.1x") for k in (0, 2)])

    if args.skip_coastline or not DATA.exists():
        return
    text = coastline_text()
    cases = {}
    for k in (0, 2):
        cases[f"quillmere polygon_fc k={k}"] = lambda k=k: quillmere.smooth_and_simplify_polygon_fc(text, k, 1e-4)
        cases[f"smooth_simplify_geojson k={k}"] = lambda k=k: qt.smooth_simplify_geojson(text, k, 1e-4)
    show(f"coastline FeatureCollection ({len(text) / 1e6:.0f} MB)", interleaved(max(2, args.repeat // 2), cases),
         [(f"smooth_simplify_geojson k={k}", f"quillmere polygon_fc k={k}", "<= 1.15x") for k in (0, 2)])


if __name__ == "__main__":
    main()
