"""The job store alone: guarded status changes on a real SQLite file."""

from __future__ import annotations

from pathlib import Path

import pytest

from stowra.service.store import INTERRUPTED, JobStore, NewJob, QueueFull

JOB = NewJob("s", {}, {"itemTable": [], "binTable": []}, [], {}, [])
PLAN = {"plan": {"cost": 1.0}, "report": [], "leftOut": [], "summary": {"cost": 1.0}}


def job_in(store: JobStore, status: str) -> str:
    """A job brought to ``status`` the way the service brings it there."""
    job = store.submit(JOB, max_queue=10)
    if status != "queued":
        assert store.claim_next() is not None
    if status in ("done", "failed", "cancelled"):
        {
            "done": lambda: store.finish(job, PLAN),
            "failed": lambda: store.fail(job, "x"),
            "cancelled": lambda: store.cancel_or_delete(job),
        }[status]()
    return job


@pytest.mark.parametrize(
    "status, change, after",
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
        # A restart fails only the jobs that were running.
        ("running", "restart", "failed"),
        ("queued", "restart", "queued"),
        ("done", "restart", "done"),
    ],
)
def test_a_status_changes_only_from_where_it_may(tmp_path: Path, status: str, change: str, after: str | None) -> None:
    store = JobStore(tmp_path)
    job = job_in(store, status)
    {
        "finish": lambda: store.finish(job, PLAN),
        "fail": lambda: store.fail(job, "late"),
        "cancel": lambda: store.cancel_or_delete(job),
        "restart": lambda: JobStore(tmp_path).mark_interrupted(),
    }[change]()
    row = store.get(job)
    assert (row["status"] if row else None) == after
    if change == "restart" and after == "failed":
        assert row is not None and row["error"] == INTERRUPTED


def test_queued_jobs_are_claimed_oldest_first_and_the_queue_bound_counts_only_waiting(
    tmp_path: Path,
) -> None:
    store = JobStore(tmp_path)
    first, second = (store.submit(JOB, max_queue=2) for _ in range(2))
    with pytest.raises(QueueFull):
        store.submit(JOB, max_queue=2)
    claimed = store.claim_next()
    assert claimed is not None and claimed[0] == first
    third = store.submit(JOB, max_queue=2)  # the running job no longer counts
    assert [store.claim_next()[0] for _ in range(2)] == [second, third]  # type: ignore[index]
    assert store.claim_next() is None
    assert store.counts() == {"queued": 0, "running": 3}
