"""quillmere_tools on shapely geometries and ragged arrays: the same numbers as
quillmere, the collapse policy, arrays checked, the lock released, Ctrl-C."""
import json
import lzma
import os
import re
import subprocess
import sys
import textwrap
import threading
from pathlib import Path

import pytest

np = pytest.importorskip("numpy")
shapely = pytest.importorskip("shapely")

import quillmere  # noqa: E402
import quillmere_tools as qt  # noqa: E402

DATA = Path(__file__).resolve().parents[2] / "shared" / "data"
RING = re.compile(r"\(([^()]*)\)")


def quillmere_rings(wkt_text, k, tol):
    """Rings of quillmere's WKT result, as float arrays."""
    (out,) = quillmere.smooth_and_simplify_polygons_from_wkts([wkt_text], k, tol)
    return [np.array([[float(v) for v in p.split(" ")] for p in r.split(",")]) for r in RING.findall(out)]


def expected_polygon(wkt_text, k, tol, keep):
    rings = quillmere_rings(wkt_text, k, tol)
    if not keep:
        rings = [] if rings and len(rings[0]) < 4 else [r for r in rings if len(r) >= 4]
    return rings


def exact_wkt(polygon):
    # GEOS's writer does not round-trip every double; repr does.
    rings = rings_of(polygon)
    if not rings:
        return "POLYGON EMPTY"
    return "POLYGON(" + ",".join("(" + ",".join(f"{x!r} {y!r}" for x, y in r.tolist()) + ")" for r in rings) + ")"


def rings_of(polygon):
    if polygon.is_empty:
        return []
    return [np.asarray(polygon.exterior.coords)] + [np.asarray(r.coords) for r in polygon.interiors]


def assert_same_rings(got, want):
    assert len(got) == len(want)
    for g, w in zip(got, want):
        assert g.shape == w.shape and np.array_equal(g, w), (g[:3], w[:3])


def check_against_quillmere(geometries, k, tol, keep=False):
    results = qt.smooth_simplify(geometries, k, tol, keep_collapsed=keep)
    for source, result in zip(geometries, results):
        assert result.geom_type == source.geom_type
        members = list(source.geoms) if source.geom_type == "MultiPolygon" else [source]
        expected = [expected_polygon(exact_wkt(p), k, tol, keep) for p in members]
        if source.geom_type == "MultiPolygon":
            if not keep:
                expected = [e for e in expected if e]
            assert len(result.geoms) == len(expected)
            for got, want in zip(result.geoms, expected):
                assert_same_rings(rings_of(got), want)
        else:
            assert_same_rings(rings_of(result), expected[0])


def random_polygons(seed, count, holes=True):
    rng = np.random.default_rng(seed)
    out = []
    for i in range(count):
        m = int(rng.integers(3, 60))
        angles = np.sort(rng.uniform(0, 2 * np.pi, m))
        radii = rng.uniform(0.2, 1.0, m) * 10 ** rng.uniform(-3, 3)
        shell = np.stack([np.cos(angles) * radii + i, np.sin(angles) * radii], -1)
        inner = [shell[:: max(1, m // 4)][:4] * 0.1 + [i * 0.9, 0]] if holes and i % 3 == 0 else []
        out.append(shapely.Polygon(shell, inner))
    return out


@pytest.mark.parametrize("k, tol", [(0, 0.0), (0, 0.05), (1, 0.0), (2, 0.3), (3, 1e-3), (0, 1e9)])
def test_generated_polygons_and_multipolygons_match_quillmere(k, tol):
    polygons = random_polygons(7, 120)
    multis = [shapely.MultiPolygon(polygons[i : i + 3]) for i in range(0, 60, 3)]
    check_against_quillmere(polygons + multis, k, tol)
    # Collapsed rings kept: shapely may refuse them, so compare the arrays.
    _, coords, (ring_offsets, polygon_offsets) = qt.smooth_simplify_ragged(
        *shapely.to_ragged_array(polygons), k, tol, keep_collapsed=True
    )
    for i, polygon in enumerate(polygons):
        rings = range(polygon_offsets[i], polygon_offsets[i + 1])
        got = [coords[ring_offsets[r] : ring_offsets[r + 1]] for r in rings]
        assert_same_rings(got, expected_polygon(exact_wkt(polygon), k, tol, True))


def test_real_borders_match_quillmere():
    collection = json.loads((DATA / "countries-land-10km.geo.json").read_text()) if DATA.exists() else None
    if collection is None:
        pytest.skip("shared data absent")
    geometries = [shapely.geometry.shape(f["geometry"]) for f in collection["features"]]
    check_against_quillmere(geometries, 2, 0.01)


def test_coastline_slice_matches_quillmere():
    path = DATA / "countries-coastline-1m.geo.json.xz"
    if not path.exists():
        pytest.skip("shared data absent")
    features = json.loads(lzma.decompress(path.read_bytes()))["features"]
    geometries = shapely.from_geojson([json.dumps(f["geometry"]) for f in features[::25]])
    check_against_quillmere(list(geometries), 1, 1e-4)


def test_kinds_and_containers_are_kept():
    geopandas = pytest.importorskip("geopandas")
    square = shapely.box(0, 0, 1, 1)
    values = [square, None, shapely.Point(1, 2), shapely.LineString([(0, 0), (1, 1)]), shapely.Polygon(),
              shapely.MultiPolygon([square, shapely.box(5, 5, 6, 6)]), shapely.from_wkt("MULTIPOLYGON EMPTY")]
    series = geopandas.GeoSeries(values, index=list("abcdefg"), name="shapes", crs="EPSG:3857")
    out = qt.smooth_simplify(series, 1, 0.0)
    assert isinstance(out, geopandas.GeoSeries)
    assert list(out.index) == list("abcdefg") and out.name == "shapes" and out.crs == series.crs
    assert [g is None or g.geom_type for g in out] == [g is None or g.geom_type for g in values]
    for i in (1, 2, 3, 4, 6):
        assert (out.iloc[i] is None and values[i] is None) or out.iloc[i].equals(values[i])
    assert len(out.iloc[0].exterior.coords) == 9

    grid = np.array(values + [square], dtype=object).reshape(2, 4)
    assert qt.smooth_simplify(grid, 1, 0.0).shape == (2, 4)
    assert isinstance(qt.smooth_simplify(tuple(values), 0, 0.0), list)


def test_collapse_policy():
    island = shapely.Polygon([(0, 0), (1, 0), (1, 1e-9), (0, 0)])
    big = shapely.Polygon([(0, 0), (100, 0), (100, 100), (0, 100)], [[(10, 10), (11, 10), (11, 10.000001)]])
    polygon, multi, holed = qt.smooth_simplify([island, shapely.MultiPolygon([island, big]), big], 0, 0.5)
    assert polygon.is_empty and polygon.geom_type == "Polygon"
    assert len(multi.geoms) == 1 and len(multi.geoms[0].interiors) == 0
    assert len(holed.interiors) == 0
    assert qt.smooth_simplify([shapely.MultiPolygon([island])], 0, 0.5)[0].wkt == "MULTIPOLYGON EMPTY"
    kind, coords, offsets = qt.smooth_simplify_ragged(*shapely.to_ragged_array([island]), 0, 0.5, keep_collapsed=True)
    assert coords.tolist() == [[0.0, 0.0], [1.0, 0.0], [0.0, 0.0]] and [o.tolist() for o in offsets] == [[0, 3], [0, 1]]


COORDS = np.zeros((4, 2))
GOOD = (np.array([0, 4], np.int32), np.array([0, 1], np.int64))


@pytest.mark.parametrize(
    "kind, coords, offsets, error, words",
    [
        (3, COORDS.astype(np.float32), GOOD, ValueError, "coords must hold float64"),
        (3, np.zeros((4, 3)), GOOD, ValueError, "shape (n, 2)"),
        (3, np.zeros(8), GOOD, ValueError, "coords must have shape"),
        (3, COORDS, (GOOD[0].astype(np.uint32), GOOD[1]), ValueError, "offsets[0] must hold int32 or int64"),
        (3, COORDS, (np.array([0, 5]), GOOD[1]), ValueError, "offsets[0] points past coords at position 1"),
        (3, COORDS, (np.array([0, 3, 2]), np.array([0, 2])), ValueError, "offsets[0] decreases at position 2"),
        (3, COORDS, (np.array([-1, 4]), GOOD[1]), ValueError, "offsets[0] is negative at position 0"),
        (3, COORDS, (GOOD[0], np.array([0, 2])), ValueError, "offsets[1] points past offsets[0] at position 1"),
        (3, COORDS, (GOOD[0], np.array([], np.int64)), ValueError, "offsets[1] is empty"),
        (3, COORDS, GOOD[:1], ValueError, "offsets must hold 2 arrays"),
        (6, COORDS, GOOD, ValueError, "offsets must hold 3 arrays"),
        (2, COORDS, GOOD, ValueError, "geometry_type must be Polygon (3) or MultiPolygon (6)"),
        (3, "text", GOOD, TypeError, "coords must be a C-contiguous array"),
        (3, COORDS, "ab", TypeError, "offsets must be a sequence"),
    ],
)
def test_bad_arrays_are_named(kind, coords, offsets, error, words):
    with pytest.raises(error) as info:
        qt.smooth_simplify_ragged(kind, coords, offsets, 0, 0.0)
    assert words in str(info.value)


@pytest.mark.parametrize(
    "iterations, tolerance, error, words",
    [(1.0, 0.0, TypeError, "iterations must be an int"), (-1, 0.0, ValueError, "iterations must be >= 0"),
     (True, 0.0, TypeError, "iterations"), (0, "1", TypeError, "tolerance must be a real number"),
     (2**64, 0.0, OverflowError, "iterations")],
)
def test_bad_parameters_are_named(iterations, tolerance, error, words):
    with pytest.raises(error, match=words):
        qt.smooth_simplify([shapely.box(0, 0, 1, 1)], iterations, tolerance)


def test_result_too_large_raises_memory_error_at_once():
    with pytest.raises(MemoryError):
        qt.smooth_simplify([shapely.box(0, 0, 1, 1)], 70, 0.0)


def long_call_polygons():
    rng = np.random.default_rng(3)
    angles = np.sort(rng.uniform(0, 2 * np.pi, (4000, 64)), axis=1)
    shells = np.stack([np.cos(angles) + np.arange(4000)[:, None] * 3, np.sin(angles)], -1)
    return shapely.polygons(np.concatenate([shells, shells[:, :1]], 1))


def test_other_threads_run_during_a_call():
    polygons = long_call_polygons()
    ticks, stop = [0], threading.Event()

    def count():
        while not stop.is_set():
            ticks[0] += 1

    counter = threading.Thread(target=count)
    counter.start()
    try:
        before = ticks[0]
        qt.smooth_simplify(polygons[:1500], 7, 1e-3)
        during = ticks[0] - before
    finally:
        stop.set()
        counter.join()
    # Holding the lock for the call would leave the counter a few switch
    # intervals' worth of ticks at most.
    assert during > 100_000, during


def test_ctrl_c_interrupts_a_long_call_and_the_next_call_works():
    script = textwrap.dedent(
        """
        import os, signal, threading, time, shapely, numpy as np, quillmere_tools as qt
        from test_tools_geometry import long_call_polygons
        polygons = long_call_polygons()
        sent = []
        threading.Timer(0.5, lambda: (sent.append(time.monotonic()), os.kill(os.getpid(), signal.SIGINT))).start()
        try:
            qt.smooth_simplify(polygons, 9, 1e-3)
            print("finished")
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - sent[0])
        square = shapely.Polygon([(0, 0), (1, 0), (1, 1), (0, 1)])
        print(qt.smooth_simplify([square], 1, 0.0)[0].wkt)
        """
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(Path(__file__).parent), os.environ.get("PYTHONPATH", "")]))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300, env=env)
    assert done.returncode == 0, done.stderr
    first, second = done.stdout.splitlines()
    word, latency = first.split()
    assert word == "interrupted" and float(latency) < 0.5, first
    assert second == "POLYGON ((0.25 0, 0.75 0, 1 0.25, 1 0.75, 0.75 1, 0.25 1, 0 0.75, 0 0.25, 0.25 0))"


def test_results_do_not_depend_on_the_thread_count():
    script = (
        "import hashlib, shapely, quillmere_tools as qt\n"
        "from test_tools_geometry import random_polygons\n"
        "out = qt.smooth_simplify(random_polygons(5, 3000), 2, 0.01)\n"
        "print(hashlib.sha256(shapely.to_wkb(out).sum()).hexdigest())\n"
    )
    digests = set()
    for threads in ("1", "2", "5"):
        env = dict(os.environ, RAYON_NUM_THREADS=threads,
                   PYTHONPATH=os.pathsep.join([str(Path(__file__).parent), os.environ.get("PYTHONPATH", "")]))
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300, env=env)
        assert done.returncode == 0, done.stderr
        digests.add(done.stdout)
    assert len(digests) == 1


def test_concurrent_calls_from_python_threads_each_get_their_own_result():
    batches = [random_polygons(seed, 300) for seed in range(4)]
    expected = [shapely.to_wkb(qt.smooth_simplify(b, 2, 0.01)).tolist() for b in batches]
    results = [None] * 4

    def work(i):
        results[i] = shapely.to_wkb(qt.smooth_simplify(batches[i], 2, 0.01)).tolist()

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == expected


def test_interpreter_exit_during_a_call_in_a_daemon_thread_is_clean():
    script = (
        "import threading, time, quillmere_tools as qt\n"
        "from test_tools_geometry import long_call_polygons\n"
        "p = long_call_polygons()\n"
        "threading.Thread(target=lambda: qt.smooth_simplify(p, 9, 1e-3), daemon=True).start()\n"
        "time.sleep(0.3)\n"
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(Path(__file__).parent), os.environ.get("PYTHONPATH", "")]))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300, env=env)
    assert done.returncode == 0, done.stderr
