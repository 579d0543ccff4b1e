#!/usr/bin/env bash
# Builds everything from nothing and runs every test suite: the core's C++
# tests through ctest, then the Python package's tests with pytest against
# the package installed in a virtual environment.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

ensure_build_packages

# Cheap and first: an include that runs back up a layer fails the run before
# minutes of building.
log "layers of the core and the binding"
python3 scripts/check_layers.py

log "building the core and its tests"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=ON \
  -DQUORVEL_WERROR=ON >/dev/null
cmake --build build/test -j "$JOBS"
log "C++ tests"
ctest --test-dir build/test --output-on-failure

ensure_venv
log "installing the package with its test extras into $VENV"
"$PY" -m pip install -q ".[test]"
log "Python tests"
(cd "$QUORVEL_ROOT" && "$PY" -m pytest -q -p no:cacheprovider tests)

# The stubs must describe the module that was just built, and typed code
# written against them must check cleanly.
log "type stubs against the built module (stubtest)"
export MYPY_CACHE_DIR="$QUORVEL_ROOT/build/mypy-cache"
"$PY" -m mypy.stubtest quorvel.jid quorvel._blocks quorvel._text quorvel._batch
log "mypy --strict over the typed example and the package"
"$PY" -m mypy --strict examples/typed_usage.py
"$PY" -m mypy --strict -p quorvel
