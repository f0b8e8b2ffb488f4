"""The ``quillmere`` command end to end, in a child process as a user runs it:
every format on small files (compressed, standard input and output, CSV with
quoted fields and extra columns, GeoParquet), against the library functions.

Small chunks (``QUILLMERE_CLI_CHUNK_BYTES``) make every file cross many
chunk boundaries. ``test_cli_failures.py`` has the failure modes."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path
from typing import Any

COMMAND = [sys.executable, "-m", "quillmere_tools"]

SQUARE = "POLYGON((0 0,10 0,10 10,0 10,0 0))"
HOLED = "POLYGON((0 0,20 0,20 20,0 20,0 0),(5 5,5 15,15 15,15 5,5 5))"
MULTI = "MULTIPOLYGON(((0 0,4 0,4 4,0 4,0 0)),((10 10,14 10,12 14,10 10)))"
WKTS = [SQUARE, HOLED, MULTI, "POLYGON EMPTY", "polygon((1 1,3 1,2 3,1 1))"] * 3
BAD_WKT = "POLYGON((0 0,1 0"


def feature(wkt_index: int, name: str) -> str:
    rings = [
        [[0, 0], [10, 0], [10, 10], [0, 10], [0, 0]],
        [[0, 0], [4, 0], [2, 3.5], [0, 0]],
    ][wkt_index % 2]
    return (
        '{"type":"Feature","id":%d,"properties":{"name":"%s","note":"a, \\"quoted\\" one"},'
        '"geometry":{"type":"Polygon","coordinates":[%s]}}'
    ) % (wkt_index, name, str(rings).replace(" ", ""))


FEATURES = [feature(i, f"n{i}") for i in range(12)]


def run(*args: Any, stdin: bytes | None = None, cwd: Path | None = None, env: dict[str, str] | None = None,
        chunk: int | None = 64, **kwargs: Any) -> subprocess.CompletedProcess[bytes]:  # fmt: skip
    """Runs ``quillmere ARGS`` (small chunks by default, to cross chunk boundaries)."""
    environment = dict(os.environ)
    if chunk is not None:
        environment["QUILLMERE_CLI_CHUNK_BYTES"] = str(chunk)
    environment.update(env or {})
    if "stdout" not in kwargs:
        kwargs["capture_output"] = True
    return subprocess.run([*COMMAND, *map(str, args)], input=stdin, cwd=cwd, env=environment, timeout=120, **kwargs)


def leftovers(folder: Path) -> list[str]:
    """Temporary files left in a folder."""
    return sorted(p.name for p in folder.iterdir() if p.name.endswith(".tmp"))


# -- what the library gives ----------------------------------------------------------------

K, T = 2, 0.5


def smoothed_wkts(texts: list[str], k: int = K, t: float = T) -> list[str]:
    import quillmere_tools

    return quillmere_tools.smooth_simplify_wkts(texts, k, t)


def smoothed_geojsons(texts: list[str], k: int = K, t: float = T) -> list[str]:
    import quillmere_tools

    return quillmere_tools.smooth_simplify_geojsons(texts, k, t)


def compress(data: bytes, kind: str | None) -> bytes:
    import bz2
    import gzip
    import lzma

    return {None: lambda d: d, "gz": gzip.compress, "bz2": bz2.compress, "xz": lzma.compress}[kind](data)


def decompress(data: bytes, kind: str | None) -> bytes:
    import bz2
    import gzip
    import lzma

    return {None: lambda d: d, "gz": gzip.decompress, "bz2": bz2.decompress, "xz": lzma.decompress}[kind](data)


# -- the tests ---------------------------------------------------------------------------

import csv  # noqa: E402
import io  # noqa: E402
import json  # noqa: E402
import re  # noqa: E402
import shutil  # noqa: E402

import pytest  # noqa: E402


def test_version_names_the_worker_threads():
    result = run("--version", env={"RAYON_NUM_THREADS": "3"})
    assert result.returncode == 0, result.stderr
    assert re.fullmatch(rb"quillmere \S+ \(3 worker threads\)\n", result.stdout)


def test_console_script_is_installed():
    script = shutil.which("quillmere", path=os.path.dirname(sys.executable))
    if script is None:
        pytest.skip("the package is not installed with its console script")
    result = subprocess.run([script, "--version"], capture_output=True, timeout=60)
    assert result.returncode == 0 and result.stdout.startswith(b"quillmere ")


LINES = {
    "wkt": ("\n".join(WKTS) + "\n", lambda: "\n".join(smoothed_wkts(WKTS)) + "\n"),
    "geojsonl": ("\n".join(FEATURES) + "\n", lambda: "\n".join(smoothed_geojsons(FEATURES)) + "\n"),
    # RFC 8142: a record separator before each text, kept as found.
    "geojsons": (
        "".join(f"\x1e{f}\n" for f in FEATURES),
        lambda: "".join(f"\x1e{f}\n" for f in smoothed_geojsons(FEATURES)),
    ),
}


@pytest.mark.parametrize(
    ("name", "kind", "compression"),
    [
        ("wkt", "wkt", None),
        ("txt", "wkt", "gz"),
        ("geojsonl", "geojsonl", None),
        ("ndjson", "geojsonl", "bz2"),
        ("jsonl", "geojsonl", "xz"),
        ("geojsons", "geojsons", None),
    ],
)
def test_line_formats_match_the_library(tmp_path, name, kind, compression):
    text, expected = LINES[kind]
    suffix = f".{compression}" if compression else ""
    source = tmp_path / f"in.{name}{suffix}"
    source.write_bytes(compress(text.encode(), compression))
    target = tmp_path / f"out.{name}{suffix}"
    result = run("smooth", source, "-k", K, "-t", T, "-o", target)
    assert result.returncode == 0, result.stderr
    assert decompress(target.read_bytes(), compression).decode() == expected()
    rows = len(text.strip("\n").split("\n"))
    assert result.stderr.decode().startswith(f"quillmere: {rows} rows written, 0 rejected, ")
    assert leftovers(tmp_path) == []


def test_rfc8142_records_over_several_lines_keep_their_layout(tmp_path):
    pretty = [json.dumps(json.loads(f), indent=1) for f in FEATURES[:3]]
    source = tmp_path / "in.geojsons"
    source.write_text("".join(f"\x1e{p}\n" for p in pretty))
    result = run("smooth", source, "-k", K, "-t", T, "-q")
    assert result.returncode == 0, result.stderr
    records = result.stdout.decode().split("\x1e")[1:]
    assert [json.loads(r) for r in records] == [json.loads(s) for s in smoothed_geojsons(pretty)]
    assert result.stderr == b""


def test_standard_input_and_output(tmp_path):
    text = "\n".join(WKTS) + "\n"
    result = run(
        "smooth", "-", "--format", "wkt", "-k", K, "-t", T, "--quiet", "--threads", 1, stdin=compress(text.encode(), "gz")
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.decode() == "\n".join(smoothed_wkts(WKTS)) + "\n"
    assert result.stderr == b""


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("\ufeff{0}\r\n\r\n  {2}\r\n{1}", "\ufeff{0}\r\n\r\n{2}\r\n{1}"),
        ("{0}\n   \n\t{2}\n\n{1}\n", "{0}\n   \n{2}\n\n{1}\n"),
    ],
    ids=["crlf-bom-no-final-newline", "lines-of-spaces"],
)
def test_wkt_lines_keep_blank_lines_crlf_and_bom(tmp_path, text, expected):
    # Blank lines, line endings and a byte-order mark are kept; spaces around
    # a WKT text are not (the reader skips them).
    source = tmp_path / "in.wkt"
    source.write_text(text.format(SQUARE, HOLED, MULTI), newline="")
    for chunk in (64, None):
        result = run("smooth", source, "-k", K, "-t", T, "-q", chunk=chunk)
        assert result.returncode == 0, result.stderr
        assert result.stdout.decode() == expected.format(*smoothed_wkts([SQUARE, HOLED, MULTI]))


def test_geojson_document_keeps_its_properties(tmp_path):
    text = '{"type": "FeatureCollection",\n "name": "parcels",\n "features": [\n' + ",\n".join(FEATURES) + "\n]}\n"
    source = tmp_path / "in.geojson.gz"
    source.write_bytes(compress(text.encode(), "gz"))
    target = tmp_path / "out.json"
    result = run("smooth", source, "-k", K, "-t", T, "-o", target)
    assert result.returncode == 0, result.stderr
    import quillmere_tools

    assert target.read_text() == quillmere_tools.smooth_simplify_geojson(text, K, T)
    assert result.stderr.decode().startswith("quillmere: 1 document written, 0 rejected, ")


CSV_HEADER = ["id", "name", "WKT", "note"]


def csv_rows() -> list[list[str]]:
    notes = ["plain", 'with "quotes", and a comma', "two\nlines", "", "tab\there"]
    return [[str(i), f"parcel {i}", wkt, notes[i % len(notes)]] for i, wkt in enumerate(WKTS)]


@pytest.mark.parametrize(
    ("suffix", "delimiter", "ending", "quoting"),
    [
        (".csv", ",", "\r\n", csv.QUOTE_MINIMAL),
        (".csv.xz", ";", "\n", csv.QUOTE_ALL),
        (".tsv", "\t", "\n", csv.QUOTE_MINIMAL),
    ],
)
def test_csv_keeps_the_other_columns_and_the_dialect(tmp_path, suffix, delimiter, ending, quoting):
    buffer = io.StringIO()
    writer = csv.writer(buffer, delimiter=delimiter, lineterminator=ending, quoting=quoting)
    writer.writerow(CSV_HEADER)
    writer.writerows(csv_rows())
    compression = suffix.rsplit(".", 1)[1] if suffix.count(".") == 2 else None
    source = tmp_path / f"in{suffix}"
    source.write_bytes(compress(buffer.getvalue().encode(), compression))
    target = tmp_path / f"out{suffix}"
    result = run("smooth", source, "-k", K, "-t", T, "-o", target)
    assert result.returncode == 0, result.stderr
    expected = io.StringIO()
    writer = csv.writer(expected, delimiter=delimiter, lineterminator=ending, quoting=quoting)
    writer.writerow(CSV_HEADER)
    writer.writerows([[i, n, w, note] for (i, n, _, note), w in zip(csv_rows(), smoothed_wkts(WKTS))])
    assert decompress(target.read_bytes(), compression).decode() == expected.getvalue()


def test_csv_geojson_column_named_by_option(tmp_path):
    source = tmp_path / "in.csv"
    with source.open("w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["shape", "geometry_note"])
        writer.writerows([[feature_text, "x"] for feature_text in FEATURES[:4]])
    result = run("smooth", source, "-k", K, "-t", T, "--column", "shape", "-q")
    assert result.returncode == 0, result.stderr
    rows = list(csv.reader(io.StringIO(result.stdout.decode(), newline="")))
    assert rows[0] == ["shape", "geometry_note"]
    assert [r[0] for r in rows[1:]] == smoothed_geojsons(FEATURES[:4])


@pytest.mark.parametrize("layout", ["wkb", "wkb-covering", "geoarrow"])
def test_geoparquet_row_groups_columns_and_metadata(tmp_path, layout):
    geopandas = pytest.importorskip("geopandas")
    pq = pytest.importorskip("pyarrow.parquet")
    shapely = pytest.importorskip("shapely")
    import quillmere_tools

    polygons = [shapely.from_wkt(w) for w in WKTS if w.upper().startswith("POLYGON")]
    geometries = polygons + [None] if layout == "geoarrow" else polygons + [None, shapely.Point(1, 2)]
    frame = geopandas.GeoDataFrame(
        {"name": [f"g{i}" for i in range(len(geometries))], "value": range(len(geometries))},
        geometry=geometries,
        crs="EPSG:4326",
    )
    source = tmp_path / "in.parquet"
    options = {"geoarrow": {"geometry_encoding": "geoarrow"}, "wkb-covering": {"write_covering_bbox": True}}
    frame.to_parquet(source, row_group_size=4, **options.get(layout, {}))
    target = tmp_path / "out.parquet"
    result = run("smooth", source, "-k", K, "-t", T, "-o", target)
    assert result.returncode == 0, result.stderr
    before, after = pq.ParquetFile(source), pq.ParquetFile(target)
    assert after.num_row_groups == before.num_row_groups
    assert after.schema_arrow.metadata[b"geo"] == before.schema_arrow.metadata[b"geo"]
    got = geopandas.read_parquet(target)
    assert list(got["name"]) == list(frame["name"]) and list(got["value"]) == list(frame["value"])
    expected = quillmere_tools.smooth_simplify(list(geometries), K, T)
    assert [g.wkt if g is not None else None for g in got.geometry] == [
        g.wkt if g is not None else None for g in expected
    ]
    if layout == "wkb-covering":
        boxes = pq.read_table(target).column("bbox").to_pylist()
        for box, geometry in zip(boxes, expected):
            if geometry is None or geometry.is_empty:
                assert box is None
            else:
                assert (box["xmin"], box["ymin"], box["xmax"], box["ymax"]) == tuple(geometry.bounds)


def test_progress_bar_only_on_a_terminal(tmp_path):
    pytest.importorskip("tqdm")
    import fcntl
    import pty
    import struct
    import termios

    source = tmp_path / "in.wkt"
    source.write_text("\n".join(WKTS * 50) + "\n")
    leader, follower = pty.openpty()
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    try:
        result = run("smooth", source, "-k", K, "-t", T, "-o", tmp_path / "out.wkt", stdout=subprocess.PIPE, stderr=follower)
        os.close(follower)
        follower = -1
        shown = b""
        while True:
            try:
                data = os.read(leader, 65536)
            except OSError:
                break
            if not data:
                break
            shown += data
    finally:
        os.close(leader)
        if follower >= 0:
            os.close(follower)
    assert result.returncode == 0
    assert b"in.wkt:" in shown and b"%|" in shown  # the bar, drawn on the terminal
    assert b"quillmere: 750 rows written" in shown
