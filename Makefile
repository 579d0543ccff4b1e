# Everything starts from a clean clone: each target installs what it needs.
.PHONY: all build test test-cpp test-python clean

all: test

test:
	@bash scripts/test.sh

clean:
	rm -rf build .venv
