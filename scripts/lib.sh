# Shared shell helpers for the make targets. Source it; don't run it.
# shellcheck shell=bash

QUORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="${VENV:-$QUORVEL_ROOT/.venv}"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

log() { printf '==> %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# Installs the Debian packages that are missing, or names them and stops
# when that is not possible. Arguments: package names.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    die "missing system packages: ${missing[*]} (install them with: sudo apt-get install ${missing[*]})"
  fi
  command -v apt-get >/dev/null || die "missing system packages: ${missing[*]}, and no apt-get here"
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What building and testing the core needs.
ensure_build_packages() {
  ensure_packages cmake make g++ libicu-dev libgtest-dev
}

python_ok() {
  "$1" -c 'import sys, venv, ensurepip; sys.exit(0 if sys.version_info >= (3, 12) else 1)' >/dev/null 2>&1
}

# The major.minor version of the distribution's python3 package, or nothing
# when there is no apt or it knows no such package.
distribution_python() {
  command -v apt-cache >/dev/null 2>&1 || return 0
  candidate() {
    apt-cache show --no-all-versions python3 2>/dev/null |
      sed -n 's/^Version: \([0-9]*\.[0-9]*\).*/\1/p' | head -n 1
  }
  local v
  v="$(candidate)"
  if [ -z "$v" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq >/dev/null 2>&1 || true
    v="$(candidate)"
  fi
  echo "$v"
}

# Interpreters that may be a Python >= 3.12, one path a line, preferred first:
# the newest on PATH, then pyenv's versions, then the system's.
python_candidates() {
  local c
  for c in python3.14 python3.13 python3.12 python3; do
    command -v "$c" >/dev/null 2>&1 && command -v "$c"
  done
  local pyenv_root="${PYENV_ROOT:-$HOME/.pyenv}"
  if command -v pyenv >/dev/null 2>&1; then pyenv_root="$(pyenv root)"; fi
  if [ -d "$pyenv_root/versions" ]; then
    ls -d "$pyenv_root"/versions/3.1[2-9]*/bin/python3 2>/dev/null | sort -rV
  fi
  for c in /usr/bin/python3.14 /usr/bin/python3.13 /usr/bin/python3.12; do
    [ -x "$c" ] && echo "$c"
  done
  return 0
}

# Sets PYTHON_FOUND to a Python >= 3.12 with venv and ensurepip: $PYTHON if
# set, then the newest on PATH, then pyenv's versions, then the system's;
# with none of them, the distribution's own python3 is installed when it is
# new enough (Debian 13 and later). Call it directly, never inside $(...):
# `die` must end the script, not a subshell whose output is then used.
find_python() {
  local c
  PYTHON_FOUND=""
  if [ -n "${PYTHON:-}" ]; then
    # One of Debian's own interpreters lacks venv until its package is installed.
    case "$PYTHON" in
      /usr/bin/python3.[0-9]*)
        if [ -x "$PYTHON" ] && ! python_ok "$PYTHON" &&
            "$PYTHON" -c 'import sys; sys.exit(sys.version_info < (3, 12))' >/dev/null 2>&1; then
          ensure_packages "${PYTHON##*/}-venv" "${PYTHON##*/}-dev"
        fi ;;
    esac
    python_ok "$PYTHON" || die "PYTHON=$PYTHON is not a Python >= 3.12 with venv and ensurepip"
    PYTHON_FOUND="$PYTHON"
    return
  fi
  local candidates=()
  while IFS= read -r c; do candidates+=("$c"); done < <(python_candidates)
  for c in "${candidates[@]}"; do
    # A pyenv shim may point at a version without the command; skip it.
    if python_ok "$c"; then
      PYTHON_FOUND="$c"
      return
    fi
  done
  # Debian's own interpreter may lack venv until its package is installed.
  for c in /usr/bin/python3.14 /usr/bin/python3.13 /usr/bin/python3.12; do
    if [ -x "$c" ]; then
      local v="${c##*/}"
      ensure_packages "$v-venv" "$v-dev"
      if python_ok "$c"; then
        PYTHON_FOUND="$c"
        return
      fi
    fi
  done
  # No usable interpreter at all: the distribution's own, if new enough.
  local dist
  dist="$(distribution_python)"
  if [ -n "$dist" ] && [ "$(printf '%s\n' 3.12 "$dist" | sort -V | head -n 1)" = 3.12 ]; then
    ensure_packages python3 python3-venv python3-dev
    if python_ok /usr/bin/python3; then
      PYTHON_FOUND=/usr/bin/python3
      return
    fi
    die "python3 $dist was installed from the distribution, but /usr/bin/python3 cannot create a virtual environment"
  fi
  local why="no Python >= 3.12 found (looked at PATH, pyenv's versions and /usr/bin)"
  if [ -n "$dist" ]; then
    why+=", and this system's python3 package is $dist, too old"
  fi
  die "$why; install one (pyenv can build it) and point PYTHON= at it, as in: make run PYTHON=/path/to/python3.12"
}

# Creates the virtual environment when missing, and sets PY to its python.
# Like find_python, call it directly, never inside $(...).
ensure_venv() {
  if [ ! -x "$VENV/bin/python" ] || ! python_ok "$VENV/bin/python"; then
    find_python
    local py="$PYTHON_FOUND"
    log "creating $VENV with $py ($("$py" -c 'import sys; print(sys.version.split()[0])'))"
    rm -rf "$VENV"
    "$py" -m venv "$VENV" || die "$py could not create the virtual environment $VENV"
    "$VENV/bin/python" -m pip install -q --upgrade pip >/dev/null
  fi
  # Debian's system Python needs its headers for the build.
  case "$(readlink -f "$VENV/bin/python")" in
    /usr/bin/python3.*) local v; v="$(basename "$(readlink -f "$VENV/bin/python")")"; ensure_packages "$v-dev" ;;
  esac
  PY="$VENV/bin/python"
}

# clang with its libFuzzer and sanitizer runtimes, whatever version the
# distribution ships (Debian 12 has 14; later releases have newer ones).
ensure_fuzz_toolchain() {
  ensure_packages clang
  local major
  major="$(clang -dumpversion | cut -d. -f1)"
  if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
      clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - >/dev/null 2>&1; then
    # The runtimes moved from libclang-common-N-dev to libclang-rt-N-dev in clang 14.
    if apt-cache show "libclang-rt-$major-dev" >/dev/null 2>&1 || [ "$major" -ge 14 ]; then
      ensure_packages "libclang-rt-$major-dev"
    else
      ensure_packages "libclang-common-$major-dev"
    fi
  fi
}
