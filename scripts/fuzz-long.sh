#!/usr/bin/env bash
# Long fuzzing that adds up across runs: every libFuzzer target for
# FUZZ_SECONDS (default 300) each, with its corpus kept under
# build/fuzz-long/corpus between runs; fuzz/corpus/<target> (what is
# committed; build/ does not outlive a machine) then takes those of its
# inputs that reach code the seeds do not. Each target's figures go to
# fuzz/history.tsv, committed for the same reason, and the totals over
# every run so far are printed: CPU time (what the fuzzers really had, not
# the wall time they were given), executions, the newest edge count and
# findings.
#
#   FUZZ_SECONDS   time per target this run (default 300)
#   FUZZ_TARGETS   space-separated subset (default: every libFuzzer target)
#   FUZZ_JOBS      targets fuzzed side by side (default 1: one core)
#   FUZZ_TIMEOUT   seconds before an input counts as a hang (default 120
#                  here: a long run may be paused by SIGSTOP while the
#                  machine is wanted quiet, and the pause counts)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

LONG=build/fuzz-long
HISTORY=fuzz/history.tsv
TARGETS="${FUZZ_TARGETS:-parse_address parse_bare_address prepare_domain idna nodeprep nameprep resourceprep unescape escape normalize uri_plain arrow_column precis}"
mkdir -p "$LONG/corpus"

JOBS_SIDE_BY_SIDE="${FUZZ_JOBS:-1}"
[[ "$JOBS_SIDE_BY_SIDE" =~ ^[1-9][0-9]*$ ]] || die "FUZZ_JOBS must be a positive whole number"

# One build, then the targets dealt round-robin to FUZZ_JOBS runs of
# fuzz.sh side by side, each with a log of its own.
FUZZ_BUILD=only bash scripts/fuzz.sh
read -r -a all <<<"$TARGETS"
pids=()
for ((j = 0; j < JOBS_SIDE_BY_SIDE; j++)); do
  share=()
  for ((i = j; i < ${#all[@]}; i += JOBS_SIDE_BY_SIDE)); do share+=("${all[i]}"); done
  [ ${#share[@]} -gt 0 ] || continue
  FUZZ_BUILD=skip FUZZ_TIMEOUT="${FUZZ_TIMEOUT:-120}" FUZZ_SECONDS="${FUZZ_SECONDS:-300}" FUZZ_TARGETS="${share[*]}" FUZZ_WORK="$LONG/corpus" \
    bash scripts/fuzz.sh 2> >(tee "$LONG/last-$j.log" >&2) &
  pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=$?; done
cat "$LONG"/last-*.log >"$LONG/last.log"
rm -f "$LONG"/last-*.log

# The figures of this run, a line per target, from fuzz.sh's summaries:
# when, target, CPU seconds, executions, edges, findings.
when="$(date -u +%Y-%m-%dT%H:%M:%SZ)"
[ -s "$HISTORY" ] || printf 'when\ttarget\tcpu_seconds\texecutions\tedges\tfindings\n' >"$HISTORY"
for t in $TARGETS; do
  line="$(grep -E "^  $t: " "$LONG/last.log" | tail -1 || true)"
  [ -n "$line" ] || continue
  execs="$(sed -E 's/.*: ([0-9?]+) executions.*/\1/' <<<"$line")"
  edges="$(sed -E 's/.*coverage ([0-9?]+) edges.*/\1/' <<<"$line")"
  secs="$(sed -E 's/.* ([0-9?]+) CPU-s.*/\1/' <<<"$line")"
  found=0
  case "$line" in *FAILED*) found=1 ;; esac
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$when" "$t" "$secs" "$execs" "$edges" "$found" >>"$HISTORY"
done

# Into the committed seeds go only the kept inputs that reach what none of
# them does (libFuzzer's merge into its first folder, which adds and never
# removes): the named seeds, regressions among them, stay as they are.
for t in $TARGETS; do
  bin="build/fuzz/fuzz/fuzz_$t"
  [ -x "$bin" ] && [ -d "$LONG/corpus/$t" ] || continue
  before="$(ls "fuzz/corpus/$t" | wc -l)"
  "$bin" -merge=1 -rss_limit_mb=4096 -max_len=4096 "fuzz/corpus/$t" "$LONG/corpus/$t" \
    >"$LONG/merge-$t.log" 2>&1 || { tail -20 "$LONG/merge-$t.log" >&2; die "merging $t's corpus failed"; }
  echo "  $t: $(( $(ls "fuzz/corpus/$t" | wc -l) - before )) inputs added to fuzz/corpus/$t" >&2
done

log "fuzzing so far (every run recorded in $HISTORY)"
awk -F'\t' 'NR > 1 { secs[$2] += ($3 == "?" ? 0 : $3); execs[$2] += ($4 == "?" ? 0 : $4); edges[$2] = $5; found[$2] += $6; runs[$2]++ }
  END { for (t in secs) { total += secs[t];
          printf "  %-20s %6.1f CPU-min over %d runs, %12d executions, %6s edges now, %d findings\n",
                 t, secs[t] / 60, runs[t], execs[t], edges[t], found[t] }
        printf "  %-20s %6.2f CPU-hours\n", "all", total / 3600 }' "$HISTORY" | sort
log "fuzz/corpus/ and $HISTORY hold what the runs added: commit them"
exit "$rc"
