#!/usr/bin/env bash
# Builds and runs every benchmark from nothing: the core's Google Benchmark
# program, the Python-level suite against the floor module, and the
# command-line tool against naive loops over a generated million-address
# file, and quorvel.batch over the same mix as a column, in a venv of its
# own (.venv-bench); then threads constructing and comparing JIDs, on that
# venv's interpreter and on the free-threaded one of make test-free-threaded
# when it exists. `--only batch` runs the quorvel.batch table alone, and
# `--only threads` the threads section alone. Prints one table and writes
# bench/results.json (the threads section: build/threads-*.json).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

ensure_build_packages
ensure_packages libbenchmark-dev

# The peer pins an lxml that has wheels up to Python 3.12 only, so 3.12 is
# preferred when it is there; any Python >= 3.12 does for everything else.
python_312() {
  local c pyenv_root="${PYENV_ROOT:-$HOME/.pyenv}"
  command -v pyenv >/dev/null 2>&1 && pyenv_root="$(pyenv root)"
  for c in "$(command -v python3.12 2>/dev/null)" $(ls -d "$pyenv_root"/versions/3.12*/bin/python3 2>/dev/null | sort -rV); do
    [ -n "$c" ] && python_ok "$c" && { echo "$c"; return 0; }
  done
  return 1
}
if [ -z "${PYTHON:-}" ]; then
  PYTHON="$(python_312 || true)"
  [ -n "$PYTHON" ] || unset PYTHON
fi

# A venv of its own: the peer must never leak into the test environment.
VENV="$QUORVEL_ROOT/.venv-bench"
ensure_venv

log "installing the package with pyarrow into $VENV"
# pyarrow (the arrow extra) for the quorvel.batch rows, which take Arrow data.
"$PY" -m pip install -q ".[arrow]"
# The slow references of the RFC 7622 rows (test-only, as in the test extra).
"$PY" -m pip install -q precis-i18n==1.1.2 unicodedata2==17.0.1 idna==3.19
# No other XMPP address library is installed for comparison: the peer
# column reads n/a unless one happens to be importable in this venv.

# One build tree per interpreter: CMake keeps the Python it found first.
BUILD="$QUORVEL_ROOT/build/bench-$("$PY" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
# `--only batch` (bench.py's arguments come through) is the quorvel.batch
# table alone, which has no use for the core's figures; `--only threads` is
# the threads section below alone.
batch_only=0 threads_only=0
previous=""
for arg in "$@"; do
  if [ "$arg" = "--only=batch" ] || { [ "$previous" = "--only" ] && [ "$arg" = "batch" ]; }; then
    batch_only=1
  fi
  if [ "$arg" = "--only=threads" ] || { [ "$previous" = "--only" ] && [ "$arg" = "threads" ]; }; then
    threads_only=1
  fi
  previous="$arg"
done

log "building the benchmark programs and the floor module"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCHMARKS=ON \
  -DQUORVEL_BUILD_PYTHON=ON -DPython_EXECUTABLE="$PY" >/dev/null
if [ "$threads_only" = 1 ]; then
  cmake --build "$BUILD" -j "$JOBS" --target quorvel_bench_floor
else
  cmake --build "$BUILD" -j "$JOBS" --target quorvel_core_bench quorvel_bench_floor
fi

# Threads that each construct and compare JIDs of their own (threads_bench.py):
# 2 threads' throughput against 1, and one thread against the floor, on this
# venv's interpreter and, when make test-free-threaded has built one, on the
# free-threaded interpreter under build/free-threaded, with the floor built
# for it and the package reinstalled from this tree into its venv.
threads_section() {
  log "threads: $("$PY" -c 'import sys; print(sys.version.split()[0])') (the default build)"
  PYTHONPATH="$BUILD/bench" "$PY" bench/threads_bench.py --json "$QUORVEL_ROOT/build/threads-default.json"
  local ftvenv
  ftvenv="$(ls -d "$QUORVEL_ROOT"/build/free-threaded/venv-cp3*t 2>/dev/null | sort -V | tail -n 1)"
  if [ -z "$ftvenv" ] || [ ! -x "$ftvenv/bin/python" ]; then
    echo "threads: no free-threaded interpreter under build/free-threaded (make test-free-threaded builds one)"
    return 0
  fi
  local ftpy="$ftvenv/bin/python" ftbuild
  ftbuild="$QUORVEL_ROOT/build/bench-$("$ftpy" -c 'import sys; print("%d.%dt" % sys.version_info[:2])')"
  log "threads: the floor module and the package for $ftpy"
  cmake -S . -B "$ftbuild" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCHMARKS=ON \
    -DQUORVEL_BUILD_PYTHON=ON -DPython_EXECUTABLE="$ftpy" >/dev/null
  cmake --build "$ftbuild" -j "$JOBS" --target quorvel_bench_floor >/dev/null
  "$ftpy" -m pip install -q --no-deps --force-reinstall . >"$ftbuild/pip.log" 2>&1 ||
    { tail -n 20 "$ftbuild/pip.log" >&2; die "installing the package into $ftvenv failed"; }
  PYTHONPATH="$ftbuild/bench" "$ftpy" bench/threads_bench.py --json "$QUORVEL_ROOT/build/threads-free-threaded.json"
}
if [ "$threads_only" = 1 ]; then
  threads_section
  exit 0
fi

if [ "$batch_only" = 0 ]; then
  log "core benchmarks"
  "$BUILD/bench/quorvel_core_bench" --benchmark_min_time=0.2 --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_format=json \
    --benchmark_out="$BUILD/core.json" >/dev/null
fi

log "Python benchmarks"
# The floor module comes from the build tree; quorvel.jid from the installed
# package, as users get it.
PYTHONPATH="$BUILD/bench" "$PY" bench/bench.py --core-json "$BUILD/core.json" \
  --json "$QUORVEL_ROOT/bench/results.json" "$@"

# Whether the batch calls give their memory back: ten million rows through
# normalise and group, round after round (a verdict, never a failure here).
if [ "${QUORVEL_BENCH_MEMORY:-1}" = 1 ]; then
  log "quorvel.batch memory over ten million rows"
  "$PY" bench/batch_memory.py --rounds 6 || true
fi

# After the table, unless only the batch table was asked for.
[ "$batch_only" = 1 ] || threads_section
