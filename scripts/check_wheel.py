"""Checks the wheel that `pip wheel .` built (make test-wheel).

- its contents: the stable-ABI module, quillmere_tools with py.typed, the
  quillmere-stubs package, and Requires-Python;
- abi3audit: no symbol outside the stable ABI of the wheel's CPython;
- auditwheel show: the platform tag the wheel is consistent with (printed);
- a new virtual environment without the machine's packages: the wheel with
  its `geo` extra installed there, both packages imported and each public
  entry called once.

Usage: python scripts/check_wheel.py WHEELHOUSE
"""

from __future__ import annotations

import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

SMOKE = r"""
import importlib.metadata, sys
import quillmere, quillmere_tools, shapely

square = "POLYGON((0 0,1 0,1 1,0 1,0 0))"
assert quillmere.smooth_and_simplify_polygons_from_wkts([square], 1, 0.0) == [
    "POLYGON((0.25 0,0.75 0,1 0.25,1 0.75,0.75 1,0.25 1,0 0.75,0 0.25,0.25 0))"
]
fc = ('{"type":"FeatureCollection","features":[{"type":"Feature","properties":{},'
      '"geometry":{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,1],[0,0]]]}}]}')
assert quillmere.smooth_and_simplify_polygon_fc(fc, 0, 0.0).startswith('{"features":[{"geometry":')
assert quillmere_tools.num_threads() >= 1
[smoothed] = quillmere_tools.smooth_simplify([shapely.box(0, 0, 1, 1)], 1, 0.0)
assert smoothed.geom_type == "Polygon" and len(smoothed.exterior.coords) == 9, smoothed.wkt
kind, coords, offsets = quillmere_tools.smooth_simplify_ragged(*shapely.to_ragged_array([shapely.box(0, 0, 1, 1)]), 1, 0.0)
assert coords.shape == (9, 2)
files = {str(f) for f in importlib.metadata.files("quillmere")}
assert "quillmere-stubs/__init__.pyi" in files and "quillmere_tools/py.typed" in files, sorted(files)
print(f"wheel: imported and called quillmere and quillmere_tools on Python {sys.version.split()[0]} "
      f"from {quillmere.__file__}")
"""


def fail(message: str) -> None:
    print(f"wheel: FAILED: {message}", file=sys.stderr)
    sys.exit(1)


def run(*args: str | Path, cwd: Path | None = None) -> str:
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, cwd=cwd)
    if result.returncode != 0:
        fail(f"{' '.join(map(str, args))} exited {result.returncode}:\n{result.stdout}{result.stderr}")
    return result.stdout + result.stderr


def check_contents(wheel: Path) -> None:
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        metadata = next(n for n in names if n.endswith(".dist-info/METADATA"))
        requires = re.search(r"^Requires-Python: (.*)$", archive.read(metadata).decode(), re.M)
    for needed in ("quillmere.abi3.so", "quillmere_tools/__init__.py", "quillmere_tools/py.typed",
                   "quillmere_tools/_native.pyi", "quillmere-stubs/__init__.pyi"):
        if needed not in names:
            fail(f"{wheel.name} lacks {needed}")
    if not requires or requires.group(1) != ">=3.11":
        fail(f"Requires-Python is {requires.group(1) if requires else 'absent'}, not >=3.11")
    print(f"wheel: {wheel.name}: {len(names)} files, Requires-Python {requires.group(1)}, stubs and py.typed present")


def main() -> None:
    wheels = sorted(Path(sys.argv[1]).glob("quillmere-*.whl"))
    if len(wheels) != 1:
        fail(f"expected one quillmere wheel in {sys.argv[1]}, found {[w.name for w in wheels]}")
    wheel = wheels[0].resolve()
    if "-cp311-abi3-" not in wheel.name:
        fail(f"{wheel.name} is not a cp311-abi3 wheel")
    check_contents(wheel)

    report = run(sys.executable, "-m", "abi3audit", "--strict", "--report", "--verbose", wheel)
    print("wheel: abi3audit --strict: no violation\n" + report.strip())

    shown = run(sys.executable, "-m", "auditwheel", "show", wheel)
    tag = re.search(r'consistent with the\s+following\s+platform\s+tag:\s*"([^"]+)"', shown)
    if tag is None:
        fail("auditwheel show named no platform tag:\n" + shown)
    print(f"wheel: auditwheel show: platform tag {tag.group(1)}")
    print("\n".join("  " + line for line in shown.strip().splitlines()))

    with tempfile.TemporaryDirectory(prefix="quillmere-wheel-") as temp:
        venv = Path(temp) / "venv"
        run(sys.executable, "-m", "venv", venv)
        python = venv / "bin" / "python"
        run(python, "-m", "pip", "install", "-q", f"{wheel}[geo]")
        print(run(python, "-c", SMOKE, cwd=Path(temp)).strip())


if __name__ == "__main__":
    main()
