#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each one for a
# bounded time over the committed corpus, then fuzzes the Python API with
# atheris. Fails when any target finds a crash; the input is kept under
# fuzz/artifacts/.
#
#   FUZZ_SECONDS   time per target (default 60)
#   FUZZ_TARGETS   space-separated subset (default: all, then "python")
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

SECONDS_PER_TARGET="${FUZZ_SECONDS:-60}"
ALL_TARGETS="parse_address parse_bare_address prepare_domain nodeprep nameprep resourceprep unescape python"
TARGETS="${FUZZ_TARGETS:-$ALL_TARGETS}"
BUILD=build/fuzz
ARTIFACTS=fuzz/artifacts

ensure_build_packages
ensure_fuzz_toolchain

log "building the fuzz targets with $(clang --version | head -1)"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_BUILD_FUZZERS=ON -DQUORVEL_WERROR=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" >/dev/null
mkdir -p "$ARTIFACTS"

failed=()
summary=()
for t in $TARGETS; do
  if [ "$t" = python ]; then continue; fi
  bin="$BUILD/fuzz/fuzz_$t"
  [ -x "$bin" ] || die "no fuzz target '$t' (known: $ALL_TARGETS)"
  # New inputs go to a scratch corpus; the committed seeds stay as they are.
  work="$BUILD/corpus/$t"
  mkdir -p "$work"
  log "fuzzing $t for ${SECONDS_PER_TARGET}s"
  out="$BUILD/$t.log"
  set +e
  "$bin" -max_total_time="$SECONDS_PER_TARGET" -timeout=20 -rss_limit_mb=4096 -max_len=4096 \
    -dict=fuzz/jid.dict -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$t-" \
    "$work" "fuzz/corpus/$t" >"$out" 2>&1
  rc=$?
  set -e
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -1)"
  cov="$(grep -o 'cov: [0-9]*' "$out" | tail -1 | cut -d' ' -f2)"
  line="$t: ${execs:-?} executions, coverage ${cov:-?} edges, ${SECONDS_PER_TARGET}s"
  if [ $rc -ne 0 ]; then
    grep -E 'invariant broken|ERROR|SUMMARY|Test unit written' "$out" >&2 || tail -20 "$out" >&2
    failed+=("$t")
    line="$line  FAILED (log: $out)"
  fi
  summary+=("$line")
done

case " $TARGETS " in
  *" python "*)
    PY="$(ensure_venv)"
    log "installing the package with its fuzz extras into $VENV"
    "$PY" -m pip install -q ".[test,fuzz]"
    log "fuzzing the Python API for ${SECONDS_PER_TARGET}s"
    out="$BUILD/python.log"
    mkdir -p "$BUILD/corpus/python"  # new inputs land in the first directory
    set +e
    "$PY" fuzz/python/fuzz_jid.py -max_total_time="$SECONDS_PER_TARGET" -timeout=20 \
      -max_len=512 -dict=fuzz/jid.dict -print_final_stats=1 \
      -artifact_prefix="$ARTIFACTS/python-" "$BUILD/corpus/python" "fuzz/corpus/parse_address" >"$out" 2>&1
    rc=$?
    set -e
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -1)"
    line="python: ${execs:-?} executions, ${SECONDS_PER_TARGET}s"
    if [ $rc -ne 0 ]; then
      tail -30 "$out" >&2
      failed+=(python)
      line="$line  FAILED (log: $out)"
    fi
    summary+=("$line")
    ;;
esac

printf '%s\n' "fuzzing summary:" "${summary[@]/#/  }" >&2
[ ${#failed[@]} -eq 0 ] || die "fuzz targets failed: ${failed[*]} (inputs under $ARTIFACTS/)"
