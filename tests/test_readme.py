"""The README's Python examples run as written."""

import doctest
import re

import pytest

from cli_support import ROOT


def test_readme_examples():
    readme = ROOT / "README.md"
    if not readme.is_file():
        pytest.skip("no README beside the tests")
    blocks = re.findall(r"```python\n(.*?)```", readme.read_text("utf-8"), re.S)
    assert blocks
    test = doctest.DocTestParser().get_doctest("\n".join(blocks), {}, "README.md", str(readme), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.summarize(verbose=False).failed == 0
