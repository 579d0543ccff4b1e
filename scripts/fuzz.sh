#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each one for a
# bounded time over the committed corpus, then fuzzes the Python API with
# atheris. Fails when any target finds a crash; the input is kept under
# fuzz/artifacts/.
#
#   FUZZ_SECONDS   time per target (default 60)
#   FUZZ_TARGETS   space-separated subset (default: all, then "python")
#   FUZZ_WORK      where new inputs go, one folder per target (default
#                  build/fuzz/corpus; make fuzz-long keeps its own)
#   FUZZ_TIMEOUT   seconds one input may take before it counts as a hang
#                  (default 20; make fuzz-long, whose runs may be paused
#                  while the machine measures something, gives more)
#   FUZZ_BUILD     "only" builds the targets and stops; "skip" runs what an
#                  earlier build left (make fuzz-long runs several of these
#                  side by side over one build); anything else builds, then runs
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

SECONDS_PER_TARGET="${FUZZ_SECONDS:-60}"
ALL_TARGETS="parse_address parse_bare_address prepare_domain idna nodeprep nameprep resourceprep unescape escape normalize uri_plain arrow_column precis python"
TARGETS="${FUZZ_TARGETS:-$ALL_TARGETS}"
BUILD=build/fuzz
ARTIFACTS=fuzz/artifacts
WORK="${FUZZ_WORK:-$BUILD/corpus}"

ensure_build_packages
ensure_fuzz_toolchain
ensure_packages time

if [ "${FUZZ_BUILD:-}" != skip ]; then
  log "building the fuzz targets with $(clang --version | head -1)"
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEL_BUILD_FUZZERS=ON -DQUORVEL_WERROR=ON >/dev/null
  cmake --build "$BUILD" -j "$JOBS" >/dev/null
fi
[ "${FUZZ_BUILD:-}" != only ] || exit 0
mkdir -p "$ARTIFACTS"

failed=()
summary=()

# Runs one fuzzer and adds its line to the summary. Arguments: the target's
# name, its scratch corpus (new inputs land there), then the command with
# its own options; the shared options and the committed seeds follow.
fuzz_one() {
  local name="$1" work="$2" seeds="$3"
  shift 3
  local out="$BUILD/$name.log" times="$BUILD/$name.time" rc=0
  mkdir -p "$work"
  log "fuzzing $name for ${SECONDS_PER_TARGET}s"
  # The CPU time the fuzzer really had (user + system), which on a busy
  # machine is less than the wall time it was given.
  /usr/bin/time -f '%U %S' -o "$times" "$@" -max_total_time="$SECONDS_PER_TARGET" -timeout="${FUZZ_TIMEOUT:-20}" -dict=fuzz/jid.dict -print_final_stats=1 \
    -artifact_prefix="$ARTIFACTS/$name-" "$work" "$seeds" >"$out" 2>&1 || rc=$?
  local execs cov cpu line
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -1)"
  cov="$(grep -o 'cov: [0-9]*' "$out" | tail -1 | cut -d' ' -f2)"
  cpu="$(awk 'NF == 2 && $1 ~ /^[0-9.]+$/ { printf "%d", $1 + $2 }' "$times" 2>/dev/null || true)"
  line="$name: ${execs:-?} executions, coverage ${cov:-?} edges, ${SECONDS_PER_TARGET}s, ${cpu:-?} CPU-s"
  if [ $rc -ne 0 ]; then
    # The end of the log holds the report, the reproducer's path and, for
    # the Python harness, the traceback.
    tail -40 "$out" >&2
    failed+=("$name")
    line="$line  FAILED (log: $out)"
  fi
  summary+=("$line")
}

for t in $TARGETS; do
  if [ "$t" = python ]; then continue; fi
  bin="$BUILD/fuzz/fuzz_$t"
  [ -x "$bin" ] || die "no fuzz target '$t' (known: $ALL_TARGETS)"
  # New inputs go to a scratch corpus; the committed seeds stay as they are.
  fuzz_one "$t" "$WORK/$t" "fuzz/corpus/$t" "$bin" -rss_limit_mb=4096 -max_len=4096
done

case " $TARGETS " in
  *" python "*)
    ensure_venv
    log "installing the fuzz extra's requirements into $VENV"
    # shellcheck disable=SC2046  # one word per requirement
    "$PY" -m pip install -q $("$PY" -c 'import tomllib
print(*tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["fuzz"])')

    # The module under the harness is built with clang for ASan + UBSan and
    # with libFuzzer's coverage counters, so that the fuzzer sees inside the
    # binding and the core and a memory error in them stops the run. Its
    # sanitizer runtime is the one atheris ships together with libFuzzer,
    # preloaded into the (uninstrumented) interpreter. That runtime carries
    # UBSan's common handlers only: the C++ vptr check needs another library
    # and the function-type check's handler is named differently across
    # clang versions, so those two checks are left out here (the libFuzzer
    # targets and make test-sanitize keep them).
    PYBUILD=build/fuzz-python
    log "building the extension for the Python harness (clang, ASan + UBSan, coverage)"
    flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize=vptr,function"
    flags="$flags -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
    CC=clang CXX=clang++ cmake -S . -B "$PYBUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUORVEL_BUILD_PYTHON=ON -DQUORVEL_WERROR=ON -DPython_EXECUTABLE="$PY" \
      -DCMAKE_CXX_FLAGS="$flags" >/dev/null
    cmake --build "$PYBUILD" -j "$JOBS" >/dev/null
    runtime="$("$PY" -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so"
    [ -f "$runtime" ] || die "atheris has no sanitizer runtime at $runtime"
    # quorvel.jid and the private quorvel._blocks, quorvel._text and quorvel._batch, all under the harness.
    modules=("$PYBUILD"/python/quorvel/jid.*.so "$PYBUILD"/python/quorvel/_blocks.*.so
             "$PYBUILD"/python/quorvel/_text.*.so "$PYBUILD"/python/quorvel/_batch.*.so)
    # A handler the runtime lacks would only show as an import error later.
    missing="$(comm -23 \
      <(for m in "${modules[@]}"; do nm -D --undefined-only "$m"; done | awk '{print $NF}' |
          grep -E '^__(asan|ubsan|sanitizer)' | sort -u) \
      <(nm -D --defined-only "$runtime" | awk '{print $NF}' | sort -u))"
    [ -z "$missing" ] || die "atheris's runtime lacks sanitizer entry points the modules need: $missing"

    # Leaks are left to make test-sanitize, which tells the interpreter's
    # own allocations from the module's; here the interpreter's would drown
    # them. PYTHONMALLOC=malloc lets ASan see every object.
    fuzz_one python "$WORK/python" fuzz/corpus/parse_address \
      env LD_PRELOAD="$runtime" PYTHONMALLOC=malloc PYTHONPATH="$QUORVEL_ROOT/$PYBUILD/python" \
      ASAN_OPTIONS="detect_leaks=0" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      "$PY" fuzz/python/fuzz_jid.py -max_len=512
    ;;
esac

printf '%s\n' "fuzzing summary:" "${summary[@]/#/  }" >&2
[ ${#failed[@]} -eq 0 ] || die "fuzz targets failed: ${failed[*]} (inputs under $ARTIFACTS/)"
