"""quorvel-jid --compare: the addresses RFC 6122 and RFC 7622 treat
differently, one line (or JSON record) each, and a summary by reason."""

from __future__ import annotations

from collections import Counter

from quorvel._output import ErrorStream
from quorvel._sources import NOT_UTF8, Block, Record

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import TextIO

    from quorvel.profiles import Comparison, Outcome


def _shown(o: Outcome) -> str:
    return o.text if o.text is not None else f"invalid: {o.error}"


class CompareReport:
    def __init__(self, out: TextIO, as_json: bool) -> None:
        self._out = out
        self._json = as_json
        self.inputs = 0
        self.differing = 0
        self.unreadable = 0
        self.by_reason: Counter[str] = Counter()

    def unreadable_input(self, record: Record, message: str) -> None:
        self.inputs += 1
        self.unreadable += 1
        if self._json:
            self._json_line({"input": record.text, "source": record.source, "line": record.line,
                             "ok": False, "error": message})
        else:
            self._out.write(f"{record.where}: invalid {record.shown}: {message}\n")

    def block(self, block: Block, threads: int = 1) -> None:
        """A block of lines: the native side picks those that differ, over
        `threads` threads at most."""
        from quorvel._blocks import differing_block
        from quorvel.profiles import compare

        differing, unreadable, inputs, _ = differing_block(block.data, block.first_line, threads)
        self.inputs += inputs - len(differing) - len(unreadable)
        # Back in input order, as the per-line route writes them.
        events: list[tuple[int, str | None, bytes | None]] = [(n, t, None) for n, t in differing]
        events += [(n, None, raw) for n, raw in unreadable]
        for n, text, raw in sorted(events, key=lambda e: e[0]):
            if raw is not None:
                shown = raw.decode("utf-8", "backslashreplace")
                self.unreadable_input(Record(block.source, n, shown, NOT_UTF8, raw), NOT_UTF8)
            else:
                assert text is not None
                self.compared(Record(block.source, n, text), compare(text))

    def compared(self, record: Record, c: Comparison) -> None:
        self.inputs += 1
        if not c.differs:
            return
        self.differing += 1
        for names in c.reasons.values():
            self.by_reason.update(names)
        if self._json:
            self._json_line({
                "input": record.text, "source": record.source, "line": record.line,
                "rfc6122": {"address": c.rfc6122.text, "error": c.rfc6122.error},
                "rfc7622": {"address": c.rfc7622.text, "error": c.rfc7622.error},
                "reasons": {part: list(names) for part, names in c.reasons.items()},
            })
        else:
            why = "; ".join(f"{part}: {', '.join(names)}" for part, names in c.reasons.items())
            self._out.write(f"{record.where}: {record.shown}\n  rfc6122: {_shown(c.rfc6122)}\n"
                            f"  rfc7622: {_shown(c.rfc7622)}\n  why: {why}\n")

    def _json_line(self, obj: dict[str, object]) -> None:
        import json

        self._out.write(json.dumps(obj, ensure_ascii=False) + "\n")

    def write_summary(self, err: ErrorStream, prog: str) -> None:
        line = (f"{prog}: {self.inputs} input{'' if self.inputs == 1 else 's'}, "
                f"{self.differing} differ")
        if self.unreadable:
            line += f", {self.unreadable} unreadable"
        err.write(line + "\n")
        for reason, count in sorted(self.by_reason.items(), key=lambda kv: (-kv[1], kv[0])):
            err.write(f"{count:>8}  {reason}\n")
