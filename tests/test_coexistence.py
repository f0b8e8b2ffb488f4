"""The module shares the process with other native libraries: after its pool
starts (sizing itself from the processor count) they keep working, in either
order of use, and the installed binaries export nothing but module entry points."""
import os
import subprocess
import sys
from importlib import metadata
from pathlib import Path

import pytest

START_POOL = {
    "quillmere": "import quillmere; quillmere.smooth_and_simplify_polygons_from_wkts(['POLYGON((0 0,1 0,1 1,0 0))'] * 64, 1, 0.1)\n",
    "quillmere_tools": "import quillmere_tools, numpy; quillmere_tools.smooth_simplify_ragged("
    "3, numpy.zeros((4, 2)), (numpy.array([0, 4]), numpy.array([0, 1])), 1, 0.1)\n",
}

# Each snippet does some of the other library's own work and asserts on it.
OTHER_WORK = {
    "pyproj": (
        "import pyproj\n"
        "assert pyproj.CRS('EPSG:4326').name == 'WGS 84'\n"
        "x, y = pyproj.Transformer.from_crs(4326, 3857, always_xy=True).transform(1.0, 2.0)\n"
        "assert abs(x - 111319.49079327357) < 1e-6 and abs(y - 222684.20850554405) < 1e-6, (x, y)\n"
    ),
    "geopandas": (
        "import os, tempfile, geopandas, shapely\n"
        "path = os.path.join(tempfile.mkdtemp(), 'a.gpkg')\n"
        "frame = geopandas.GeoDataFrame({'v': [1.5]}, geometry=[shapely.box(0, 0, 1, 1)], crs='EPSG:4326')\n"
        "frame.to_file(path, engine='pyogrio')\n"
        "back = geopandas.read_file(path, engine='pyogrio')\n"
        "assert back.crs.to_epsg() == 4326 and back.v[0] == 1.5 and back.geometry[0].area == 1.0\n"
    ),
    "pyarrow": (
        "import io, pyarrow.csv\n"
        "table = pyarrow.csv.read_csv(io.BytesIO(b'a,b\\n1.25,x\\n-2.5e3,y\\n'))\n"
        "assert table.column('a').to_pylist() == [1.25, -2500.0]\n"
    ),
    "pandas": (
        "import io, pandas\n"
        "frame = pandas.read_csv(io.StringIO('a,b\\n0.1,2\\n3.5e-3,4\\n'))\n"
        "assert frame.a.tolist() == [0.1, 0.0035] and frame.b.sum() == 6\n"
    ),
    "shapely": (
        "import shapely\n"
        "g = shapely.from_wkt('POLYGON((0 0,10 0,10 10,0 10,0 0))').buffer(1.0)\n"
        "assert 139 < g.area < 144 and shapely.to_wkt(shapely.Point(0.5, 1), rounding_precision=-1) == 'POINT (0.5 1)'\n"
    ),
    "numpy": (
        "import numpy\n"
        "assert numpy.array(['1.5', '-2e3']).astype(float).tolist() == [1.5, -2000.0]\n"
        "assert numpy.fromstring('1.25 2.5', sep=' ').tolist() == [1.25, 2.5]\n"
    ),
}


CASES = [(library, "quillmere") for library in sorted(OTHER_WORK)] + [
    ("pyproj", "quillmere_tools"), ("geopandas", "quillmere_tools")]


@pytest.mark.parametrize("quillmere_first", [True, False], ids=["ours-first", "other-first"])
@pytest.mark.parametrize("library, starter", CASES)
def test_other_native_libraries_keep_working(library, starter, quillmere_first):
    pytest.importorskip(library)
    work = OTHER_WORK[library]
    start = START_POOL[starter]
    script = start + work if quillmere_first else work + start + work
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr


def installed_shared_objects():
    files = metadata.files("quillmere") or []
    found = [Path(f.locate()) for f in files if ".so" in f.name]
    return [path for path in found if path.exists()]


def test_installed_binaries_export_only_module_entry_points():
    objects = installed_shared_objects()
    if not objects:
        pytest.skip("quillmere is not installed as a distribution (sanitizer build on the path)")
    for path in objects:
        listing = subprocess.run(["nm", "-D", "--defined-only", str(path)], capture_output=True, text=True, check=True)
        names = [line.split()[-1] for line in listing.stdout.splitlines() if line.strip()]
        assert names and all(name.startswith("PyInit_") for name in names), (path, names[:10])
