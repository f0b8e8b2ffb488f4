"""quillmere_tools.dask without a cluster: what each kind of collection gives
back (lazy, same meta, partitions and divisions), the text-kind detection, the
invalid-text policies with the partition and row, argument checks, and the
ImportError naming the extra. The cluster tests are in test_dask_cluster.py."""
import subprocess
import sys
import warnings

import pytest

dask = pytest.importorskip("dask")
dd = pytest.importorskip("dask.dataframe")
db = pytest.importorskip("dask.bag")
pytest.importorskip("distributed")
dask_geopandas = pytest.importorskip("dask_geopandas")

import geopandas as gpd  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
import shapely  # noqa: E402

import quillmere_tools  # noqa: E402
from quillmere_tools import InvalidGeometryError, smooth_simplify_geojsons, smooth_simplify_wkts  # noqa: E402
from quillmere_tools.dask import PartitionInvalidGeometryError, smooth_simplify  # noqa: E402

SYNC = {"scheduler": "sync"}

SQUARE = "POLYGON((0 0,10 0,10 10,0 10,0 0))"
HOLED = "POLYGON((0 0,10 0,10 10,0 10,0 0),(2 2,2 4,4 4,4 2,2 2))"
MULTI = "MULTIPOLYGON(((0 0,10 0,10 10,0 10,0 0)),((20 0,30 0,30 10,20 0)))"
BAD = "POLYGON((0 0,1 0"


def feature(wkt, **properties):
    geometry = shapely.to_geojson(shapely.from_wkt(wkt))
    return '{"type":"Feature","properties":%s,"geometry":%s}' % (pd.Series(properties).to_json(), geometry)


def plain(series):
    """The values of a computed Series, a missing value as None."""
    return [None if pd.isna(v) else v for v in series]


def geodataframe(n=12):
    geometries = [shapely.from_wkt(w) for w in (SQUARE, HOLED, MULTI)] * (n // 3)
    geometries[1] = None
    geometries[4] = shapely.Point(1, 2)
    geometries[7] = shapely.from_wkt("POLYGON EMPTY")
    return gpd.GeoDataFrame({"id": np.arange(n), "name": [f"g{i}" for i in range(n)]}, geometry=geometries, crs=3857)


def test_geodataframe_is_lazy_and_keeps_meta_partitions_divisions():
    frame = geodataframe()
    lazy = dask_geopandas.from_geopandas(frame, npartitions=3)
    result = smooth_simplify(lazy, 2, 0.5)
    assert isinstance(result, dask_geopandas.GeoDataFrame)
    assert result.npartitions == lazy.npartitions and result.divisions == lazy.divisions
    assert list(result.columns) == list(lazy.columns)
    assert result.crs == lazy.crs and result.geometry.name == "geometry"
    computed = result.compute(**SYNC)
    expected = quillmere_tools.smooth_simplify(frame.geometry, 2, 0.5)
    assert computed.crs == frame.crs
    assert computed["id"].tolist() == frame["id"].tolist() and computed["name"].tolist() == frame["name"].tolist()
    assert list(shapely.to_wkb(computed.geometry.values)) == list(shapely.to_wkb(expected.values))


def test_geoseries_and_other_active_geometry_column():
    frame = geodataframe().rename_geometry("shape")
    frame["other"] = gpd.GeoSeries([shapely.Point(0, 0)] * len(frame))
    lazy = dask_geopandas.from_geopandas(frame, npartitions=2)
    result = smooth_simplify(lazy, 1, 0.0, keep_collapsed=True).compute(**SYNC)
    assert result.geometry.name == "shape"
    assert result["other"].equals(frame["other"])
    expected = quillmere_tools.smooth_simplify(frame.geometry, 1, 0.0, keep_collapsed=True)
    assert list(shapely.to_wkb(result.geometry.values)) == list(shapely.to_wkb(expected.values))

    series = smooth_simplify(lazy.geometry, 1, 0.0)
    assert isinstance(series, dask_geopandas.GeoSeries) and series.name == "shape"
    assert series.divisions == lazy.divisions
    computed = series.compute(**SYNC)
    assert computed.crs == frame.crs
    assert list(shapely.to_wkb(computed.values)) == list(shapely.to_wkb(expected.values))


def test_series_of_wkt_keeps_dtype_name_index():
    texts = [SQUARE, None, HOLED, MULTI, "multipolygon empty", SQUARE.lower()]
    for dtype in (object, "string"):
        series = pd.Series(texts, name="wkt", index=np.arange(100, 106), dtype=dtype)
        lazy = dd.from_pandas(series, npartitions=3)
        result = smooth_simplify(lazy, 2, 0.1)
        assert result.dtype == lazy.dtype and result.name == "wkt"
        assert result.divisions == lazy.divisions and result.npartitions == 3
        computed = result.compute(**SYNC)
        assert computed.index.tolist() == list(range(100, 106))
        expected = smooth_simplify_wkts(texts, 2, 0.1)
        assert plain(computed) == expected


def test_kind_detected_per_partition_or_given():
    features = [feature(SQUARE, a=1), None, feature(MULTI, b="x")]
    lazy = dd.from_pandas(pd.Series(features, dtype=object), npartitions=2)
    detected = plain(smooth_simplify(lazy, 1, 0.0).compute(**SYNC))
    assert detected == smooth_simplify_geojsons(features, 1, 0.0)
    given = plain(smooth_simplify(lazy, 1, 0.0, kind="geojson").compute(**SYNC))
    assert given == detected
    # A partition that starts with white space before "{" is GeoJSON too.
    spaced = ["  \n" + features[0]]
    assert smooth_simplify(db.from_sequence(spaced), 1, 0.0).compute(**SYNC) == smooth_simplify_geojsons(spaced, 1, 0.0)
    # Told WKT, a GeoJSON text is invalid.
    with pytest.raises(PartitionInvalidGeometryError):
        smooth_simplify(lazy, 1, 0.0, kind="wkt").compute(**SYNC)


def test_bag_of_texts():
    texts = [SQUARE, HOLED, None, MULTI, SQUARE]
    bag = db.from_sequence(texts, npartitions=3)
    result = smooth_simplify(bag, 3, 0.01)
    assert isinstance(result, db.Bag) and result.npartitions == bag.npartitions
    assert result.compute(**SYNC) == smooth_simplify_wkts(texts, 3, 0.01)


def test_nothing_computed_until_asked():
    calls = []

    def load(i):
        calls.append(i)
        return pd.Series([SQUARE, HOLED], index=[2 * i, 2 * i + 1], dtype=object)

    lazy = dd.from_map(load, [0, 1, 2], meta=pd.Series([], dtype=object), divisions=[0, 2, 4, 5])
    result = smooth_simplify(lazy, 1, 0.0)
    bag = smooth_simplify(db.from_sequence([0, 1], npartitions=2).map(lambda i: calls.append(i) or SQUARE), 1, 0.0)
    geo = smooth_simplify(dask_geopandas.from_geopandas(geodataframe(), npartitions=2).map_partitions(
        lambda part: calls.append(-1) or part, meta=geodataframe().iloc[:0]), 1, 0.0)
    assert calls == []
    assert len(result.compute(**SYNC)) == 6 and sorted(calls) == [0, 1, 2]
    assert bag.compute(**SYNC) == smooth_simplify_wkts([SQUARE, SQUARE], 1, 0.0)
    geo.compute(**SYNC)
    assert calls.count(-1) == 2


def test_invalid_text_reports_partition_row_and_label():
    texts = [SQUARE, HOLED, SQUARE, MULTI, SQUARE, BAD, SQUARE, SQUARE]
    series = pd.Series(texts, index=np.arange(1000, 1008), dtype=object)
    lazy = dd.from_pandas(series, npartitions=4)  # 2 rows per partition
    with pytest.raises(InvalidGeometryError) as caught:
        smooth_simplify(lazy, 1, 0.0).compute(**SYNC)
    error = caught.value
    assert isinstance(error, PartitionInvalidGeometryError) and isinstance(error, ValueError)
    assert (error.partition, error.index, error.label) == (2, 1, 1005)
    with pytest.raises(InvalidGeometryError) as alone:
        smooth_simplify_wkts([BAD], 1, 0.0)
    assert error.reason == alone.value.reason
    assert str(error) == f"partition 2, input 1 (index label 1005): {alone.value.reason}"

    bag = db.from_sequence(texts, npartitions=4)
    with pytest.raises(PartitionInvalidGeometryError) as in_bag:
        smooth_simplify(bag, 1, 0.0).compute(**SYNC)
    assert (in_bag.value.partition, in_bag.value.index, in_bag.value.label) == (2, 1, None)
    assert str(in_bag.value) == f"partition 2, input 1: {alone.value.reason}"

    # Within a partition the lowest position; across partitions whichever task fails first.
    texts[6] = texts[7] = BAD
    lazy = dd.from_pandas(pd.Series(texts, index=np.arange(1000, 1008), dtype=object), npartitions=4)
    with pytest.raises(PartitionInvalidGeometryError) as two:
        smooth_simplify(lazy, 1, 0.0).compute(**SYNC)
    assert (two.value.partition, two.value.index, two.value.label) in ((2, 1, 1005), (3, 0, 1006))


def test_error_survives_pickling():
    import pickle

    error = PartitionInvalidGeometryError(3, 7, "bad ring", label="row-7")
    copy = pickle.loads(pickle.dumps(error))
    assert type(copy) is PartitionInvalidGeometryError
    assert (copy.partition, copy.index, copy.reason, copy.label, str(copy)) == (
        3, 7, "bad ring", "row-7", "partition 3, input 7 (index label 'row-7'): bad ring")


def test_ignore_and_warn():
    texts = [SQUARE, BAD, None, BAD]
    lazy = dd.from_pandas(pd.Series(texts, dtype=object, index=[5, 6, 7, 8]), npartitions=2)
    expected = smooth_simplify_wkts(texts, 1, 0.0, on_invalid="ignore")
    assert expected[1] is None and expected[3] is None
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        ignored = smooth_simplify(lazy, 1, 0.0, on_invalid="ignore").compute(**SYNC)
    assert plain(ignored) == expected
    with pytest.warns(RuntimeWarning) as record:
        warned = smooth_simplify(lazy, 1, 0.0, on_invalid="warn").compute(**SYNC)
    assert plain(warned) == expected
    messages = sorted(str(w.message) for w in record)
    assert messages == [
        "partition 0: 1 invalid input(s) gave None, the first at input 1 (index label 6)",
        "partition 1: 1 invalid input(s) gave None, the first at input 1 (index label 8)",
    ]


def test_argument_errors():
    lazy = dd.from_pandas(pd.Series([SQUARE], dtype=object), npartitions=1)
    geo = dask_geopandas.from_geopandas(geodataframe(), npartitions=1)
    with pytest.raises(TypeError, match="iterations"):
        smooth_simplify(lazy, 1.5, 0.0)
    with pytest.raises(ValueError, match="iterations"):
        smooth_simplify(lazy, -1, 0.0)
    with pytest.raises(TypeError, match="tolerance"):
        smooth_simplify(lazy, 1, "0")
    with pytest.raises(ValueError, match="kind"):
        smooth_simplify(lazy, 1, 0.0, kind="wkb")
    with pytest.raises(ValueError, match="on_invalid"):
        smooth_simplify(lazy, 1, 0.0, on_invalid="skip")
    with pytest.raises(TypeError, match="kind applies to texts"):
        smooth_simplify(geo, 1, 0.0, kind="wkt")
    with pytest.raises(TypeError, match="on_invalid applies to texts"):
        smooth_simplify(geo.geometry, 1, 0.0, on_invalid="raise")
    with pytest.raises(TypeError, match="GeoDataFrame"):
        smooth_simplify(dd.from_pandas(pd.DataFrame({"wkt": [SQUARE]}), npartitions=1), 1, 0.0)
    with pytest.raises(TypeError, match="texts .object or string dtype., not int64"):
        smooth_simplify(dd.from_pandas(pd.Series([1, 2]), npartitions=1), 1, 0.0)
    with pytest.raises(TypeError, match="dask Bag"):
        smooth_simplify([SQUARE], 1, 0.0)


def test_missing_extra_names_it(monkeypatch):
    import quillmere_tools.dask as module

    monkeypatch.setitem(sys.modules, "dask", None)
    with pytest.raises(ImportError, match=r"quillmere\[dask\]"):
        module.smooth_simplify([SQUARE], 1, 0.0)
    monkeypatch.setitem(sys.modules, "distributed", None)
    with pytest.raises(ImportError, match=r"quillmere\[dask\]"):
        module.local_cluster(1)


def test_importing_the_module_imports_no_dask():
    code = "import sys, quillmere_tools.dask; print(sorted(m for m in sys.modules if m.split('.')[0] in ('dask', 'distributed', 'dask_geopandas')))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, check=True).stdout
    assert out.strip() == "[]"


def test_local_cluster_sizes_workers_and_pools(monkeypatch):
    import distributed

    from quillmere_tools.dask import local_cluster

    made = []
    monkeypatch.setattr(distributed, "LocalCluster", lambda **kwargs: made.append(kwargs) or kwargs)
    local_cluster(cores=4)
    local_cluster(2, cores=8)
    local_cluster(pool_threads=4, cores=8, env={"X": 1})
    local_cluster(1, cores=8, threads_per_worker=2, env={"RAYON_NUM_THREADS": "3"}, memory_limit="1GiB")
    sizes = [(m["n_workers"], m["threads_per_worker"], m["env"]) for m in made]
    assert sizes == [
        (4, 1, {"RAYON_NUM_THREADS": "1"}),
        (2, 1, {"RAYON_NUM_THREADS": "4"}),
        (2, 1, {"X": "1", "RAYON_NUM_THREADS": "4"}),
        (1, 2, {"RAYON_NUM_THREADS": "3"}),
    ]
    assert all(m["processes"] is True for m in made) and made[3]["memory_limit"] == "1GiB"
    with pytest.raises(ValueError, match="n_workers"):
        local_cluster(0, cores=2)
    with pytest.raises(ValueError, match="pool_threads"):
        local_cluster(1, pool_threads=0, cores=2)
