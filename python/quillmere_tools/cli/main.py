"""``quillmere smooth``: the command line, its exit statuses and messages.

Exit status 0 on success, 1 for a bad row (``INPUT:LINE: reason``), an
unreadable input or an unwritable output (one line on standard error), 2 for
a usage error (argparse's message), 130 after Ctrl-C (143 after SIGTERM).
"""

from __future__ import annotations

import argparse
import csv
import math
import os
import signal
import sys
import time
from typing import Any, Sequence

PROG = "quillmere"


class Terminated(KeyboardInterrupt):
    """SIGTERM, handled like Ctrl-C (no output left behind)."""


def _version() -> str:
    try:
        from importlib.metadata import version

        number = version("quillmere")
    except Exception:  # noqa: BLE001 - a copy that is not installed
        number = "unknown"
    import quillmere_tools

    threads = quillmere_tools.num_threads()
    return f"{PROG} {number} ({threads} worker thread{'s' if threads != 1 else ''})"


class _VersionAction(argparse.Action):
    def __init__(self, option_strings: Sequence[str], dest: str = argparse.SUPPRESS, **kwargs: Any) -> None:
        super().__init__(option_strings, dest=dest, nargs=0, default=argparse.SUPPRESS, **kwargs)

    def __call__(self, parser: argparse.ArgumentParser, *args: Any, **kwargs: Any) -> None:
        print(_version())
        parser.exit()


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be >= 0, not {value}")
    if value >= 2**64:
        raise argparse.ArgumentTypeError(f"must be < 2**64, not {value}")
    return value


def _threads(text: str) -> int:
    value = _count(text)
    if not 1 <= value <= 65535:
        raise argparse.ArgumentTypeError(f"must be between 1 and 65535, not {value}")
    return value


def _tolerance(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if math.isnan(value):
        raise argparse.ArgumentTypeError("must be a number, not nan")
    return value


def build_parser() -> argparse.ArgumentParser:
    from .formats import FORMATS

    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Smooth (Chaikin) and simplify (Ramer-Douglas-Peucker) the polygons of a file.",
    )
    parser.add_argument("--version", action=_VersionAction, help="print the version and the worker-thread count")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    smooth = commands.add_parser(
        "smooth",
        help="smooth and simplify every polygon of a file",
        description=(
            "Smooth (Chaikin corner cutting, ITERATIONS passes) and simplify (Ramer-Douglas-Peucker with "
            "TOLERANCE, in the coordinates' units) every Polygon and MultiPolygon of INPUT, writing the "
            "same format. Formats: GeoJSON document (.geojson .json), newline-delimited GeoJSON or RFC 8142 "
            "sequences (.geojsonl .geojsons .ndjson .jsonl), WKT lines (.wkt .txt), CSV/TSV with a WKT or "
            "GeoJSON column (.csv .tsv), GeoParquet (.parquet); .gz .bz2 .xz handled transparently."
        ),
    )
    smooth.add_argument("input", metavar="INPUT", help="input file, or - for standard input")
    smooth.add_argument(
        "-o", "--output", metavar="OUTPUT", default="-", help="output file (default: - for standard output)"
    )
    smooth.add_argument(
        "-k", "--iterations", metavar="ITERATIONS", type=_count, required=True, help="Chaikin passes (0: none)"
    )
    smooth.add_argument(
        "-t", "--tolerance", metavar="TOLERANCE", type=_tolerance, required=True,
        help="simplification tolerance in the coordinates' units (<= 0: none)",
    )  # fmt: skip
    smooth.add_argument(
        "--format", choices=sorted(FORMATS), metavar="FORMAT",
        help="input format, when the name does not tell it: " + ", ".join(sorted(FORMATS)),
    )  # fmt: skip
    smooth.add_argument(
        "--column", metavar="NAME",
        help="geometry column of CSV/TSV (default: the first named wkt, geometry or geom) or GeoParquet "
        "(default: the primary geometry column)",
    )  # fmt: skip
    smooth.add_argument(
        "--on-invalid", choices=("raise", "skip"), default="raise",
        help="raise: stop at the first bad row (exit status 1); skip: leave it out (CSV, GeoParquet: empty "
        "its geometry) and go on",
    )  # fmt: skip
    smooth.add_argument(
        "--rejects", metavar="FILE",
        help="with --on-invalid skip: write each bad row there, one JSON object a line with its line number and reason",
    )  # fmt: skip
    smooth.add_argument(
        "--keep-collapsed", action="store_true",
        help="keep rings that collapse below 4 positions (by default they are dropped, as GEOS does)",
    )  # fmt: skip
    smooth.add_argument("--threads", metavar="N", type=_threads, help="worker threads (default: one per processor)")
    smooth.add_argument("-q", "--quiet", action="store_true", help="no progress bar and no closing summary")
    smooth.set_defaults(usage=smooth)  # for usage errors found after parsing
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.command is None:
        parser.print_usage(sys.stderr)
        print(f"{PROG}: error: a command is required (smooth)", file=sys.stderr)
        return 2
    return _smooth(args, parser)


def _smooth(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    from .formats import FAMILY_NAMES, FORMATS, format_of

    usage: argparse.ArgumentParser = args.usage
    name = args.format or (None if args.input == "-" else format_of(args.input))
    if name is None:
        if args.input == "-":
            usage.error("standard input needs --format")
        usage.error(f"cannot tell the format of {args.input!r} from its name: give --format")
    family = FORMATS[name]
    if args.output != "-":
        out_name = format_of(args.output)
        if out_name is not None and FORMATS[out_name] != family:
            usage.error(
                f"the output is written in the input's format ({FAMILY_NAMES[family]}), "
                f"not {FAMILY_NAMES[FORMATS[out_name]]}: quillmere smooth does not convert"
            )
    if args.rejects is not None:
        if args.on_invalid != "skip":
            usage.error("--rejects needs --on-invalid skip")
        if args.rejects == "-" or (args.output != "-" and os.path.abspath(args.rejects) == os.path.abspath(args.output)):
            usage.error("--rejects must be a file other than the output")
    if args.column is not None and family in ("geojson", "geojsonl", "wkt"):
        usage.error(f"--column applies to CSV, TSV and GeoParquet, not {FAMILY_NAMES[family]}")
    if family == "parquet" and args.output == "-" and sys.stdout.isatty():
        usage.error("GeoParquet is not written to a terminal: give -o OUTPUT")

    # Before the first native call, which starts the worker pool.
    if args.threads is not None:
        os.environ["RAYON_NUM_THREADS"] = str(args.threads)
    csv.field_size_limit(sys.maxsize)
    previous_term = signal.signal(signal.SIGTERM, _on_sigterm) if _main_thread() else None
    try:
        return _execute(args, family)
    finally:
        if previous_term is not None:
            signal.signal(signal.SIGTERM, previous_term)


def _main_thread() -> bool:
    import threading

    return threading.current_thread() is threading.main_thread()


def _on_sigterm(signum: int, frame: Any) -> None:
    raise Terminated


def _execute(args: argparse.Namespace, family: str) -> int:
    from .atomic import AtomicOutput, OutputError
    from .files import InputError, open_input
    from .formats import Job, run
    from .progress import Progress
    from .rows import Rejects, RowError, Settings

    started = time.perf_counter()
    opened: list[Any] = []
    source = None
    progress = None
    label = "<stdin>" if args.input == "-" else args.input
    try:
        try:
            source = open_input(args.input)
            output = AtomicOutput(args.output)
            opened.append(output)
            rejects_output = AtomicOutput(args.rejects) if args.rejects else None
            if rejects_output is not None:
                opened.append(rejects_output)
            progress = Progress(source.size, quiet=args.quiet, label=os.path.basename(label))
            settings = Settings(args.iterations, args.tolerance, args.keep_collapsed, args.on_invalid == "skip")
            rejects = Rejects(
                rejects_output.stream if rejects_output else None, key="row" if family == "parquet" else "line"
            )
            job = Job(source, output, settings, rejects, progress, column=args.column)
            run(job, family)
            progress.close()
            for each in opened:
                each.commit()
        finally:
            if progress is not None:
                progress.close()
            if source is not None:
                source.close()
    except RowError as error:
        return _fail(opened, f"{label}:{error.line}: {error.reason}", 1, args)
    except (InputError, OutputError) as error:
        return _fail(opened, f"{PROG}: {error}", 1, args)
    except Terminated:
        return _fail(opened, f"{PROG}: terminated", 143, args)
    except KeyboardInterrupt:
        return _fail(opened, f"{PROG}: interrupted", 130, args)
    except MemoryError:
        return _fail(opened, f"{PROG}: out of memory", 1, args)
    except ImportError as error:
        return _fail(opened, f"{PROG}: {error}", 1, args)
    except OSError as error:
        return _fail(opened, f"{PROG}: {error.strerror or error}", 1, args)
    except BaseException:
        _discard(opened)
        raise
    if not args.quiet:
        noun = job.noun if job.rows_written == 1 else job.noun + "s"
        print(
            f"{PROG}: {job.rows_written:,} {noun} written, {rejects.count:,} rejected, "
            f"{time.perf_counter() - started:.2f} s",
            file=sys.stderr,
        )
    return 0


def _discard(opened: list[Any]) -> None:
    for each in opened:
        each.discard()


def _fail(opened: list[Any], message: str, status: int, args: argparse.Namespace) -> int:
    # A second Ctrl-C must not stop the clean-up half-way.
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN) if _main_thread() else None
    try:
        _discard(opened)
        print(message, file=sys.stderr)
    finally:
        if previous is not None:
            signal.signal(signal.SIGINT, previous)
    if args.output == "-":
        # Nothing more reaches a closed pipe, not even the interpreter's last flush.
        try:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
        except (OSError, ValueError):
            pass
    return status
