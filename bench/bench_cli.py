"""The ``quillmere smooth`` command against the same work done in memory.

On the coastline (``countries-coastline-1m``) as WKT lines (97 MB, one
POLYGON a line) and as the GeoJSON document (107 MB), for k = 0 and k = 2:

- command: the wall time of ``quillmere smooth FILE -k K -t T -o OUT -q`` in a
  child process (interpreter start, streaming, the temporary file flushed to
  disk and renamed);
- in memory: reading the file into a ``str``, the one call
  (``smooth_simplify_wkts`` on its lines, ``smooth_simplify_geojson`` on the
  text) and writing the result, in this process.

- script: those same steps in a fresh interpreter (``python -c``), as a
  user's script would run them.

Best of ``--repeat`` runs each, interleaved; the goal is a wall-time ratio
within 1.3x. The CPU times (every thread) show the work each does, which a
busy machine disturbs less than the wall time.

    python bench/bench_cli.py [--repeat 3] [--workdir /tmp/quillmere-bench]
"""

from __future__ import annotations

import argparse
import json
import lzma
import math
import os
import resource
import subprocess
import sys
import time
from pathlib import Path

import quillmere_tools

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-coastline-1m.geo.json.xz"
TOLERANCE = 1e-4


def prepare(workdir: Path) -> tuple[Path, Path]:
    workdir.mkdir(parents=True, exist_ok=True)
    document = workdir / "coastline.geojson"
    lines = workdir / "coastline.wkt"
    if not document.exists():
        with lzma.open(DATA, "rb") as source, open(document, "wb") as target:
            while block := source.read(1 << 24):
                target.write(block)
    if not lines.exists():
        collection = json.loads(document.read_text())
        with open(lines, "w") as target:
            for feature in collection["features"]:
                geometry = feature["geometry"]
                polygons = [geometry["coordinates"]] if geometry["type"] == "Polygon" else geometry["coordinates"]
                for rings in polygons:
                    target.write(
                        "POLYGON("
                        + ",".join("(" + ",".join(f"{x!r} {y!r}" for x, y, *_ in r) + ")" for r in rings)
                        + ")\n"
                    )
    return lines, document


def command(path: Path, k: int, output: Path) -> tuple[float, float]:
    """Wall and CPU time (all threads) of the command."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.perf_counter()
    subprocess.run(
        [sys.executable, "-m", "quillmere_tools", "smooth", str(path), "-k", str(k), "-t", str(TOLERANCE), "-q", "-o", str(output)],
        check=True,
    )
    wall = time.perf_counter() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime


SCRIPT = """
import sys, quillmere_tools
path, k, tolerance, output = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
with open(path, encoding="utf-8") as f:
    text = f.read()
if path.endswith(".wkt"):
    result = "\\n".join(quillmere_tools.smooth_simplify_wkts(text.splitlines(), k, tolerance)) + "\\n"
else:
    result = quillmere_tools.smooth_simplify_geojson(text, k, tolerance)
del text
with open(output, "w", encoding="utf-8") as f:
    f.write(result)
"""


def script(path: Path, k: int, output: Path) -> tuple[float]:
    """The same steps as in_memory, in a fresh interpreter (what a user's script costs)."""
    started = time.perf_counter()
    subprocess.run([sys.executable, "-c", SCRIPT, str(path), str(k), str(TOLERANCE), str(output)], check=True)
    return (time.perf_counter() - started,)


def in_memory(path: Path, k: int, output: Path) -> tuple[float, float, float, float, float]:
    """Wall time, CPU time, and the wall times of reading, the call and writing."""
    cpu = time.process_time()
    started = time.perf_counter()
    with open(path, encoding="utf-8") as f:
        text = f.read()
    read = time.perf_counter()
    if path.suffix == ".wkt":
        result = "\n".join(quillmere_tools.smooth_simplify_wkts(text.splitlines(), k, TOLERANCE)) + "\n"
    else:
        result = quillmere_tools.smooth_simplify_geojson(text, k, TOLERANCE)
    del text
    called = time.perf_counter()
    with open(output, "w", encoding="utf-8") as f:
        f.write(result)
    del result
    written = time.perf_counter()
    return (written - started, time.process_time() - cpu, read - started, called - read, written - called)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--workdir", type=Path, default=Path("/tmp/quillmere-bench"))
    args = parser.parse_args()
    lines, document = prepare(args.workdir)
    output = args.workdir / "out"
    print(f"{quillmere_tools.num_threads()} worker threads, tolerance {TOLERANCE}, best of {args.repeat}")
    print(
        f"{'input':<27} {'k':>2} | {'command':>8} {'in memory':>9} {'ratio':>6} | "
        f"{'(read':>6} {'call':>5} {'write)':>6} | {'CPU: command':>12} {'in memory':>9} | {'script':>7} {'ratio':>6}"
    )
    for path in (lines, document):
        size = os.path.getsize(path) / 1e6
        for k in (0, 2):
            target = output.with_suffix(path.suffix)
            memory = (math.inf,) * 5
            cli = (math.inf,) * 2
            fresh = (math.inf,)
            # Interleaved, so that all see the same machine.
            for _ in range(args.repeat):
                memory = min(memory, in_memory(path, k, target))
                cli = min(cli, command(path, k, target))
                fresh = min(fresh, script(path, k, target))
            print(
                f"{path.name + f' ({size:.0f} MB)':<27} {k:>2} | {cli[0]:7.2f}s {memory[0]:8.2f}s {cli[0] / memory[0]:5.2f}x | "
                f"{memory[2]:5.2f}s {memory[3]:4.2f}s {memory[4]:5.2f}s | {cli[1]:11.2f}s {memory[1]:8.2f}s | "
                f"{fresh[0]:6.2f}s {cli[0] / fresh[0]:5.2f}x"
            )
            target.unlink(missing_ok=True)


if __name__ == "__main__":
    main()
