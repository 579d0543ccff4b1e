"""Native helpers of quorvel.escape_node and quorvel.uri (internal). Not
part of the package's interface."""

from collections.abc import Callable
from typing import Any

def escape_node(text: str) -> str: ...
def uri_record() -> type[Any]: ...
def uri_parser(
    general: Callable[[str], Any],
    uri_type: type,
    jid_type: type,
    /,
) -> Callable[[str], Any]: ...
