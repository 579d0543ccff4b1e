# Everything starts from a clean clone: each target installs what it needs.
.PHONY: all build run test test-cpp test-python clean

all: test

# Set-up as needed, then the command-line tool over examples/addresses.txt.
run:
	@bash scripts/run.sh

test:
	@bash scripts/test.sh

clean:
	rm -rf build .venv
