# Developer entry points. `make test` is the whole suite on a fresh machine:
# it installs what it lacks (Debian packages when run as root, Python
# packages with pip into the virtual environment build/venv), then runs every
# check. `.ci/run` is exactly `make test`.
PYTHON ?= python3
JOBS ?= 2
# The test environment: a virtual environment that sees the interpreter's own
# packages, so that what is installed already is not fetched again.
VENV := build/venv
VPY := $(VENV)/bin/python
WHEELHOUSE := build/wheelhouse
# cmake and ninja may come from pip, into the test environment.
export PATH := $(abspath $(VENV))/bin:$(PATH)
# Debian packages the suite needs: compilers and sanitizer runtimes (g++),
# GoogleTest, nm (binutils).
SYSTEM_PACKAGES := g++ libgtest-dev binutils
# The interpreter does not link the C++ runtime; preload it beside the
# sanitizer runtime so the sanitizer's exception interceptors find it.
SANITIZER_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libstdc++.so)

# Installs Debian packages $(1) as root; otherwise names them and stops.
apt_install = { if [ "$$(id -u)" = 0 ]; then \
	  echo "Installing $(1) with apt-get"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $(1); \
	else \
	  echo "make: this needs the Debian packages $(1); install them as root (sudo apt-get install $(1)) and run make again." >&2; \
	  exit 1; \
	fi; }

.PHONY: install test setup setup-system setup-python wheel install-venv test-cpp test-python test-typing \
	test-wheel test-sanitize test-fuzz-corpus test-tsan fuzz clean

install:
	$(PYTHON) -m pip install .

test: setup test-cpp test-wheel test-python test-typing test-sanitize test-tsan
	@echo "make test: every check passed"

setup: setup-system setup-python

# Debian packages: installed when missing (as root), else named. The Python
# headers and venv come with the interpreter unless it is Debian's own.
setup-system:
	@need=""; \
	for p in $(SYSTEM_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || need="$${need:+$$need }$$p"; done; \
	$(PYTHON) -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' \
	  || need="$${need:+$$need }python3-dev"; \
	$(PYTHON) -c 'import ensurepip, venv' 2>/dev/null || need="$${need:+$$need }python3-venv"; \
	if [ -n "$$need" ]; then $(call apt_install,$$need); fi

# The test environment and the test requirements (pip, idempotent).
setup-python: setup-system
	@[ -x $(VPY) ] || { echo "Creating $(VENV)"; $(PYTHON) -m venv --system-site-packages $(VENV); }
	$(VPY) -m pip install -q -r requirements-test.txt

# The wheel, built as users get it.
wheel: setup-python
	rm -rf $(WHEELHOUSE)
	$(VPY) -m pip wheel -q --no-deps -w $(WHEELHOUSE) .

# That wheel, installed into the test environment.
install-venv: wheel
	$(VPY) -m pip install -q --force-reinstall --no-deps $(WHEELHOUSE)/quillmere-*.whl

test-cpp: setup
	cmake -S . -B build/test -G Ninja -DQUILLMERE_BUILD_TESTS=ON -DQUILLMERE_BUILD_MODULE=OFF
	cmake --build build/test -j$(JOBS)
	ctest --test-dir build/test --output-on-failure -j$(JOBS)

test-python: install-venv
	$(VPY) -m pytest tests -q -p no:cacheprovider

# The wheel audited (abi3 symbols, platform tag) and imported, with a call of
# each package, in a new virtual environment of its own.
test-wheel: wheel
	$(VPY) scripts/check_wheel.py $(WHEELHOUSE)

# Type checks: stubs and inline types against the installed packages, and a
# user's code that must (or must not) pass mypy --strict.
test-typing: install-venv
	$(VPY) tests/typing/run_typing_checks.py

# The C++ tests (the fuzz corpus replay among them) and the Python suite
# against a module built with AddressSanitizer + UndefinedBehaviorSanitizer.
test-sanitize: install-venv
	cmake -S . -B build/asan -G Ninja -DQUILLMERE_BUILD_TESTS=ON -DQUILLMERE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/asan -j$(JOBS)
	ctest --test-dir build/asan --output-on-failure -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  LD_PRELOAD="$(SANITIZER_PRELOAD)" PYTHONPATH=build/asan:python $(VPY) -m pytest tests -q -p no:cacheprovider

# Only the replay of every fuzz/corpus/<target>/ through its target, in the
# sanitizer build.
test-fuzz-corpus: setup
	cmake -S . -B build/asan -G Ninja -DQUILLMERE_BUILD_TESTS=ON -DQUILLMERE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/asan -j$(JOBS) --target fuzz_replay
	ctest --test-dir build/asan --output-on-failure -j$(JOBS) -L fuzz_corpus

# The pool and pipeline C++ tests under ThreadSanitizer.
test-tsan: setup
	cmake -S . -B build/tsan -G Ninja -DQUILLMERE_BUILD_TESTS=ON -DQUILLMERE_TSAN=ON -DQUILLMERE_BUILD_MODULE=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/tsan -j$(JOBS) --target pool_tests pipeline_tests
	build/tsan/pool/pool_tests
	build/tsan/pipeline/pipeline_tests

# A libFuzzer campaign on one fuzz/*.cpp target: new inputs go to
# build/fuzz-work/TARGET, crashes to build/fuzz-artifacts/TARGET/, and those
# inputs that add coverage are merged into the committed fuzz/corpus/TARGET/.
# Needs clang and its libFuzzer runtime, installed when missing.
TARGET ?= fuzz_wkt
SECONDS ?= 60
fuzz:
	@command -v clang++ >/dev/null && [ -f "$$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ] \
	  || $(call apt_install,clang libclang-rt-dev)
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DQUILLMERE_BUILD_FUZZ=ON \
	  -DQUILLMERE_BUILD_MODULE=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/fuzz -j$(JOBS) --target $(TARGET)
	mkdir -p fuzz/corpus/$(TARGET) build/fuzz-work/$(TARGET) build/fuzz-artifacts/$(TARGET)
	build/fuzz/fuzz/$(TARGET) -max_total_time=$(SECONDS) -print_final_stats=1 \
	  -artifact_prefix=build/fuzz-artifacts/$(TARGET)/ build/fuzz-work/$(TARGET) fuzz/corpus/$(TARGET) \
	  || { echo "A finding is in build/fuzz-artifacts/$(TARGET)/; minimize it with" \
	       "build/fuzz/fuzz/$(TARGET) -minimize_crash=1 -runs=100000 FILE, fix it, and commit the" \
	       "minimized input to fuzz/corpus/$(TARGET)/."; exit 1; }
	build/fuzz/fuzz/$(TARGET) -merge=1 fuzz/corpus/$(TARGET) build/fuzz-work/$(TARGET)

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
