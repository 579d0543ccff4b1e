"""``quorvel-jid``: normalise, check and de-duplicate lists of XMPP addresses.

Exit status: 0 when every input is valid, 1 when some are not, 2 for a usage
or I/O error (an unreadable file, output that could not be written), 141
when the reader of standard output went away (as for a process ended by
SIGPIPE).
"""

from __future__ import annotations

import argparse
import os
import sys

from quorvel import _sources
from quorvel._output import ErrorStream, StreamFailed, discard
from quorvel._report import Outcome, Report
from quorvel._sources import Block

# typing is not imported at run time (see _sources).
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Callable, Iterator, Sequence

    from _typeshed import SupportsWrite

    from quorvel._sources import Record
    from quorvel.jid import JID
    from quorvel.precis import JID as PrecisJID

PARTS = ("full", "bare", "node", "domain", "resource")
PROFILES = ("rfc6122", "rfc7622")
EXIT_OK, EXIT_INVALID, EXIT_USAGE, EXIT_PIPE = 0, 1, 2, 141


def _version() -> str:
    from quorvel import __version__

    try:
        from quorvel import _build
    except ImportError:
        return f"{__version__} (build information unavailable)"
    return (f"{__version__} (Unicode {_build.PROFILES_UNICODE_VERSION} (profiles), "
            f"{_build.IDNA_UNICODE_VERSION} (IDNA check))")


def _help_formatter(prog: str) -> argparse.HelpFormatter:
    """argparse's formatter at the width argparse would choose itself.

    argparse asks shutil for the terminal's width whenever an argument is
    added, and shutil brings the compression modules with it: most of the
    tool's memory beyond a plain loop over the lines. The width is read as
    shutil.get_terminal_size reads it.
    """
    try:
        columns = int(os.environ["COLUMNS"])
    except (KeyError, ValueError):
        columns = 0
    if columns <= 0:
        try:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns  # type: ignore[union-attr]
        except (AttributeError, ValueError, OSError):
            columns = 0
    return argparse.HelpFormatter(prog, width=(columns if columns > 0 else 80) - 2)


class _Parser(argparse.ArgumentParser):
    """argparse's parser, but with its help, version and usage messages
    written like the tool's other output: argparse's own _print_message
    drops a write that fails, so `--help > /dev/full` would exit 0."""

    err: ErrorStream | None = None

    def _print_message(self, message: str, file: SupportsWrite[str] | None = None) -> None:
        if not message:
            return
        if file is None or file is sys.stderr:
            if self.err is not None:
                self.err.write(message)
        else:
            file.write(message)


def _parser(prog: str, err: ErrorStream | None = None) -> argparse.ArgumentParser:
    p = _Parser(
        prog=prog,
        formatter_class=_help_formatter,
        description="Normalise and check XMPP addresses (JIDs), one per argument or per line.",
        epilog="In files and on standard input, empty lines and comments (a line that is "
               "'#' alone or starts with '# ') are skipped, and a UTF-8 byte-order mark at "
               "the start is dropped; addresses given as arguments are always read. "
               "Without addresses or files, standard input is read when it is not a terminal. "
               "With --json, each input gives a record whose 'source' is the file name as "
               "given ('-' for standard input, 'arg' for an argument), where text output "
               "names standard input '<stdin>'; with --json --dedupe, the records of invalid "
               "inputs come as they are read, then one record per distinct value (address, "
               "count, inputs, unlisted) in first-seen order. Exit status: 0 all valid, "
               "1 some invalid, 2 usage or I/O error (output that cannot be written "
               "included), 141 the reader of standard output went away.",
    )
    p.add_argument("addresses", nargs="*", metavar="ADDRESS", help="addresses to check")
    p.add_argument("-f", "--file", action="append", default=[], metavar="FILE",
                   help="read addresses from FILE, one per line ('-' for standard input); "
                        "may be repeated")
    what = p.add_mutually_exclusive_group()
    what.add_argument("--part", choices=PARTS, default="full",
                      help="print this part of each address (default: full)")
    what.add_argument("--unescape", action="store_true",
                      help="treat inputs as escaped localparts and print them unescaped")
    what.add_argument("--escape", action="store_true",
                      help="treat inputs as display text and print them as escaped localparts")
    what.add_argument("--uri", action="store_true", help="print each address as an xmpp: URI")
    what.add_argument("--compare", action="store_true",
                      help="list the addresses that RFC 6122 (stringprep) and RFC 7622 (PRECIS) "
                           "prepare differently, with the reasons, and a summary by reason; "
                           "exit status 0 when none differs, 1 when some do")
    p.add_argument("--profile", choices=PROFILES, default="rfc6122",
                   help="the standard addresses are prepared by: RFC 6122 (stringprep, as "
                        "servers do; the default) or RFC 7622 (PRECIS)")
    p.add_argument("--bare-only", action="store_true",
                   help="refuse addresses that carry a resource (as roster entries must)")
    p.add_argument("--json", action="store_true",
                   help="write one JSON object per input (or per group with --dedupe)")
    p.add_argument("--dedupe", action="store_true",
                   help="group inputs that normalise to the same value and print each group once")
    p.add_argument("-q", "--quiet", action="store_true", help="no summary on standard error")
    p.add_argument("--progress", choices=("auto", "always", "never"), default="auto",
                   help="progress on standard error (auto: for large files on a terminal)")
    p.add_argument("-j", "--threads", type=_thread_count, default=1, metavar="N",
                   help="parse the lines of files over N threads ('auto': one per CPU this "
                        "process may use; default 1); the output is the same for every N. Files in "
                        "text output and with --compare use them; --json, --escape, --unescape, "
                        "--uri and addresses given as arguments are read on one thread")
    p.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    p.err = err
    return p


def _cpus() -> int:
    try:
        return max(len(os.sched_getaffinity(0)), 1)
    except (AttributeError, OSError):  # not on every platform
        return os.cpu_count() or 1


def _thread_count(text: str) -> int:
    """-j N: a count of at least 1, or 'auto' for the CPUs this process may use."""
    if text == "auto":
        return _cpus()
    try:
        n = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number of threads or 'auto', not {text!r}") from None
    if n < 1:
        raise argparse.ArgumentTypeError(f"the number of threads must be at least 1, not {n}")
    return n


def _address_type(profile: str) -> type[JID] | type[PrecisJID]:
    if profile == "rfc7622":
        from quorvel.precis import JID as PrecisJID

        return PrecisJID
    from quorvel.jid import JID

    return JID


def _evaluator(part: str, unescape: bool, bare_only: bool,
               profile: str = "rfc6122") -> Callable[[str], tuple[str, dict[str, str | None]]]:
    """The function that turns one input into its printed value and its parts."""
    from quorvel.jid import unescape_node

    JID = _address_type(profile)  # noqa: N806 - a class

    if unescape:
        def run_unescape(text: str) -> tuple[str, dict[str, str | None]]:
            value = unescape_node(text)
            return value, {"unescaped": value}
        return run_unescape

    def run_jid(text: str) -> tuple[str, dict[str, str | None]]:
        j = JID()
        if bare_only:
            j.bare = text  # parsed as a bare address: a resource is an error
        else:
            j.full = text  # unlike JID(text), refuses the empty text as no address
        parts: dict[str, str | None] = {
            "full": j.full, "bare": j.bare, "node": j.node or None,
            "domain": j.domain, "resource": j.resource or None,
        }
        return parts[part] or "", parts
    return run_jid


def _mode_evaluator(args: argparse.Namespace) -> Callable[[str], tuple[str, dict[str, str | None]]] | None:
    """The evaluator of --escape or --uri; None for the modes of _evaluator."""
    if args.escape:
        from quorvel import escape_node

        def run_escape(text: str) -> tuple[str, dict[str, str | None]]:
            value = escape_node(text)
            return value, {"escaped": value}
        return run_escape
    if args.uri:
        from quorvel.jid import JID
        from quorvel.uri import build

        def run_uri(text: str) -> tuple[str, dict[str, str | None]]:
            j = JID()
            if args.bare_only:
                j.bare = text
            else:
                j.full = text
            value = build(j)
            return value, {"uri": value, "full": j.full}
        return run_uri
    return None


def _reader(part: str, bare_only: bool, profile: str = "rfc6122") -> Callable[[str], str]:
    """--dedupe: reads a printed value back as the same part of an address.

    A value is printed as stored, and a stored localpart or domain can hold a
    capital that normalisation made from a character newer than the
    case-folding table (U+2C7D gives 'V'); read back, the capital is folded,
    so the printed value names another address. Raises InvalidJID when the
    value does not read back at all.
    """

    def read(value: str) -> str:
        if not value:
            return value  # the address has no such part
        JID = _address_type(profile)  # noqa: N806 - only once a value needs it (see _run)
        if part in ("full", "bare"):
            j = JID()
            setattr(j, "bare" if bare_only or part == "bare" else "full", value)
        else:
            # Any address will do: the setter prepares the one part on its own.
            j = JID("x@example.invalid/x")
            setattr(j, part, value)
        return str(getattr(j, part))
    return read


def _group_reader(args: argparse.Namespace) -> Callable[[str], str] | None:
    """What --dedupe reads a printed value back as: an address or a part of
    one, or (--escape) the localpart the escaped text is; display text
    (--unescape) and URIs (--uri) are not addresses to read back."""
    if args.unescape or args.uri:
        return None
    if args.escape:
        return _reader("node", False)
    return _reader(args.part, args.bare_only, args.profile)


def _stdin_usable() -> bool:
    return sys.stdin is not None and not sys.stdin.isatty()


def _block_mode(args: argparse.Namespace) -> tuple[int, bool, bool] | None:
    """(part, bare_only, rfc7622) when files go through quorvel._blocks a block at a time.

    That route gives the same output as the per-line one for the modes it
    knows: text output of addresses or one of their parts. QUORVEL_JID_PER_LINE
    in the environment keeps every input on the per-line route (the tests
    compare the two).
    """
    if args.json or args.unescape or args.escape or args.uri or os.environ.get("QUORVEL_JID_PER_LINE"):
        return None
    return PARTS.index(args.part), args.bare_only, args.profile == "rfc7622"


def _records(args: argparse.Namespace, report_io_error: Callable[[str], None], err: ErrorStream,
             blocks: bool = False) -> Iterator[Record | Block]:
    yield from _sources.from_arguments(args.addresses)
    files = list(args.file) or ([] if args.addresses else ["-"])
    for name in files:
        try:
            if name == "-" and sys.stdin is None:
                raise OSError("standard input is closed")
            stream = sys.stdin.buffer if name == "-" else open(name, "rb")
        except OSError as e:
            report_io_error(f"{name}: {e.strerror or e}")
            continue
        progress = _sources.progress_for(name, stream, args.progress, err)
        size = _sources.BLOCK_BYTES if args.threads == 1 else _sources.THREADED_BLOCK_BYTES
        try:
            if blocks:
                yield from _sources.blocks_from_stream(name, stream, progress, size)
            else:
                yield from _sources.from_stream(name, stream, progress)
        except OSError as e:
            report_io_error(f"{name}: {e.strerror or e}")
        finally:
            if progress is not None:
                progress.close()
            if name != "-":
                stream.close()


class _IoErrors:
    """Reports an unreadable source on standard error, after what standard
    output holds so far, and counts them: any makes the status 2."""

    def __init__(self, prog: str, err: ErrorStream) -> None:
        self.count = 0
        self._prog = prog
        self._err = err

    def __call__(self, message: str) -> None:
        self.count += 1
        sys.stdout.flush()
        self._err.write(f"{self._prog}: {message}\n")


def _run_compare(args: argparse.Namespace, prog: str, err: ErrorStream) -> int:
    from quorvel._compare_report import CompareReport
    from quorvel.profiles import compare

    report = CompareReport(sys.stdout, args.json)
    report_io_error = _IoErrors(prog, err)

    # Files a block at a time: the native side finds the lines that differ,
    # and only those are explained (see quorvel._blocks.differing_block).
    blocks = not args.json and not os.environ.get("QUORVEL_JID_PER_LINE")
    for record in _records(args, report_io_error, err, blocks):
        if isinstance(record, Block):
            report.block(record, args.threads)
        elif record.error is not None:
            report.unreadable_input(record, record.error)
        else:
            report.compared(record, compare(record.text))
    sys.stdout.flush()
    if not args.quiet:
        report.write_summary(err, prog)
    if report_io_error.count:
        return EXIT_USAGE
    return EXIT_INVALID if report.differing or report.unreadable else EXIT_OK


def _run(args: argparse.Namespace, prog: str, err: ErrorStream) -> int:
    if sys.stdout is None:
        raise StreamFailed("standard output", "it is closed")
    if args.compare:
        return _run_compare(args, prog, err)
    evaluate = None  # made for the first input of the per-line route
    block_mode = _block_mode(args)
    groups = None
    if args.dedupe:
        # The compact store in every mode: a million distinct values in
        # Python objects took four times the memory (bench/cli_bench.py).
        from quorvel._blocks import Groups

        groups = Groups()
    report = Report(sys.stdout, args.json, groups)
    report_io_error = _IoErrors(prog, err)

    for record in _records(args, report_io_error, err, block_mode is not None):
        if isinstance(record, Block):
            assert block_mode is not None
            part, bare_only, rfc7622 = block_mode
            report.block(record, part, bare_only, args.dedupe, rfc7622, args.threads)
            continue
        if record.error is not None:
            report.failure(record, record.error)
            continue
        if evaluate is None:
            # quorvel.jid is loaded once an input needs it: files on the
            # block route do without it, and with it the tool's memory would
            # pass a plain loop's (bench/cli_bench.py).
            from quorvel.jid import InvalidJID

            evaluate = _mode_evaluator(args) or _evaluator(args.part, args.unescape, args.bare_only,
                                                           args.profile)
        try:
            value, parts = evaluate(record.text)
        except InvalidJID as e:
            report.failure(record, str(e))
            continue
        outcome = Outcome(record, value, parts)
        if args.dedupe:
            report.collect(outcome)
        else:
            report.success(outcome)
    if args.dedupe:
        report.write_groups(_group_reader(args))
    sys.stdout.flush()
    if not args.quiet:
        report.write_summary(err, prog, args.dedupe)
    if report_io_error.count:
        return EXIT_USAGE
    return EXIT_INVALID if report.invalid else EXIT_OK


def _utf8(stream: object) -> None:
    # Addresses are Unicode; print them as UTF-8 whatever the locale says.
    reconfigure = getattr(stream, "reconfigure", None)
    if reconfigure is not None:
        reconfigure(encoding="utf-8", errors="backslashreplace")


def _main(argv: Sequence[str] | None, prog: str, err: ErrorStream) -> int:
    parser = _parser(prog, err)
    args = parser.parse_args(argv)
    if args.unescape and args.bare_only:
        parser.error("--bare-only does not apply to --unescape")
    if args.escape and args.bare_only:
        parser.error("--bare-only does not apply to --escape")
    if args.compare:
        for flag, given in (("--bare-only", args.bare_only), ("--dedupe", args.dedupe),
                            ("--profile", args.profile != "rfc6122")):
            if given:
                parser.error(f"{flag} does not apply to --compare")
    if args.profile != "rfc6122" and (args.unescape or args.escape or args.uri):
        parser.error("--profile rfc7622 applies to addresses and their parts only")
    if not args.addresses and not args.file and not _stdin_usable():
        parser.error("give addresses, or -f FILE ('-' for standard input)")
    return _run(args, prog, err)


def _write_failed(prog: str, err: ErrorStream, failure: StreamFailed) -> int:
    """Status 2 once a standard stream failed, said on standard error when
    that is not the one; either way, what the other still holds is let out
    where it can be, and nothing more is tried on the way out."""
    try:
        if failure.stream == "standard error":
            if sys.stdout is not None:
                sys.stdout.flush()
        else:
            err.write(f"{prog}: cannot write {failure.stream}: {failure.reason}\n")
    except (StreamFailed, OSError):
        pass  # that one cannot take it either
    discard(sys.stdout)
    discard(sys.stderr)
    return EXIT_USAGE


def main(argv: Sequence[str] | None = None, prog: str = "quorvel-jid") -> int:
    _utf8(sys.stdout)
    _utf8(sys.stderr)
    err = ErrorStream(sys.stderr)
    try:
        try:
            status = _main(argv, prog, err)
        except SystemExit as e:
            # argparse's --help and --version (0) and its usage errors (2):
            # what they wrote must reach standard output like the rest.
            status = EXIT_OK if e.code is None else e.code if isinstance(e.code, int) else EXIT_USAGE
        if sys.stdout is not None:
            sys.stdout.flush()  # here, not in the interpreter's exit, to see it fail
    except BrokenPipeError:
        # The reader stopped (`| head`): say nothing, and keep the
        # interpreter's final flush from failing on the closed pipe too.
        discard(sys.stdout)
        discard(sys.stderr)
        return EXIT_PIPE
    except StreamFailed as e:
        return _write_failed(prog, err, e)
    except OSError as e:
        # Reading errors are reported where they happen (_records), so what
        # reaches here is standard output failing (a full disk, say).
        return _write_failed(prog, err, StreamFailed("standard output", e.strerror or str(e)))
    except KeyboardInterrupt:
        return 130
    return status
