#!/usr/bin/env bash
# make test-free-threaded: the package on a free-threaded CPython built here.
#
# The interpreter comes from Debian sid's python3.14 source package: its
# .orig.tar.xz is the upstream release tarball. The source is fetched with
# an apt state of its own under build/free-threaded/apt (its own sources.list
# with one deb-src line, lists and cache), so the system's sources are never
# touched. CPython is configured with --disable-gil into
# build/free-threaded/python-VERSION and reused by later runs; then a venv,
# the package with what of its test extra has wheels for that ABI, and the
# whole Python suite, twice: once as usual, once under pytest-run-parallel.
#
# Prints the interpreter (sys.version), the suite's counts and the GIL state
# after importing every quorvel module. No source to be had is an error, not
# a skip.
#
# FT_SOURCE_PACKAGE names another Debian source package of CPython to build
# (default python3.14), for a mirror that lacks the default's files.
# FT_PARALLEL_THREADS sets pytest-run-parallel's thread count (default 4).
#
# FT_TSAN=1 (make test-tsan-free-threaded) builds the interpreter with
# ThreadSanitizer instead (clang, --with-thread-sanitizer, its own prefix
# ending in -tsan) and the package's modules likewise, and runs the tests
# whose threads share JIDs, Groups and input lists (the free-threading and
# stress tests) under it, with CPython's own suppressions for the
# interpreter; any report fails the run.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

FT="$QUORVEL_ROOT/build/free-threaded"
SOURCE_PACKAGE="${FT_SOURCE_PACKAGE:-python3.14}"
SUITE="${FT_SUITE:-sid}"
MIRROR="${FT_MIRROR:-http://deb.debian.org/debian}"
THREADS="${FT_PARALLEL_THREADS:-4}"
TSAN="${FT_TSAN:-0}"
variant=""
[ "$TSAN" != 1 ] || variant="-tsan"
mkdir -p "$FT/logs"

# What CPython's configure needs so that ssl, zlib, ctypes, bz2, lzma,
# sqlite3, readline and uuid build (pip needs the first few), plus what the
# package's own build needs.
ensure_packages build-essential pkg-config xz-utils ca-certificates debian-archive-keyring \
  libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev \
  uuid-dev libncurses-dev
ensure_build_packages
[ "$TSAN" != 1 ] || ensure_fuzz_toolchain

# --- the source, through a private apt state -----------------------------
APT_DIR="$FT/apt"
APT=(-o "Dir::Etc::sourcelist=$APT_DIR/sources.list"
     -o "Dir::Etc::sourceparts=$APT_DIR/sources.list.d"
     -o "Dir::State::Lists=$APT_DIR/lists"
     -o "Dir::Cache=$APT_DIR/cache"
     -o "Dir::Etc::preferencesparts=$APT_DIR/preferences.d"
     -o "APT::Sandbox::User=root")

# Sets SOURCE_DIR to the unpacked upstream tree and VERSION to its version.
fetch_source() {
  mkdir -p "$APT_DIR"/{sources.list.d,preferences.d,lists/partial,cache/archives/partial,src}
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $MIRROR $SUITE main" \
    >"$APT_DIR/sources.list"
  log "apt-get update (private state in ${APT_DIR#"$QUORVEL_ROOT"/})"
  apt-get "${APT[@]}" update >"$FT/logs/apt-update.log" 2>&1 ||
    { tail -n 5 "$FT/logs/apt-update.log" >&2; die "cannot read $SUITE's source index from $MIRROR"; }
  local versions
  versions="$(apt-cache "${APT[@]}" showsrc "$SOURCE_PACKAGE" 2>/dev/null |
    awk -v p="$SOURCE_PACKAGE" '/^Package: /{ok = ($2 == p)} ok && /^Version: /{print $2}' | sort -ruV)"
  [ -n "$versions" ] || die "$SUITE's source index has no package $SOURCE_PACKAGE"
  local v upstream orig tried=()
  for v in $versions; do
    upstream="${v%-*}"
    upstream="${upstream#*:}"
    orig="$APT_DIR/src/${SOURCE_PACKAGE}_${upstream}.orig.tar.xz"
    if [ ! -s "$orig" ]; then
      log "fetching $SOURCE_PACKAGE $v"
      if ! (cd "$APT_DIR/src" && apt-get "${APT[@]}" source --download-only "$SOURCE_PACKAGE=$v") \
          >"$FT/logs/apt-source-$v.log" 2>&1; then
        tried+=("$v ($(grep -m1 -o 'Failed to fetch.*' "$FT/logs/apt-source-$v.log" | sed 's/ \[IP.*//' | tail -c 120))")
        continue
      fi
    fi
    VERSION="$upstream"
    SOURCE_DIR="$FT/src/Python-$VERSION"
    if [ ! -f "$SOURCE_DIR/configure" ]; then
      rm -rf "$SOURCE_DIR"
      mkdir -p "$FT/src"
      tar -C "$FT/src" -xJf "$orig"
      [ -f "$SOURCE_DIR/configure" ] || die "$orig does not unpack to Python-$VERSION/"
    fi
    return 0
  done
  printf 'error: the source of %s cannot be fetched from %s (%s); every version its index lists failed:\n' \
    "$SOURCE_PACKAGE" "$MIRROR" "$SUITE" >&2
  printf '  %s\n' "${tried[@]}" >&2
  die "no free-threaded interpreter was built, so nothing was tested (FT_SOURCE_PACKAGE=python3.13 builds 3.13's instead)"
}

# An install is complete once its stamp is written, after `make install`.
installed_python() {
  local prefix="$1"
  [ -f "$prefix/.quorvel-complete" ] || return 1
  ls "$prefix"/bin/python3.[0-9]*t 2>/dev/null | grep -v -- '-config$' | head -n 1
}

# The newest complete install of the package's minor version, if any: a
# second run reuses it without asking the mirror anything.
minor="${SOURCE_PACKAGE#python}"
PREFIX=""
for candidate in $(ls -d "$FT"/python-"$minor".* 2>/dev/null | sort -rV); do
  case "$candidate" in
    *-tsan) [ -n "$variant" ] || continue ;;
    *) [ -z "$variant" ] || continue ;;
  esac
  if installed_python "$candidate" >/dev/null; then PREFIX="$candidate"; break; fi
done

if [ -n "$PREFIX" ]; then
  FTPY="$(installed_python "$PREFIX")"
  log "reusing $FTPY"
else
  fetch_source
  PREFIX="$FT/python-$VERSION$variant"
  BUILD="$FT/src/build-$VERSION$variant"
  rm -rf "$PREFIX" "$BUILD"
  mkdir -p "$BUILD"
  start=$SECONDS
  sanitizer=()
  [ "$TSAN" != 1 ] || sanitizer=(--with-thread-sanitizer CC=clang CXX=clang++)
  log "configuring CPython $VERSION --disable-gil ${sanitizer[*]} (logs in ${FT#"$QUORVEL_ROOT"/}/logs)"
  (cd "$BUILD" && nice -n 19 "$SOURCE_DIR/configure" --disable-gil --without-ensurepip \
    --prefix="$PREFIX" "${sanitizer[@]}") >"$FT/logs/configure.log" 2>&1 ||
    { tail -n 20 "$FT/logs/configure.log" >&2; die "configure failed"; }
  log "building CPython $VERSION (make -j$(( JOBS < 2 ? JOBS : 2 )))"
  nice -n 19 make -C "$BUILD" -j"$(( JOBS < 2 ? JOBS : 2 ))" >"$FT/logs/make.log" 2>&1 ||
    { tail -n 30 "$FT/logs/make.log" >&2; die "building CPython failed"; }
  nice -n 19 make -C "$BUILD" install >"$FT/logs/install.log" 2>&1 ||
    { tail -n 30 "$FT/logs/install.log" >&2; die "installing CPython failed"; }
  # Modules a pip run needs; a missing one means a missing -dev package.
  grep -A3 'necessary bits to build these optional modules' "$FT/logs/make.log" >&2 || true
  # The interpreter's own known reports under TSan, kept beside it.
  [ "$TSAN" != 1 ] || cp "$SOURCE_DIR/Tools/tsan/suppressions_free_threading.txt" "$PREFIX/tsan-suppressions.txt"
  touch "$PREFIX/.quorvel-complete"
  FTPY="$(installed_python "$PREFIX")" || die "make install left no python3.Xt in $PREFIX/bin"
  log "CPython $VERSION built and installed in $((SECONDS - start)) s"
  rm -rf "$BUILD"
fi

"$FTPY" -c 'import sysconfig, sys; sys.exit(not sysconfig.get_config_var("Py_GIL_DISABLED"))' ||
  die "$FTPY is not a free-threaded build"
"$FTPY" -c 'import ssl, zlib, ctypes, bz2, lzma, sqlite3' ||
  die "$FTPY lacks a module pip or the suite needs; see $FT/logs/make.log"

# --- ensurepip, the venv, the package -----------------------------------
"$FTPY" -m pip --version >/dev/null 2>&1 || {
  log "ensurepip"
  "$FTPY" -m ensurepip --upgrade >"$FT/logs/ensurepip.log" 2>&1 ||
    { tail -n 10 "$FT/logs/ensurepip.log" >&2; die "ensurepip failed"; }
}
tag="$("$FTPY" -c 'import sys; print("cp%d%dt" % sys.version_info[:2])')"
FTVENV="$FT/venv-$tag$variant"
# Made anew each run (pip's cache keeps that quick), so that what one run
# fell back to never lingers into the next.
log "creating ${FTVENV#"$QUORVEL_ROOT"/}"
rm -rf "$FTVENV"
"$FTPY" -m venv "$FTVENV"
"$FTVENV/bin/python" -m pip install -q --upgrade pip >"$FT/logs/pip.log" 2>&1
VPY="$FTVENV/bin/python"

log "installing the package into ${FTVENV#"$QUORVEL_ROOT"/}"
if [ "$TSAN" = 1 ]; then
  # The modules with TSan too, built apart from the plain build's tree.
  tsan_flags="-fsanitize=thread -fno-omit-frame-pointer"
  CC=clang CXX=clang++ CMAKE_ARGS="-DCMAKE_CXX_FLAGS='$tsan_flags' -DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread" \
    "$VPY" -m pip install -q --no-deps --force-reinstall --config-settings=build-dir="build/{wheel_tag}-tsan" \
    --config-settings=install.strip=false . >"$FT/logs/pip-package-tsan.log" 2>&1 ||
    { tail -n 30 "$FT/logs/pip-package-tsan.log" >&2; die "building the package with TSan for $tag failed"; }
  "$VPY" -m pip install -q --only-binary=:all: pytest >"$FT/logs/pip-test-tsan.log" 2>&1 ||
    { tail -n 10 "$FT/logs/pip-test-tsan.log" >&2; die "installing pytest failed"; }
  echo "interpreter: $("$VPY" -c 'import sys, sysconfig; print(sys.version.replace(chr(10), " "), "CONFIG_ARGS:", sysconfig.get_config_var("CONFIG_ARGS"))')"
  log "the threaded tests on $tag, interpreter and modules under ThreadSanitizer"
  logf="$FT/logs/pytest-tsan.log"
  # CPython's suppressions and ours (scripts/tsan-free-threaded.supp), as
  # TSan reads a single file.
  cat "$PREFIX/tsan-suppressions.txt" scripts/tsan-free-threaded.supp >"$FT/logs/tsan-suppressions.txt"
  rc=0
  (cd "$QUORVEL_ROOT" && QUORVEL_SANITIZED=1 PYTHON_GIL=0 \
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$FT/logs/tsan-suppressions.txt" \
    "$VPY" -m pytest -q -p no:cacheprovider tests/test_free_threading.py tests/test_stress.py) >"$logf" 2>&1 || rc=$?
  grep -E -m 5 -A 30 'WARNING: ThreadSanitizer' "$logf" >&2 || true
  echo "tsan: $(tail -n 1 "$logf" | sed 's/^=* *//; s/ *=*$//')  (log: ${logf#"$QUORVEL_ROOT"/})"
  exit "$rc"
fi
"$VPY" -m pip install -q --no-deps --force-reinstall . >"$FT/logs/pip-package.log" 2>&1 ||
  { tail -n 30 "$FT/logs/pip-package.log" >&2; die "building the package for $tag failed"; }

# The test extra as scripts/test.sh installs it, each requirement as a
# wheel only (a source build of numpy or pandas would take longer than the
# suite, and a tool without a wheel for this ABI is what the integration
# tests skip over), plus pytest-run-parallel. mypy is left out: stubtest
# and mypy --strict run in make test.
mapfile -t requirements < <("$VPY" - <<'EOF'
import tomllib
project = tomllib.load(open("pyproject.toml", "rb"))["project"]
extras = project["optional-dependencies"]
seen = set()
for name in ("test", "integrations"):
    for req in extras[name]:
        # The markers hold on every CPython 3.12 to 3.14, this one included.
        req = req.split(";")[0].strip()
        if req.startswith("quorvel") or req.startswith("mypy") or req in seen:
            continue
        seen.add(req)
        print(req)
print("pytest-run-parallel")
EOF
)
# PyYAML builds from its source in seconds (pure Python without libyaml's
# headers), and dask needs it. A compiled tool's pin without a wheel for
# this ABI falls back to the newest release that has one (said so below);
# any other requirement without one is left out, and its tests skip.
SOURCE_OK=" pyyaml "
FALLBACK_OK=" pyarrow pandas nanoarrow polars duckdb numpy "
missing=() substituted=()
if ! "$VPY" -m pip install -q --only-binary=:all: "${requirements[@]}" >"$FT/logs/pip-test.log" 2>&1; then
  # PyYAML first: others depend on it.
  mapfile -t requirements < <(printf '%s\n' "${requirements[@]}" | grep -i '^pyyaml'
                              printf '%s\n' "${requirements[@]}" | grep -vi '^pyyaml')
  for r in "${requirements[@]}"; do
    name="${r%%[=<>!~]*}"
    bare="${name%%[*}"
    bare="${bare,,}"
    "$VPY" -m pip install -q --only-binary=:all: "$r" >>"$FT/logs/pip-test.log" 2>&1 && continue
    case "$SOURCE_OK" in *" $bare "*)
      "$VPY" -m pip install -q "$r" >>"$FT/logs/pip-test.log" 2>&1 && continue ;;
    esac
    if [ "$name" != "$r" ] && [[ "$FALLBACK_OK" == *" $bare "* ]] &&
        "$VPY" -m pip install -q --only-binary=:all: "$name" >>"$FT/logs/pip-test.log" 2>&1; then
      substituted+=("$r -> $bare $("$VPY" -m pip show "$bare" 2>/dev/null | sed -n 's/^Version: //p')")
    else
      missing+=("$r")
    fi
  done
fi
echo "mypy/stubtest: not run on $tag (make test runs them on the default build)"
[ ${#substituted[@]} -eq 0 ] || echo "no $tag wheel of the pinned release, took the newest with one: ${substituted[*]}"
[ ${#missing[@]} -eq 0 ] || echo "not installed, no $tag wheel: ${missing[*]} (the tests that need them skip, saying so)"

# --- what ran, and the counts -------------------------------------------
echo "interpreter: $("$VPY" -c 'import sys; print(sys.version.replace(chr(10), " "))')"
"$VPY" - <<'EOF'
import importlib, pkgutil, sys
import quorvel
# quorvel.__main__ would run the tool itself.
names = sorted({"quorvel"} | {m.name for m in pkgutil.walk_packages(quorvel.__path__, "quorvel.")
                              if m.name != "quorvel.__main__"})
for name in names:
    importlib.import_module(name)
print(f"GIL after importing {len(names)} quorvel modules: "
      f"{'enabled' if sys._is_gil_enabled() else 'disabled'} (sys._is_gil_enabled() = {sys._is_gil_enabled()})")
sys.exit(1 if sys._is_gil_enabled() else 0)
EOF

# Runs pytest, printing its last line as "LABEL: ..." and keeping the log;
# fails the script when pytest fails.
status=0
run_suite() {
  local label="$1"; shift
  local logf="$FT/logs/pytest-$label.log"
  local rc=0
  (cd "$QUORVEL_ROOT" && "$VPY" -m pytest -q -p no:cacheprovider "$@" tests) >"$logf" 2>&1 || rc=$?
  grep -E '^(FAILED|ERROR) ' "$logf" | head -n 20 >&2 || true
  echo "$label: $(tail -n 1 "$logf" | sed 's/^=* *//; s/ *=*$//')  (log: ${logf#"$QUORVEL_ROOT"/})"
  [ "$rc" -eq 0 ] || status=1
}
# The suite without the data tools first, with an import that would turn
# the GIL back on made an error: all of it then runs without the GIL. The
# tools' own modules may need it (some of their builds for this ABI do not
# declare otherwise), so their tests run next, in a process of their own.
log "the Python suite on $tag, the integration tests left for the next run"
run_suite suite -m "not integration" -W "error:The global interpreter lock:RuntimeWarning"
log "the integration tests on $tag (a data tool's own module may turn the GIL on)"
run_suite integration -m integration
log "the Python suite under pytest-run-parallel, $THREADS threads per test"
run_suite parallel --parallel-threads="$THREADS" -m "not integration"
exit "$status"
