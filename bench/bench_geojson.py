"""Timing of smooth_and_simplify_polygon_fc on the 1 m coastline collection
(107 MB of GeoJSON) against a plain load and dump of the same text with the
standard json module and with orjson, plus the call's peak memory.

    PYTHONPATH=build/<dir> python bench/bench_geojson.py [--repeat N] [--no-json]
"""
import argparse
import gc
import json
import lzma
import subprocess
import sys
import time
from pathlib import Path

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-coastline-1m.geo.json.xz"
TOLERANCE = 1e-4


def best_of(repeat, function):
    times = []
    for _ in range(repeat):
        gc.collect()
        start = time.perf_counter()
        result = function()
        times.append(time.perf_counter() - start)
        del result
    return min(times)


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
    if not args.no_json:
        rows["json loads+dumps"] = best_of(1, lambda: json.dumps(json.loads(text), separators=(",", ":")))

    reference = rows.get("orjson loads+dumps")
    for name, seconds in rows.items():
        ratio = f"  {seconds / reference:.2f}x orjson" if reference else ""
        print(f"{name:32s} {seconds:7.3f} s{ratio}")

    for k in (0, 2, "orjson"):
        before, after, out_len = peak_memory(k)
        print(f"peak RSS {k if k == 'orjson' else f'k={k}'}: {after / 1e6:.0f} MB, {before / 1e6:.0f} MB before the call: "
              f"the call adds {(after - before) / 1e6:.0f} MB = {(after - before) / size:.2f}x the input, "
              f"output {out_len / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
