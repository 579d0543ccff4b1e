"""Helpers of the tests of calls: a call refused with exactly the expected
exception, message and notes, and stand-ins for numpy's boolean scalars."""

from __future__ import annotations

from typing import Any, Callable

import pytest


def assert_refused(call: Callable[[], Any], error: type[BaseException], message: str | None,
                   notes: list[str] | None) -> None:
    """`call()` raises `error` itself (not a subclass), with `message` as its
    text unless that is None, and with exactly `notes` as its __notes__."""
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) == notes


class FakeNumpyBool:
    """Stands in for numpy's bool scalar, which the modules take as a flag and
    recognise by module and name; its truth value may raise."""

    __module__ = "numpy"

    def __init__(self, value: object) -> None:
        self.value = value

    def __bool__(self) -> bool:
        if isinstance(self.value, Exception):
            raise self.value
        return bool(self.value)


def fake_type(module: str, name: str) -> type[FakeNumpyBool]:
    """A subclass of FakeNumpyBool named `name` in module `module`."""
    return type(name, (FakeNumpyBool,), {"__module__": module})
