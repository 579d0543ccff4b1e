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
        chain = XmppUri(chain)
    del chain  # would overflow the C stack one frame a record


def test_freed_records_come_back_clean():
    first = [parse(f"xmpp:u{i}@example.com/r?message") for i in range(100)]
    del first
    again = [parse(f"xmpp:v{i}@example.com") for i in range(100)]
    assert [str(value.jid) for value in again] == [f"v{i}@example.com" for i in range(100)]
    assert all(value.action is None and value.params == () and value.authority is None for value in again)
    assert len({id(value) for value in again}) == 100 and not any(gc.is_tracked(value) for value in again)
