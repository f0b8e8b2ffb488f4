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
