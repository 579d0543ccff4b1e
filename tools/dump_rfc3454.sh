#!/usr/bin/env bash
# Writes data/rfc3454/*.txt from libidn's copy of the RFC 3454 tables.
# Needs a C compiler and libidn's headers (Debian: libidn-dev). Run once when
# the files are to be re-made; nothing builds or tests against libidn.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cc -std=c99 -Wall -Wextra -O1 -o "$work/dump" "$root/tools/dump_rfc3454.c" \
  $(pkg-config --cflags --libs libidn)
mkdir -p "$root/data/rfc3454"
"$work/dump" "$root/data/rfc3454"
echo "wrote $(ls "$root/data/rfc3454"/*.txt | wc -l) tables to data/rfc3454/"
