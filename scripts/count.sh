#!/usr/bin/env bash
# Instructions per address of the core, counted by callgrind: a figure that a
# busy machine does not move. Usage: scripts/count.sh [CORPUS...]
# (default: ascii mixed domain). Prints parse and copy instructions per
# address and their ratio for each corpus, and the instructions of the SSE2
# and AVX2 variants of the short-address path on their own.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

ensure_build_packages
ensure_packages valgrind libbenchmark-dev
BUILD="$QUORVEL_ROOT/build/count"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target quorvel_core_count >/dev/null

PASSES=20
count() {  # workload corpus -> instructions per address
  local out
  out="$(mktemp)"
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect='*measured_passes*' \
    "$BUILD/bench/quorvel_core_count" "$1" "$2" "$PASSES" >/dev/null 2>&1
  awk -v n=$((PASSES * 1000)) '/^summary:/ { printf "%.1f", $2 / n }' "$out"
  rm -f "$out"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-10s %10s %10s %7s %10s %10s\n' corpus 'parse Ir' 'copy Ir' ratio 'sse2 Ir' 'avx2 Ir'
for corpus in "${@:-ascii mixed domain}"; do
  for c in $corpus; do
    p="$(count parse "$c")"
    k="$(count copy "$c")"
    s="$(count parse-sse2 "$c")"
    a="$(count parse-avx2 "$c" || echo n/a)"
    printf '%-10s %10s %10s %7s %10s %10s\n' "$c" "$p" "$k" "$(ratio "$p" "$k")" "$s" "$a"
  done
done
