"""The worker pool seen from Python: its size from the environment, started
once by the first call, the first failing text reported whatever the thread
count, results independent of the thread count, and use after fork().

Each case that depends on the environment runs in a fresh interpreter, since
the pool reads the environment once per process."""
import json
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quillmere

REAL_DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "countries-land-10km.geo.json"

# Prints the number of worker threads the first call started.
COUNT_WORKERS = textwrap.dedent(
    """
    import os, time, quillmere
    def tasks():
        return len(os.listdir("/proc/self/task"))
    before = tasks()
    quillmere.smooth_and_simplify_polygons_from_wkts([], 0, 0.0)
    # Workers come up on their own time; wait until the count settles.
    seen, stable, deadline = -1, 0, time.monotonic() + 30
    while stable < 20 and time.monotonic() < deadline:
        now = tasks()
        stable = stable + 1 if now == seen else 0
        seen = now
        time.sleep(0.01)
    print(seen - before)
    """
)


def run_python(code, **env_changes):
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env.update(env_changes)
    result = subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=300
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


def workers(**env):
    return int(run_python(COUNT_WORKERS, **env))


@pytest.fixture(scope="module")
def processor_count():
    return workers()


@pytest.mark.parametrize(
    "env, expected",
    [
        ({"RAYON_NUM_THREADS": "3"}, 3),
        ({"RAYON_NUM_THREADS": "+4"}, 4),
        ({"RAYON_NUM_THREADS": "3", "RAYON_RS_NUM_CPUS": "5"}, 3),
        ({"RAYON_NUM_THREADS": " 4", "RAYON_RS_NUM_CPUS": "5"}, 5),
        ({"RAYON_RS_NUM_CPUS": "6"}, 6),
    ],
)
def test_thread_count_from_environment(env, expected):
    assert workers(**env) == expected


@pytest.mark.parametrize(
    "env",
    [
        {"RAYON_NUM_THREADS": "0"},
        {"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"},
        {"RAYON_NUM_THREADS": "x", "RAYON_RS_NUM_CPUS": "x"},
    ],
)
def test_zero_or_invalid_means_processor_count(env, processor_count):
    affinity = len(os.sched_getaffinity(0))
    assert 1 <= processor_count <= affinity
    assert workers(**env) == processor_count


def test_environment_is_read_once_and_no_thread_per_call():
    code = textwrap.dedent(
        """
        import os, time, quillmere
        f = quillmere.smooth_and_simplify_polygons_from_wkts
        f(["POLYGON((0 0,1 0,1 1,0 0))"] * 100, 1, 0.0)
        time.sleep(0.5)
        first = len(os.listdir("/proc/self/task"))
        os.environ["RAYON_NUM_THREADS"] = "7"
        for _ in range(200):
            f(["POLYGON((0 0,1 0,1 1,0 0))"] * 100, 1, 0.0)
        time.sleep(0.5)
        print(first, len(os.listdir("/proc/self/task")))
        """
    )
    first, later = run_python(code, RAYON_NUM_THREADS="2").split()
    assert first == later


def test_geojson_call_with_no_polygons_starts_the_pool():
    code = COUNT_WORKERS.replace(
        'quillmere.smooth_and_simplify_polygons_from_wkts([], 0, 0.0)',
        'quillmere.smooth_and_simplify_polygon_fc(\'{"type":"FeatureCollection","features":[]}\', 0, 0.0)',
    )
    assert int(run_python(code, RAYON_NUM_THREADS="3")) == 3


FIRST_FAILURE = textwrap.dedent(
    """
    import json, sys, quillmere
    n, bad = json.loads(sys.argv[1])
    texts = ["POLYGON((0 0,%d 0,1 1,0 0))" % i for i in range(n)]
    texts[bad[0]] = "POINT(1 2)"
    for i in bad[1:]:
        texts[i] = "x"
    try:
        quillmere.smooth_and_simplify_polygons_from_wkts(texts, 2, 0.1)
    except BaseException as e:
        print(type(e).__name__, e)
    """
)


@pytest.mark.parametrize("threads", ["1", "2", "64"])
@pytest.mark.parametrize("n, bad", [(10, [2, 6]), (10000, [4999, 5000, 9999]), (10000, [9998, 9999])])
def test_first_unreadable_text_is_reported_for_any_thread_count(threads, n, bad):
    code = FIRST_FAILURE.replace("sys.argv[1]", repr(json.dumps([n, bad])))
    out = run_python(code, RAYON_NUM_THREADS=threads)
    assert out.strip() == (
        'PanicException Unable to read Polygon from WKT: MismatchedGeometry { expected: '
        '"geo_types::geometry::polygon::Polygon", found: "geo_types::geometry::point::Point" }'
    )


RESULTS = textwrap.dedent(
    """
    import hashlib, math, sys, quillmere
    texts = []
    for i in range(3000):
        points = 3 + (i * 7919) % (4 if i % 5 else 900)
        ring = ",".join(
            "%r %r" % (i + math.cos(6.283185307179586 * k / points) * (1 + (k % 3) / 10),
                       math.sin(6.283185307179586 * k / points))
            for k in range(points))
        texts.append("POLYGON((%s))" % ring)
    digest = hashlib.sha256()
    for passes, tolerance in [(0, 0.01), (2, 0.001), (3, 0.0)]:
        for s in quillmere.smooth_and_simplify_polygons_from_wkts(texts, passes, tolerance):
            digest.update(s.encode())
    data = sys.argv[1]
    if data:
        with open(data) as f:
            text = f.read()
        digest.update(quillmere.smooth_and_simplify_polygon_fc(text, 2, 0.001).encode())
    print(digest.hexdigest())
    """
)


def test_results_do_not_depend_on_the_thread_count():
    data = str(REAL_DATA) if REAL_DATA.is_file() else ""
    code = RESULTS.replace("sys.argv[1]", repr(data))
    digests = {threads: run_python(code, RAYON_NUM_THREADS=threads) for threads in ["1", "2", "8"]}
    assert len(set(digests.values())) == 1, digests


def test_calls_work_in_a_forked_child():
    code = textwrap.dedent(
        """
        import os, signal, quillmere
        f = quillmere.smooth_and_simplify_polygons_from_wkts
        texts = ["POLYGON((0 0,%d 0,1 1,0 0))" % i for i in range(1000)]
        expected = f(texts, 1, 0.0)
        pid = os.fork()
        if pid == 0:
            signal.alarm(60)  # a pool lost in the fork would hang here
            ok = f(texts, 1, 0.0) == expected and f(texts, 1, 0.0) == expected
            os._exit(0 if ok else 1)
        _, status = os.waitpid(pid, 0)
        print(os.waitstatus_to_exitcode(status), f(texts, 1, 0.0) == expected)
        """
    )
    assert run_python(code, RAYON_NUM_THREADS="2").split() == ["0", "True"]
