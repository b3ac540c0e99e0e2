"""Plans as jobs in one SQLite file: what was submitted, the options, status, progress and the
outcome.

Every change of status is one guarded UPDATE in its own transaction, so a job is never seen
half-finished, and a late message about a job that was cancelled or already failed changes
nothing. The file is in WAL mode: readers (the API) never wait for the writer (the workers'
reports).
"""

from __future__ import annotations

import contextlib
import fcntl
import json
import math
import os
import secrets
import sqlite3
import time
from collections.abc import Iterator
from dataclasses import dataclass
from pathlib import Path
from typing import Any

__all__ = [
    "INTERRUPTED",
    "STATUSES",
    "DataFolderBusy",
    "JobStore",
    "NewJob",
    "QueueFull",
    "lock_folder",
    "to_json",
]

STATUSES = ("queued", "running", "done", "failed", "cancelled")
INTERRUPTED = "interrupted: the service stopped while this plan was being searched"

_SCHEMA = """
CREATE TABLE IF NOT EXISTS jobs (
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    id TEXT NOT NULL UNIQUE,
    name TEXT NOT NULL,
    status TEXT NOT NULL,
    created REAL NOT NULL,
    started REAL,
    finished REAL,
    attempts INTEGER NOT NULL DEFAULT 0,
    submitted TEXT NOT NULL,
    input TEXT NOT NULL,
    sources TEXT NOT NULL,
    options TEXT NOT NULL,
    warnings TEXT NOT NULL,
    progress TEXT,
    result TEXT,
    report TEXT,
    left_out TEXT,
    summary TEXT,
    error TEXT
);
CREATE INDEX IF NOT EXISTS jobs_by_status ON jobs (status, seq);
CREATE TABLE IF NOT EXISTS opened (at REAL NOT NULL);
"""


class QueueFull(Exception):
    """As many plans are waiting as the service allows."""


class DataFolderBusy(Exception):
    """Another running service holds the data folder."""


def lock_folder(folder: Path) -> int:
    """Hold ``folder`` for this process: the open descriptor of its lock file.

    Two services on one folder would each take the other's running plans for interrupted
    ones; the lock goes when the descriptor is closed or the process ends, however it ends.
    """
    folder.mkdir(parents=True, exist_ok=True)
    descriptor = os.open(folder / "service.lock", os.O_RDWR | os.O_CREAT, 0o644)
    try:
        fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        holder = os.read(descriptor, 32).decode("ascii", "replace").strip()
        os.close(descriptor)
        by = f" (process {holder})" if holder.isdigit() else ""
        raise DataFolderBusy(
            f"the data folder {folder} is in use by another stowra service{by}"
        ) from None
    except BaseException:
        os.close(descriptor)
        raise
    os.ftruncate(descriptor, 0)
    os.pwrite(descriptor, str(os.getpid()).encode(), 0)
    return descriptor


def _finite(value: Any) -> Any:
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {key: _finite(item) for key, item in value.items()}
    if isinstance(value, list | tuple):
        return [_finite(item) for item in value]
    return value


def to_json(value: Any) -> str:
    """Strict JSON text; a float that is not finite becomes null (browsers refuse NaN)."""
    try:
        return json.dumps(value, allow_nan=False, separators=(",", ":"))
    except ValueError:
        return json.dumps(_finite(value), allow_nan=False, separators=(",", ":"))


@dataclass(frozen=True)
class NewJob:
    name: str
    submitted: Any
    input: dict[str, Any]
    sources: list[list[Any]]
    options: dict[str, Any]
    warnings: list[str]


class JobStore:
    def __init__(self, folder: Path) -> None:
        folder.mkdir(parents=True, exist_ok=True)
        self.path = folder / "plans.sqlite3"
        # The last write's error, None once a write succeeds: the service is unhealthy while
        # it cannot store what its workers find.
        self.write_error: str | None = None
        with self._connect() as db:
            db.execute("PRAGMA journal_mode=WAL")
            db.executescript(_SCHEMA)
        # A real write, so a folder that can be read but not written is found now, not when
        # the first plan is finished.
        with self._write() as db:
            db.execute("DELETE FROM opened")
            db.execute("INSERT INTO opened (at) VALUES (?)", (time.time(),))

    @contextlib.contextmanager
    def _connect(self) -> Iterator[sqlite3.Connection]:
        # A connection per use: handlers run on any thread of the server's pool.
        db = sqlite3.connect(self.path, timeout=30.0, isolation_level=None)
        db.row_factory = sqlite3.Row
        try:
            yield db
        finally:
            db.close()

    @contextlib.contextmanager
    def _write(self) -> Iterator[sqlite3.Connection]:
        try:
            with self._connect() as db:
                db.execute("BEGIN IMMEDIATE")
                try:
                    yield db
                except BaseException:
                    with contextlib.suppress(sqlite3.Error):
                        db.execute("ROLLBACK")
                    raise
                db.execute("COMMIT")
        except sqlite3.Error as error:
            self.write_error = str(error)
            raise
        self.write_error = None

    def mark_interrupted(self) -> int:
        """Fail the jobs a previous run left running; returns how many."""
        with self._write() as db:
            cursor = db.execute(
                "UPDATE jobs SET status = 'failed', error = ?, finished = ? "
                "WHERE status = 'running'",
                (INTERRUPTED, time.time()),
            )
            return cursor.rowcount

    def submit(self, job: NewJob, max_queue: int) -> str:
        """Queue a job and return its id; ``QueueFull`` when ``max_queue`` are waiting."""
        job_id = secrets.token_hex(6)
        with self._write() as db:
            (waiting,) = db.execute("SELECT COUNT(*) FROM jobs WHERE status = 'queued'").fetchone()
            if waiting >= max_queue:
                raise QueueFull
            db.execute(
                "INSERT INTO jobs (id, name, status, created, submitted, input, sources, "
                "options, warnings) VALUES (?, ?, 'queued', ?, ?, ?, ?, ?, ?)",
                (
                    job_id,
                    job.name,
                    time.time(),
                    to_json(job.submitted),
                    to_json(job.input),
                    to_json(job.sources),
                    to_json(job.options),
                    to_json(job.warnings),
                ),
            )
        return job_id

    def claim_next(self) -> tuple[str, dict[str, Any], dict[str, Any]] | None:
        """The oldest queued job, now marked running: (id, pack's input, options)."""
        with self._write() as db:
            row = db.execute(
                "SELECT id, input, options FROM jobs WHERE status = 'queued' ORDER BY seq LIMIT 1"
            ).fetchone()
            if row is None:
                return None
            db.execute(
                "UPDATE jobs SET status = 'running', started = ?, attempts = attempts + 1 "
                "WHERE id = ?",
                (time.time(), row["id"]),
            )
        return row["id"], json.loads(row["input"]), json.loads(row["options"])

    def set_progress(self, job_id: str, progress: dict[str, Any]) -> None:
        with self._write() as db:
            db.execute(
                "UPDATE jobs SET progress = ? WHERE id = ? AND status = 'running'",
                (to_json(progress), job_id),
            )

    def finish(self, job_id: str, outcome: dict[str, Any]) -> bool:
        """Store a running job's result, report, left-out items and summary as done."""
        with self._write() as db:
            cursor = db.execute(
                "UPDATE jobs SET status = 'done', result = ?, report = ?, left_out = ?, "
                "summary = ?, finished = ? WHERE id = ? AND status = 'running'",
                (
                    to_json(outcome["plan"]),
                    to_json(outcome["report"]),
                    to_json(outcome["leftOut"]),
                    to_json(outcome["summary"]),
                    time.time(),
                    job_id,
                ),
            )
            return cursor.rowcount == 1

    def fail(self, job_id: str, message: str) -> bool:
        """Mark a running job failed; a job already ended (cancelled, say) stays as it is."""
        with self._write() as db:
            cursor = db.execute(
                "UPDATE jobs SET status = 'failed', error = ?, finished = ? "
                "WHERE id = ? AND status = 'running'",
                (message, time.time(), job_id),
            )
            return cursor.rowcount == 1

    def cancel_or_delete(self, job_id: str) -> str | None:
        """Cancel a queued or running job, or delete an ended one.

        Returns the status the job had (``None`` when there is no such job).
        """
        with self._write() as db:
            row = db.execute("SELECT status FROM jobs WHERE id = ?", (job_id,)).fetchone()
            if row is None:
                return None
            if row["status"] in ("queued", "running"):
                db.execute(
                    "UPDATE jobs SET status = 'cancelled', error = 'cancelled', finished = ? "
                    "WHERE id = ?",
                    (time.time(), job_id),
                )
            else:
                db.execute("DELETE FROM jobs WHERE id = ?", (job_id,))
            return str(row["status"])

    @contextlib.contextmanager
    def holding(self, job_id: str) -> Iterator[bool]:
        """Whether the job is still stored, kept true for the block: it runs in a write
        transaction, so a delete waits for it to end."""
        with self._write() as db:
            yield db.execute("SELECT 1 FROM jobs WHERE id = ?", (job_id,)).fetchone() is not None

    def ids(self) -> set[str]:
        with self._connect() as db:
            return {row["id"] for row in db.execute("SELECT id FROM jobs")}

    def get(self, job_id: str) -> sqlite3.Row | None:
        with self._connect() as db:
            row: sqlite3.Row | None = db.execute(
                "SELECT * FROM jobs WHERE id = ?", (job_id,)
            ).fetchone()
            return row

    def recent(self, limit: int) -> list[dict[str, Any]]:
        """The newest jobs first, without their plans."""
        with self._connect() as db:
            rows = db.execute(
                "SELECT id, name, status, created, finished, summary, error "
                "FROM jobs ORDER BY seq DESC LIMIT ?",
                (limit,),
            ).fetchall()
        return [
            {
                "id": row["id"],
                "name": row["name"],
                "status": row["status"],
                "created": row["created"],
                "finished": row["finished"],
                "summary": json.loads(row["summary"]) if row["summary"] else None,
                "error": row["error"],
            }
            for row in rows
        ]

    def counts(self) -> dict[str, int]:
        with self._connect() as db:
            rows = db.execute(
                "SELECT status, COUNT(*) AS n FROM jobs "
                "WHERE status IN ('queued', 'running') GROUP BY status"
            ).fetchall()
        found = {row["status"]: row["n"] for row in rows}
        return {"queued": found.get("queued", 0), "running": found.get("running", 0)}
