"""The text functions of quillmere_tools on the pool: the interpreter lock is
released during the work, Ctrl-C is answered within 0.2 s (and the next call
is right), and results and the reported invalid input do not depend on the
thread count."""
import json
import math
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from quillmere_tools import smooth_simplify_geojson, smooth_simplify_geojsons, smooth_simplify_wkts


def polygon_ring(i, n=40):
    points = [[i + math.cos(2 * math.pi * k / n), math.sin(2 * math.pi * k / n)] for k in range(n)]
    return points + points[:1]


def wkt_texts(count):
    return ["POLYGON((" + ",".join(f"{x!r} {y!r}" for x, y in polygon_ring(i)) + "))" for i in range(count)]


def geojson_collection(count):
    return json.dumps({"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"i": i}, "geometry": {"type": "Polygon", "coordinates": [polygon_ring(i)]}}
        for i in range(count)]})


# Each runs for seconds on this machine's two cores.
LONG_CALLS = {
    "wkts": (lambda: smooth_simplify_wkts(WKTS, 9, 0.0), lambda: smooth_simplify_wkts(WKTS[:3], 1, 0.0)),
    "geojson": (lambda: smooth_simplify_geojson(COLLECTION, 9, 0.0), lambda: smooth_simplify_geojson(SMALL, 1, 0.0)),
    "geojsons": (lambda: smooth_simplify_geojsons([SMALL] * 1000, 9, 0.0),
                 lambda: smooth_simplify_geojsons([SMALL], 1, 0.0)),
}
WKTS = wkt_texts(3000)
COLLECTION = geojson_collection(3000)
SMALL = geojson_collection(3)


@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_ctrl_c_is_answered_within_a_fifth_of_a_second(name):
    long_call, short_call = LONG_CALLS[name]
    expected = short_call()
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(0.5, interrupt)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            long_call()
        answered = time.monotonic()
    finally:
        timer.cancel()
    assert answered - sent[0] < 0.2
    assert short_call() == expected


@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_other_threads_run_during_a_call(name):
    long_call = LONG_CALLS[name][0]
    stop = threading.Event()
    counts = []

    def count():
        n = 0
        while not stop.is_set():
            n += 1
            if n % 1000 == 0:
                counts.append((time.monotonic(), n))
                time.sleep(0)

    thread = threading.Thread(target=count)
    thread.start()
    time.sleep(0.05)
    try:
        started = time.monotonic()
        timer = threading.Timer(1.0, lambda: os.kill(os.getpid(), signal.SIGINT))
        timer.start()
        try:
            long_call()
        except KeyboardInterrupt:
            pass
        finally:
            timer.cancel()
        ended = time.monotonic()
    finally:
        stop.set()
        thread.join()
    during = [n for t, n in counts if started + 0.1 < t < ended - 0.1]
    assert len(during) > 10 and during[-1] - during[0] > 100_000


THREADS = textwrap.dedent(
    """
    import hashlib, json, math, sys
    from quillmere_tools import InvalidGeometryError, smooth_simplify_geojsons, smooth_simplify_wkts
    texts, features = [], []
    for i in range(2000):
        n = 3 + (i * 7919) % (4 if i % 5 else 300)
        ring = [[i + math.cos(6.283185307179586 * k / n) * (1 + (k % 3) / 10), math.sin(6.283185307179586 * k / n)]
                for k in range(n)]
        texts.append("POLYGON((%s))" % ",".join("%r %r" % (x, y) for x, y in ring))
        features.append(json.dumps({"type": "Feature", "geometry": {"type": "Polygon", "coordinates": [ring]}}))
    digest = hashlib.sha256()
    for passes, tolerance in [(0, 0.01), (2, 0.001)]:
        for s in smooth_simplify_wkts(texts, passes, tolerance) + smooth_simplify_geojsons(features, passes, tolerance):
            digest.update(s.encode())
    # Over a megabyte: its polygons are shared out over the pool.
    collection = '{"type":"FeatureCollection","features":[%s]}' % ",".join(features)
    assert len(collection) > 1 << 20
    digest.update(smooth_simplify_geojsons([collection], 2, 0.001)[0].encode())
    for bad in ([1999], [1000, 1999], [3, 1500]):
        broken = list(texts)
        for i in bad:
            broken[i] = "POINT(1 2)"
        try:
            smooth_simplify_wkts(broken, 1, 0.0)
        except InvalidGeometryError as error:
            digest.update(str(error).encode())
    print(digest.hexdigest())
    """
)


def test_results_do_not_depend_on_the_thread_count():
    def run(threads):
        env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
        env["RAYON_NUM_THREADS"] = threads
        result = subprocess.run([sys.executable, "-c", THREADS], env=env, capture_output=True, text=True, timeout=300)
        assert result.returncode == 0, result.stderr
        return result.stdout

    assert len({run(threads) for threads in ["1", "2", "7"]}) == 1


@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_interpreter_exit_during_a_call_in_a_daemon_thread_is_clean(name):
    script = (
        "import threading, time\n"
        "import test_tools_text_concurrency as t\n"
        f"threading.Thread(target=t.LONG_CALLS[{name!r}][0], daemon=True).start()\n"
        "time.sleep(0.3)\n"
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.dirname(__file__), os.environ.get("PYTHONPATH", "")]))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300, env=env)
    assert done.returncode == 0, done.stderr
