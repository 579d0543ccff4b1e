# Everything starts from a clean clone: each target installs what it needs.
.PHONY: all run test test-sanitize fuzz bench test-platforms clean

all: test

# Set-up as needed, then the command-line tool over examples/addresses.txt.
run:
	@bash scripts/run.sh

test:
	@bash scripts/test.sh

# The C++ and Python suites against an ASan + UBSan build.
test-sanitize:
	@bash scripts/test-sanitize.sh

# Every fuzz target for FUZZ_SECONDS (default 60) each.
fuzz:
	@bash scripts/fuzz.sh

# Benchmarks against the measured floor; prints one table and writes
# bench/results.json.
bench:
	@bash scripts/bench.sh

# make test from a clean clone in fresh Debian 12, Debian 13 and sid roots
# (root only; minutes; not part of .ci/run). One line per platform.
test-platforms:
	@bash scripts/test-platforms.sh

# First undo any mount an interrupted test-platforms left under build/.
clean:
	@bash scripts/test-platforms.sh --unmount
	rm -rf build .venv .venv-bench
