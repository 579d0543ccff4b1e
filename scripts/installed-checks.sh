#!/usr/bin/env bash
# Runs inside a test root (make test-wheels): installs one wheel or sdist
# into a fresh virtual environment and checks the installed package the way
# a user would meet it, from outside the source tree.
#
#   installed-checks.sh PYTHON PACKAGE RESULTS [EXTRA_PIP_PACKAGES...]
#
# Writes RESULTS/junit.xml, RESULTS/cli.txt and RESULTS/summary.txt (one
# "name: value" line per check). The source tree (for the tests, the README
# and the sample) is the clone this script sits in.
set -euo pipefail
PYTHON="$1" PACKAGE="$2" RESULTS="$3"
shift 3
SRC="$(cd "$(dirname "$0")/.." && pwd)"
VENV=/tmp/venv
mkdir -p "$RESULTS"
summary() { echo "$1: $2" | tee -a "$RESULTS/summary.txt"; }
fail() { echo "error: $*" >&2; exit 1; }
# A failed check is reported and the others still run; the exit status says.
failures=0
failed() { echo "error: $*" >&2; summary FAILED "$*"; failures=$((failures + 1)); }

"$PYTHON" -m venv "$VENV"
export PATH="$VENV/bin:$PATH"
python -m pip install -q --upgrade pip >/dev/null
python -m pip install -q "$PACKAGE" >"$RESULTS/install.log" 2>&1 ||
  { tail -n 40 "$RESULTS/install.log" >&2; fail "pip install $PACKAGE failed"; }
mapfile -t requires < <(python "$SRC/scripts/cibw_settings.py" get test-requires)
python -m pip install -q "${requires[@]}" "$@" >>"$RESULTS/install.log" 2>&1 ||
  { tail -n 40 "$RESULTS/install.log" >&2; fail "installing the test requirements failed"; }

# From a directory with nothing of the source tree in it.
cd "$(mktemp -d)"

# 1. The import, from the virtual environment and nowhere else.
module="$(python -c 'import quorvel, quorvel.jid as m; print(quorvel.__version__, m.__file__)')"
case "${module#* }" in
  "$VENV"/lib/python3.*/site-packages/quorvel/jid.*) ;;
  *) fail "quorvel.jid was imported from ${module#* }, not from the installed package" ;;
esac
summary import "quorvel ${module% *} from ${module#* }"

# 2. What the extension needs at run time.
allowed='^(linux-vdso\.so\.1|libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|libgcc_s\.so\.1|libstdc\+\+\.so\.6|/lib[^ ]*/ld-linux[^ ]*\.so\.[0-9])$'
ldd "${module#* }" >"$RESULTS/ldd.txt"
libraries="$(awk '{ print $1 }' "$RESULTS/ldd.txt" | tr '\n' ' ')"
summary ldd "$libraries"
if awk '{ print $1 }' "$RESULTS/ldd.txt" | grep -Evq "$allowed"; then
  cat "$RESULTS/ldd.txt" >&2
  failed "the extension needs more than the C and C++ runtime"
fi
if grep -q "not found" "$RESULTS/ldd.txt"; then failed "ldd: $(grep 'not found' "$RESULTS/ldd.txt")"; fi

# 3. The README's examples, as doctests.
readme="$(python - "$SRC/README.md" <<'PY'
import doctest, re, sys
text = open(sys.argv[1], encoding="utf-8").read()
blocks = re.findall(r"```python\n(.*?)```", text, re.S)
test = doctest.DocTestParser().get_doctest("\n".join(blocks), {}, "README.md", sys.argv[1], 0)
runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
runner.run(test)
result = runner.summarize(verbose=False)
print(f"{result.attempted} examples, {result.failed} failed")
sys.exit(1 if result.failed or not result.attempted else 0)
PY
)" || failed "README examples: $readme"
summary readme "$readme"

# 4. The command-line tool over the sample; 1 only says that some lines are
# invalid, as they are meant to be.
status=0
quorvel-jid --dedupe -f "$SRC/examples/addresses.txt" >"$RESULTS/cli.txt" 2>&1 || status=$?
[ "$status" -le 1 ] || { cat "$RESULTS/cli.txt" >&2; failed "quorvel-jid exited $status"; }
summary cli "$(grep '^quorvel-jid: ' "$RESULTS/cli.txt" | tail -n 1)"

# 5. The suite, with the test command the wheels' CI runs.
command="$(python "$SRC/scripts/cibw_settings.py" get test-command)"
command="${command//\{project\}/$SRC} --junitxml=$RESULTS/junit.xml"
status=0
bash -c "$command" >"$RESULTS/pytest.txt" 2>&1 || status=$?
tail -n 15 "$RESULTS/pytest.txt"
summary pytest "$(grep -E '^[0-9]+ (passed|failed)' "$RESULTS/pytest.txt" | tail -n 1 | sed 's/ in [0-9.]*s.*//')"
[ "$status" -eq 0 ] || failed "the test suite failed (exit $status)"
[ "$failures" -eq 0 ]
