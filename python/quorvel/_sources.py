"""Where the command-line tool's addresses come from: one record at a time,
or whole blocks of lines.

Files are read as bytes and decoded line by line, so one undecodable line
is reported on its own instead of ending the run, and memory stays flat
however long the input is. Blocks hold whole lines and are decoded by
quorvel._blocks (see _report.Report.block), with the same rules.
"""

from __future__ import annotations

import os
import time

# Neither dataclasses nor typing is imported at run time: together they were
# a fifth of the tool's peak memory on a large file (see bench/cli_bench.py).
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import BinaryIO, Callable, Iterable, Iterator

    from quorvel._output import ErrorStream

NOT_UTF8 = "not valid UTF-8"
BOM = b"\xef\xbb\xbf"  # UTF-8's byte-order mark, dropped from the start of a file
SHOWN_MAX = 60  # characters of an input quoted in a text-mode message

# The size of the reads of the block route. A block is copied a few times on
# its way through (the read, the pending lines, the block, the output), so
# this bounds the route's memory; at 32 KiB a million addresses take about a
# thousand calls, whose cost does not show, and 256 KiB cost 1 MB more peak
# memory than a plain loop over the lines.
BLOCK_BYTES = 1 << 15
# The reads of the block route with worker threads (quorvel-jid -j N): a
# block is cut among the threads in runs of thousands of lines, so it must
# hold tens of thousands of them for more than one thread to start.
THREADED_BLOCK_BYTES = 1 << 20

# Below this size a file is read before a progress line would be useful.
PROGRESS_MIN_BYTES = 16 * 1024 * 1024
_PROGRESS_EVERY_LINES = 8192
_PROGRESS_EVERY_SECONDS = 0.5


class Record:
    """One input: its text, or why it has none (``error``)."""

    __slots__ = ("source", "line", "text", "error", "raw")

    def __init__(self, source: str, line: int, text: str, error: str | None = None,
                 raw: bytes | None = None) -> None:
        self.source = source  # a file name, "-" for standard input, or "arg"
        self.line = line  # line number in the file, or position among the arguments
        self.text = text  # the input; undecodable bytes appear as \xNN escapes
        self.error = error
        self.raw = raw  # the bytes of an input that is not UTF-8

    @property
    def shown(self) -> str:
        """The input quoted so that spaces and undecodable bytes are visible.

        Very long inputs are cut: the point is to find the line, and the
        line number is given beside it.
        """
        if self.raw is not None:
            return repr(self.raw[:SHOWN_MAX]) + ("\u2026" if len(self.raw) > SHOWN_MAX else "")
        if len(self.text) > SHOWN_MAX:
            return f"{self.text[:SHOWN_MAX]!r}\u2026 ({len(self.text)} characters)"
        return repr(self.text)

    @property
    def where(self) -> str:
        if self.source == "arg":
            return f"arg {self.line}"
        name = "<stdin>" if self.source == "-" else self.source
        return f"{name}:{self.line}"


def from_arguments(args: list[str]) -> Iterator[Record]:
    for n, arg in enumerate(args, 1):
        try:
            arg.encode("utf-8")
        except UnicodeEncodeError:
            # The interpreter smuggles undecodable argument bytes in as
            # lone surrogates; give them back as bytes to show them.
            raw = os.fsencode(arg)
            yield Record("arg", n, raw.decode("utf-8", "backslashreplace"), NOT_UTF8, raw)
        else:
            yield Record("arg", n, arg)


def skipped(line: bytes) -> bool:
    """Empty lines and comments: a line that is "#" alone or starts with "# ".

    Neither can be an address (a space is refused in a localpart and "#" in
    a domain), while "#room@irc.example" is one and is read. The native block
    route (binding/blocks/normalise_block.cpp) applies the same rule.
    """
    return not line or line == b"#" or line.startswith(b"# ")


def from_stream(name: str, stream: BinaryIO, progress: Progress | None = None) -> Iterator[Record]:
    done = 0
    for n, raw in enumerate(stream, 1):
        done += len(raw)
        if n == 1 and raw.startswith(BOM):
            raw = raw[len(BOM):]
        if progress is not None and n % _PROGRESS_EVERY_LINES == 0:
            progress.update(done, n)
        # Only the line ending goes: spaces may belong to a resource.
        if raw.endswith(b"\n"):
            raw = raw[:-2] if raw.endswith(b"\r\n") else raw[:-1]
        if skipped(raw):
            continue
        try:
            yield Record(name, n, raw.decode("utf-8"))
        except UnicodeDecodeError:
            yield Record(name, n, raw.decode("utf-8", "backslashreplace"), NOT_UTF8, raw)


class Block:
    """Whole lines of one source, the first of them line `first_line`; only
    the last block of a source may end without a newline."""

    __slots__ = ("source", "first_line", "data")

    def __init__(self, source: str, first_line: int, data: bytes) -> None:
        self.source = source
        self.first_line = first_line
        self.data = data


def chunks(read: Callable[[int], bytes], size: int = BLOCK_BYTES) -> Iterator[bytes]:
    """What `read` gives, up to its end, without a UTF-8 byte-order mark at
    the start: the mark belongs to the encoding, not to the first line (which
    may be a comment)."""
    head = b""
    while len(head) < len(BOM) and BOM.startswith(head):
        chunk = read(size)
        if not chunk:
            # The end, within what could have been a mark: that is the whole
            # input (asking again would wait for more on a terminal).
            if head:
                yield head
            return
        head += chunk
    if head.startswith(BOM):
        head = head[len(BOM):]
    if head:
        yield head
    while chunk := read(size):
        yield chunk


def whole_lines(pieces: Iterable[bytes]) -> Iterator[bytes]:
    """The bytes of `pieces` again, cut after the last newline of a piece
    that has one; what follows the last newline comes at the end.

    Only each new piece is searched for a newline, never the bytes held back
    from earlier ones, so a line that spans many pieces costs what its
    length does, not its length times the number of pieces.
    """
    pending = bytearray()
    for piece in pieces:
        end = piece.rfind(b"\n") + 1
        if end == 0:
            pending += piece
            continue
        if pending:
            pending += memoryview(piece)[:end]
            data = bytes(pending)
            del pending[:]
        else:
            data = piece if end == len(piece) else piece[:end]
        if end < len(piece):
            pending += memoryview(piece)[end:]
        yield data
    if pending:
        yield bytes(pending)


def blocks_from_stream(name: str, stream: BinaryIO, progress: Progress | None = None,
                       size: int = BLOCK_BYTES) -> Iterator[Block]:
    # read1: whatever is there, so that lines from a pipe are dealt with as
    # they come rather than once a whole block has arrived.
    read = getattr(stream, "read1", stream.read)
    line = 1
    done = 0
    for data in whole_lines(chunks(read, size)):
        yield Block(name, line, data)
        done += len(data)
        first, line = line, line + data.count(b"\n")
        # As often as the per-line route: when a multiple of its interval of
        # lines has gone by.
        every = _PROGRESS_EVERY_LINES
        if progress is not None and (line - 1) // every > (first - 1) // every:
            progress.update(done, line - 1)


class Progress:
    """A self-overwriting progress line on a terminal."""

    def __init__(self, name: str, total: int, out: ErrorStream) -> None:
        self._name = name
        self._total = total
        self._out = out
        self._last = time.monotonic()
        self._shown = False

    def update(self, done: int, lines: int) -> None:
        now = time.monotonic()
        if now - self._last < _PROGRESS_EVERY_SECONDS and self._shown:
            return
        self._last = now
        percent = 100.0 * done / self._total if self._total else 100.0
        self._out.write(f"\r{self._name}: {percent:5.1f}% ({lines:,} lines)")
        self._out.flush()
        self._shown = True

    def close(self) -> None:
        if self._shown:
            self._out.write("\r\x1b[K")
            self._out.flush()


def progress_for(name: str, stream: BinaryIO, mode: str, err: ErrorStream) -> Progress | None:
    """A progress line when asked for, or by default for a large file on a terminal."""
    if mode == "never":
        return None
    try:
        size = os.fstat(stream.fileno()).st_size
    except (OSError, ValueError):
        size = 0
    if mode == "auto" and (size < PROGRESS_MIN_BYTES or not err.isatty()):
        return None
    return Progress(name, size, err)
