"""Native helpers of quorvel.escape_node (internal). Not part of the
package's interface."""

def escape_node(text: str) -> str: ...
