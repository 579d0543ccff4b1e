# Everything starts from a clean clone: each target installs what it needs.
.PHONY: all build test test-cpp test-python bench clean

all: test

test:
	@bash scripts/test.sh

# Benchmarks against the measured floor; prints one table and writes
# bench/results.json.
bench:
	@bash scripts/bench.sh

clean:
	rm -rf build .venv .venv-bench
