#!/usr/bin/env bash
# make test-wheels: proof that the wheels in dist/ install and work where
# there is no compiler. Each wheel goes into a fresh virtual environment in a
# fresh Debian root that has only python3 and python3-venv (no compiler, no
# -dev package), and scripts/installed-checks.sh runs there: import, ldd of
# the extension, the README's examples, quorvel-jid over the sample and the
# whole Python suite against the installed wheel. The sdist goes through the
# same in a root that has g++, cmake and python3-dev added and nothing else,
# and the suite's outcomes there are compared test by test with each wheel's.
#
#   Debian 13 (trixie): python3 is 3.13, so the cp313 wheel and the sdist.
#   Debian 12 (bookworm): its python3 is 3.11, so the other wheels (cp312)
#   run on this machine's pyenv interpreter of their version, lent read-only.
#
#   scripts/test-wheels.sh --unmount   only undo what an interrupted run left
#
# The tests, README and sample come from a clean clone of the current commit;
# the wheels are dist/'s (make wheel builds them when there are none).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/rootfs.sh"
cd "$QUORVEL_ROOT"

if [ "${1:-}" = "--unmount" ]; then
  rootfs_unmount_command
  exit 0
fi

rootfs_setup
HEAD_COMMIT="$(git rev-parse HEAD)"
version="$(sed -n 's/^__version__ = "\([^"]*\)".*/\1/p' python/quorvel/__init__.py)"
SDIST="dist/quorvel-$version.tar.gz"
if ! ls dist/quorvel-"$version"-*.whl >/dev/null 2>&1 || [ ! -f "$SDIST" ]; then
  log "no wheels for $version in dist/: make wheel first"
  bash scripts/wheel.sh
elif [ "$(cat build/wheel/built-from 2>/dev/null)" != "$HEAD_COMMIT" ]; then
  # The tests come from this commit; wheels of another would not be what they test.
  log "dist/ was built from $(cat build/wheel/built-from 2>/dev/null || echo 'an unknown state'), not ${HEAD_COMMIT:0:12}: make wheel again"
  bash scripts/wheel.sh
fi
mapfile -t WHEELS < <(ls dist/quorvel-"$version"-*.whl)

BASE_PACKAGES="ca-certificates,python3,python3-venv"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  log "uncommitted changes are not tested: the roots clone commit ${HEAD_COMMIT:0:12}"
fi
RESULTS_DIR="$QUORVEL_ROOT/build/test-wheels"
rm -rf "$RESULTS_DIR"
mkdir -p "$RESULTS_DIR"

# Sets up a root for one package: its own copy of the sources, the package
# under /dist. Arguments: cache key, Debian suite, package file.
prepare_root() {
  ensure_base "$1" "$2" "$BASE_PACKAGES"
  make_root "$1"
  git clone --quiet --no-hardlinks "$QUORVEL_ROOT" "$ROOT/src/quorvel"
  git -C "$ROOT/src/quorvel" checkout --quiet --detach "$HEAD_COMMIT"
  mkdir -p "$ROOT/dist"
  cp "$3" "$ROOT/dist/"
}

# "trixie 13.1, glibc 2.41, Python 3.13.5"
describe_root() {
  local glibc
  glibc="$(in_root ldd --version 2>/dev/null | head -n 1 | awk '{ print $NF }')"
  echo "$1 $(cat "$ROOT/etc/debian_version"), glibc $glibc, Python $(in_root "$2" -c 'import platform; print(platform.python_version())')"
}

no_compiler_in_root() {
  local found
  found="$(in_root sh -c 'for c in cc gcc g++ c++ clang cmake; do command -v "$c"; done' || true)"
  [ -z "$found" ] || die "the root that must have no compiler has: $(echo "$found" | tr '\n' ' ')"
  in_root sh -c 'ls /usr/include/python3* >/dev/null 2>&1' && die "the root has Python headers"
  return 0
}

# Runs the checks in the current root. Arguments: label, python, package in
# the root, extra pip packages. Adds a line to REPORT; returns the status.
REPORT=()
run_checks() {
  local label="$1" python="$2" package="$3" where="$4"
  shift 4
  local out="$RESULTS_DIR/$label" rc=0
  mkdir -p "$out"
  log "$label: installing ${package##*/} in $where"
  in_root bash /src/quorvel/scripts/installed-checks.sh "$python" "$package" /results "$@" \
    >"$out/log.txt" 2>&1 || rc=$?
  cp -r "$ROOT/results/." "$out/" 2>/dev/null || true
  sed 's/^/    /' "$out/summary.txt" >&2 2>/dev/null || true
  if [ "$rc" -eq 0 ]; then
    REPORT+=("$label  $where: $(sed -n 's/^pytest: //p' "$out/summary.txt"); green")
  else
    tail -n 20 "$out/log.txt" >&2
    REPORT+=("$label  $where: FAILED (see $out/log.txt and $ROOT)")
  fi
  return "$rc"
}

status=0
ensure_base trixie-bare trixie "$BASE_PACKAGES"
TRIXIE_PY="$(chroot "$ROOTFS_CACHE/trixie-bare/base" /usr/bin/python3 -c 'import sys; print("%d%d" % sys.version_info[:2])')"

for wheel in "${WHEELS[@]}"; do
  name="${wheel##*/}"
  tag="$(echo "$name" | cut -d- -f3)"
  rc=0
  if [ "$tag" = "cp$TRIXIE_PY" ]; then
    prepare_root trixie-bare trixie "$wheel"
    no_compiler_in_root
    run_checks "$tag-wheel" /usr/bin/python3 "/dist/$name" "$(describe_root trixie /usr/bin/python3), no compiler" || rc=$?
  else
    v="${tag#cp}"
    v="${v:0:1}.${v:1}"
    prepare_root bookworm-bare bookworm "$wheel"
    no_compiler_in_root
    lent="$(lend_pyenv_python "$v")"
    if [ -z "$lent" ]; then
      REPORT+=("$tag-wheel  NOT RUN in a root: no Python $v of this machine runs in a Debian 12 root (looked in ${PYENV_ROOT:-$HOME/.pyenv}/versions)")
      rc=1
    else
      run_checks "$tag-wheel" "$lent" "/dist/$name" "$(describe_root bookworm "$lent") (this machine's pyenv, lent), no compiler" || rc=$?
    fi
  fi
  drop_root "$rc"
  [ "$rc" -eq 0 ] || status=1
done

# The sdist, where only g++, cmake and the Python headers have been added;
# `build` too, so that the suite's sdist round trip runs here.
prepare_root trixie-bare trixie "$SDIST"
log "sdist: apt-get install g++ cmake python3-dev"
in_root sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends g++ cmake python3-dev' \
  >"$RESULTS_DIR/sdist-apt.log" 2>&1 || die "installing g++ cmake python3-dev failed; see $RESULTS_DIR/sdist-apt.log"
rc=0
run_checks sdist /usr/bin/python3 "/dist/${SDIST##*/}" "$(describe_root trixie /usr/bin/python3) + g++ $(in_root g++ -dumpfullversion), cmake $(in_root cmake --version | head -n 1 | awk '{ print $3 }')" "build>=1.2" || rc=$?
drop_root "$rc"
[ "$rc" -eq 0 ] || status=1

# Each wheel's suite against the source build's, test by test.
COMPARE=()
if [ -f "$RESULTS_DIR/sdist/junit.xml" ]; then
  for out in "$RESULTS_DIR"/cp3*-wheel; do
    [ -f "$out/junit.xml" ] || continue
    line="$(build/wheel/tools/bin/python scripts/compare_results.py "$RESULTS_DIR/sdist/junit.xml" "$out/junit.xml" 2>&1)" || status=1
    if cmp -s "$RESULTS_DIR/sdist/cli.txt" "$out/cli.txt"; then
      line+="; quorvel-jid's output over the sample identical"
    else
      line+="; error: quorvel-jid's output over the sample differs"
      status=1
    fi
    COMPARE+=("${out##*/} vs sdist: $line")
  done
fi

echo "commit ${HEAD_COMMIT:0:12}, mirror $MIRROR"
printf '%s\n' "${REPORT[@]}" "${COMPARE[@]}"
exit "$status"
