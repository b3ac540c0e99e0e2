"""``stowra batch``: pack many shipment files, writing a plan per shipment and a summary.

Each plan file also records the digest of the input it was made from and the search options,
so ``--resume`` can tell a finished shipment from one that changed since.
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import hashlib
import io
import json
import sys
import tempfile
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

from stowra.atomic_write import write_text
from stowra.batch import BATCH_THREADS, ClusterError, Outcome, connect, pack_many
from stowra.cli.common import (
    EXIT_FAILED,
    EXIT_OK,
    PACK_DEFAULTS,
    UsageError,
    add_paper_option,
    add_search_options,
    workers,
)
from stowra.csv_cells import safe_rows
from stowra.files import SINGLE_FILE_SUFFIXES, Shipment, ShipmentError, load_shipment
from stowra.plotting import require
from stowra.reading import Reading, read_plan
from stowra.searches import OPTIONS

__all__ = [
    "PLAN_SUFFIX",
    "SUMMARY_COLUMNS",
    "add_parser",
    "find_shipments",
    "input_digest",
    "run_batch",
    "summary_row",
]

PLAN_SUFFIX = ".plan.json"
SUMMARY_COLUMNS = (
    "shipment",
    "status",
    "containers_by_type",
    "cost",
    "utilization",
    "items_placed",
    "items_left_out",
    "search_seconds",
    "error",
    "left_out_reasons",
)
# Options that change a plan; the thread count does not, so a resumed run may change it.
_PLAN_OPTIONS = ("search", *(o.name for o in OPTIONS if o.name != "threads"))


def add_parser(commands: Any) -> None:
    batch = commands.add_parser(
        "batch",
        help="pack many shipment files at once, on every core or on a Dask cluster",
        description="Pack every shipment and write OUTDIR/NAME.plan.json for each (NAME is "
        "the file name without its suffix) and OUTDIR/summary.csv with one row per shipment. "
        "Each plan is the one 'stowra pack' gives for the same file and search options. "
        "Exit status: 0 all packed, 1 some shipments failed (the others are still written), "
        "2 bad usage.",
        epilog="To spread a batch over several machines, start a Dask cluster on them "
        "('dask scheduler' on one, 'dask worker tcp://HOST:8786' on each, all with stowra "
        "installed) and pass --scheduler tcp://HOST:8786.",
    )
    batch.add_argument(
        "shipments",
        nargs="+",
        metavar="SHIPMENT",
        help="a shipment file (.json, .toml or .xlsx), or a folder: its shipment files are packed",
    )
    batch.add_argument(
        "-o", "--output-dir", required=True, metavar="OUTDIR", help="folder for the plans"
    )
    add_search_options(batch, {**PACK_DEFAULTS, "threads": BATCH_THREADS})
    cluster = batch.add_argument_group("cluster")
    cluster.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="a running Dask scheduler, e.g. tcp://HOST:8786 (default: a cluster on this machine)",
    )
    cluster.add_argument(
        "--workers",
        type=workers,
        metavar="N",
        help="worker processes of the cluster on this machine (default: one per core)",
    )
    output = batch.add_argument_group("output")
    output.add_argument("--png", action="store_true", help="draw each plan into NAME.png")
    output.add_argument(
        "--instructions", action="store_true", help="write each loading list as NAME.loading.csv"
    )
    output.add_argument(
        "--pdf",
        action="store_true",
        help="write each loading sheet as NAME.sheet.pdf (needs stowra[pdf])",
    )
    add_paper_option(output)
    output.add_argument(
        "--resume",
        action="store_true",
        help="skip shipments whose plan file was made from the same input and search options",
    )
    output.add_argument(
        "-q", "--quiet", action="store_true", help="no progress bar and no closing line"
    )


@dataclass
class _Job:
    """One shipment file of the batch and, once known, its summary row."""

    path: Path
    name: str
    shipment: Shipment | None = None
    digest: str = ""
    row: dict[str, Any] = field(default_factory=dict)


def _is_shipment_file(path: Path) -> bool:
    name = path.name
    # A link to a file that is gone is kept, so the batch reports it instead of passing over
    # it in silence.
    return (
        path.suffix.lower() in SINGLE_FILE_SUFFIXES
        and not name.startswith(".")
        and not name.endswith(PLAN_SUFFIX)
        and (path.is_file() or (path.is_symlink() and not path.exists()))
    )


def find_shipments(arguments: Sequence[str], outdir: Path) -> list[Path]:
    """The shipment files named, folders replaced by their shipment files in name order.

    A folder is searched one level deep for the single-file formats; the output folder and
    plan files are passed over, so a batch can write next to its shipments and be run again.
    """
    found: list[Path] = []
    for argument in arguments:
        path = Path(argument)
        if path.is_dir():
            if path.resolve() != outdir.resolve():
                found += sorted(p for p in path.iterdir() if _is_shipment_file(p))
        elif path.exists():
            found.append(path)
        else:
            raise UsageError(f"{argument}: no such file or folder")
    unique = list({path.resolve(): path for path in found}.values())
    if not unique:
        suffixes = ", ".join(SINGLE_FILE_SUFFIXES)
        raise UsageError(f"no shipment files found (a folder is searched for {suffixes} files)")
    by_name: dict[str, list[Path]] = {}
    for path in unique:
        by_name.setdefault(path.stem, []).append(path)
    for name, paths in by_name.items():
        if len(paths) > 1:
            listed = ", ".join(str(path) for path in paths)
            raise UsageError(f"{listed} would all be written as {name}{PLAN_SUFFIX}: rename one")
    return unique


def input_digest(problem: dict[str, Any]) -> str:
    """A fingerprint of ``pack``'s input: equal tables give equal digests, whatever the file."""
    text = json.dumps(problem, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    return "sha256:" + hashlib.sha256(text.encode("utf-8")).hexdigest()


def summary_row(
    path: Path, status: str, reading: Reading | None = None, error: str = ""
) -> dict[str, Any]:
    """A shipment's row of the summary, keyed by ``SUMMARY_COLUMNS``."""
    row: dict[str, Any] = dict.fromkeys(SUMMARY_COLUMNS, "")
    row.update(shipment=str(path), status=status, error=error)
    if reading is not None:
        totals = reading.totals
        row.update(
            containers_by_type=totals.mix_text,
            cost=f"{totals.cost:g}",
            utilization=f"{totals.utilization:.4f}",
            items_placed=totals.placed,
            items_left_out=totals.left_out,
            search_seconds=f"{totals.seconds:.3f}",
            left_out_reasons="; ".join(group.text for group in reading.left_out),
        )
    return row


def _row(job: _Job, status: str, reading: Reading | None = None, error: str = "") -> None:
    job.row = summary_row(job.path, status, reading, error)


def _reading(job: _Job, plan: dict[str, Any], args: argparse.Namespace) -> Reading:
    assert job.shipment is not None
    sources = job.shipment.item_sources or None
    return read_plan(
        plan, job.shipment.input, sources, search=args.search, balance_limit=args.balance_limit
    )


def _stored_plan(path: Path, digest: str, options: dict[str, Any]) -> dict[str, Any] | None:
    """The plan in ``path`` if it was made from this input with these options."""
    try:
        plan = json.loads(path.read_text(encoding="utf-8"))
        record = plan["batch"]
        same = all(record["options"].get(key) == options[key] for key in _PLAN_OPTIONS)
        return plan if same and record["inputDigest"] == digest else None
    except (OSError, ValueError, KeyError, TypeError, AttributeError):
        return None  # missing, half-written by some other tool, or not ours: pack it again


class _WriteError(Exception):
    """One of a shipment's files could not be made; the message names it."""


def _making(path: Path, make: Callable[[], None]) -> None:
    # Any error drawing or writing one shipment's file is that shipment's failure alone.
    try:
        make()
    except OSError as error:
        raise _WriteError(f"cannot write {path}: {error.strerror or error}") from None
    except Exception as error:
        raise _WriteError(f"cannot make {path}: {type(error).__name__}: {error}") from None


def _write_files(
    job: _Job,
    outdir: Path,
    plan: dict[str, Any],
    reading: Reading,
    args: argparse.Namespace,
    *,
    fresh: bool,
) -> None:
    """The picture and loading list if asked and missing, then the plan file last of all.

    Written in that order, an existing plan file means the shipment's files are all there.
    """
    assert job.shipment is not None
    problem = job.shipment.input
    png, loading = outdir / f"{job.name}.png", outdir / f"{job.name}.loading.csv"
    sheet = outdir / f"{job.name}.sheet.pdf"
    if args.png and (fresh or not png.exists()):
        from stowra.plotting import plot, save_png

        _making(png, lambda: save_png(plot(plan, problem, reading), png))
    if args.instructions and (fresh or not loading.exists()):
        from stowra.loading_list import write_loading_list

        _making(loading, lambda: write_loading_list(loading, reading))
    if args.pdf and (fresh or not sheet.exists()):
        from stowra.loading_sheet import write_loading_sheet

        title, paper = job.shipment.name, args.paper
        _making(
            sheet,
            lambda: write_loading_sheet(sheet, reading, problem, title=title, paper=paper),
        )
    if fresh:
        record = {"shipment": str(job.path), "inputDigest": job.digest, "options": _options(args)}
        target = outdir / f"{job.name}{PLAN_SUFFIX}"
        text = json.dumps({**plan, "batch": record}, indent=2) + "\n"
        _making(target, lambda: write_text(target, text))


def _options(args: argparse.Namespace) -> dict[str, Any]:
    return {key: getattr(args, key) for key in (*_PLAN_OPTIONS, "threads")}


def _write_summary(path: Path, jobs: list[_Job]) -> None:
    text = io.StringIO()
    writer = csv.DictWriter(text, fieldnames=SUMMARY_COLUMNS, lineterminator="\n")
    writer.writeheader()
    writer.writerows(safe_rows(job.row for job in jobs))
    try:
        write_text(path, text.getvalue())
    except OSError as error:
        raise UsageError(f"cannot write {path}: {error.strerror or error}") from None


def _check_writable(outdir: Path) -> None:
    """Refuse an output folder that cannot be written before any search runs."""
    try:
        outdir.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryFile(dir=outdir):
            pass
    except OSError as error:
        raise UsageError(
            f"cannot write in the output folder {outdir}: {error.strerror or error}"
        ) from None


class _Progress:
    """The progress bar on stderr: shipments ok, failed, skipped and left, with the time."""

    def __init__(self, total: int, quiet: bool) -> None:
        from tqdm import tqdm

        self.counts = {"ok": 0, "failed": 0, "skipped": 0}
        self.bar = tqdm(total=total, unit="shipment", file=sys.stderr, disable=quiet)

    def count(self, status: str) -> None:
        self.counts[status] += 1
        left = self.bar.total - self.bar.n - 1
        counts = ", ".join(f"{name} {count}" for name, count in self.counts.items())
        self.bar.set_postfix_str(f"{counts}, left {left}", refresh=False)
        self.bar.update(1)

    def say(self, message: str) -> None:
        self.bar.write(f"stowra: {message}", file=sys.stderr)

    @contextlib.contextmanager
    def shown(self) -> Iterator[_Progress]:
        with self.bar:
            yield self


def _prepare(job: _Job, outdir: Path, args: argparse.Namespace, progress: _Progress) -> bool:
    """Read the job's file; False when it is done already (failed to read, or resumed)."""
    try:
        job.shipment = load_shipment([job.path])
    except ShipmentError as error:
        _row(job, "failed", error=str(error))
        progress.say(f"{job.path}: failed: {error}")
        progress.count("failed")
        return False
    for warning in job.shipment.warnings:
        progress.say(f"warning: {warning}")
    job.digest = input_digest(job.shipment.input)
    stored = args.resume and _stored_plan(
        outdir / f"{job.name}{PLAN_SUFFIX}", job.digest, _options(args)
    )
    if not stored:
        return True
    stored.pop("batch")
    reading = _reading(job, stored, args)
    try:
        _write_files(job, outdir, stored, reading, args, fresh=False)
    except _WriteError as error:
        _row(job, "failed", error=str(error))
        progress.say(f"{job.path}: failed: {error}")
        progress.count("failed")
        return False
    _row(job, "skipped", reading)
    progress.count("skipped")
    return False


def _finish(
    job: _Job, outcome: Outcome, outdir: Path, args: argparse.Namespace, progress: _Progress
) -> None:
    assert job.shipment is not None
    error, reading = outcome.error, None
    if outcome.result is not None:
        reading = _reading(job, outcome.result, args)
        try:
            _write_files(job, outdir, outcome.result, reading, args, fresh=True)
        except _WriteError as failure:
            error = str(failure)
    if error is None:
        _row(job, "ok", reading)
        progress.count("ok")
        return
    _row(job, "failed", error=error)
    progress.say(f"{job.path}: failed: {error}")
    progress.count("failed")


def run_batch(args: argparse.Namespace) -> int:
    """``stowra batch``: returns the exit status (0 all packed, 1 some failed)."""
    require("distributed", "stowra batch", "batch")
    require("tqdm", "stowra batch", "batch")
    if args.png:
        require("matplotlib", "--png")
        require("mpl_toolkits.mplot3d", "--png")
    if args.pdf:
        from stowra.loading_sheet import require_pdf

        require_pdf("--pdf")
    if args.workers is not None and args.scheduler is not None:
        raise UsageError(
            "--workers sizes the local cluster; with --scheduler the cluster has its own"
        )
    outdir = Path(args.output_dir)
    paths = find_shipments(args.shipments, outdir)
    _check_writable(outdir)

    jobs = [_Job(path, path.stem) for path in paths]
    with contextlib.ExitStack() as stack:
        try:
            client = stack.enter_context(connect(args.scheduler, args.workers))
        except ClusterError as error:
            raise UsageError(str(error)) from None
        progress = stack.enter_context(_Progress(len(jobs), args.quiet).shown())
        todo = [job for job in jobs if _prepare(job, outdir, args, progress)]
        outcomes = pack_many([job.shipment for job in todo], scheduler=client, **_options(args))
        with contextlib.closing(outcomes):
            for outcome in outcomes:
                _finish(todo[outcome.position], outcome, outdir, args, progress)
    _write_summary(outdir / "summary.csv", jobs)
    counts = progress.counts
    if not args.quiet:
        print(
            f"{len(jobs)} shipments: {counts['ok']} ok, {counts['failed']} failed, "
            f"{counts['skipped']} skipped; summary in {outdir / 'summary.csv'}"
        )
    return EXIT_FAILED if counts["failed"] else EXIT_OK
