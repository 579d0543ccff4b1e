#!/usr/bin/env bash
# Instructions per address of the core, counted by callgrind: a figure that a
# busy machine does not move. Usage: scripts/count.sh [CORPUS...]
# (default: ascii mixed domain). Prints parse and copy instructions per
# address and their ratio for each corpus.
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

printf '%-10s %12s %12s %8s\n' corpus 'parse Ir' 'copy Ir' ratio
for corpus in "${@:-ascii mixed domain}"; do
  for c in $corpus; do
    p="$(count parse "$c")"
    k="$(count copy "$c")"
    printf '%-10s %12s %12s %8s\n' "$c" "$p" "$k" "$(awk -v a="$p" -v b="$k" 'BEGIN { printf "%.2f", a / b }')"
  done
done
