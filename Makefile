# Everything a fresh machine needs, in two commands: `make test` and `make demo`.
#
#   make test    C++ unit tests, then the Python tests under CPython and,
#                when pypy3 is installed, under PyPy too.
#                REQUIRE_PYPY=1 makes a missing pypy3 an error (CI sets it).
#   make demo    builds the module and runs examples/demo.py.

PYTHON ?= python3
PYPY ?= pypy3
REQUIRE_PYPY ?= 0

CPYTHON_VENV ?= .venv-cpython
PYPY_VENV ?= .venv-pypy
CPP_BUILD ?= build/cpp-tests
# Where pip's builds keep their CMake trees, one per interpreter.
BUILD_ROOT ?= build
PIP_QUIET := --quiet --disable-pip-version-check
PIP_INSTALL = pip install $(PIP_QUIET) --config-settings=build-dir=$(BUILD_ROOT)/{wheel_tag} .

.PHONY: test test-cpp test-cpython test-pypy demo clean format

test: test-cpp test-cpython test-pypy

# --- virtual environments ---------------------------------------------------

$(CPYTHON_VENV)/.ready: requirements-test.txt
	$(PYTHON) -m venv $(CPYTHON_VENV)
	$(CPYTHON_VENV)/bin/pip install $(PIP_QUIET) -r requirements-test.txt
	touch $@

$(PYPY_VENV)/.ready: requirements-test.txt
	$(PYPY) -m venv $(PYPY_VENV)
	$(PYPY_VENV)/bin/pip install $(PIP_QUIET) -r requirements-test.txt
	touch $@

# `pip install .` is the installation users run; scikit-build-core keeps one
# build tree per interpreter under build/, so repeated runs rebuild little.
install-cpython: $(CPYTHON_VENV)/.ready
	$(CPYTHON_VENV)/bin/$(PIP_INSTALL)

install-pypy: $(PYPY_VENV)/.ready
	$(PYPY_VENV)/bin/$(PIP_INSTALL)

# --- tests ------------------------------------------------------------------

test-cpp:
	cmake -S . -B $(CPP_BUILD) -DKELVARO_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(CPP_BUILD) -j2
	ctest --test-dir $(CPP_BUILD) --output-on-failure

test-cpython: install-cpython
	$(CPYTHON_VENV)/bin/python -m pytest -q

test-pypy:
	@if command -v $(PYPY) >/dev/null 2>&1; then \
	  $(MAKE) --no-print-directory install-pypy && $(PYPY_VENV)/bin/python -m pytest -q; \
	elif [ "$(REQUIRE_PYPY)" = 1 ]; then \
	  echo "error: $(PYPY) is not installed (apt-get install pypy3 pypy3-dev pypy3-venv)"; exit 1; \
	else \
	  echo "note: $(PYPY) is not installed, so the tests ran under CPython only"; \
	  echo "      (apt-get install pypy3 pypy3-dev pypy3-venv to test PyPy too)"; \
	fi

# --- demo -------------------------------------------------------------------

demo: install-cpython
	$(CPYTHON_VENV)/bin/python examples/demo.py

# --- housekeeping -----------------------------------------------------------

format:
	clang-format -i src/*/*.h src/*/*.cpp tests/cpp/*.cpp

clean:
	rm -rf build $(CPYTHON_VENV) $(PYPY_VENV)

.PHONY: install-cpython install-pypy
