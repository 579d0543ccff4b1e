# Everything starts from a clean clone: each target installs what it needs.
.PHONY: all run test bench clean

all: test

# Set-up as needed, then the command-line tool over examples/addresses.txt.
run:
	@bash scripts/run.sh

test:
	@bash scripts/test.sh

# Benchmarks against the measured floor; prints one table and writes
# bench/results.json.
bench:
	@bash scripts/bench.sh

clean:
	rm -rf build .venv .venv-bench
