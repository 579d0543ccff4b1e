"""Ten-megabyte texts of each kind end with the right error or value.

Nothing here times the calls; a quadratic path would turn this file from
seconds into hours, which is noticed without a clock in the test.
"""

import pytest

from conftest import IDNA, NODE_EMPTY, NODE_PREP, RESOURCE_EMPTY, RESOURCE_TOO_LONG, TOO_MANY_ATS
from quorvel.jid import JID, InvalidJID, unescape_node

N = 10 * 1024 * 1024


def fill(unit):
    return unit * (N // len(unit.encode()))


CASES = [
    # text, expected str() or error message
    ("plain domain", lambda: fill("a"), IDNA),
    ("plain resource", lambda: "a@b/" + fill("r"), RESOURCE_TOO_LONG),
    ("plain localpart", lambda: fill("n") + "@b", "localpart longer than 1023 bytes"),
    ("all ats", lambda: fill("@"), TOO_MANY_ATS),
    ("all slashes", lambda: fill("/"), IDNA),
    ("at then slashes", lambda: "a@b" + fill("/"), RESOURCE_TOO_LONG),
    ("alternating separators", lambda: fill("@/"), NODE_EMPTY),
    ("separators in the resource", lambda: "b/" + fill("/@"), RESOURCE_TOO_LONG),
    ("soft hyphens as localpart", lambda: fill("\u00ad") + "@b", NODE_EMPTY),
    ("zero width spaces in the domain", lambda: fill("\u200b") + "b", "b"),
    ("byte order marks as resource", lambda: "a@b/" + fill("\ufeff"), RESOURCE_EMPTY),
    ("mapped to nothing around a resource", lambda: "a@b/" + fill("\u2060") + "r", "a@b/r"),
    ("fullwidth letters", lambda: fill("\uff21") + "@b", "localpart longer than 1023 bytes"),
    ("ideographic dots", lambda: fill("a\u3002"), IDNA),
    ("combining marks", lambda: "b/a" + fill("\u0301\u0316"), RESOURCE_TOO_LONG),
    ("prohibited at the end", lambda: fill("a") + " @b", NODE_PREP),
]


@pytest.mark.parametrize("make, expected", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_constructor(make, expected):
    text = make()
    try:
        result = str(JID(text))
    except InvalidJID as exc:
        result = exc.args[0]
    assert result == expected


@pytest.mark.parametrize(
    "name, value, expected",
    [
        ("node", fill("\u00ad"), NODE_EMPTY),
        ("resource", fill("r"), RESOURCE_TOO_LONG),
        ("domain", fill("b."), IDNA),
        ("full", fill("@"), TOO_MANY_ATS),
        ("bare", "x@y/" + fill("z"), RESOURCE_TOO_LONG),
    ],
)
def test_setters_refuse_and_keep_the_value(name, value, expected):
    j = JID("a@b/c")
    with pytest.raises(InvalidJID) as info:
        setattr(j, name, value)
    assert info.value.args[0] == expected
    assert str(j) == "a@b/c"


@pytest.mark.parametrize(
    "value, expected",
    [(fill("\\20"), "localpart longer than 1023 bytes"), (fill("\u00ad"), NODE_EMPTY), (fill("a "), NODE_PREP)],
)
def test_unescape_node(value, expected):
    with pytest.raises(InvalidJID) as info:
        unescape_node(value)
    assert info.value.args[0] == expected


def test_comparison_with_huge_unparsable_text_is_unequal():
    for j, text in ((JID("a@b"), fill("@")), (JID("b"), fill("a"))):
        assert (j == text, j != text) == (False, True)
