"""Every path, successful or not, must give back what it took.

Python objects are counted with sys.getallocatedblocks(); the address
values live in C++ heap memory, which glibc's mallinfo2() accounts for.
"""

import copy
import ctypes
import gc
import operator
import os
import pickle
import sys

import pytest

from quorvel import escape_node
from quorvel.jid import JID, InvalidJID, unescape_node
from quorvel.uri import parse as parse_uri

# One thread under pytest-run-parallel (make test-free-threaded).
pytestmark = pytest.mark.thread_unsafe(
    reason="counts the whole process's allocated blocks and C++ heap, which tests on other threads change")

# Under the sanitizers every call is slower and LeakSanitizer watches the C++
# heap; fewer rounds still show a leak per round.
SANITIZED = bool(os.environ.get("QUORVEL_SANITIZED"))
ROUNDS = 2000 if SANITIZED else 20000
# name -> (accepted value, refused value)
ASSIGNMENTS = {
    "full": ("u@Example.org/R", "a@b@c"), "jid": ("u@example.org/R", 5), "bare": ("V@ex.org", "v@ex.org/r"),
    "node": ("N\u00e4", "a b"), "user": (None, "\udc80"), "local": ("x", ""), "username": ("y", 5),
    "domain": ("Example.NET.", ""), "server": ("[::1]", None), "host": ("ex.org", "a..b"), "resource": ("R", ""),
}  # fmt: skip
CALLS = [
    (JID, ("a@b@c",), {}), (JID, ("x" * 1100 + "@b",), {}), (JID, (5,), {}), (JID, ("a@b",), {"bare": 1}),
    (JID, ("\ud800@b",), {}), (JID, (1, 2, 3), {}), (JID, (), {"jid": "a", "nope": 1}),
    (JID("a@b").__setstate__, ("a@@b",), {}), (JID().__setstate__, (5,), {}), (JID().__setstate__, (), {}),
    (unescape_node, ("\\20a",), {}), (unescape_node, (5,), {}), (unescape_node, (), {"nod": "a"}),
    (operator.lt, (JID("a@b"), "a@b"), {}),
    # quorvel._text: escape_node's refusals, and uri.parse's native route
    # failing in JID or handing a URI on to the Python parser.
    (escape_node, (" a",), {}), (escape_node, (":\u0301",), {}), (escape_node, ("x" * 1100,), {}),
    (escape_node, (None,), {}), (escape_node, ("\ud800",), {}), (escape_node, (), {"txt": "a"}),
    (parse_uri, ("xmpp:a@b@c",), {}), (parse_uri, ("xmpp:@b?message",), {}), (parse_uri, ("xmpp:a%FF@b",), {}),
    (parse_uri, ("xmpp:a@b/%C3",), {}), (parse_uri, (5,), {}), (parse_uri, (), {"uri": "http:"}),
]  # fmt: skip


def workload():
    for fn, args, kwargs in CALLS:
        try:
            fn(*args, **kwargs)
        except (ValueError, TypeError, UnicodeEncodeError, NotImplementedError):
            pass
    jid = JID("User@Example.COM./Home")
    JID(jid), JID(jid, bare=True), JID("\u00c4@b\u00fccher.example/\u00fc", True)
    for name, (good, bad) in ASSIGNMENTS.items():
        getattr(jid, name), getattr(JID(), name)
        setattr(jid, name, good)
        for action in (lambda: setattr(jid, name, bad), lambda: setattr(JID(), name, "x"), lambda: delattr(jid, name)):
            try:
                action()
            except (InvalidJID, TypeError, UnicodeEncodeError, AttributeError):
                pass
    jid.node = jid.resource = None
    jid == "a@b", jid == "a@@b", jid != 5, jid == JID(), jid == None  # noqa: E711
    hash(jid), hash(JID()), str(jid), repr(jid), repr(JID())
    pickle.loads(pickle.dumps(jid, 4)), copy.copy(JID()), copy.deepcopy(jid)
    jid.__setstate__("x@y/z"), jid.__setstate__(None)
    unescape_node("Foo\\20Bar"), unescape_node("\u00e4\\40b"), unescape_node("plain")
    escape_node("D'Artagnan"), escape_node("\u00c4\u00df@x"), escape_node("plain")
    parse_uri("xmpp:a@b/c?message"), parse_uri("xmpp:j%C3%BCrgen@x/r?other"), parse_uri("xmpp:a@b?m;k=v")


class _MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")
    ]


def _heap_in_use():
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except (AttributeError, OSError):
        return None
    mallinfo2.restype = _MallInfo2
    info = mallinfo2()
    return info.uordblks + info.hblkhd


def _measure():
    gc.collect()
    return sys.getallocatedblocks(), _heap_in_use()


def test_no_leaks():
    for _ in range(500):
        workload()
    blocks_before, heap_before = _measure()
    for _ in range(ROUNDS):
        workload()
    blocks_after, heap_after = _measure()
    # One leaked object or buffer per round would show as >= ROUNDS.
    assert blocks_after - blocks_before < ROUNDS // 4
    if heap_before is None:
        pytest.skip("mallinfo2 is not available; only Python objects were checked")
    assert heap_after - heap_before < 16 * ROUNDS // 4


class Text(str):
    pass


class Bool:
    """Neither bool nor numpy's: refused by the boolean rule."""


# Every error path, each with the objects it touches; a path that forgets a
# reference leaves their counts higher afterwards.
ERROR_PATHS = {
    "wrong jid type": lambda o: JID(o["bytes"]),
    "wrong bare type": lambda o: JID(o["text"], bare=o["bool"]),
    "bad text": lambda o: JID(o["bad"]),
    "bad text subclass": lambda o: JID(o["bad_sub"]),
    "lone surrogate": lambda o: JID(o["surrogate"]),
    "too many positionals": lambda o: JID(o["text"], True, o["bytes"]),
    "unexpected keyword": lambda o: JID(o["text"], **{o["kw"]: o["bytes"]}),
    "duplicate argument": lambda o: JID(o["text"], jid=o["text"]),
    "setter wrong type": lambda o: setattr(o["jid"], "user", o["bytes"]),
    "setter bad text": lambda o: setattr(o["jid"], "domain", o["bad"]),
    "setter surrogate": lambda o: setattr(o["jid"], "resource", o["surrogate"]),
    "setter on empty": lambda o: setattr(o["empty"], "node", o["text"]),
    "setstate wrong type": lambda o: o["jid"].__setstate__(o["bytes"]),
    "setstate bad text": lambda o: o["jid"].__setstate__(o["bad"]),
    "setstate missing": lambda o: o["jid"].__setstate__(),
    "ordering": lambda o: o["jid"] < o["text"],
    "unescape wrong type": lambda o: unescape_node(o["bytes"]),
    "unescape bad": lambda o: unescape_node(o["bad_unescape"]),
    "unescape keyword": lambda o: unescape_node(**{o["kw"]: o["text"]}),
    "delete": lambda o: delattr(o["jid"], "host"),
}


def _objects():
    return {
        "bytes": b"a@b", "text": Text("a@b/c"), "bool": Bool(), "bad": "a@b@c", "bad_sub": Text("a@@b"),
        "surrogate": "\udc80@b", "kw": "nope", "jid": JID("a@b/c"), "empty": JID(), "bad_unescape": "\\20a",
    }  # fmt: skip


@pytest.mark.parametrize("path", list(ERROR_PATHS))
def test_error_paths_keep_reference_counts(path):
    objects = _objects()
    action = ERROR_PATHS[path]
    # Not the type objects: instances freed elsewhere in the suite change theirs.
    watched = [*objects.values(), None, True, False]

    def run():
        try:
            action(objects)
        except (InvalidJID, TypeError, UnicodeEncodeError, NotImplementedError, AttributeError) as exc:
            exc.__traceback__ = None  # the traceback holds the frame and its locals
        else:
            raise AssertionError(f"{path} did not fail")

    for _ in range(10):
        run()
    gc.collect()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(200):
        run()
    gc.collect()
    after = [sys.getrefcount(o) for o in watched]
    drift = {repr(o)[:30]: b - a for o, a, b in zip(watched, before, after) if a != b}
    # Immortal objects (None, True, False on 3.12+) report a fixed count.
    assert not drift, drift
