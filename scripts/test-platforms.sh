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
source "$(dirname "$0")/rootfs.sh"
cd "$QUORVEL_ROOT"

CACHE="$ROOTFS_CACHE"
PLATFORMS="${PLATFORMS:-bookworm trixie sid}"

if [ "${1:-}" = "--unmount" ]; then
  rootfs_unmount_command
  exit 0
fi

rootfs_setup

# What a platform starts with besides the base system. ca-certificates is
# there so that installing it later cannot rebuild the bundle without the
# certificates this machine trusts; sid also has the Python that PYTHON= names.
packages_of() {
  case "$1" in
    sid) echo "ca-certificates,git,make,python3,python3.14" ;;
    *) echo "ca-certificates,git,make,python3" ;;
  esac
}

# "N passed, M skipped" over the GoogleTest reports in a directory (one
# per test program), read by the root's python3.
gtest_counts() {
  compgen -G "$ROOT$1/*.xml" >/dev/null || { echo "no report"; return; }
  in_root python3 - "$1" <<'PY' || echo "unreadable report"
import pathlib, sys, xml.etree.ElementTree as ET
failed = skipped = passed = 0
for report in sorted(pathlib.Path(sys.argv[1]).glob("*.xml")):
    for c in ET.parse(report).getroot().iter("testcase"):
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
  ensure_base "$name" "$name" "$(packages_of "$name")"
  make_root "$name"
  python_arg=()
  python_note=""
  case "$name" in
    bookworm)
      lent="$(lend_pyenv_python)"
      if [ -z "$lent" ]; then
        RESULTS+=("$name  NOT RUN: Debian 12's python3 is 3.11 and this machine has no pyenv Python >= 3.12 that runs in a Debian 12 root to lend (looked in ${PYENV_ROOT:-$HOME/.pyenv}/versions)")
        status=1
        rootfs_unmount_all
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
  rm -rf "$ROOT/src/gtest"
  in_root GTEST_OUTPUT=xml:/src/gtest/ bash -c 'cd /src/quorvel && exec make test "$@"' make-test \
    "${python_arg[@]}" >"$logfile" 2>&1 || rc=$?

  debian="$(cat "$ROOT/etc/debian_version")"
  gcc="$(in_root gcc -dumpfullversion 2>/dev/null || echo '?')"
  # The module carries its own Unicode data; ICU is only the tests' oracle.
  unicode="$( (in_root /src/quorvel/.venv/bin/quorvel-jid --version 2>/dev/null || true) |
             sed -n 's/^[^(]*(\(.*\))$/\1/p')"
  icu="$(in_root dpkg-query -W -f='${Version}' libicu-dev 2>/dev/null || true)"
  python="$(in_root /src/quorvel/.venv/bin/python -c 'import platform; print(platform.python_version())' \
            2>/dev/null || echo '?')"
  cxx="$(gtest_counts /src/gtest)"
  pytest="$( (grep -E '^[0-9]+ (passed|failed).* in [0-9.]+s' "$logfile" || true) | tail -n 1 |
            sed 's/ in [0-9.]*s.*//')"
  verdict="green"
  if [ "$rc" -ne 0 ]; then
    verdict="FAILED (make test exit $rc; see $logfile and $ROOT)"
    status=1
  fi
  RESULTS+=("$name  Debian $debian, GCC $gcc, ${unicode:-Unicode ?}, ICU oracle ${icu:-none}, Python $python$python_note; C++ tests: $cxx; pytest: ${pytest:-none}; set-up ${setup}s, total $((SECONDS - started))s: $verdict")
  rootfs_unmount_all
  if [ "$rc" -eq 0 ]; then
    remove_tree "$ROOT"
  fi
done

echo "commit ${HEAD_COMMIT:0:12}, mirror $MIRROR"
printf '%s\n' "${RESULTS[@]}"
exit "$status"
