# Fresh Debian root filesystems for the checks that must run on a machine
# other than this one: make test-platforms and make test-wheels. Source it
# after lib.sh; don't run it. Needs root.
#
# Cached under build/platforms/<key>/: base/ is the root filesystem as
# debootstrap left it plus the start packages, archives/ and pip-http/ keep
# downloaded Debian and Python packages across runs. make_root copies base/
# into a new root/ each time, so every check starts from a fresh system.
# shellcheck shell=bash

ROOTFS_CACHE="$QUORVEL_ROOT/build/platforms"
ROOTFS_CA_BUNDLE=/etc/ssl/certs/ca-certificates.crt

# Every mount point under the cache, deepest first.
rootfs_mounts() {
  awk -v top="$ROOTFS_CACHE/" 'index($2, top) == 1 { print $2 }' /proc/self/mounts | sort -r
}

rootfs_unmount_all() {
  local m
  while IFS= read -r m; do
    [ -n "$m" ] && { umount -R "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; }
  done < <(rootfs_mounts)
}

# rm -rf that never enters a mount: with the host's /dev or pyenv tree bound
# inside a root, a plain one would delete the host's files.
remove_tree() {
  if [ -n "$(awk -v top="$1/" 'index($2, top) == 1 { print $2 }' /proc/self/mounts)" ]; then
    die "refusing to remove $1: something is still mounted inside it"
  fi
  rm -rf --one-file-system "$1"
}

# `script --unmount`: only undo what an interrupted run left mounted.
rootfs_unmount_command() {
  [ -z "$(rootfs_mounts)" ] && return 0
  [ "$(id -u)" -eq 0 ] || die "something is still mounted under $ROOTFS_CACHE; unmount it as root: $0 --unmount"
  rootfs_unmount_all
  [ -z "$(rootfs_mounts)" ] || die "could not unmount: $(rootfs_mounts | tr '\n' ' ')"
}

# The mirror this machine's apt uses, so that the roots get the same one.
host_mirror() {
  local uri
  uri="$( (grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{ print $2 }'
           grep -hsE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list | awk '{ print $2 }') |
          grep -E '/debian/?$' | head -n 1)"
  echo "${uri:-http://deb.debian.org/debian}"
}

# Checks what the roots need, installs debootstrap, and makes sure nothing
# stays mounted when the script ends however it ends. Sets MIRROR.
rootfs_setup() {
  # /proc/self/mounts escapes white space, so such a path could not be matched.
  case "$ROOTFS_CACHE" in *[[:space:]]*) die "the repository's path must not contain white space: $ROOTFS_CACHE" ;; esac
  [ "$(id -u)" -eq 0 ] || die "this needs root (debootstrap, chroot and mounts)"
  command -v chroot >/dev/null || die "no chroot command here"
  ensure_packages debootstrap ca-certificates
  [ -s "$ROOTFS_CA_BUNDLE" ] || die "no CA bundle at $ROOTFS_CA_BUNDLE to give the roots"
  trap rootfs_unmount_all EXIT
  trap 'exit 130' INT TERM
  rootfs_unmount_all
  MIRROR="$(host_mirror)"
}

# Makes build/platforms/<key>/base once: debootstrap of the Debian suite,
# then the start packages (comma-separated). ca-certificates belongs among
# them, so that installing it later cannot rebuild the bundle without the
# certificates this machine trusts.
ensure_base() {
  local key="$1" suite="$2" packages="$3" base="$ROOTFS_CACHE/$1/base"
  [ "$(cat "$base/.complete" 2>/dev/null)" = "$MIRROR $suite $packages" ] && return 0
  log "$key: debootstrap $suite from $MIRROR (cached for later runs)"
  remove_tree "$base"
  remove_tree "$base.partial"
  mkdir -p "$ROOTFS_CACHE/$key"
  debootstrap --variant=minbase --include="$packages" "$suite" "$base.partial" "$MIRROR" \
    >"$ROOTFS_CACHE/$key/debootstrap.log" 2>&1 ||
    die "$key: debootstrap failed; see $ROOTFS_CACHE/$key/debootstrap.log"
  # A mirror snapshot may serve a release file past its validity date.
  echo 'Acquire::Check-Valid-Until "false";' >"$base.partial/etc/apt/apt.conf.d/99check-valid-until"
  rm -rf "$base.partial/var/cache/apt/archives/"*.deb
  echo "$MIRROR $suite $packages" >"$base.partial/.complete"
  mv "$base.partial" "$base"
}

# A fresh root from the cached base, with proc, the host's dev, its resolver
# configuration and CA bundle, and the package caches. Sets ROOT.
make_root() {
  local key="$1"
  ROOT="$ROOTFS_CACHE/$key/root"
  rootfs_unmount_all
  remove_tree "$ROOT"
  cp -a "$ROOTFS_CACHE/$key/base" "$ROOT"
  mkdir -p "$ROOTFS_CACHE/$key/archives/partial" "$ROOTFS_CACHE/$key/pip-http" \
    "$ROOT/root/.cache/pip/http-v2" "$ROOT/etc/ssl/certs"
  mount -t proc proc "$ROOT/proc"
  mount --rbind /dev "$ROOT/dev"
  mount --make-rslave "$ROOT/dev"
  mount --bind "$ROOTFS_CACHE/$key/archives" "$ROOT/var/cache/apt/archives"
  # Downloads only: wheels pip builds itself are made afresh every time.
  mount --bind "$ROOTFS_CACHE/$key/pip-http" "$ROOT/root/.cache/pip/http-v2"
  # The pinned Unicode test data that the repository finds at ../shared, for
  # a clone at /src/quorvel.
  if [ -d "$QUORVEL_ROOT/../shared" ]; then
    mkdir -p "$ROOT/src/shared"
    mount --bind "$QUORVEL_ROOT/../shared" "$ROOT/src/shared"
    mount -o remount,bind,ro "$ROOT/src/shared"
  fi
  cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"
  # pip inside the root must trust what this machine trusts; the copy under
  # /usr/local also survives a rebuild of the bundle by update-ca-certificates.
  cp "$ROOTFS_CA_BUNDLE" "$ROOT/etc/ssl/certs/ca-certificates.crt"
  mkdir -p "$ROOT/usr/local/share/ca-certificates"
  cp "$ROOTFS_CA_BUNDLE" "$ROOT/usr/local/share/ca-certificates/host-bundle.crt"
  printf '[global]\ncert = /etc/ssl/certs/ca-certificates.crt\n' >"$ROOT/etc/pip.conf"
}

# Removes the root after a pass; keeps it, for a look, after a failure.
drop_root() {
  rootfs_unmount_all
  [ "$1" -eq 0 ] && remove_tree "$ROOT"
  return 0
}

# Debian 12's own python3 is 3.11: lend a root this machine's pyenv tree, at
# the same path and read-only. Prints the newest interpreter of the wanted
# major.minor (any >= 3.12 when none is given) that runs inside the root, or
# nothing when there is none.
lend_pyenv_python() {
  local want="${1:-3.1[2-9]}" pyenv_root="${PYENV_ROOT:-$HOME/.pyenv}" c
  [ -d "$pyenv_root/versions" ] || return 0
  mkdir -p "$ROOT$pyenv_root"
  mount --bind "$pyenv_root" "$ROOT$pyenv_root"
  mount -o remount,bind,ro "$ROOT$pyenv_root"
  for c in $(ls -d "$pyenv_root"/versions/$want.*/bin/python3 2>/dev/null | sort -rV); do
    if chroot "$ROOT" "$c" -c 'import sys, venv, ensurepip, ssl; sys.exit(sys.version_info < (3, 12))' \
        >/dev/null 2>&1; then
      echo "$c"
      return 0
    fi
  done
}

# A command inside the root with a clean environment.
in_root() {
  chroot "$ROOT" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive PIP_DISABLE_PIP_VERSION_CHECK=1 \
    SSL_CERT_FILE=/etc/ssl/certs/ca-certificates.crt PIP_CERT=/etc/ssl/certs/ca-certificates.crt "$@"
}
