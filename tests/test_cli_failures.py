"""The ``quillmere`` command when things go wrong: exit statuses, messages with
line numbers, the rejects file, outputs never half-written (an existing output
untouched, no temporary file left), Ctrl-C, and memory that does not grow with
the file."""

from __future__ import annotations

import csv
import io
import json
import os
import random
import resource
import signal
import subprocess
import sys
import time

import pytest
from test_cli import BAD_WKT, COMMAND, FEATURES, HOLED, K, MULTI, SQUARE, T, leftovers, run, smoothed_wkts

OLD = b"the previous output\n"


def wkt_file(tmp_path, lines, name="in.wkt"):
    path = tmp_path / name
    path.write_text("\n".join(lines) + "\n")
    return path


@pytest.mark.parametrize("chunk", [64, None])
def test_first_bad_row_stops_with_its_line_and_leaves_the_output_alone(tmp_path, chunk):
    source = wkt_file(tmp_path, [SQUARE, HOLED, "", MULTI, BAD_WKT, SQUARE, "nonsense"])
    target = tmp_path / "out.wkt"
    target.write_bytes(OLD)
    result = run("smooth", source, "-k", K, "-t", T, "-o", target, chunk=chunk)
    assert result.returncode == 1
    message = result.stderr.decode()
    assert message.startswith(f"{source}:5: ") and message.count("\n") == 1, message
    assert target.read_bytes() == OLD
    assert leftovers(tmp_path) == []


def test_bad_feature_line_in_geojson_lines(tmp_path):
    source = tmp_path / "in.geojsonl"
    source.write_text("\n".join([FEATURES[0], FEATURES[1], '{"type":"Feature","geometry":{"type":"Polygon"'] ) + "\n")
    result = run("smooth", source, "-k", K, "-t", T, "-o", tmp_path / "out.geojsonl")
    assert result.returncode == 1
    assert result.stderr.decode().startswith(f"{source}:3: ")
    assert not (tmp_path / "out.geojsonl").exists() and leftovers(tmp_path) == []


def test_skip_leaves_bad_rows_out_and_writes_the_rejects(tmp_path):
    lines = [SQUARE, BAD_WKT, "  ", HOLED, "POINT(1 2)", MULTI]
    source = wkt_file(tmp_path, lines)
    rejects = tmp_path / "rejects.jsonl"
    result = run("smooth", source, "-k", K, "-t", T, "--on-invalid", "skip", "--rejects", rejects, "-o", tmp_path / "o.wkt")
    assert result.returncode == 0, result.stderr
    square, holed, multi = smoothed_wkts([SQUARE, HOLED, MULTI])
    assert (tmp_path / "o.wkt").read_text().splitlines() == [square, "  ", holed, multi]
    entries = [json.loads(line) for line in rejects.read_text().splitlines()]
    assert [(e["line"], e["record"]) for e in entries] == [(2, BAD_WKT), (5, "POINT(1 2)")]
    assert all(e["reason"] for e in entries)
    assert result.stderr.decode().startswith("quillmere: 3 rows written, 2 rejected, ")


def test_skip_in_csv_empties_the_cell_and_keeps_the_row(tmp_path):
    source = tmp_path / "in.csv"
    with source.open("w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["id", "geom", "note"])
        writer.writerows([["1", SQUARE, "a"], ["2", BAD_WKT, "multi\nline"], ["3", "", "no geometry"], ["4", MULTI, "d"]])
    rejects = tmp_path / "rejects.jsonl"
    result = run("smooth", source, "-k", K, "-t", T, "--on-invalid", "skip", "--rejects", rejects, "-q")
    assert result.returncode == 0, result.stderr
    rows = list(csv.reader(io.StringIO(result.stdout.decode(), newline="")))
    square, multi = smoothed_wkts([SQUARE, MULTI])
    assert rows == [["id", "geom", "note"], ["1", square, "a"], ["2", "", "multi\nline"], ["3", "", "no geometry"], ["4", multi, "d"]]
    (entry,) = [json.loads(line) for line in rejects.read_text().splitlines()]
    assert entry["line"] == 3 and next(csv.reader([entry["record"]])) == ["2", BAD_WKT, "multi\nline"]


def test_csv_line_numbers_count_the_lines_of_quoted_fields(tmp_path):
    source = tmp_path / "in.csv"
    with source.open("w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["note", "wkt"])
        writer.writerows([["one\ntwo\nthree", SQUARE], ["x", BAD_WKT]])
    result = run("smooth", source, "-k", K, "-t", T, "-o", tmp_path / "out.csv")
    assert result.returncode == 1
    assert result.stderr.decode().startswith(f"{source}:5: ")
    assert not (tmp_path / "out.csv").exists()


@pytest.mark.parametrize(
    ("arguments", "message"),
    [
        (["smooth", "in.wkt", "-t", "1"], "-k/--iterations"),
        (["smooth", "in.wkt", "-k", "-1", "-t", "1"], "must be >= 0"),
        (["smooth", "in.shp", "-k", "1", "-t", "1"], "give --format"),
        (["smooth", "-", "-k", "1", "-t", "1"], "standard input needs --format"),
        (["smooth", "in.wkt", "-k", "1", "-t", "1", "--rejects", "r.jsonl"], "--rejects needs --on-invalid skip"),
        (["smooth", "in.wkt", "-k", "1", "-t", "1", "-o", "out.geojson"], "does not convert"),
        (["smooth", "in.wkt", "-k", "1", "-t", "1", "--format", "shp"], "invalid choice"),
        ([], "a command is required"),
    ],
)
def test_usage_errors_exit_2(tmp_path, arguments, message):
    wkt_file(tmp_path, [SQUARE])
    result = run(*arguments, cwd=tmp_path)
    assert result.returncode == 2
    assert message in result.stderr.decode()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.wkt"]


def test_missing_input_is_one_line(tmp_path):
    result = run("smooth", tmp_path / "nope.wkt", "-k", 1, "-t", 0, "-o", tmp_path / "out.wkt")
    assert result.returncode == 1
    assert result.stderr.decode() == f"quillmere: cannot read {tmp_path / 'nope.wkt'}: No such file or directory\n"
    assert list(tmp_path.iterdir()) == []


def test_damaged_compressed_input(tmp_path):
    import gzip

    source = tmp_path / "in.wkt.gz"
    source.write_bytes(gzip.compress(("\n".join([SQUARE] * 2000) + "\n").encode())[:-40])
    target = tmp_path / "out.wkt"
    target.write_bytes(OLD)
    result = run("smooth", source, "-k", 1, "-t", 0, "-o", target)
    assert result.returncode == 1
    assert result.stderr.decode().startswith(f"quillmere: cannot read {source}: ")
    assert target.read_bytes() == OLD and leftovers(tmp_path) == []


def _limit_file_size():
    # A full disk, as far as the output is concerned: writes past 64 KiB fail.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, 1 << 16))


def test_write_failure_leaves_the_existing_output_and_no_temporary_file(tmp_path):
    source = wkt_file(tmp_path, [HOLED] * 5000)
    target = tmp_path / "out.wkt"
    target.write_bytes(OLD)
    result = run("smooth", source, "-k", 3, "-t", 0, "-o", target, chunk=None, preexec_fn=_limit_file_size)
    assert result.returncode == 1
    assert result.stderr.decode() == f"quillmere: cannot write {target}: File too large\n"
    assert target.read_bytes() == OLD and leftovers(tmp_path) == []


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
def test_full_standard_output(tmp_path):
    source = wkt_file(tmp_path, [HOLED] * 200)
    with open("/dev/full", "wb") as full:
        result = run("smooth", source, "-k", 1, "-t", 0, stdout=full, stderr=subprocess.PIPE)
    assert result.returncode == 1
    assert result.stderr.decode() == "quillmere: cannot write <stdout>: No space left on device\n"


def test_ctrl_c_exits_130_without_output(tmp_path):
    # Thousands of squares at 14 Chaikin passes: many seconds of work.
    source = wkt_file(tmp_path, [SQUARE] * 20000)
    target = tmp_path / "out.wkt"
    environment = dict(os.environ, QUILLMERE_CLI_CHUNK_BYTES="4096")
    child = subprocess.Popen(
        [*COMMAND, "smooth", str(source), "-k", "14", "-t", "0.01", "-o", str(target)],
        stderr=subprocess.PIPE,
        env=environment,
    )
    deadline = time.monotonic() + 30
    while not leftovers(tmp_path) and time.monotonic() < deadline:
        time.sleep(0.02)
    time.sleep(0.5)
    child.send_signal(signal.SIGINT)
    started = time.monotonic()
    _, stderr = child.communicate(timeout=30)
    assert child.returncode == 130, stderr
    assert time.monotonic() - started < 5
    assert stderr.decode().endswith("quillmere: interrupted\n")
    assert not target.exists() and leftovers(tmp_path) == []


def _peak_rss_mb(arguments) -> float:
    """Peak resident memory of the command, measured in a process of its own
    (with 1 MB chunks, so that 16 MB already fill every stage of the pipeline)."""
    script = (
        "import resource, subprocess, sys; "
        "subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL); "
        "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)"
    )
    environment = dict(os.environ, QUILLMERE_CLI_CHUNK_BYTES=str(1 << 20))
    command = [sys.executable, "-c", script, *COMMAND, *map(str, arguments)]
    result = subprocess.run(command, capture_output=True, timeout=300, env=environment)
    assert result.returncode == 0, result.stderr
    return int(result.stdout) / 1024


def _generated_wkt(path, megabytes):
    rng = random.Random(7)
    lines = []
    for _ in range(2000):
        x, y = rng.uniform(-170, 170), rng.uniform(-80, 80)
        ring = [f"{x + 0.01 * i:.6f} {y + 0.003 * (i % 5):.6f}" for i in range(24)]
        lines.append("POLYGON((" + ",".join(ring + [ring[0]]) + "))")
    block = ("\n".join(lines) + "\n").encode()
    with path.open("wb") as f:
        for _ in range(megabytes * (1 << 20) // len(block) + 1):
            f.write(block)


@pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""), reason="AddressSanitizer's quarantine holds freed memory"
)
def test_peak_memory_does_not_grow_with_the_file(tmp_path):
    peaks = []
    for megabytes in (16, 64):
        source = tmp_path / f"in{megabytes}.wkt"
        _generated_wkt(source, megabytes)
        peaks.append(_peak_rss_mb(["smooth", source, "-k", 1, "-t", 1e-4, "-q", "-o", tmp_path / "out.wkt"]))
        source.unlink()
    small, large = peaks
    # Holding the file would add well over 48 MB; streaming adds nothing but noise.
    assert large < small + 16, peaks


def test_bad_geojson_document_names_the_readers_line_even_with_skip(tmp_path):
    source = tmp_path / "in.geojson"
    source.write_text('{"type": "FeatureCollection",\n "features": [\n' + FEATURES[0] + ",\n" + FEATURES[1][:-5] + "\n]}\n")
    result = run("smooth", source, "-k", K, "-t", T, "--on-invalid", "skip", "-o", tmp_path / "out.geojson")
    assert result.returncode == 1
    assert result.stderr.decode().startswith(f"{source}:5: ")  # where the JSON reader stops
    assert not (tmp_path / "out.geojson").exists() and leftovers(tmp_path) == []


def test_csv_without_a_geometry_column(tmp_path):
    source = tmp_path / "in.csv"
    source.write_text("id,shape\n1,POLYGON EMPTY\n")
    result = run("smooth", source, "-k", K, "-t", T, "-o", tmp_path / "out.csv")
    assert result.returncode == 1
    assert result.stderr.decode().startswith(f"{source}:1: no geometry column named wkt, geometry or geom")
    assert not (tmp_path / "out.csv").exists()


@pytest.mark.parametrize("mode", ["raise", "skip"])
def test_bad_wkb_in_parquet_by_row(tmp_path, mode):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    shapely = pytest.importorskip("shapely")
    good = shapely.to_wkb(shapely.from_wkt(SQUARE))
    table = pa.table({"id": [1, 2, 3, 4], "shape": pa.array([good, None, b"\x01\x03garbage", good], type=pa.binary())})
    source = tmp_path / "in.parquet"
    pq.write_table(table, source, row_group_size=2)
    rejects = tmp_path / "rejects.jsonl"
    options = ["--on-invalid", "skip", "--rejects", rejects] if mode == "skip" else []
    result = run("smooth", source, "-k", K, "-t", T, "--column", "shape", "-o", tmp_path / "out.parquet", *options)
    if mode == "raise":
        assert result.returncode == 1
        assert result.stderr.decode().startswith(f"{source}:3: ")
        assert not (tmp_path / "out.parquet").exists() and leftovers(tmp_path) == []
        return
    assert result.returncode == 0, result.stderr
    out = pq.read_table(tmp_path / "out.parquet")
    assert out.column("id").to_pylist() == [1, 2, 3, 4]
    shapes = out.column("shape").to_pylist()
    assert shapes[1] is None and shapes[2] is None
    assert shapely.from_wkb(shapes[0]).wkt == shapely.from_wkt(smoothed_wkts([SQUARE])[0]).wkt
    (entry,) = [json.loads(line) for line in rejects.read_text().splitlines()]
    assert entry["row"] == 3 and entry["record"] == b"\x01\x03garbage".hex()
