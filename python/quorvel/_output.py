"""What a failure to write one of the command-line tool's standard streams means.

Output that could not be written (a full disk, a closed standard output) is
an I/O error: exit status 2, said in one line on standard error while that
can still be written, never a traceback, and never status 1, which means
that some input was invalid. A closed standard error is the caller's choice
to drop the diagnostics and changes nothing; a reader that went away
(``| head``) ends the run quietly (quorvel.cli.main).
"""

from __future__ import annotations

import os

# typing is not imported at run time (see _sources).
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import TextIO


class StreamFailed(Exception):
    """Writing `stream` ("standard output" or "standard error") failed."""

    def __init__(self, stream: str, reason: str) -> None:
        super().__init__(stream, reason)
        self.stream = stream
        self.reason = reason


class ErrorStream:
    """Standard error as the tool writes its diagnostics to it.

    Each write reaches the stream at once, so that a failure shows where it
    happens and names the right stream; a closed stream (None) takes
    everything and keeps nothing. A closed pipe still raises BrokenPipeError.
    """

    __slots__ = ("_stream",)

    def __init__(self, stream: TextIO | None) -> None:
        self._stream = stream

    def write(self, text: str) -> None:
        if self._stream is None:
            return
        try:
            self._stream.write(text)
            self._stream.flush()
        except BrokenPipeError:
            raise
        except OSError as e:
            raise StreamFailed("standard error", e.strerror or str(e)) from None

    def flush(self) -> None:
        """Nothing is held back (see write)."""

    def isatty(self) -> bool:
        return self._stream is not None and self._stream.isatty()


def discard(stream: TextIO | None) -> None:
    """Points the stream's file descriptor at /dev/null, so that what is
    still buffered for it goes nowhere when the interpreter flushes it on the
    way out, instead of failing again after the tool has said what it had
    to say. Streams without a descriptor of their own are left alone."""
    if stream is None:
        return
    try:
        fd = stream.fileno()
    except (AttributeError, ValueError, OSError):
        return
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(devnull, fd)
    finally:
        os.close(devnull)
