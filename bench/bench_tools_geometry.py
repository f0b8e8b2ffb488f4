"""quillmere_tools.smooth_simplify on the coastline as a GeoSeries of Polygons,
side by side with shapely/GeoPandas in one run: the ragged-array round trip
alone, GeoSeries.simplify, and a NumPy Chaikin followed by shapely's
simplification for k > 0. Also the memory the call holds beyond its input and
output arrays (resident size sampled while the lock is released).

    python bench/bench_tools_geometry.py [--repeat N]
"""
import argparse
import lzma
import os
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import geopandas
import numpy as np
import shapely

import quillmere_tools as qt

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-coastline-1m.geo.json.xz"
TOLERANCE = 1e-4


def coastline_polygons():
    text = lzma.decompress(DATA.read_bytes())
    frame = geopandas.read_file(text, engine="pyogrio")
    return frame.geometry.explode(index_parts=False).reset_index(drop=True)


def best_of(repeat, work):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def numpy_chaikin(geometries, passes):
    """Chaikin corner cutting of every ring with NumPy over the ragged arrays."""
    kind, coords, (rings, polygons) = shapely.to_ragged_array(geometries)
    for _ in range(passes):
        starts, ends = rings[:-1], rings[1:]
        segment_rings = np.repeat(np.arange(len(starts)), ends - starts - 1)
        first = np.ones(len(coords), bool)
        first[ends[:-1] - 1 if len(ends) > 1 else []] = False
        a = np.delete(coords, ends - 1, axis=0)  # segment starts
        b = np.delete(coords, starts, axis=0)  # segment ends
        q, r = 0.75 * a + 0.25 * b, 0.25 * a + 0.75 * b
        cut = np.empty((2 * len(a), 2))
        cut[0::2], cut[1::2] = q, r
        counts = 2 * (ends - starts - 1)
        new_rings = np.concatenate([[0], np.cumsum(counts + 1)])
        out = np.empty((new_rings[-1], 2))
        keep = np.ones(new_rings[-1], bool)
        keep[new_rings[1:] - 1] = False
        out[keep] = cut
        out[new_rings[1:] - 1] = out[new_rings[:-1]]
        coords, rings = out, new_rings
        del segment_rings, first
    return shapely.from_ragged_array(kind, coords, (rings, polygons))


class PeakRss:
    """Peak resident size above the level at entry, sampled every millisecond."""

    def __enter__(self):
        self.base = self.peak = self._rss()
        self.done = False
        self.thread = threading.Thread(target=self._sample)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.done = True
        self.thread.join()

    @staticmethod
    def _rss():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096

    def _sample(self):
        while not self.done:
            self.peak = max(self.peak, self._rss())
            time.sleep(0.001)

    @property
    def extra(self):
        return self.peak - self.base


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    series = coastline_polygons()
    values = series.values
    coords = shapely.get_num_coordinates(values).sum()
    print(f"coastline: {len(series):,} polygons, {coords:,} coordinates, {qt.num_threads()} pool threads")

    ragged = best_of(args.repeat, lambda: shapely.from_ragged_array(*shapely.to_ragged_array(values)))
    print(f"to_ragged_array + from_ragged_array: {ragged:.3f} s")
    for k in (0, 2):
        ours = best_of(args.repeat, lambda: qt.smooth_simplify(series, k, TOLERANCE))
        if k == 0:
            peer_name = "GeoSeries.simplify(preserve_topology=False)"
            peer = best_of(args.repeat, lambda: series.simplify(TOLERANCE, preserve_topology=False))
        else:
            peer_name = f"NumPy Chaikin x{k} + shapely.simplify"
            peer = best_of(
                args.repeat, lambda: shapely.simplify(numpy_chaikin(values, k), TOLERANCE, preserve_topology=False)
            )
        print(f"k={k}: smooth_simplify {ours:.3f} s; {peer_name} {peer:.3f} s; "
              f"ratio {peer / ours:.1f}x; vs ragged round trip {ours / ragged:.2f}x")

    # Memory in a fresh process that holds only the input arrays, so that
    # freed memory of the runs above cannot hide the call's own.
    with tempfile.TemporaryDirectory() as folder:
        kind, c, (rings, polygons) = shapely.to_ragged_array(values)
        np.savez(Path(folder) / "arrays.npz", c=c, rings=rings, polygons=polygons)
        for k in (0, 2):
            script = MEMORY_SCRIPT.format(path=Path(folder) / "arrays.npz", k=k, tolerance=TOLERANCE)
            done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True,
                                  env={**os.environ, "PYTHONPATH": str(Path(__file__).parent)})
            held, output = map(int, done.stdout.split())
            print(f"k={k}: memory held beyond input and output: {held / 2**20:.1f} MB "
                  f"(output arrays {output / 2**20:.1f} MB, ratio {held / output:.2f})")


MEMORY_SCRIPT = """
import numpy as np, quillmere_tools as qt
from bench_tools_geometry import PeakRss
d = np.load("{path}")
arrays = (3, d["c"], (d["rings"], d["polygons"]))
qt.num_threads()
with PeakRss() as rss:
    result = qt.smooth_simplify_ragged(*arrays, {k}, {tolerance})
output = result[1].nbytes + sum(o.nbytes for o in result[2])
print(rss.extra - output, output)
"""

if __name__ == "__main__":
    main()
