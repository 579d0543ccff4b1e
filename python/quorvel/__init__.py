"""Strict, normalising XMPP addresses.

The address type lives in the native module ``quorvel.jid`` (RFC 6122, as
servers prepare addresses), its RFC 7622 twin in ``quorvel.precis``, and
``quorvel.profiles`` tells where the two disagree; ``quorvel.batch``
normalises whole columns (lists, Arrow data) at once; ``quorvel.uri``
reads and writes ``xmpp:`` URIs, ``quorvel.escape_node`` escapes a localpart
(XEP-0106), ``quorvel.unicode_versions`` tells which Unicode data the module
carries, and ``quorvel.cli`` is the ``quorvel-jid`` tool. Importing the
package itself loads none of them: each is loaded on first use, so
``import quorvel`` followed by ``quorvel.jid.JID("a@b")`` works and costs
nothing up front.
"""

from __future__ import annotations

TYPE_CHECKING = False  # typing itself is not imported at run time

__version__ = "0.1.0"
__all__ = ["batch", "escape_node", "jid", "precis", "profiles", "unicode_versions", "uri"]

if TYPE_CHECKING:
    from quorvel import batch as batch
    from quorvel import cli as cli
    from quorvel import jid as jid
    from quorvel import precis as precis
    from quorvel import profiles as profiles
    from quorvel import uri as uri
    from quorvel._escape import escape_node as escape_node
    from quorvel._versions import unicode_versions as unicode_versions

# The public submodules. Importing one binds it on the package, so
# __getattr__ below runs once per name at most.
_SUBMODULES = ("batch", "cli", "jid", "precis", "profiles", "uri")
# Public names that live in a private module: (module, attribute).
_VALUES = {
    "escape_node": ("quorvel._escape", "escape_node"),
    "unicode_versions": ("quorvel._versions", "unicode_versions"),
}


# Type checkers see the names above instead, so that a misspelt one is an
# error there rather than an `object`.
if not TYPE_CHECKING:
    def __getattr__(name: str) -> object:
        if name in _SUBMODULES:
            import sys

            # Not "from quorvel import jid", which would ask this function
            # again. Bound here as well, for a submodule imported before and
            # then deleted from the package.
            __import__(f"{__name__}.{name}")
            module = sys.modules[f"{__name__}.{name}"]
            globals()[name] = module
            return module
        if name in _VALUES:
            module, attribute = _VALUES[name]
            value = getattr(__import__(module, fromlist=[attribute]), attribute)
            globals()[name] = value
            return value
        raise AttributeError(f"module 'quorvel' has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted({*globals(), *_SUBMODULES, *_VALUES})
