# Everything starts from a clean clone: each target installs what it needs.
.PHONY: all run test test-sanitize fuzz bench clean

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

clean:
	rm -rf build .venv .venv-bench
