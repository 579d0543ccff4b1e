"""How the command-line tool writes its results: lines, JSON, groups, summary."""

from __future__ import annotations

from collections import Counter

from quorvel._sources import NOT_UTF8, Block, Record

# No dataclasses or typing at run time (see _sources).
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Callable, Protocol, TextIO

    from quorvel._output import ErrorStream

# Each group keeps at most this many of its distinct spellings, so that
# --dedupe holds one bounded entry per distinct address.
MAX_SPELLINGS = 8
# Output of the block route is handed to the stream in pieces of about this
# many bytes.
WRITE_BYTES = 1 << 18

GroupInfo = tuple[str, int, list[tuple[int, int, str]], int]


class Outcome:
    """A parsed input: the value selected for printing and, for --json, all parts."""

    __slots__ = ("record", "value", "parts")

    def __init__(self, record: Record, value: str, parts: dict[str, str | None]) -> None:
        self.record = record
        self.value = value
        self.parts = parts


if TYPE_CHECKING:
    class Groups(Protocol):
        """The --dedupe groups: quorvel._blocks.Groups, or its twin PyGroups below."""

        def add(self, value: str, source: int, line: int, text: str, /) -> None: ...
        def __len__(self) -> int: ...
        def duplicate_groups(self) -> int: ...
        def group(self, i: int, /) -> GroupInfo: ...
        def render(self, start: int, limit: int, /) -> tuple[bytes, int]: ...


class Group:
    __slots__ = ("count", "spellings", "unlisted")

    def __init__(self) -> None:
        self.count = 0
        self.spellings: list[tuple[int, int, str]] = []  # (source, line, text)
        self.unlisted = 0  # inputs whose spelling did not fit in `spellings`

    def add(self, source: int, line: int, text: str) -> None:
        self.count += 1
        if any(s[2] == text for s in self.spellings):
            return
        if len(self.spellings) < MAX_SPELLINGS:
            self.spellings.append((source, line, text))
        else:
            self.unlisted += 1


def may_read_back_otherwise(value: str) -> bool:
    """False when the printed value certainly reads back as itself.

    Only a localpart or domain holding a character with a case-folding entry
    (Table B.2) can read back otherwise, and each such character is beyond
    ASCII or an ASCII capital. Both parts come before the first "/" of a
    printed address; a printed resource is looked at the same way, which is
    only cautious. Groups.render stops at such values (the same rule in
    binding/blocks/groups_type.cpp) so that write_groups checks them, and
    write_groups reads back no other value.
    """
    head = value.partition("/")[0]
    return not head.isascii() or head != head.lower()


class PyGroups:
    """The groups in plain Python objects: the slow twin the tests and the
    fuzzer hold quorvel._blocks.Groups to. The tool itself keeps its groups
    in a Groups in every mode, at about a quarter of the memory."""

    def __init__(self) -> None:
        self._groups: dict[str, Group] = {}
        self._order: list[str] = []

    def add(self, value: str, source: int, line: int, text: str) -> None:
        group = self._groups.get(value)
        if group is None:
            group = self._groups[value] = Group()
            self._order.append(value)
        group.add(source, line, text)

    def __len__(self) -> int:
        return len(self._order)

    def duplicate_groups(self) -> int:
        return sum(1 for g in self._groups.values() if g.count > 1)

    def group(self, i: int) -> GroupInfo:
        value = self._order[i]
        g = self._groups[value]
        return value, g.count, list(g.spellings), g.unlisted

    def render(self, start: int, limit: int) -> tuple[bytes, int]:
        out = []
        size = 0
        i = start
        while i < len(self._order) and size < limit:
            value = self._order[i]
            if self._groups[value].count != 1 or may_read_back_otherwise(value):
                break
            line = (value + "\n").encode()
            out.append(line)
            size += len(line)
            i += 1
        return b"".join(out), i


def failure_line(record: Record, message: str) -> str:
    return f"{record.where}: invalid {record.shown}: {message}\n"


class Report:
    def __init__(self, out: TextIO, as_json: bool, groups: Groups | None = None) -> None:
        self._out = out
        self._json = as_json
        self.valid = 0
        self.invalid: Counter[str] = Counter()
        self.groups: Groups = groups if groups is not None else PyGroups()
        self.read_back_otherwise = 0  # --dedupe: printed values naming another address
        self._sources: list[str] = []
        self._source_ids: dict[str, int] = {}

    def _source_id(self, source: str) -> int:
        i = self._source_ids.get(source)
        if i is None:
            i = self._source_ids[source] = len(self._sources)
            self._sources.append(source)
        return i

    def _json_line(self, obj: dict[str, object]) -> None:
        import json  # only --json needs it; the others start faster without

        self._out.write(json.dumps(obj, ensure_ascii=False) + "\n")

    def _write_bytes(self, data: bytes) -> None:
        """UTF-8 output of the block route, in order with the text written so far."""
        buffer = getattr(self._out, "buffer", None)
        if buffer is None:
            self._out.write(data.decode("utf-8", "surrogateescape"))
            return
        self._out.flush()
        buffer.write(data)

    def failure(self, record: Record, message: str) -> None:
        self.invalid[message] += 1
        if self._json:
            self._json_line({"input": record.text, "source": record.source, "line": record.line,
                             "ok": False, "error": message})
        else:
            self._out.write(failure_line(record, message))

    def success(self, outcome: Outcome) -> None:
        self.valid += 1
        if self._json:
            r = outcome.record
            self._json_line({"input": r.text, "source": r.source, "line": r.line, "ok": True,
                             **outcome.parts})
        else:
            self._out.write(outcome.value + "\n")

    def collect(self, outcome: Outcome) -> None:
        """--dedupe: count the input towards the group of its value; print nothing yet."""
        self.valid += 1
        r = outcome.record
        self.groups.add(outcome.value, self._source_id(r.source), r.line, r.text)

    def block(self, block: Block, part: int, bare_only: bool, dedupe: bool, rfc7622: bool = False,
              threads: int = 1) -> None:
        """A block of input lines through quorvel._blocks in one call (text
        output only), its lines parsed over `threads` threads at most."""
        from quorvel._blocks import Groups, normalise_block

        groups = self.groups if dedupe else None
        # The block route adds to the native groups directly.
        assert groups is None or isinstance(groups, Groups)
        out, failures, valid, _ = normalise_block(block.data, part, bare_only, block.first_line,
                                                  groups, self._source_id(block.source), rfc7622,
                                                  threads)
        self.valid += valid
        if not failures:
            if out:
                self._write_bytes(out)
            return
        pieces: list[bytes] = []
        start = 0
        for offset, line, raw, message in failures:
            pieces.append(out[start:offset])
            start = offset
            if message is None:
                record = Record(block.source, line, raw.decode("utf-8", "backslashreplace"), NOT_UTF8, raw)
                message = NOT_UTF8
            else:
                record = Record(block.source, line, raw.decode("utf-8"))
            self.invalid[message] += 1
            pieces.append(failure_line(record, message).encode("utf-8", "backslashreplace"))
        pieces.append(out[start:])
        self._write_bytes(b"".join(pieces))

    def _read_back(self, read_back: Callable[[str], str] | None, value: str) -> tuple[bool, str | None, str | None]:
        """(reads back otherwise, the value read back, why it does not read back)."""
        if read_back is None or not may_read_back_otherwise(value):
            return False, value, None
        try:
            again = read_back(value)
        except ValueError as e:
            self.read_back_otherwise += 1
            return True, None, str(e)
        if again == value:
            return False, again, None
        self.read_back_otherwise += 1
        return True, again, None

    def write_groups(self, read_back: Callable[[str], str] | None) -> None:
        """Prints each value once with its spellings. `read_back` parses a
        printed value again; a value that it does not give back (or that
        does not parse) would name another address once stored and read,
        so that is said next to it."""
        groups = self.groups
        n = len(groups)
        if self._json:
            for i in range(n):
                value, count, spellings, unlisted = groups.group(i)
                otherwise, again, error = self._read_back(read_back, value)
                obj: dict[str, object] = {
                    "address": value,
                    "count": count,
                    "inputs": [{"input": text, "source": self._sources[source], "line": line}
                               for source, line, text in spellings],
                    "unlisted": unlisted,
                }
                if otherwise:
                    obj["reads_back_as"] = again
                    if error is not None:
                        obj["read_back_error"] = error
                self._json_line(obj)
            return
        i = 0
        while i < n:
            # The groups of one input whose value reads back as itself are
            # the bulk: their lines come ready made; the others are formatted
            # here, and their values read back.
            chunk, i = groups.render(i, WRITE_BYTES)
            if chunk:
                self._write_bytes(chunk)
            if i >= n:
                break
            value, count, spellings, unlisted = groups.group(i)
            i += 1
            otherwise, again, error = self._read_back(read_back, value)
            notes = [] if count == 1 else [f"{count} inputs"]
            if otherwise:
                notes.append(f"reads back as {again}" if error is None else f"does not read back: {error}")
            lines = [value + (f" ({'; '.join(notes)})" if notes else "") + "\n"]
            if count > 1:
                for source, line, text in spellings:
                    s = Record(self._sources[source], line, text)
                    lines.append(f"    {s.where}: {s.shown}\n")
                if unlisted:
                    lines.append(f"    ... and {unlisted} more input{'' if unlisted == 1 else 's'} "
                                 "spelled otherwise\n")
            self._out.write("".join(lines))

    def duplicate_groups(self) -> int:
        return self.groups.duplicate_groups()

    def write_summary(self, err: ErrorStream, prog: str, dedupe: bool) -> None:
        invalid = sum(self.invalid.values())
        total = self.valid + invalid
        line = f"{prog}: {total} input{'' if total == 1 else 's'}, {self.valid} valid, {invalid} invalid"
        if dedupe:
            groups = self.duplicate_groups()
            line += (f", {len(self.groups)} distinct, "
                     f"{groups} duplicate group{'' if groups == 1 else 's'}")
            n = self.read_back_otherwise
            if n:
                line += f", {n} {'value reads' if n == 1 else 'values read'} back otherwise"
        err.write(line + "\n")
        for message, count in self.invalid.most_common():
            err.write(f"{count:>8}  {message}\n")


