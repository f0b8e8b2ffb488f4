# Developer entry points. `make test` is the whole suite on a fresh machine.
PYTHON ?= python3
JOBS ?= 2
# The interpreter does not link the C++ runtime; preload it beside the
# sanitizer runtime so the sanitizer's exception interceptors find it.
SANITIZER_PRELOAD := $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libstdc++.so)

.PHONY: install test test-cpp test-python test-sanitize test-tsan clean

install:
	$(PYTHON) -m pip install .

test: test-cpp test-python test-sanitize

test-cpp:
	cmake -S . -B build/test -G Ninja -DQUILLMERE_BUILD_TESTS=ON -DQUILLMERE_BUILD_MODULE=OFF
	cmake --build build/test -j$(JOBS)
	ctest --test-dir build/test --output-on-failure -j$(JOBS)

test-python:
	$(PYTHON) -m pip install -q -r requirements-test.txt
	$(PYTHON) -m pip install -q .
	$(PYTHON) -m pytest tests -q

# The C++ tests and the Python suite against a module built with
# AddressSanitizer + UndefinedBehaviorSanitizer.
test-sanitize:
	cmake -S . -B build/asan -G Ninja -DQUILLMERE_BUILD_TESTS=ON -DQUILLMERE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/asan -j$(JOBS)
	ctest --test-dir build/asan --output-on-failure -j$(JOBS)
	$(PYTHON) -m pip install -q -r requirements-test.txt
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  LD_PRELOAD="$(SANITIZER_PRELOAD)" PYTHONPATH=build/asan:python $(PYTHON) -m pytest tests -q -p no:cacheprovider

# The pool and pipeline C++ tests under ThreadSanitizer.
test-tsan:
	cmake -S . -B build/tsan -G Ninja -DQUILLMERE_BUILD_TESTS=ON -DQUILLMERE_TSAN=ON -DQUILLMERE_BUILD_MODULE=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/tsan -j$(JOBS) --target pool_tests pipeline_tests
	build/tsan/pool/pool_tests
	build/tsan/pipeline/pipeline_tests

clean:
	rm -rf build

# The PySpark job of examples/ in local[2] mode on generated data, compared
# with the single-process result (examples/spark_check.py). Not part of
# `make test`: it installs pyspark (about 450 MB) and this package in
# build/spark-venv, and Java 17 from Debian when no Java 17+ is found.
SPARK_VENV ?= build/spark-venv
.PHONY: test-spark
test-spark:
	java -version 2>&1 | grep -Eq 'version "(1[7-9]|[2-9][0-9])' || \
	  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq openjdk-17-jre-headless; }
	test -x $(SPARK_VENV)/bin/python || $(PYTHON) -m venv $(SPARK_VENV)
	$(SPARK_VENV)/bin/python -m pip install -q pyspark pyarrow "pandas<3" numpy shapely
	$(SPARK_VENV)/bin/python -m pip install -q .
	$(SPARK_VENV)/bin/python examples/spark_check.py
