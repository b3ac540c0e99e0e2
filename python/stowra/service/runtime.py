"""The state a running app shares among its requests: settings, job store, worker pool."""

from __future__ import annotations

import json
import secrets
import threading
from typing import Annotated, Any

from fastapi import Depends, Request

from stowra.files import RowSource
from stowra.service.plans import ClientError, outcome, sources_from_json
from stowra.service.settings import Settings
from stowra.service.store import JobStore
from stowra.service.workers import WorkerPool

__all__ = ["Finished", "Running", "Service", "require_token", "service"]

Finished = tuple[dict[str, Any], dict[str, Any], list[RowSource]]


class Service:
    def __init__(self, settings: Settings) -> None:
        self.settings = settings
        self.store = JobStore(settings.data)
        self.pictures = settings.data / "pictures"
        self.picture_lock = threading.Lock()
        self._pool: WorkerPool | None = None

    def start(self) -> None:
        self.store.mark_interrupted()
        self._pool = WorkerPool(self.store, self.settings.workers, self._outcome)
        self._pool.start()

    def stop(self) -> None:
        if self._pool is not None:
            self._pool.stop()
            self._pool = None

    @property
    def pool(self) -> WorkerPool:
        if self._pool is None:
            raise ClientError(503, "the service is not running its workers")
        return self._pool

    def _outcome(self, job: str, result: dict[str, Any]) -> dict[str, Any]:
        row = self.store.get(job)
        if row is None:
            raise LookupError(f"plan {job} is gone")
        problem = json.loads(row["input"])
        sources = sources_from_json(json.loads(row["sources"]))
        return outcome(result, problem, sources, json.loads(row["options"]))

    def job(self, job: str) -> Any:
        row = self.store.get(job)
        if row is None:
            raise ClientError(404, f"no plan with id {job!r}")
        return row

    def finished(self, job: str) -> Finished:
        """A done plan's result, input and row sources; 409 while it is not done."""
        row = self.job(job)
        if row["status"] != "done":
            raise ClientError(409, f"plan {job} is {row['status']}, not done: nothing to download")
        sources = sources_from_json(json.loads(row["sources"]))
        return json.loads(row["result"]), json.loads(row["input"]), sources


def service(request: Request) -> Service:
    found: Service = request.app.state.service
    return found


def require_token(request: Request) -> None:
    """Every /api call carries the service's token when it has one."""
    token = service(request).settings.token
    if token is None:
        return
    given = request.headers.get("authorization", "")
    scheme, _, value = given.partition(" ")
    if scheme.lower() != "bearer" or not secrets.compare_digest(
        value.strip().encode(), token.encode()
    ):
        raise ClientError(
            401,
            "this service needs a token: send the header 'Authorization: Bearer TOKEN'",
            {"WWW-Authenticate": "Bearer"},
        )


# A handler's parameter for the app's shared state.
Running = Annotated[Service, Depends(service)]
