#!/usr/bin/env bash
# The README's `make test`, from a clean clone of the current commit, inside
# fresh Debian root filesystems: Debian 12 (bookworm), Debian 13 (trixie) and
# sid with Python 3.14. Each starts with only git, make and python3 (and, on
# sid, the python3.14 that PYTHON= selects); `make test` installs the rest.
# Prints one line per platform and exits 0 only when every one passed.
#
#   PLATFORMS="trixie sid"        a subset (default: bookworm trixie sid)
#   scripts/test-platforms.sh --unmount
#                                 only undo what an interrupted run left mounted
#
# Cached under build/platforms/<name>/: base/ is the root filesystem as
# debootstrap left it plus git, make and python3; archives/ and pip-http/ keep the
# downloaded Debian packages and Python packages. Every run copies base/ into a
# new root/ and clones the repository into it; root/ is removed after a pass
# and kept after a failure, with its make-test.log beside it.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$QUORVEL_ROOT"

CACHE="$QUORVEL_ROOT/build/platforms"
PLATFORMS="${PLATFORMS:-bookworm trixie sid}"

# Every mount point under build/platforms, deepest first.
mounts_under_cache() {
  awk -v top="$CACHE/" 'index($2, top) == 1 { print $2 }' /proc/self/mounts | sort -r
}

unmount_all() {
  local m
  while IFS= read -r m; do
    [ -n "$m" ] && { umount -R "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; }
  done < <(mounts_under_cache)
}

# rm -rf that never enters a mount: with the host's /dev or pyenv tree bound
# inside a root, a plain one would delete the host's files.
remove_tree() {
  if [ -n "$(awk -v top="$1/" 'index($2, top) == 1 { print $2 }' /proc/self/mounts)" ]; then
    die "refusing to remove $1: something is still mounted inside it"
  fi
  rm -rf --one-file-system "$1"
}

if [ "${1:-}" = "--unmount" ]; then
  [ -z "$(mounts_under_cache)" ] && exit 0
  [ "$(id -u)" -eq 0 ] || die "something is still mounted under $CACHE; unmount it as root: $0 --unmount"
  unmount_all
  [ -z "$(mounts_under_cache)" ] || die "could not unmount: $(mounts_under_cache | tr '\n' ' ')"
  exit 0
fi

# /proc/self/mounts escapes white space, so such a path could not be matched.
case "$CACHE" in *[[:space:]]*) die "the repository's path must not contain white space: $CACHE" ;; esac
[ "$(id -u)" -eq 0 ] || die "make test-platforms needs root (debootstrap, chroot and mounts)"
command -v chroot >/dev/null || die "no chroot command here"
ensure_packages debootstrap ca-certificates
trap unmount_all EXIT
trap 'exit 130' INT TERM
unmount_all

# The mirror this machine's apt uses, so that the roots get the same one.
host_mirror() {
  local uri
  uri="$( (grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{ print $2 }'
           grep -hsE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list | awk '{ print $2 }') |
          grep -E '/debian/?$' | head -n 1)"
  echo "${uri:-http://deb.debian.org/debian}"
}
MIRROR="$(host_mirror)"
CA_BUNDLE=/etc/ssl/certs/ca-certificates.crt
[ -s "$CA_BUNDLE" ] || die "no CA bundle at $CA_BUNDLE to give the roots"

# What a platform starts with besides the base system. ca-certificates is
# there so that installing it later cannot rebuild the bundle without the
# certificates this machine trusts; sid also has the Python that PYTHON= names.
packages_of() {
  case "$1" in
    sid) echo "ca-certificates,git,make,python3,python3.14" ;;
    *) echo "ca-certificates,git,make,python3" ;;
  esac
}

# Makes build/platforms/<name>/base once: debootstrap, then the start packages.
ensure_base() {
  local name="$1" base="$CACHE/$1/base"
  [ "$(cat "$base/.complete" 2>/dev/null)" = "$MIRROR $(packages_of "$name")" ] && return 0
  log "$name: debootstrap from $MIRROR (cached for later runs)"
  remove_tree "$base"
  remove_tree "$base.partial"
  mkdir -p "$CACHE/$name"
  debootstrap --variant=minbase --include="$(packages_of "$name")" "$name" "$base.partial" "$MIRROR" \
    >"$CACHE/$name/debootstrap.log" 2>&1 ||
    die "$name: debootstrap failed; see $CACHE/$name/debootstrap.log"
  # A mirror snapshot may serve a release file past its validity date.
  echo 'Acquire::Check-Valid-Until "false";' >"$base.partial/etc/apt/apt.conf.d/99check-valid-until"
  rm -rf "$base.partial/var/cache/apt/archives/"*.deb
  echo "$MIRROR $(packages_of "$name")" >"$base.partial/.complete"
  mv "$base.partial" "$base"
}

# A fresh root from the cached base, with proc, the host's dev, its resolver
# configuration and CA bundle, and the package caches. Sets ROOT.
make_root() {
  local name="$1"
  ROOT="$CACHE/$name/root"
  unmount_all
  remove_tree "$ROOT"
  cp -a "$CACHE/$name/base" "$ROOT"
  mkdir -p "$CACHE/$name/archives/partial" "$CACHE/$name/pip-http" "$ROOT/root/.cache/pip/http-v2" \
    "$ROOT/etc/ssl/certs"
  mount -t proc proc "$ROOT/proc"
  mount --rbind /dev "$ROOT/dev"
  mount --make-rslave "$ROOT/dev"
  mount --bind "$CACHE/$name/archives" "$ROOT/var/cache/apt/archives"
  # Downloads only: wheels pip builds itself are made afresh every time.
  mount --bind "$CACHE/$name/pip-http" "$ROOT/root/.cache/pip/http-v2"
  # The pinned Unicode test data that the repository finds at ../shared.
  if [ -d "$QUORVEL_ROOT/../shared" ]; then
    mkdir -p "$ROOT/src/shared"
    mount --bind "$QUORVEL_ROOT/../shared" "$ROOT/src/shared"
    mount -o remount,bind,ro "$ROOT/src/shared"
  fi
  cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"
  # pip inside the root must trust what this machine trusts; the copy under
  # /usr/local also survives a rebuild of the bundle by update-ca-certificates.
  cp "$CA_BUNDLE" "$ROOT/etc/ssl/certs/ca-certificates.crt"
  mkdir -p "$ROOT/usr/local/share/ca-certificates"
  cp "$CA_BUNDLE" "$ROOT/usr/local/share/ca-certificates/host-bundle.crt"
  printf '[global]\ncert = /etc/ssl/certs/ca-certificates.crt\n' >"$ROOT/etc/pip.conf"
}

# Debian 12's own python3 is 3.11: lend it this machine's pyenv tree, at the
# same path and read-only, and name the newest version that runs inside the
# root. Prints the interpreter, or nothing when there is none.
lend_pyenv_python() {
  local pyenv_root="${PYENV_ROOT:-$HOME/.pyenv}" c
  [ -d "$pyenv_root/versions" ] || return 0
  mkdir -p "$ROOT$pyenv_root"
  mount --bind "$pyenv_root" "$ROOT$pyenv_root"
  mount -o remount,bind,ro "$ROOT$pyenv_root"
  for c in $(ls -d "$pyenv_root"/versions/3.1[2-9]*/bin/python3 2>/dev/null | sort -rV); do
    if chroot "$ROOT" "$c" -c 'import sys, venv, ensurepip, ssl; sys.exit(sys.version_info < (3, 12))' \
        >/dev/null 2>&1; then
      echo "$c"
      return 0
    fi
  done
}

in_root() {
  chroot "$ROOT" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive PIP_DISABLE_PIP_VERSION_CHECK=1 \
    SSL_CERT_FILE=/etc/ssl/certs/ca-certificates.crt PIP_CERT=/etc/ssl/certs/ca-certificates.crt "$@"
}

# "N passed, M skipped" from the GoogleTest report, read by the root's python3.
gtest_counts() {
  [ -f "$ROOT$1" ] || { echo "no report"; return; }
  in_root python3 - "$1" <<'PY' || echo "unreadable report"
import sys, xml.etree.ElementTree as ET
cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
failed = skipped = passed = 0
for c in cases:
    if c.find("failure") is not None:
        failed += 1
    elif c.get("result") == "skipped" or c.find("skipped") is not None:
        skipped += 1
    else:
        passed += 1
print(f"{passed} passed" + (f", {failed} failed" if failed else "") + f", {skipped} skipped")
PY
}

HEAD_COMMIT="$(git rev-parse HEAD)"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  log "uncommitted changes are not tested: every platform clones commit ${HEAD_COMMIT:0:12}"
fi

RESULTS=()
status=0
for name in $PLATFORMS; do
  case "$name" in bookworm | trixie | sid) ;; *) die "unknown platform '$name' (bookworm, trixie, sid)" ;; esac
  started=$SECONDS
  ensure_base "$name"
  make_root "$name"
  python_arg=()
  python_note=""
  case "$name" in
    bookworm)
      lent="$(lend_pyenv_python)"
      if [ -z "$lent" ]; then
        RESULTS+=("$name  NOT RUN: Debian 12's python3 is 3.11 and this machine has no pyenv Python >= 3.12 that runs in a Debian 12 root to lend (looked in ${PYENV_ROOT:-$HOME/.pyenv}/versions)")
        status=1
        unmount_all
        continue
      fi
      python_arg=("PYTHON=$lent")
      python_note=" (host pyenv, PYTHON=$lent)"
      ;;
    sid)
      python_arg=("PYTHON=/usr/bin/python3.14")
      python_note=" (PYTHON=/usr/bin/python3.14)"
      ;;
  esac
  git clone --quiet --no-hardlinks "$QUORVEL_ROOT" "$ROOT/src/quorvel"
  git -C "$ROOT/src/quorvel" checkout --quiet --detach "$HEAD_COMMIT"
  setup=$((SECONDS - started))
  log "$name: root ready in ${setup}s; make test${python_arg:+ ${python_arg[*]}}"
  logfile="$CACHE/$name/make-test.log"
  rc=0
  in_root GTEST_OUTPUT=xml:/src/gtest.xml bash -c 'cd /src/quorvel && exec make test "$@"' make-test \
    "${python_arg[@]}" >"$logfile" 2>&1 || rc=$?

  debian="$(cat "$ROOT/etc/debian_version")"
  gcc="$(in_root gcc -dumpfullversion 2>/dev/null || echo '?')"
  icu="$( (in_root /src/quorvel/.venv/bin/quorvel-jid --version 2>/dev/null || true) |
         sed -n 's/.*(ICU \([^,]*\), Unicode \([^,]*\),.*/\1 (Unicode \2)/p')"
  python="$(in_root /src/quorvel/.venv/bin/python -c 'import platform; print(platform.python_version())' \
            2>/dev/null || echo '?')"
  cxx="$(gtest_counts /src/gtest.xml)"
  pytest="$( (grep -E '^[0-9]+ (passed|failed).* in [0-9.]+s' "$logfile" || true) | tail -n 1 |
            sed 's/ in [0-9.]*s.*//')"
  verdict="green"
  if [ "$rc" -ne 0 ]; then
    verdict="FAILED (make test exit $rc; see $logfile and $ROOT)"
    status=1
  fi
  RESULTS+=("$name  Debian $debian, GCC $gcc, ICU ${icu:-?}, Python $python$python_note; C++ tests: $cxx; pytest: ${pytest:-none}; set-up ${setup}s, total $((SECONDS - started))s: $verdict")
  unmount_all
  if [ "$rc" -eq 0 ]; then
    remove_tree "$ROOT"
  fi
done

echo "commit ${HEAD_COMMIT:0:12}, mirror $MIRROR"
printf '%s\n' "${RESULTS[@]}"
exit "$status"
