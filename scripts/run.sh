#!/usr/bin/env bash
# The quick start: installs whatever is missing (system packages, a virtual
# environment with Python >= 3.12, the package itself), then runs quorvel-jid
# over the sample address list. Exits 0 when the demo ran, whatever the
# sample's invalid lines made the tool report.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

ensure_build_packages
ensure_venv
log "building and installing quorvel into $VENV"
"$PY" -m pip install -q .

SAMPLE="${1:-examples/addresses.txt}"
log "quorvel-jid --dedupe -f $SAMPLE"
status=0
"$VENV/bin/quorvel-jid" --dedupe -f "$SAMPLE" || status=$?
# 1 only says that some sample lines are invalid, as they are meant to be.
if [ "$status" -gt 1 ]; then
  die "quorvel-jid failed with status $status"
fi
log "done: try $VENV/bin/quorvel-jid --help"
