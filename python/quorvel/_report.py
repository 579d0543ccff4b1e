"""How the command-line tool writes its results: lines, JSON, groups, summary."""

from __future__ import annotations

import json
from collections import Counter
from dataclasses import dataclass, field
from typing import Callable, TextIO

from quorvel._sources import Record

# Each group keeps at most this many of its distinct spellings, so that
# --dedupe holds one bounded entry per distinct address.
MAX_SPELLINGS = 8


@dataclass(slots=True)
class Outcome:
    """A parsed input: the value selected for printing and, for --json, all parts."""

    record: Record
    value: str
    parts: dict[str, str | None]


@dataclass(slots=True)
class Group:
    count: int = 0
    spellings: list[Record] = field(default_factory=list)
    unlisted: int = 0  # inputs whose spelling did not fit in `spellings`

    def add(self, record: Record) -> None:
        self.count += 1
        if any(s.text == record.text for s in self.spellings):
            return
        if len(self.spellings) < MAX_SPELLINGS:
            self.spellings.append(record)
        else:
            self.unlisted += 1


class Report:
    def __init__(self, out: TextIO, as_json: bool) -> None:
        self._out = out
        self._json = as_json
        self.valid = 0
        self.invalid: Counter[str] = Counter()
        self.groups: dict[str, Group] = {}
        self.read_back_otherwise = 0  # --dedupe: printed values naming another address

    def _json_line(self, obj: dict[str, object]) -> None:
        self._out.write(json.dumps(obj, ensure_ascii=False) + "\n")

    def failure(self, record: Record, message: str) -> None:
        self.invalid[message] += 1
        if self._json:
            self._json_line({"input": record.text, "source": record.source, "line": record.line,
                             "ok": False, "error": message})
        else:
            self._out.write(f"{record.where}: invalid {record.shown}: {message}\n")

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
        group = self.groups.get(outcome.value)
        if group is None:
            group = self.groups[outcome.value] = Group()
        group.add(outcome.record)

    def write_groups(self, read_back: Callable[[str], str] | None) -> None:
        """Prints each value once with its spellings. `read_back` parses a
        printed value again; a value that it does not give back (or that
        does not parse) would name another address once stored and read,
        so that is said next to it."""
        for value, group in self.groups.items():
            again: str | None = value
            error: str | None = None
            if read_back is not None:
                try:
                    again = read_back(value)
                except ValueError as e:
                    again, error = None, str(e)
            notes = [] if group.count == 1 else [f"{group.count} inputs"]
            if again != value:
                self.read_back_otherwise += 1
                notes.append(f"reads back as {again}" if error is None else f"does not read back: {error}")
            if self._json:
                obj: dict[str, object] = {
                    "address": value,
                    "count": group.count,
                    "inputs": [{"input": s.text, "source": s.source, "line": s.line}
                               for s in group.spellings],
                    "unlisted": group.unlisted,
                }
                if again != value:
                    obj["reads_back_as"] = again
                    if error is not None:
                        obj["read_back_error"] = error
                self._json_line(obj)
                continue
            self._out.write(value + (f" ({'; '.join(notes)})" if notes else "") + "\n")
            if group.count == 1:
                continue
            for s in group.spellings:
                self._out.write(f"    {s.where}: {s.shown}\n")
            if group.unlisted:
                self._out.write(f"    ... and {group.unlisted} more inputs spelled otherwise\n")

    def duplicate_groups(self) -> int:
        return sum(1 for g in self.groups.values() if g.count > 1)

    def write_summary(self, err: TextIO, prog: str, dedupe: bool) -> None:
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
