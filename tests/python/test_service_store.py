"""The job store alone: guarded status changes on a real SQLite file."""

from __future__ import annotations

import sqlite3
import threading
import time
from pathlib import Path

import pytest

from stowra.service.store import JobStore, NewJob

pytestmark = pytest.mark.python_only  # the job store, SQLite alone

JOB = NewJob("s", {}, {"itemTable": [], "binTable": []}, [], {}, [])
PLAN = {"plan": {"cost": 1.0}, "report": [], "leftOut": [], "summary": {"cost": 1.0}}


def change(store: JobStore, job: str, how: str) -> None:
    {
        "finish": lambda: store.finish(job, PLAN),
        "fail": lambda: store.fail(job, "late"),
        "cancel": lambda: store.cancel_or_delete(job),
        "restart": lambda: JobStore(store.path.parent).mark_interrupted(),
    }[how]()


@pytest.mark.parametrize(
    "status, how, after",
    [
        # A search's report counts only while its job is running.
        ("running", "finish", "done"),
        ("running", "fail", "failed"),
        ("cancelled", "finish", "cancelled"),
        ("cancelled", "fail", "cancelled"),
        ("done", "fail", "done"),
        ("failed", "finish", "failed"),
        ("queued", "finish", "queued"),
        # Cancel stops queued and running jobs; a second DELETE removes the ended job.
        ("queued", "cancel", "cancelled"),
        ("running", "cancel", "cancelled"),
        ("done", "cancel", None),
        ("cancelled", "cancel", None),
        # A restart fails only the jobs that were running (test_service_api restarts a service
        # with a running and a done plan); a queued one waits on.
        ("queued", "restart", "queued"),
    ],
)
def test_a_status_changes_only_from_where_it_may(tmp_path: Path, status: str, how: str, after: str | None) -> None:
    store = JobStore(tmp_path)
    job = store.submit(JOB, max_queue=10)  # brought to ``status`` the way the service brings it there
    if status != "queued":
        assert store.claim_next() is not None
    if status in ("done", "failed", "cancelled"):
        change(store, job, {"done": "finish", "failed": "fail", "cancelled": "cancel"}[status])
    change(store, job, how)
    row = store.get(job)
    assert (row["status"] if row else None) == after


def test_queued_jobs_are_claimed_oldest_first(tmp_path: Path) -> None:
    # The queue bound (waiting jobs only) is test_service_api's 429 test.
    store = JobStore(tmp_path)
    jobs = [store.submit(JOB, max_queue=3) for _ in range(3)]
    assert [store.claim_next()[0] for _ in range(3)] == jobs  # type: ignore[index]
    assert store.claim_next() is None
    assert store.counts() == {"queued": 0, "running": 3}


def test_a_claim_reads_and_marks_its_job_in_one_transaction(tmp_path: Path) -> None:
    store = JobStore(tmp_path)
    first, second = (store.submit(JOB, max_queue=2) for _ in range(2))
    other = sqlite3.connect(store.path, isolation_level=None)  # another worker's claim, under way
    other.execute("BEGIN IMMEDIATE")
    claimed: list[str] = []
    claim = threading.Thread(target=lambda: claimed.append(store.claim_next()[0]))  # type: ignore[index]
    claim.start()
    time.sleep(0.5)  # long enough for a claim that read before locking to have read `first` as queued
    other.execute("UPDATE jobs SET status = 'running' WHERE id = ?", (first,))
    other.execute("COMMIT")
    other.close()
    claim.join(timeout=60)
    assert claimed == [second]
