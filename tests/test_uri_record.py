"""quorvel.uri.XmppUri: the native record type made into the frozen dataclass
the class statement in quorvel/uri.py describes, compared with that class
itself (uri._XmppUriInPython) wherever a caller could tell them apart."""

import copy
import dataclasses
import gc
import inspect
import pickle
import sys
import weakref

import pytest

from quorvel import uri
from quorvel.jid import JID
from quorvel.uri import XmppUri, parse

TWIN = uri._XmppUriInPython
VALUES = [
    (JID("a@b/c"), "message", (("subject", "Hi"), ("body", "x")), JID("guest@example.com")),
    (JID("a@b"), None, (), None),
    (None, None, (), JID("guest@example.com")),
]


def _outcome(action):
    try:
        return "ok", action()
    except Exception as error:  # noqa: BLE001 - the type and message are what is compared
        # A native type's messages may name it with its module.
        return type(error), str(error).replace("quorvel.uri.XmppUri", "XmppUri")


def _both(values):
    return XmppUri(*values), TWIN(*values)


def test_it_is_the_same_frozen_dataclass():
    assert dataclasses.is_dataclass(XmppUri) and XmppUri is not TWIN
    assert [(f.name, f.type, f.default) for f in dataclasses.fields(XmppUri)] == \
        [(f.name, f.type, f.default) for f in dataclasses.fields(TWIN)]
    assert XmppUri.__dataclass_params__.frozen and XmppUri.__dataclass_params__.eq
    for name in ("__module__", "__qualname__", "__name__", "__doc__", "__match_args__", "__slots__",
                 "__annotations__"):
        assert getattr(XmppUri, name) == getattr(TWIN, name), name
    assert str(inspect.signature(XmppUri)) == str(inspect.signature(TWIN))
    # Pickling finds the class by its module and name.
    assert sys.modules["quorvel.uri"].XmppUri is XmppUri


@pytest.mark.parametrize("values", VALUES)
def test_each_value_behaves_as_the_class_as_written(values):
    native, python = _both(values)
    assert repr(native) == repr(python) and str(native) == str(python)
    assert hash(native) == hash(python) and native == XmppUri(*values) and native != python
    assert dataclasses.astuple(native) == dataclasses.astuple(python)
    assert dataclasses.asdict(native) == dataclasses.asdict(python)
    assert dataclasses.replace(native, action="join") == XmppUri(values[0], "join", *values[2:])
    for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(native, protocol)) == native
    # Pickled as the class as written pickles (which pickle cannot do any
    # more, its name being the native class's): the fields' values in order.
    assert native.__reduce_ex__(2)[2] == python.__getstate__() == list(values)
    assert copy.copy(native) == native and copy.deepcopy(native) == native
    match native:
        case XmppUri(jid, action, params, authority):
            assert (jid, action, params, authority) == values
    for change in (lambda v: setattr(v, "jid", None), lambda v: delattr(v, "action"), lambda v: vars(v),
                   lambda v: weakref.ref(v)):
        assert _outcome(lambda: change(native)) == _outcome(lambda: change(python))
    # Any other name is refused as a frozen dataclass refuses it (the class
    # statement's own refusal is a TypeError from a super() call that its
    # slots make wrong, a fault of the decorator on some versions).
    with pytest.raises(dataclasses.FrozenInstanceError, match="cannot assign to field 'other'"):
        native.other = 1
    assert native == XmppUri(*values)  # nothing changed


def test_slots_misused_from_outside_behave_as_a_class_statements():
    def misuse(cls):
        blank = object.__new__(cls)
        steps = [lambda: blank.jid, lambda: object.__delattr__(blank, "params"),
                 lambda: object.__setattr__(blank, "action", "m"), lambda: blank.action,
                 lambda: object.__delattr__(blank, "action"), lambda: object.__delattr__(blank, "action"),
                 lambda: repr(blank)]
        return [_outcome(step) for step in steps]

    assert misuse(XmppUri) == misuse(TWIN)


def test_a_dataclass_can_extend_it():
    @dataclasses.dataclass(frozen=True)
    class Tagged(XmppUri):
        tag: str = ""

    value = Tagged(JID("a@b"), tag="t")
    assert (value.jid, value.action, value.tag) == (JID("a@b"), None, "t")
    assert repr(value).endswith("Tagged(jid=JID('a@b'), action=None, params=(), authority=None, tag='t')")
    assert value == Tagged(JID("a@b"), None, (), None, "t") and value != XmppUri(JID("a@b"))


def test_what_parse_makes_is_not_tracked_until_it_can_be_in_a_cycle():
    value = parse("xmpp:a@b/c?message")
    # Only JIDs, strs, None and the empty tuple: no cycle can pass through it.
    assert not gc.is_tracked(value) and not gc.is_tracked(value.jid)
    assert gc.is_tracked(parse("xmpp:a@b?m;k=v")) and gc.is_tracked(XmppUri(JID("a@b")))

    class Holder:
        pass

    holder = Holder()
    object.__setattr__(value, "params", [holder])  # going round the frozen dataclass
    assert gc.is_tracked(value)
    holder.back = value
    probe = weakref.ref(holder)
    del value, holder
    gc.collect()
    assert probe() is None  # the cycle through the record was found


def test_a_deep_chain_of_records_is_freed_without_recursing():
    chain = None
    for _ in range(200_000):
        chain = uri._make(chain, None, (), None)  # round the check that jid is a JID
    del chain  # would overflow the C stack one frame a record


def test_freed_records_come_back_clean():
    first = [parse(f"xmpp:u{i}@example.com/r?message") for i in range(100)]
    del first
    again = [parse(f"xmpp:v{i}@example.com") for i in range(100)]
    assert [str(value.jid) for value in again] == [f"v{i}@example.com" for i in range(100)]
    assert all(value.action is None and value.params == () and value.authority is None for value in again)
    assert len({id(value) for value in again}) == 100 and not any(gc.is_tracked(value) for value in again)


# ---- fields checked when a value is made by hand ------------------------------


def _note(name):
    return [f"while processing '{name}'"]


def _not(kind, expected):
    return f"{kind} is not an instance of {expected}"


FULL = (JID("a@b/c"), "message", (("subject", "Hi"),), JID("guest@example.com"))

# Fields an XmppUri made by hand may not hold: (jid, action, params,
# authority), error, message, notes.
FIELDS = [
    (("a@b", None, (), None), TypeError, _not("'str' object", "'JID'"), _note("jid")),
    ((5, None, (), None), TypeError, _not("'int' object", "'JID'"), _note("jid")),
    ((FULL[0], 5, (), None), TypeError, _not("'int' object", "'str'"), _note("action")),
    ((FULL[0], "m", [("k", "v")], None), TypeError, _not("'list' object", "'tuple'"), _note("params")),
    ((FULL[0], "m", None, None), TypeError, _not("'None'", "'tuple'"), _note("params")),
    ((FULL[0], "m", ("kv",), None), TypeError, _not("'str' object", "'tuple'"), _note("params")),
    ((FULL[0], "m", (["k", "v"],), None), TypeError, _not("'list' object", "'tuple'"), _note("params")),
    ((FULL[0], "m", (("k",),), None), ValueError, "a query parameter is a (key, value) pair, not 1 item", None),
    ((FULL[0], "m", (("k", 5),), None), TypeError, _not("'int' object", "'str'"), _note("params")),
    ((FULL[0], "m", ((None, "v"),), None), TypeError, _not("'None'", "'str'"), _note("params")),
    ((FULL[0], None, (), "guest@example.com"), TypeError, _not("'str' object", "'JID'"), _note("authority")),
    ((FULL[0], None, (), 5), TypeError, _not("'int' object", "'JID'"), _note("authority")),
    # The right types, but no URI could be written from them.
    ((None, None, (), None), ValueError, "an xmpp: URI needs an address or an authority", None),
    ((JID(), None, (), None), ValueError, "the jid of an XmppUri is an address or None, not the empty JID", None),
    ((JID(), None, (), FULL[3]), ValueError, "the jid of an XmppUri is an address or None, not the empty JID",
     None),
    ((FULL[0], None, (), JID("example.com")), ValueError,
     "the authority must be an address of the form node@domain", None),
    ((FULL[0], None, (), JID("g@example.com/r")), ValueError,
     "the authority must be an address of the form node@domain", None),
    ((FULL[0], None, (), JID()), ValueError, "the authority must be an address of the form node@domain", None),
    ((FULL[0], None, (("k", "v"),), None), ValueError, "query parameters need an action to follow", None),
]
CLASSES = pytest.mark.parametrize("cls", [XmppUri, uri._XmppUriInPython], ids=["native", "as-written"])


def _refused(make, error, message, notes):
    with pytest.raises(error) as info:
        make()
    assert type(info.value) is error and str(info.value) == message
    assert getattr(info.value, "__notes__", None) == notes


@CLASSES
@pytest.mark.parametrize("values, error, message, notes", FIELDS)
def test_a_hand_made_value_is_refused_when_it_is_made(cls, values, error, message, notes):
    _refused(lambda: cls(*values), error, message, notes)
    names = ("jid", "action", "params", "authority")
    _refused(lambda: cls(**dict(zip(names, values))), error, message, notes)
    # dataclasses.replace makes the value anew, so it refuses the same.
    good = cls(*FULL)
    _refused(lambda: dataclasses.replace(good, **dict(zip(names, values))), error, message, notes)
    # Unpickling and copying set the fields through __setstate__.
    blank = object.__new__(cls)
    _refused(lambda: blank.__setstate__(list(values)), error, message, notes)
    with pytest.raises(AttributeError):
        blank.jid  # nothing was set
    _refused(lambda: good.__setstate__(list(values)), error, message, notes)
    assert good == cls(*FULL)  # unchanged


@CLASSES
@pytest.mark.parametrize("state, error, message", [
    (("a", None, (), None), TypeError, _not("'tuple' object", "'list'")),
    (None, TypeError, _not("'None'", "'list'")),
    ([JID("a@b")], ValueError, "the state of an XmppUri is the values of its 4 fields, not 1 values"),
    ([*FULL, None], ValueError, "the state of an XmppUri is the values of its 4 fields, not 5 values"),
])
def test_a_state_of_the_wrong_shape_is_refused(cls, state, error, message):
    good = cls(*FULL)
    _refused(lambda: good.__setstate__(state), error, message, None)
    assert good == cls(*FULL)


@CLASSES
@pytest.mark.parametrize("values", [
    FULL,
    (JID("a@b"), None, (), None),
    (None, None, (), JID("guest@example.com")),
    (JID("a@b"), "", (("", ""),), None),
    (JID("a@b"), "m", (("k", "v"), ("k", "w")), None),
])
def test_every_value_parse_could_make_is_taken_and_survives_copies(cls, values):
    value = cls(*values)
    assert (value.jid, value.action, value.params, value.authority) == values
    assert copy.copy(value) == value and copy.deepcopy(value) == value
    if cls is XmppUri:  # the class as written cannot be found by its name
        for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
            assert pickle.loads(pickle.dumps(value, protocol)) == value
    assert dataclasses.replace(value) == value
    assert parse(str(value)) == XmppUri(*values)


def test_a_subclass_is_checked_too():
    @dataclasses.dataclass(frozen=True)
    class Tagged(XmppUri):
        tag: str = ""

    _refused(lambda: Tagged("a@b", tag="t"), TypeError, _not("'str' object", "'JID'"), _note("jid"))
    value = Tagged(JID("a@b"), tag="t")
    assert copy.deepcopy(value) == value and copy.copy(value).tag == "t"
    _refused(lambda: value.__setstate__([None, None, (), None, "t"]), ValueError,
             "an xmpp: URI needs an address or an authority", None)
