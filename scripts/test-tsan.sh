#!/usr/bin/env bash
# The threaded parts under ThreadSanitizer: the core and the extension
# modules built with -fsanitize=thread in build/tsan, then the batch route's
# row-loop tests (C++) and a stress test of its worker threads from Python
# (tests/test_batch_threads.py: threads=2..8 over lists and pyarrow arrays,
# Python threads calling normalise at once, quorvel-jid -j). Any report
# stops the run (halt_on_error=1); clean is exit status 0.
#
# The interpreter is not instrumented: GCC's TSan runtime, the one matching
# the compiler that built the modules, is preloaded into it. Its own code
# then runs unseen, but the runtime still intercepts what it calls in libc
# and pthreads. scripts/tsan-python.supp is where a report from inside the
# interpreter alone would be named, with its reason; none has been needed.
#
# About 8 minutes on two cores (the build 3, the stress test 5), so it is a
# target of its own and not part of .ci/run.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

BUILD=build/tsan
ensure_build_packages
ensure_venv
log "installing the stress test's requirements into $VENV"
"$PY" -m pip install -q pytest "$("$PY" -c 'import tomllib
print(tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["arrow"][0])')"

runtime="$(g++ -print-file-name=libtsan.so)"
[ -f "$runtime" ] || die "the TSan runtime of $(g++ --version | head -1) was not found ($runtime)"

log "building the core, the batch tests and the extension with TSan"
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=ON \
  -DQUORVEL_BUILD_PYTHON=ON -DQUORVEL_WERROR=ON -DPython_EXECUTABLE="$PY" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread -DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread >/dev/null
# Only what the threaded code runs in: the core's own suite has no threads.
cmake --build "$BUILD" -j "$JOBS" --target quorvel_binding_tests quorvel_jid quorvel_blocks \
  quorvel_text quorvel_batch >/dev/null

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$QUORVEL_ROOT/scripts/tsan-python.supp"
log "batch row-loop tests under TSan"
"$BUILD/binding/tests/quorvel_binding_tests" --gtest_brief=1

log "threaded stress test under TSan (runtime $runtime)"
# The tool's own runs (-j) start a child interpreter: it inherits the
# preloaded runtime and the options, so a report there fails its test too.
LD_PRELOAD="$runtime" PYTHONPATH="$QUORVEL_ROOT/$BUILD/python" \
  "$PY" -m pytest -q -p no:cacheprovider tests/test_batch_threads.py
