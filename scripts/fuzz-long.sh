#!/usr/bin/env bash
# Long fuzzing that adds up across runs: every libFuzzer target for
# FUZZ_SECONDS (default 300) each, with its corpus kept under
# build/fuzz-long/corpus between runs; fuzz/corpus/<target> (what is
# committed; build/ does not outlive a machine) then takes those of its
# inputs that reach code the seeds do not. Each target's figures go to
# build/fuzz-long/history.tsv, and the totals over every run so far are
# printed: CPU time, executions, the newest edge count and findings.
#
#   FUZZ_SECONDS   time per target this run (default 300)
#   FUZZ_TARGETS   space-separated subset (default: every libFuzzer target)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

LONG=build/fuzz-long
HISTORY="$LONG/history.tsv"
TARGETS="${FUZZ_TARGETS:-parse_address parse_bare_address prepare_domain idna nodeprep nameprep resourceprep unescape escape normalize uri_plain arrow_column precis}"
mkdir -p "$LONG/corpus"

rc=0
FUZZ_SECONDS="${FUZZ_SECONDS:-300}" FUZZ_TARGETS="$TARGETS" FUZZ_WORK="$LONG/corpus" \
  bash scripts/fuzz.sh 2> >(tee "$LONG/last.log" >&2) || rc=$?

# The figures of this run, a line per target, from fuzz.sh's summary.
when="$(date -u +%Y-%m-%dT%H:%M:%SZ)"
for t in $TARGETS; do
  line="$(grep -E "^  $t: " "$LONG/last.log" | tail -1 || true)"
  [ -n "$line" ] || continue
  execs="$(sed -E 's/.*: ([0-9?]+) executions.*/\1/' <<<"$line")"
  edges="$(sed -E 's/.*coverage ([0-9?]+) edges.*/\1/' <<<"$line")"
  secs="$(sed -E 's/.* ([0-9]+)s.*/\1/' <<<"$line")"
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
awk -F'\t' '{ secs[$2] += $3; execs[$2] += ($4 == "?" ? 0 : $4); edges[$2] = $5; found[$2] += $6; runs[$2]++ }
  END { for (t in secs) { total += secs[t];
          printf "  %-20s %6.1f CPU-min over %d runs, %12d executions, %6s edges now, %d findings\n",
                 t, secs[t] / 60, runs[t], execs[t], edges[t], found[t] }
        printf "  %-20s %6.2f CPU-hours\n", "all", total / 3600 }' "$HISTORY" | sort
log "fuzz/corpus/ holds what the runs added: commit it"
exit "$rc"
