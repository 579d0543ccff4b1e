"""The package's public names load on first use: `import quorvel` alone loads
none of its submodules, and `quorvel.jid`, `quorvel.uri`, `quorvel.cli`,
`quorvel.escape_node` and `quorvel.unicode_versions` each bring in only what
they need, in a fresh interpreter so that nothing the suite loaded counts."""

from __future__ import annotations

import json
import subprocess
import sys
import typing

import pytest

import quorvel
from cli_support import env

LAZY = ["batch", "cli", "escape_node", "jid", "precis", "profiles", "unicode_versions", "uri"]


def fresh(code: str) -> object:
    """What `code` prints as JSON on its last line, run in a new interpreter."""
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, env=env(),
                            timeout=60)
    assert result.returncode == 0, result.stderr.decode()
    return json.loads(result.stdout.decode().splitlines()[-1])


def test_import_loads_nothing_but_the_package():
    # Against the interpreter as it started: only the package is new, and
    # the __future__ module its annotations import, if nothing had yet.
    code = ("import sys, json; before = set(sys.modules); import quorvel; "
            "print(json.dumps(sorted(set(sys.modules) - before)))")
    assert set(fresh(code)) - {"__future__"} == {"quorvel"}


@pytest.mark.parametrize("name, module, loaded, not_loaded", [
    ("jid", "quorvel.jid", ["quorvel.jid"], ["quorvel.uri", "quorvel.cli", "argparse"]),
    ("batch", "quorvel.batch", ["quorvel.batch", "quorvel._batch"], ["quorvel.jid", "quorvel.cli", "pyarrow"]),
    ("uri", "quorvel.uri", ["quorvel.uri", "quorvel.jid", "quorvel._text"], ["quorvel.cli"]),
    ("cli", "quorvel.cli", ["quorvel.cli", "argparse"], ["quorvel.uri"]),
    ("precis", "quorvel.precis", ["quorvel.precis", "quorvel.jid"], ["quorvel.profiles", "quorvel.cli"]),
    ("profiles", "quorvel.profiles", ["quorvel.profiles", "quorvel.precis"], ["quorvel.cli", "quorvel.uri"]),
    ("escape_node", "quorvel._escape", ["quorvel._text"], ["quorvel.cli", "quorvel.uri"]),
    ("unicode_versions", "quorvel._versions", ["quorvel._build"],
     ["quorvel.jid", "quorvel.cli", "quorvel.uri"]),
])
def test_first_access_loads_what_the_name_needs(name, module, loaded, not_loaded):
    code = (
        "import sys, json, quorvel\n"
        f"value = quorvel.{name}\n"
        f"source = sys.modules[{module!r}]\n"
        # A submodule is the module itself; a value is the one its module holds.
        f"same = value is (source if source.__name__ == 'quorvel.{name}' else getattr(source, {name!r}))\n"
        f"again = quorvel.{name} is value and getattr(quorvel, {name!r}) is value\n"
        f"print(json.dumps([same, again, sorted(m for m in {sorted(loaded + not_loaded)!r} "
        "if m in sys.modules)]))\n"
    )
    assert fresh(code) == [True, True, sorted(loaded)]


def test_dir_and_all_list_the_public_names():
    assert set(LAZY) <= set(dir(quorvel))
    # `from quorvel import *` takes the library's names, not the tool's.
    assert sorted(quorvel.__all__) == ["batch", "escape_node", "jid", "precis", "profiles", "unicode_versions", "uri"]
    # Listing them loads none of them.
    assert "jid" not in fresh("import json, quorvel; dir(quorvel); print(json.dumps(list(vars(quorvel))))")


@pytest.mark.parametrize("name", ["no_such_name", "_build", "_versions", "sources", "JID"])
def test_other_names_are_not_attributes(name):
    code = (f"import json, quorvel\ntry:\n    getattr(quorvel, {name!r})\n"
            "except AttributeError as e:\n    print(json.dumps(str(e)))\n")
    assert fresh(code) == f"module 'quorvel' has no attribute {name!r}"


def test_star_import_gives_the_library():
    code = ("import sys, json\nfrom quorvel import *\n"
            "print(json.dumps([jid.__name__, uri.__name__, escape_node.__name__, "
            "list(unicode_versions), 'quorvel.cli' in sys.modules]))")
    assert fresh(code) == ["quorvel.jid", "quorvel.uri", "escape_node", ["16.0", "17.0"], False]


def test_unicode_versions_is_a_typed_read_only_record():
    versions = quorvel.unicode_versions
    from quorvel import _build

    assert versions == (_build.PROFILES_UNICODE_VERSION, _build.IDNA_UNICODE_VERSION)
    assert (versions.profiles, versions.idna) == ("16.0", "17.0")
    assert repr(versions) == "UnicodeVersions(profiles='16.0', idna='17.0')"
    assert type(versions).__doc__.startswith("The Unicode versions")
    assert typing.get_type_hints(type(versions)) == {"profiles": str, "idna": str}
    with pytest.raises(AttributeError):
        versions.profiles = "3.2"  # type: ignore[misc]


def test_a_submodule_taken_off_the_package_comes_back_the_same():
    module = quorvel.jid
    del quorvel.jid
    try:
        assert quorvel.jid is module and vars(quorvel)["jid"] is module
    finally:
        quorvel.jid = module
