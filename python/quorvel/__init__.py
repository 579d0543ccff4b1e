"""Strict, normalising XMPP addresses.

The address type lives in the native module ``quorvel.jid``; importing the
package itself loads nothing else.
"""

__version__ = "0.1.0"
