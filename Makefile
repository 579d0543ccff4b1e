# Everything starts from a clean clone: each target installs what it needs.
.PHONY: all run test test-free-threaded test-tsan-free-threaded test-sanitize test-tsan fuzz fuzz-long bench test-platforms wheel dist test-wheels clean

all: test

# Set-up as needed, then the command-line tool over examples/addresses.txt.
run:
	@bash scripts/run.sh

test:
	@bash scripts/test.sh

# A free-threaded CPython (--disable-gil) built from Debian sid's python3.14
# source into build/free-threaded (kept for later runs), then the Python suite
# on it, once as usual and once under pytest-run-parallel (minutes; the first
# run builds the interpreter). FT_SOURCE_PACKAGE=python3.13 builds 3.13t.
test-free-threaded:
	@bash scripts/test-free-threaded.sh

# The free-threaded interpreter and the package built with ThreadSanitizer;
# the threaded tests under it.
test-tsan-free-threaded:
	@FT_TSAN=1 bash scripts/test-free-threaded.sh

# The C++ and Python suites against an ASan + UBSan build.
test-sanitize:
	@bash scripts/test-sanitize.sh

# The threaded code (the batch route's worker threads, quorvel-jid -j) under
# ThreadSanitizer: the batch row-loop tests and a threaded stress test.
test-tsan:
	@bash scripts/test-tsan.sh

# Every fuzz target for FUZZ_SECONDS (default 60) each.
fuzz:
	@bash scripts/fuzz.sh

# Every libFuzzer target for FUZZ_SECONDS (default 300) each, FUZZ_JOBS side
# by side, its corpus kept under build/fuzz-long between runs and merged back
# into fuzz/corpus/; records each run in fuzz/history.tsv and prints the
# totals of every run so far.
fuzz-long:
	@bash scripts/fuzz-long.sh

# Benchmarks against the measured floor; prints one table and writes
# bench/results.json.
bench:
	@bash scripts/bench.sh

# The sdist and a repaired wheel for every CPython >= 3.12 on this machine,
# in dist/, with the platform tag each earned.
wheel:
	@bash scripts/wheel.sh

dist: wheel

# Each wheel (and the sdist) installed into a fresh Debian root without a
# compiler, then its checks and the Python suite there (root only; minutes).
test-wheels:
	@bash scripts/test-wheels.sh

# make test from a clean clone in fresh Debian 12, Debian 13 and sid roots
# (root only; minutes; not part of .ci/run). One line per platform.
test-platforms:
	@bash scripts/test-platforms.sh

# First undo any mount an interrupted test-platforms or test-wheels left
# under build/ (both share build/platforms): rm -rf would otherwise reach
# into the host's /dev or pyenv tree.
clean:
	@bash scripts/test-platforms.sh --unmount
	rm -rf --one-file-system build dist .venv .venv-bench
