"""The wheel workflow (.github/workflows/wheels.yml) checked offline.

It never runs here, so the checks are what can be known without a runner:
the file parses, its jobs cover exactly the platforms and architectures of
pyproject.toml's [tool.cibuildwheel] settings, every other setting is left
to pyproject.toml, the cibuildwheel it runs is the one the test extra pins,
and that cibuildwheel, asked for its build identifiers from those settings,
names the intended builds, and the jobs together name the same ones.
"""

from __future__ import annotations

import importlib.metadata
import os
import re
import subprocess
import sys
import tomllib

import pytest

from cli_support import ROOT

yaml = pytest.importorskip("yaml")
WORKFLOW = ROOT / ".github" / "workflows" / "wheels.yml"

PYPROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text("utf-8"))
CIBW = PYPROJECT["tool"]["cibuildwheel"]
PLATFORMS = ("linux", "macos", "windows")
# The only settings a job may give cibuildwheel itself: which platform and
# which of that platform's architectures its runner builds natively.
JOB_SETTINGS = {"CIBW_PLATFORM", "CIBW_ARCHS"}
# What each platform's wheels are, per architecture, in identifier form.
IDENTIFIER = {
    "linux": re.compile(r"cp3(\d+)(t?)-manylinux_(x86_64|aarch64)"),
    "macos": re.compile(r"cp3(\d+)(t?)-macosx_(x86_64|arm64)"),
    "windows": re.compile(r"cp3(\d+)(t?)-win_(amd64)"),
}
RUNNER_OS = {"linux": "ubuntu-", "macos": "macos-", "windows": "windows-"}


def _workflow():
    return yaml.safe_load(WORKFLOW.read_text("utf-8"))


def _steps(job):
    return job.get("steps", [])


def _cibuildwheel_steps(job):
    return [s for s in _steps(job) if str(s.get("uses", "")).startswith("pypa/cibuildwheel@")]


def _pinned_cibuildwheel():
    pins = [r for r in PYPROJECT["project"]["optional-dependencies"]["test"]
            if re.match(r"cibuildwheel\s*==", r)]
    assert len(pins) == 1, "the test extra pins cibuildwheel exactly once"
    return pins[0].split("==", 1)[1].strip()


def _matrix():
    jobs = [j for j in _workflow()["jobs"].values() if _cibuildwheel_steps(j)]
    assert len(jobs) == 1, "one job runs cibuildwheel, over a matrix"
    include = jobs[0]["strategy"]["matrix"]["include"]
    return jobs[0], include


def _archs(value):
    if isinstance(value, str):
        return value.replace(",", " ").split()
    return [a for item in value for a in str(item).replace(",", " ").split()]


def _identifiers(platform, archs=None):
    command = [sys.executable, "-m", "cibuildwheel", "--print-build-identifiers",
               "--platform", platform]
    if archs is not None:
        command += ["--archs", archs]
    # Only the settings in pyproject.toml may decide: none from the caller.
    # Nor does a sanitizer runtime the suite may run under concern this
    # child, which loads nothing of the package.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("CIBW_", "ASAN_", "LSAN_", "UBSAN_")) and k != "LD_PRELOAD"}
    result = subprocess.run(command, cwd=ROOT, capture_output=True, env=env, timeout=120)
    assert result.returncode == 0, result.stderr.decode()
    return result.stdout.decode().split()


def test_the_workflow_parses_and_runs_on_its_triggers():
    # The README promises it: wheels for other systems than this one's.
    assert WORKFLOW.is_file()
    workflow = _workflow()
    # YAML 1.1 reads a bare `on` as true.
    triggers = workflow.get("on", workflow.get(True))
    assert {"push", "pull_request", "workflow_dispatch"} <= set(triggers)
    assert workflow["permissions"] == {"contents": "read"}


def test_the_sdist_is_built_with_the_frontend_of_the_wheels():
    sdist_jobs = [j for j in _workflow()["jobs"].values()
                  if any("--sdist" in str(s.get("run", "")) for s in _steps(j))]
    assert len(sdist_jobs) == 1
    steps = _steps(sdist_jobs[0])
    runs = "\n".join(str(s.get("run", "")) for s in steps)
    assert CIBW["build-frontend"] == "build" and "python -m build --sdist" in runs
    uploads = [s for s in steps if str(s.get("uses", "")).startswith("actions/upload-artifact@")]
    assert [u["with"]["path"] for u in uploads] == ["dist/*.tar.gz"]


def test_the_jobs_cover_exactly_the_platforms_and_archs_of_pyproject():
    _, include = _matrix()
    covered = {}
    for entry in include:
        platform = entry["platform"]
        assert entry["runner"].startswith(RUNNER_OS[platform]), entry
        for arch in _archs(entry["archs"]):
            key = (platform, arch)
            assert key not in covered, f"{key} is built by two jobs"
            covered[key] = entry["runner"]
    wanted = {(p, a) for p in PLATFORMS for a in _archs(CIBW[p]["archs"])}
    assert set(covered) == wanted


def test_everything_else_is_left_to_pyproject():
    workflow = _workflow()
    job, include = _matrix()
    (step,) = _cibuildwheel_steps(job)
    assert step["uses"] == f"pypa/cibuildwheel@v{_pinned_cibuildwheel()}"
    assert set(step.get("with", {})) <= {"output-dir"}
    env = {**workflow.get("env", {}), **job.get("env", {}), **step.get("env", {})}
    assert {k for k in env if k.startswith("CIBW_")} == JOB_SETTINGS
    assert env["CIBW_PLATFORM"] == "${{ matrix.platform }}"
    assert env["CIBW_ARCHS"] == "${{ matrix.archs }}"
    assert all(set(entry) == {"runner", "platform", "archs"} for entry in include)
    # Each job keeps its wheels under a name of its own.
    uploads = [s for s in _steps(job) if str(s.get("uses", "")).startswith("actions/upload-artifact@")]
    assert len(uploads) == 1
    assert "${{ matrix.platform }}" in uploads[0]["with"]["name"]
    assert "${{ matrix.archs }}" in uploads[0]["with"]["name"]
    assert uploads[0]["with"]["path"] == f"{step['with']['output-dir']}/*.whl"


def test_each_wheel_is_tested_with_the_suite():
    # cibuildwheel runs the test-command after each build; the workflow
    # must not turn it off, and the command must be the whole suite.
    assert CIBW["test-command"].endswith("{project}/tests")
    assert "test-skip" not in CIBW and all("test-skip" not in CIBW[p] for p in PLATFORMS)


@pytest.fixture(scope="module")
def cibuildwheel():
    pytest.importorskip("cibuildwheel")
    # The identifiers are those of the cibuildwheel the workflow runs.
    assert importlib.metadata.version("cibuildwheel") == _pinned_cibuildwheel()


@pytest.mark.parametrize("platform", PLATFORMS)
def test_cibuildwheel_lists_the_intended_builds(cibuildwheel, platform):
    identifiers = _identifiers(platform)
    pattern = IDENTIFIER[platform]
    # CPython 3.12 and later only, for every architecture of the platform,
    # and the free-threaded build ("cp314t") of every one from 3.14 on: no
    # PyPy or GraalPy, no musl.
    matches = [pattern.fullmatch(i) for i in identifiers]
    assert all(matches), identifiers
    builds = {(int(m.group(1)), m.group(2), m.group(3)) for m in matches}
    assert len(builds) == len(identifiers)
    minors = sorted({minor for minor, abi, _ in builds if not abi})
    assert minors[0] == 12 and minors == list(range(12, minors[-1] + 1)) and 13 in minors
    threaded = sorted({minor for minor, abi, _ in builds if abi})
    assert threaded == [minor for minor in minors if minor >= 14] and 14 in threaded, identifiers
    archs = {arch.lower() for arch in _archs(CIBW[platform]["archs"])}
    assert builds == ({(minor, "", arch) for minor in minors for arch in archs}
                      | {(minor, "t", arch) for minor in threaded for arch in archs})


@pytest.mark.parametrize("platform", PLATFORMS)
def test_the_jobs_together_build_what_the_settings_list(cibuildwheel, platform):
    _, include = _matrix()
    per_job = [_identifiers(platform, entry["archs"]) for entry in include
               if entry["platform"] == platform]
    together = [i for ids in per_job for i in ids]
    assert all(per_job) and sorted(together) == sorted(_identifiers(platform))
