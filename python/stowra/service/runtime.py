"""The state a running app shares among its requests: settings, job store, worker pool."""

from __future__ import annotations

import contextlib
import gzip
import json
import logging
import os
import secrets
import threading
from collections.abc import Callable
from pathlib import Path
from typing import Annotated, Any

from fastapi import Depends, Request

from stowra.atomic_write import TEMPORARY_MARK
from stowra.files import RowSource
from stowra.service.plans import ClientError, outcome, sources_from_json
from stowra.service.settings import Settings
from stowra.service.store import JobStore, lock_folder
from stowra.service.workers import WorkerPool

__all__ = ["Finished", "Running", "Service", "require_token", "service"]

Finished = tuple[dict[str, Any], dict[str, Any], list[RowSource]]

_log = logging.getLogger("stowra.service")
_LOCKS = 64


class Service:
    def __init__(self, settings: Settings) -> None:
        self.settings = settings
        self.pictures = settings.data / "pictures"
        self.picture_lock = threading.Lock()
        self.artefacts = settings.data / "artefacts"
        # Requests for one plan's download wait for the one making it instead of each making
        # their own; other plans' downloads go on alongside.
        self._making = [threading.Lock() for _ in range(_LOCKS)]
        self._store: JobStore | None = None
        self._lock: int | None = None
        self._pool: WorkerPool | None = None

    def open(self) -> None:
        """Hold the data folder and open its store, so a folder that cannot be used is found
        before the service says it is serving. Raises ``DataFolderBusy``, ``OSError`` or
        ``sqlite3.Error``."""
        if self._store is not None:
            return
        lock = lock_folder(self.settings.data)
        try:
            self._store = JobStore(self.settings.data)
        except BaseException:
            os.close(lock)
            raise
        self._lock = lock

    def start(self) -> None:
        self.open()
        self.store.mark_interrupted()
        # What a killed service was writing, and files of plans deleted while it ran.
        known = self.store.ids()
        for path in self._kept():
            name = path.name
            if name.startswith(".") or name.split(".", 1)[0] not in known:
                with contextlib.suppress(OSError):
                    path.unlink()
        self._pool = WorkerPool(self.store, self.settings.workers, self._outcome)
        self._pool.start()

    def stop(self) -> None:
        if self._pool is not None:
            self._pool.stop()
            self._pool = None
        if self._lock is not None:
            os.close(self._lock)
            self._lock, self._store = None, None

    @property
    def store(self) -> JobStore:
        if self._store is None:
            raise ClientError(503, "the service has not opened its data folder")
        return self._store

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

    def artefact(self, job: str, name: str, make: Callable[[], bytes]) -> bytes:
        """A done plan's download, gzip-compressed: made on the first request, then kept."""
        path = self.artefacts / f"{job}.{name}.gz"
        with self._making[hash((job, name)) % _LOCKS]:
            try:
                return path.read_bytes()
            except FileNotFoundError:
                pass
            data = gzip.compress(make(), compresslevel=6, mtime=0)
            try:
                self.artefacts.mkdir(parents=True, exist_ok=True)
                self.keep(job, path, lambda temporary: temporary.write_bytes(data))
            except OSError as error:  # a full disk costs the next request time, nothing else
                _log.warning("cannot keep %s: %s", path, error.strerror or error)
            return data

    def keep(self, job: str, path: Path, write: Callable[[Path], None]) -> None:
        """``write`` a file of ``job`` to a temporary name, renamed to ``path`` only if the job
        is still stored; 404 if it was deleted meanwhile.

        The rename happens inside the store's write transaction, so a DELETE lands wholly
        before it (nothing is kept) or wholly after it (its sweep removes the file).
        """
        temporary = path.with_name(f".{job}.{secrets.token_hex(4)}{TEMPORARY_MARK}{path.suffix}")
        try:
            write(temporary)
            with self.store.holding(job) as present:
                if present:
                    os.replace(temporary, path)
        finally:
            temporary.unlink(missing_ok=True)
        if not present:
            raise ClientError(404, f"no plan with id {job!r}")

    def _kept(self) -> list[Path]:
        return [path for folder in (self.artefacts, self.pictures) for path in _listed(folder)]

    def forget(self, job: str) -> None:
        """Remove what was kept for a deleted plan, and what is being written for it: a writer
        that finishes later finds the plan gone and keeps nothing."""
        for path in self._kept():
            if path.name.lstrip(".").split(".", 1)[0] == job:
                with contextlib.suppress(OSError):
                    path.unlink()

    def finished(self, job: str) -> Finished:
        """A done plan's result, input and row sources; 409 while it is not done."""
        row = self.job(job)
        if row["status"] != "done":
            raise ClientError(409, f"plan {job} is {row['status']}, not done: nothing to download")
        sources = sources_from_json(json.loads(row["sources"]))
        return json.loads(row["result"]), json.loads(row["input"]), sources


def _listed(folder: Path) -> list[Path]:
    try:
        return list(folder.iterdir())
    except OSError:  # not made yet
        return []


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
        message = (
            "wrong token: the service refused the token sent"
            if value.strip()
            else "this service needs a token: send the header 'Authorization: Bearer TOKEN'"
        )
        raise ClientError(401, message, {"WWW-Authenticate": "Bearer"})


# A handler's parameter for the app's shared state.
Running = Annotated[Service, Depends(service)]
