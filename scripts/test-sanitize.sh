#!/usr/bin/env bash
# The C++ and Python suites against an AddressSanitizer + UndefinedBehavior-
# Sanitizer build of the core and of the extension module.
#
# The interpreter itself is not instrumented: the ASan runtime is preloaded
# into it, Python's small-object allocator is switched off so that ASan sees
# every object, and LeakSanitizer reports only leaks whose allocating frames
# are not the interpreter's own (see scripts/lsan-python.supp).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

BUILD=build/sanitize
ensure_build_packages
ensure_venv
log "installing the test extras into $VENV"
"$PY" -m pip install -q pytest hypothesis

log "building the core, its tests and the extension with ASan + UBSan"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=ON \
  -DQUORVEL_BUILD_TESTS=ON -DQUORVEL_BUILD_PYTHON=ON -DQUORVEL_WERROR=ON \
  -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build "$BUILD" -j "$JOBS" >/dev/null

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
log "C++ tests under ASan + UBSan"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1" \
  ctest --test-dir "$BUILD" --output-on-failure

asan_runtime="$(g++ -print-file-name=libasan.so)"
[ -f "$asan_runtime" ] || die "the ASan runtime was not found ($asan_runtime)"
log "Python tests under ASan + UBSan (runtime $asan_runtime)"
# The sdist round trip is left out: it tests packaging, not the module, and
# the compilers it starts would inherit the preloaded runtime and report the
# leaks compilers are allowed to have. So are the data tools' tests (marked
# integration, and not installed here): their leaks are the tools' own.
# A suppression matches any frame of an allocation's stack, and every stack
# here ends in the interpreter. Keeping only the allocator and its caller
# tells the interpreter's own never-freed objects (allocated by libpython)
# from the module's (allocated by quorvel's code) and keeps malloc cheap.
LD_PRELOAD="$asan_runtime" PYTHONMALLOC=malloc PYTHONPATH="$QUORVEL_ROOT/$BUILD/python" \
  ASAN_OPTIONS="detect_leaks=1:malloc_context_size=2:abort_on_error=0:detect_stack_use_after_return=0" \
  LSAN_OPTIONS="suppressions=$QUORVEL_ROOT/scripts/lsan-python.supp:print_suppressions=0" \
  QUORVEL_SANITIZED=1 "$PY" -m pytest -q -p no:cacheprovider --ignore=tests/test_sdist.py -m "not integration" tests
