"""quillmere_tools.dask on a real distributed.LocalCluster: 2 worker processes
of 1 Dask thread each, a pool of 1 thread in each.

A partitioned GeoParquet dataset (generated polygons with holes and
MultiPolygons, the 220 countries of countries-land-10km), a Parquet dataset of
WKT texts and text files of GeoJSON lines are each read, smoothed and
simplified, written and read back on the cluster, and compared with the
in-process result; an invalid text reaches the client with its partition and
row; a worker killed in the middle of a task is replaced and the result is
still complete and identical."""
import json
import os
import signal
import sys
from pathlib import Path

import pytest

pytest.importorskip("dask")
dd = pytest.importorskip("dask.dataframe")
db = pytest.importorskip("dask.bag")
distributed = pytest.importorskip("distributed")
dask_geopandas = pytest.importorskip("dask_geopandas")

import cloudpickle  # noqa: E402
import geopandas as gpd  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
import shapely  # noqa: E402
import shapely.geometry  # noqa: E402

import quillmere_tools  # noqa: E402
from quillmere_tools import InvalidGeometryError, smooth_simplify_geojsons, smooth_simplify_wkts  # noqa: E402
from quillmere_tools.dask import PartitionInvalidGeometryError, local_cluster, smooth_simplify  # noqa: E402

# The workers cannot import this file by name: its functions travel by value.
cloudpickle.register_pickle_by_value(sys.modules[__name__])

REAL_DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-land-10km.geo.json"
ITERATIONS = 2
TOLERANCE = 0.002  # degrees
PARTITIONS = 5


@pytest.fixture(scope="module")
def client():
    with local_cluster(2, pool_threads=1, dashboard_address=None, memory_limit="4GiB") as cluster:
        with distributed.Client(cluster) as client:
            yield client


def star(rng, cx, cy, radius, n, hole):
    angles = np.sort(rng.uniform(0.0, 2.0 * np.pi, n))
    radii = radius * (0.6 + 0.4 * rng.random(n))
    shell = np.column_stack([cx + radii * np.cos(angles), cy + radii * np.sin(angles)])
    holes = []
    if hole:
        angles = np.linspace(2.0 * np.pi, 0.0, 9)
        holes.append(np.column_stack([cx + 0.3 * radius * np.cos(angles), cy + 0.3 * radius * np.sin(angles)]))
    return shapely.Polygon(shell, holes)


def generated(count=1500, seed=14):
    """Polygons (a third with a hole), MultiPolygons of 2-3 parts, some tiny
    enough to collapse, and a few None, empty and non-polygon geometries."""
    rng = np.random.default_rng(seed)
    out = []
    for i in range(count):
        cx, cy = rng.uniform(-170, 170), rng.uniform(-80, 80)
        radius = 10 ** rng.uniform(-3.5, 0.0)
        n = int(rng.integers(4, 80))
        if i % 4 == 3:
            parts = [star(rng, cx + 3 * radius * j, cy, radius, n, j == 0) for j in range(int(rng.integers(2, 4)))]
            out.append(shapely.MultiPolygon(parts))
        else:
            out.append(star(rng, cx, cy, radius, n, i % 3 == 0))
    out[10] = None
    out[20] = shapely.Polygon()
    out[30] = shapely.MultiPolygon()
    out[40] = shapely.LineString([(0, 0), (1, 1)])
    out[50] = shapely.Point(3, 4)
    return out


@pytest.fixture(scope="module")
def frame():
    geometries = generated()
    names = [f"generated {i}" for i in range(len(geometries))]
    if REAL_DATA.exists():
        countries = gpd.read_file(REAL_DATA)
        geometries += list(countries.geometry)
        names += [f"country {i}" for i in range(len(countries))]
    # Real and generated rows mixed over the partitions.
    order = np.random.default_rng(1).permutation(len(geometries))
    return gpd.GeoDataFrame(
        {"id": np.arange(len(geometries)), "name": [names[i] for i in order]},
        geometry=[geometries[i] for i in order],
        crs=4326,
    )


@pytest.fixture(scope="module")
def dataset(frame, tmp_path_factory):
    path = tmp_path_factory.mktemp("dask") / "input.parquet"
    dask_geopandas.from_geopandas(frame, npartitions=PARTITIONS).to_parquet(path, compute_kwargs={"scheduler": "sync"})
    return path


def number(x):
    return np.format_float_positional(x, unique=True, trim="-")


def exact_wkt(geometry):
    """WKT with every coordinate written exactly (shapely's writer rounds)."""
    def polygon(p):
        rings = [p.exterior, *p.interiors]
        return "(" + ",".join("(" + ",".join(f"{number(x)} {number(y)}" for x, y in r.coords) + ")" for r in rings) + ")"

    if geometry.is_empty:
        return f"{geometry.geom_type.upper()} EMPTY"
    if geometry.geom_type == "Polygon":
        return "POLYGON" + polygon(geometry)
    return "MULTIPOLYGON(" + ",".join(polygon(p) for p in geometry.geoms) + ")"


def polygon_texts(frame):
    """The WKT and GeoJSON Feature texts of the Polygon and MultiPolygon rows,
    None for the others; coordinates written exactly."""
    wkts, features = [], []
    for i, geometry in zip(frame["id"], frame.geometry):
        if geometry is None or geometry.geom_type not in ("Polygon", "MultiPolygon"):
            wkts.append(None)
            features.append(None)
            continue
        wkts.append(exact_wkt(geometry))
        # json writes each float as its repr, which reads back exactly.
        mapping = shapely.geometry.mapping(geometry)
        features.append(json.dumps({"type": "Feature", "id": int(i), "properties": {"n": int(i)}, "geometry": mapping}))
    return wkts, features


def wkb_list(geometries):
    return list(shapely.to_wkb(np.asarray(geometries, dtype=object)))


def test_cluster_is_sized(client):
    info = client.scheduler_info()["workers"]
    assert len(info) == 2 and all(w["nthreads"] == 1 for w in info.values())
    assert set(client.run(quillmere_tools.num_threads).values()) == {1}


def test_geoparquet_round_trip(client, frame, dataset, tmp_path):
    lazy = dask_geopandas.read_parquet(dataset)
    assert lazy.npartitions == PARTITIONS
    result = smooth_simplify(lazy, ITERATIONS, TOLERANCE)
    assert result.npartitions == lazy.npartitions and result.divisions == lazy.divisions
    result.to_parquet(tmp_path / "output.parquet")
    back = dask_geopandas.read_parquet(tmp_path / "output.parquet").compute().sort_values("id")

    expected = quillmere_tools.smooth_simplify(frame.geometry, ITERATIONS, TOLERANCE)
    assert back.crs == frame.crs
    assert back["id"].tolist() == frame["id"].tolist()
    assert back["name"].tolist() == frame["name"].tolist()
    assert wkb_list(back.geometry.values) == wkb_list(expected.values)
    # Something happened: most polygons changed.
    changed = ~shapely.equals_exact(np.asarray(back.geometry.values), np.asarray(frame.geometry.values), 0.0)
    assert changed.sum() > 0.9 * len(frame)


def test_wkt_column_round_trip(client, frame, tmp_path):
    wkts, _ = polygon_texts(frame)
    table = pd.DataFrame({"id": frame["id"], "wkt": wkts})
    dd.from_pandas(table, npartitions=PARTITIONS).to_parquet(tmp_path / "wkt-in", compute_kwargs={"scheduler": "sync"})

    lazy = dd.read_parquet(tmp_path / "wkt-in")
    out = lazy.assign(wkt=smooth_simplify(lazy["wkt"], ITERATIONS, TOLERANCE))
    out.to_parquet(tmp_path / "wkt-out")
    back = dd.read_parquet(tmp_path / "wkt-out").compute(scheduler="sync").sort_values("id")

    got = [None if pd.isna(v) else v for v in back["wkt"]]
    assert got == smooth_simplify_wkts(wkts, ITERATIONS, TOLERANCE)
    # The same geometries as through shapely.
    expected = quillmere_tools.smooth_simplify(shapely.from_wkt(np.asarray(wkts, dtype=object)), ITERATIONS, TOLERANCE)
    assert wkb_list(shapely.from_wkt(np.asarray(got, dtype=object))) == wkb_list(expected)


def test_geojson_lines_bag_round_trip(client, frame, tmp_path):
    _, features = polygon_texts(frame)
    lines = [f for f in features if f is not None]
    (tmp_path / "in").mkdir()
    chunk = -(-len(lines) // PARTITIONS)
    for p in range(PARTITIONS):
        text = "".join(line + "\n" for line in lines[p * chunk : (p + 1) * chunk])
        (tmp_path / "in" / f"{p}.geojsonl").write_text(text)

    bag = db.read_text(str(tmp_path / "in" / "*.geojsonl"))
    assert bag.npartitions == PARTITIONS
    result = smooth_simplify(bag, ITERATIONS, TOLERANCE)
    assert result.npartitions == PARTITIONS
    result.map(str.rstrip).to_textfiles(str(tmp_path / "out" / "*.geojsonl"))
    back = []
    for p in range(PARTITIONS):
        back += (tmp_path / "out" / f"{p}.geojsonl").read_text().splitlines()

    expected = smooth_simplify_geojsons([line + "\n" for line in lines], ITERATIONS, TOLERANCE)
    assert back == [text.rstrip() for text in expected]
    # Properties and ids kept, geometries those of shapely's path.
    parsed = [json.loads(text) for text in back]
    assert [(f["id"], f["properties"]) for f in parsed] == [(json.loads(t)["id"], json.loads(t)["properties"]) for t in lines]
    # The inputs as quillmere's JSON reader takes them (k = 0, tolerance 0
    # gives them back); for some 17-digit numbers it differs from Python's
    # reading by one unit in the last place.
    as_read = smooth_simplify_geojsons(lines, 0, 0.0)
    inputs = [shapely.geometry.shape(json.loads(t)["geometry"]) for t in as_read]
    got = [shapely.geometry.shape(f["geometry"]) for f in parsed]
    assert wkb_list(got) == wkb_list(quillmere_tools.smooth_simplify(inputs, ITERATIONS, TOLERANCE))


def test_invalid_row_reaches_client_with_position(client, frame):
    wkts, _ = polygon_texts(frame)
    texts = [w for w in wkts if w is not None][:400]
    texts[250] = "POLYGON((0 0,1 0,1 1"
    series = pd.Series(texts, index=np.arange(5000, 5000 + len(texts)), dtype=object)
    lazy = dd.from_pandas(series, npartitions=4)  # 100 rows each
    with pytest.raises(InvalidGeometryError) as caught:
        smooth_simplify(lazy, ITERATIONS, TOLERANCE).compute()
    error = caught.value
    assert isinstance(error, PartitionInvalidGeometryError)
    assert (error.partition, error.index, error.label) == (2, 50, 5250)
    with pytest.raises(InvalidGeometryError) as alone:
        smooth_simplify_wkts([texts[250]], 1, 0.0)
    assert error.reason == alone.value.reason

    bag = db.from_sequence(texts, npartitions=4)
    with pytest.raises(PartitionInvalidGeometryError) as in_bag:
        smooth_simplify(bag, ITERATIONS, TOLERANCE).compute()
    assert (in_bag.value.partition, in_bag.value.index, in_bag.value.label) == (2, 50, None)

    ignored = smooth_simplify(lazy, ITERATIONS, TOLERANCE, on_invalid="ignore").compute()
    assert pd.isna(ignored.loc[5250]) and ignored.notna().sum() == len(texts) - 1


def kill_first_time(part, marker):
    """Kills the worker process running it, once in the whole cluster."""
    try:
        os.close(os.open(marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
    except FileExistsError:
        return part
    os.kill(os.getpid(), signal.SIGKILL)
    raise AssertionError("unreachable")


def test_worker_killed_mid_task_is_retried(client, frame, dataset, tmp_path):
    marker = str(tmp_path / "killed")
    lazy = dask_geopandas.read_parquet(dataset)
    smoothed = smooth_simplify(lazy, ITERATIONS, TOLERANCE)
    # Blockwise steps fuse: the kill lands inside the task that smooths.
    result = smoothed.map_partitions(kill_first_time, marker, meta=smoothed._meta)
    pids_before = set(client.run(os.getpid).values())
    computed = result.compute().sort_values("id")
    assert os.path.exists(marker)
    pids_after = set(client.run(os.getpid).values())
    assert pids_after != pids_before  # one worker process was replaced

    expected = quillmere_tools.smooth_simplify(frame.geometry, ITERATIONS, TOLERANCE)
    assert computed["id"].tolist() == frame["id"].tolist()
    assert wkb_list(computed.geometry.values) == wkb_list(expected.values)
    # The replacement worker has the same pool size.
    client.wait_for_workers(2, timeout=60)
    assert set(client.run(quillmere_tools.num_threads).values()) == {1}
