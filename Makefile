# Everything starts from a clean clone: each target installs what it needs.
.PHONY: all build test test-cpp test-python test-sanitize fuzz clean

all: test

test:
	@bash scripts/test.sh

# The C++ and Python suites against an ASan + UBSan build.
test-sanitize:
	@bash scripts/test-sanitize.sh

# Every fuzz target for FUZZ_SECONDS (default 60) each.
fuzz:
	@bash scripts/fuzz.sh

clean:
	rm -rf build .venv
