"""Strict, normalising XMPP addresses.

The address type lives in the native module ``quorvel.jid``; ``quorvel.uri``
reads and writes ``xmpp:`` URIs, and ``quorvel.escape_node`` escapes a
localpart (XEP-0106). Importing the package itself loads nothing else: the
first use of ``escape_node`` loads what it needs.
"""

from __future__ import annotations

TYPE_CHECKING = False  # typing itself is not imported at run time

__version__ = "0.1.0"
__all__ = ["escape_node"]

if TYPE_CHECKING:
    from quorvel._escape import escape_node


def __getattr__(name: str) -> object:
    if name == "escape_node":
        from quorvel._escape import escape_node

        globals()["escape_node"] = escape_node
        return escape_node
    raise AttributeError(f"module 'quorvel' has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted({*globals(), "escape_node"})
