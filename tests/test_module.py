"""What Python sees of the module, the JID type and InvalidJID."""

import gc
import importlib
import sys
import weakref

import pytest

import quorvel
import quorvel.jid
from quorvel.jid import JID, InvalidJID, unescape_node

PROPERTIES = ["bare", "full", "jid", "node", "user", "local", "username", "domain", "server", "host", "resource"]

JID_DOC = (
    "A representation of a Jabber ID, or JID.\n\n"
    "Each JID may have three components: a user, a domain, and an optional resource. For example:\n"
    "user@domain/resource\n\n"
    "When a resource is not used, the JID is called a bare JID. The JID is a full JID otherwise.\n\n"
    "Raises InvalidJID if the parser rejects it."
)

INVALID_JID_DOC = (
    "Raised when attempting to create a JID that does not pass validation.\n\n"
    "It can also be raised if modifying an existing JID in such a way as\n"
    "to make it invalid, such trying to remove the domain from an existing\n"
    "full JID while the local and resource portions still exist."
)

TPFLAGS_IMMUTABLETYPE = 1 << 8
TPFLAGS_BASETYPE = 1 << 10
TPFLAGS_HAVE_GC = 1 << 14


def test_module_attributes():
    assert quorvel.jid.__doc__ == ""
    assert quorvel.jid.__name__ == "quorvel.jid"
    assert quorvel.jid.__all__ == ["JID", "unescape_node", "InvalidJID"]


def test_module_holds_its_interface_and_nothing_else():
    # The command-line tool's native helpers live in quorvel._blocks; nothing
    # public may be added here, and only the two private names that
    # quorvel.precis and quorvel.profiles take their native parts from: the
    # RFC 7622 type shares this module's binding and InvalidJID.
    names = set(dir(quorvel.jid))
    assert {n for n in names if not n.startswith("_")} == {"JID", "unescape_node", "InvalidJID"}
    assert {n for n in names if n.startswith("_")} == {
        "__all__", "__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__",
        "_PrecisJID", "_reasons"}
    assert quorvel.jid.__all__ == ["JID", "unescape_node", "InvalidJID"]


@pytest.mark.parametrize(
    "obj, attr, expected",
    [
        (JID, "__module__", "quorvel.jid"),
        (JID, "__name__", "JID"),
        (JID, "__qualname__", "JID"),
        (JID, "__text_signature__", "(jid=None, bare=False)"),
        (JID, "__doc__", JID_DOC),
        (JID, "__base__", object),
        (InvalidJID, "__module__", "quorvel.jid"),
        (InvalidJID, "__name__", "InvalidJID"),
        (InvalidJID, "__qualname__", "InvalidJID"),
        (InvalidJID, "__doc__", INVALID_JID_DOC),
        (InvalidJID, "__bases__", (ValueError,)),
        (JID.__getstate__, "__text_signature__", "($self)"),
        (JID.__getstate__, "__doc__", None),
        (JID.__setstate__, "__text_signature__", "($self, state)"),
        (JID.__setstate__, "__doc__", None),
        (unescape_node, "__text_signature__", "(node)"),
        (unescape_node, "__doc__", None),
        (unescape_node, "__name__", "unescape_node"),
        (unescape_node, "__module__", "quorvel.jid"),
    ],
)
def test_introspection(obj, attr, expected):
    assert getattr(obj, attr) == expected


def test_unescape_node_is_bound_to_its_module():
    assert unescape_node.__self__ is sys.modules["quorvel.jid"]


def test_type_flags_and_class_dictionary():
    flags = JID.__flags__
    assert not flags & (TPFLAGS_BASETYPE | TPFLAGS_HAVE_GC | TPFLAGS_IMMUTABLETYPE)
    own = set(JID.__dict__)
    assert set(PROPERTIES) <= own
    assert {"__getstate__", "__setstate__", "__new__"} <= own
    assert own.isdisjoint({"__dict__", "__weakref__", "__init__", "__reduce__", "__reduce_ex__", "__slots__"})
    for name in PROPERTIES:
        descriptor = JID.__dict__[name]
        assert descriptor.__doc__ is None


def test_instances_are_plain_values():
    jid = JID("a@b/c")
    assert not gc.is_tracked(jid)
    assert not hasattr(jid, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(jid)
    with pytest.raises(AttributeError):
        jid.nickname = "x"


def test_not_subclassable():
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (JID,), {})


def test_type_itself_is_mutable():
    JID.quorvel_test_marker = 1
    try:
        assert JID().quorvel_test_marker == 1
    finally:
        del JID.quorvel_test_marker


@pytest.mark.thread_unsafe(reason='takes quorvel.jid out of sys.modules, which other threads import from')
def test_reimport_reuses_the_process_wide_types():
    original = sys.modules.pop("quorvel.jid")
    try:
        again = importlib.import_module("quorvel.jid")
        assert again is not original
        assert again.JID is original.JID
        assert again.InvalidJID is original.InvalidJID
        assert again.unescape_node is not original.unescape_node
        assert again.__all__ == ["JID", "unescape_node", "InvalidJID"]
        assert again.__all__ is not original.__all__
    finally:
        sys.modules["quorvel.jid"] = original
        quorvel.jid = original


def _run_legacy(script):
    testcapi = pytest.importorskip("_testcapi")
    assert testcapi.run_in_subinterp(script) == 0


def _run_isolated(script):
    try:
        import _interpreters as interpreters  # 3.13
    except ImportError:
        interpreters = pytest.importorskip("_xxsubinterpreters")  # 3.12
    interp = interpreters.create()
    try:
        interpreters.run_string(interp, script)
    finally:
        interpreters.destroy(interp)


@pytest.mark.parametrize("module", ["quorvel.jid", "quorvel._blocks", "quorvel._text", "quorvel._batch"])
@pytest.mark.parametrize("run", [_run_legacy, _run_isolated], ids=["shared-gil", "isolated"])
def test_import_in_subinterpreter_is_refused(run, module, tmp_path):
    # The types are process-wide objects of the main interpreter and must
    # not be handed to another interpreter.
    result = tmp_path / "outcome"
    run(
        f"import sys\nsys.path[:] = {sys.path!r}\n"
        f"try:\n    import {module}\n    outcome = 'imported'\n"
        "except BaseException as exc:\n    outcome = type(exc).__name__\n"
        f"open({str(result)!r}, 'w').write(outcome)\n"
    )
    assert result.read_text() == "ImportError"
    assert str(JID("a@b")) == "a@b"
