"""The PRECIS and IDNA2008 derived property values the table generator
computes (tools/unicode/precis.py), against the field's references for every
code point: precis-i18n's own derivation (over unicodedata2, Unicode 17.0)
and the code point classes of the idna package (Unicode 17.0)."""

import collections
import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "data"
sys.path.insert(0, str(ROOT / "tools"))

from unicode import precis, ucd  # noqa: E402
from unicode.normalization import Data  # noqa: E402

# Pure Python over the whole code space: nothing native to sanitise.
pytestmark = pytest.mark.skipif(bool(os.environ.get("QUORVEL_SANITIZED")),
                                reason="generator check; no native code involved")


@pytest.fixture(scope="module")
def props():
    return precis.properties(DATA)


def _differences(ours, theirs):
    found = collections.defaultdict(list)
    for c in range(ucd.CODE_POINTS):
        if ours[c] != theirs(c):
            found[(ours[c], theirs(c))].append(f"U+{c:04X}")
    return {k: v[:10] for k, v in found.items()}


def test_precis_derivation_agrees_with_precis_i18n_everywhere(props):
    unicodedata2 = pytest.importorskip("unicodedata2")
    from precis_i18n.derived import derived_property
    from precis_i18n.unicode import UnicodeData

    assert unicodedata2.unidata_version == "17.0.0"
    reference = UnicodeData(unicodedata2)
    ours = [precis.precis_derived(props, c).name for c in range(ucd.CODE_POINTS)]
    assert _differences(ours, lambda c: derived_property(c, reference)[0]) == {}


def test_idna2008_derivation_agrees_with_idna_everywhere(props):
    from idna import idnadata
    from idna.intranges import intranges_contain

    assert idnadata.__version__ == "17.0.0"

    def theirs(c):
        for name in ("PVALID", "CONTEXTJ", "CONTEXTO"):
            if intranges_contain(c, idnadata.codepoint_classes[name]):
                return name
        return "DISALLOWED"  # the package does not tell UNASSIGNED apart

    ours = [precis.idna2008_derived(props, c).name.replace("UNASSIGNED", "DISALLOWED")
            for c in range(ucd.CODE_POINTS)]
    assert _differences(ours, theirs) == {}


D = precis.Derived


@pytest.mark.parametrize("char, in_precis, in_idna", [
    ("a", D.PVALID, D.PVALID), ("A", D.PVALID, D.DISALLOWED),  # IDNA2008: only LDH of ASCII
    ("!", D.PVALID, D.DISALLOWED), (" ", D.FREE_PVAL, D.DISALLOWED),
    ("\u00df", D.PVALID, D.PVALID), ("\u03c2", D.PVALID, D.PVALID),  # exceptions
    ("\u00b7", D.CONTEXTO, D.CONTEXTO), ("\u0660", D.CONTEXTO, D.CONTEXTO),
    ("\u0640", D.DISALLOWED, D.DISALLOWED),
    ("\u200c", D.CONTEXTJ, D.CONTEXTJ), ("\u200d", D.CONTEXTJ, D.CONTEXTJ),
    ("\u1100", D.DISALLOWED, D.DISALLOWED),  # conjoining jamo
    ("\u00ad", D.DISALLOWED, D.DISALLOWED),  # default ignorable
    ("\ufdd0", D.DISALLOWED, D.DISALLOWED), ("\U0010ffff", D.DISALLOWED, D.DISALLOWED),  # noncharacters
    ("\x00", D.DISALLOWED, D.DISALLOWED), ("\x85", D.DISALLOWED, D.DISALLOWED),  # controls
    ("\uff21", D.FREE_PVAL, D.DISALLOWED), ("\u2163", D.FREE_PVAL, D.DISALLOWED),  # compatibility
    ("\U0001f339", D.FREE_PVAL, D.DISALLOWED), ("\u2603", D.FREE_PVAL, D.DISALLOWED),  # symbols
    ("\u01c5", D.FREE_PVAL, D.DISALLOWED),  # titlecase (Lt), and has a compatibility form
    ("\u20dd", D.FREE_PVAL, D.DISALLOWED),  # Me, and in an ignorable block for IDNA2008
    ("\U0001d15e", D.FREE_PVAL, D.DISALLOWED),  # musical symbol with a canonical decomposition
    ("\u0378", D.UNASSIGNED, D.UNASSIGNED), ("\U000e0001", D.DISALLOWED, D.DISALLOWED),
    ("\ue000", D.DISALLOWED, D.DISALLOWED),  # private use (Co)
    ("\u4e2d", D.PVALID, D.PVALID), ("\u0915", D.PVALID, D.PVALID), ("\u05d0", D.PVALID, D.PVALID),
])  # fmt: skip
def test_known_values(props, char, in_precis, in_idna):
    c = ord(char)
    assert (precis.precis_derived(props, c), precis.idna2008_derived(props, c)) == (in_precis, in_idna)


def _hex(field):
    return [int(p, 16) for p in field.split()]


def test_normalizer_passes_the_conformance_file():
    # The derivations' NFKC (HasCompat, Unstable) is the generator's own:
    # every line of NormalizationTest.txt, c2 = NFC(c1) and c4 = NFKC(c1),
    # and every code point the file does not list is its own normal form.
    normalizer = precis.Normalizer(Data(DATA))
    listed = set()
    count = 0
    with (ucd.ucd_dir(DATA) / "NormalizationTest.txt").open(encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line or line.startswith("@"):
                continue
            c1, c2, _, c4, _ = (_hex(field) for field in line.split(";")[:5])
            assert normalizer.normalize(c1, compat=False) == c2, line
            assert normalizer.normalize(c1, compat=True) == c4, line
            if len(c1) == 1:
                listed.add(c1[0])
            count += 1
    assert count > 19000
    for c in range(0, ucd.CODE_POINTS, 7):
        if c not in listed and not 0xD800 <= c <= 0xDFFF:
            assert normalizer.normalize([c], compat=True) == [c], hex(c)
