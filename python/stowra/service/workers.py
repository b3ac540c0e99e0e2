"""Searches in worker processes, so the web process only ever waits on a pipe.

Each worker is a spawned process whose descriptor 1 is a pipe: the exact search writes its
"GA: " progress lines there, holding the worker's interpreter lock from start to end, so no
thread in the worker could read them while it runs; the dispatcher thread of the web process
reads each worker's pipe instead, alongside the worker's messages. optimize hands its steps to
a callable instead, which sends each as a message. It hands queued jobs to idle workers,
stores what they report, and replaces a worker that dies (its job fails) or is ended by a
cancel. One more worker answers "would the searches accept this shipment?" before a plan is
queued.
"""

from __future__ import annotations

import contextlib
import functools
import logging
import multiprocessing
import os
import re
import signal
import sqlite3
import threading
import time
from collections.abc import Callable
from multiprocessing.connection import Connection, wait
from typing import Any

from stowra.service.store import JobStore

__all__ = ["CheckUnavailable", "WorkerPool", "parse_progress"]

_GENERATION = re.compile(r"^GA: Generation (\d+) best fitness = (\S+?)(?: \(cost=([^,]+),.*\))?$")
_INITIAL = re.compile(r"^GA: Initial best fitness = (\S+)$")
_TIME_UP = re.compile(r"^GA: Time limit reached at generation (\d+)$")
_CHECK_SECONDS = 120.0
# How long a finished plan that cannot be stored (a full disk, no file descriptors left) is
# kept and tried again before its job is failed instead; and how often it is tried.
STORE_RETRY_SECONDS = 120.0
_RETRY_EVERY = 1.0
# Seconds between two stores of one search's progress.
_PROGRESS_EVERY = 0.25
# Seconds between two log lines about the same trouble: a fault that repeats must not flood
# the log (and fill the disk further).
_LOG_EVERY = 30.0

_log = logging.getLogger("stowra.service")


def parse_progress(
    line: str, previous: dict[str, Any] | None, seconds: float
) -> dict[str, Any] | None:
    """The progress an exact search's "GA: " line reports, carrying over what it does not
    say; else ``None``."""
    before = previous or {"generation": 0, "bestFitness": None, "cost": None}
    found = _GENERATION.match(line)
    if found:
        generation, fitness, cost = found.groups()
        return {
            "generation": int(generation),
            "bestFitness": float(fitness),
            "cost": float(cost) if cost is not None else before["cost"],
            "seconds": seconds,
        }
    found = _INITIAL.match(line)
    if found:
        return {
            "generation": 0,
            "bestFitness": float(found.group(1)),
            "cost": None,
            "seconds": seconds,
        }
    found = _TIME_UP.match(line)
    if found:
        return {**before, "generation": int(found.group(1)), "seconds": seconds}
    return None


def _search(
    problem: dict[str, Any], options: dict[str, Any], progress: Callable[[Any], None]
) -> dict[str, Any]:
    from stowra.searches import run_search

    return run_search(problem, **options, progress=progress)


def _check(problem: dict[str, Any]) -> str | None:
    """The searches' own complaint about the input, or ``None``.

    Both searches check the input alike; the exact search with one plan and no generations is
    the cheapest way to run that check.
    """
    from stowra.searches import run_search

    try:
        run_search(
            problem, search="exact", pop_size=1, generations=0, time_limit=0.0, threads=1, seed=0
        )
    except ValueError as error:
        return str(error)
    return None


def _send_progress(conn: Connection, job: str, step: dict[str, Any]) -> None:
    conn.send(("progress", job, step))


def _worker_main(conn: Connection, stdout: Connection | None) -> None:
    # Ctrl-C reaches the whole process group; the web process ends its workers itself.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    target = stdout.fileno() if stdout is not None else os.open(os.devnull, os.O_WRONLY)
    os.dup2(target, 1)
    while True:
        try:
            message = conn.recv()
        except (EOFError, OSError):
            return
        if message[0] == "check":
            conn.send(("checked", _check(message[1])))
            continue
        _, job, problem, options = message
        reply: tuple[Any, ...]
        try:
            sent = functools.partial(_send_progress, conn, job)
            reply = ("done", job, _search(problem, options, sent))
        except RuntimeError as error:
            reply = ("failed", job, f"the packing core failed: {error}")
        except Exception as error:
            reply = ("failed", job, f"{type(error).__name__}: {error}")
        conn.send(reply)


class CheckUnavailable(Exception):
    """The checking worker did not answer; the shipment was neither accepted nor refused."""


class _Worker:
    """A worker process, its message pipe and, for a searcher, the read end of its stdout."""

    def __init__(self, context: Any, name: str, searcher: bool) -> None:
        mine, theirs = context.Pipe()
        out_read, out_write = context.Pipe(duplex=False) if searcher else (None, None)
        self.process = context.Process(
            target=_worker_main, args=(theirs, out_write), name=name, daemon=True
        )
        self.process.start()
        theirs.close()
        self.conn: Connection = mine
        self.stdout: Connection | None = out_read
        if out_write is not None and out_read is not None:
            out_write.close()
            os.set_blocking(out_read.fileno(), False)
        self.job: str | None = None
        self.started = 0.0
        self.progress: dict[str, Any] | None = None
        self.ended = False
        self.unstored = False
        self.stored_at = 0.0
        self._partial = b""

    def start_job(self, job: str) -> None:
        self.job, self.started, self.progress = job, time.monotonic(), None
        self.unstored, self.stored_at = False, 0.0

    def read_progress(self) -> list[dict[str, Any]]:
        """Progress from the lines the search wrote since the last call (none when idle)."""
        if self.stdout is None:
            return []
        chunks = []
        with contextlib.suppress(BlockingIOError, OSError):
            while chunk := os.read(self.stdout.fileno(), 65536):
                chunks.append(chunk)
        *lines, self._partial = (self._partial + b"".join(chunks)).split(b"\n")
        found = []
        for raw in lines:
            if self.job is None:
                continue
            line = raw.decode("utf-8", "replace").rstrip("\r")
            progress = parse_progress(line, self.progress, time.monotonic() - self.started)
            if progress is not None:
                self.progress = progress
                found.append(progress)
        return found

    def end(self) -> None:
        if self.ended:
            return
        self.ended = True
        with contextlib.suppress(OSError, ValueError):
            self.process.kill()
        self.process.join(10.0)
        self.conn.close()
        if self.stdout is not None:
            self.stdout.close()

    def death(self) -> str:
        code = self.process.exitcode
        if code is not None and code < 0:
            with contextlib.suppress(ValueError):
                return f"ended by signal {signal.Signals(-code).name}"
        return f"exited with status {code}"


class _Unsaved:
    """A worker's last word about a job that could not be stored yet."""

    def __init__(self, kind: str, payload: Any) -> None:
        self.kind, self.payload = kind, payload
        self.since = time.monotonic()
        self.error = ""


class _QuietLog:
    """Logs one line per kind of trouble at most every ``_LOG_EVERY`` seconds."""

    def __init__(self) -> None:
        self._last: dict[str, float] = {}

    def error(self, kind: str, message: str, *args: Any, exc_info: Any = None) -> None:
        now = time.monotonic()
        if now - self._last.get(kind, -_LOG_EVERY) >= _LOG_EVERY:
            self._last[kind] = now
            _log.error(message, *args, exc_info=exc_info)


class WorkerPool:
    """``workers`` search processes and one checking process, fed from the job store."""

    def __init__(
        self,
        store: JobStore,
        workers: int,
        outcome: Callable[[str, dict[str, Any]], dict[str, Any]],
    ) -> None:
        self._store = store
        self._size = workers
        self._outcome = outcome
        self._context = multiprocessing.get_context("spawn")
        self._lock = threading.Lock()
        self._check_lock = threading.Lock()
        self._workers: list[_Worker] = []
        self._checker: _Worker | None = None
        self._stopping = False
        self._unsaved: dict[str, _Unsaved] = {}
        self._quiet = _QuietLog()
        self._wake_read, self._wake_write = os.pipe()
        self._thread = threading.Thread(target=self._dispatch, name="stowra-dispatch", daemon=True)

    def start(self) -> None:
        self._workers = [self._spawn(n) for n in range(self._size)]
        self._checker = self._spawn(-1)
        self._thread.start()

    def _spawn(self, number: int) -> _Worker:
        name = "stowra-check" if number < 0 else f"stowra-search-{number}"
        return _Worker(self._context, name, searcher=number >= 0)

    def stop(self) -> None:
        """End every worker; jobs still running stay so and count as interrupted next start."""
        self._stopping = True
        self.wake()
        if self._thread.is_alive():
            self._thread.join(30.0)
        with self._lock:
            for worker in [*self._workers, *([self._checker] if self._checker else [])]:
                worker.end()
            self._workers = []
            self._checker = None
        os.close(self._wake_read)
        os.close(self._wake_write)

    def wake(self) -> None:
        """Tell the dispatcher something changed (a job was queued, or it should stop)."""
        with contextlib.suppress(OSError):
            os.write(self._wake_write, b"!")

    def unsaved(self) -> int:
        """How many ended jobs wait to be stored (the store could not be written)."""
        with self._lock:
            return len(self._unsaved)

    def running(self) -> dict[str, int]:
        """Process id of the worker searching each running job."""
        with self._lock:
            return {w.job: w.process.pid for w in self._workers if w.job and w.process.pid}

    def cancel(self, job: str) -> None:
        """End the worker searching ``job``, if any; the dispatcher starts a new one."""
        with self._lock:
            for worker in self._workers:
                if worker.job == job:
                    with contextlib.suppress(OSError, ValueError):
                        worker.process.kill()

    def check(self, problem: dict[str, Any]) -> str | None:
        """The searches' message refusing ``problem``, or ``None`` when it is accepted."""
        with self._check_lock:
            for _attempt in range(2):
                checker = self._checker
                if checker is None:
                    raise CheckUnavailable("the service is stopping")
                timed_out = False
                try:
                    checker.conn.send(("check", problem))
                    if checker.conn.poll(_CHECK_SECONDS):
                        _, message = checker.conn.recv()
                        return message  # type: ignore[no-any-return]
                    timed_out = True
                except (EOFError, OSError):
                    pass  # the checker died (killed, out of memory): start another
                checker.end()
                self._checker = self._spawn(-1)
                if timed_out:
                    raise CheckUnavailable(
                        f"checking the shipment took over {_CHECK_SECONDS:g} seconds"
                    )
            raise CheckUnavailable("the shipment could not be checked; try again")

    def _dispatch(self) -> None:
        # Nothing may end this loop but a stop: every plan queued later would wait forever.
        while not self._stopping:
            try:
                self._round()
            except Exception as error:
                self._quiet.error("dispatch", "the dispatcher met an error", exc_info=error)
                # Out of file descriptors, say: a moment for them to come back, no busy loop.
                with contextlib.suppress(OSError, ValueError):
                    wait([self._wake_read], timeout=_RETRY_EVERY)

    def _round(self) -> None:
        with self._lock:
            self._save_unsaved()
            self._assign()
            watched: list[Any] = [self._wake_read]
            for worker in self._workers:
                if not worker.ended:
                    watched += [worker.conn, worker.stdout, worker.process.sentinel]
        timeout = _RETRY_EVERY if self._unsaved else 5.0
        if any(worker.unstored for worker in self._workers):
            timeout = _PROGRESS_EVERY  # the latest progress is stored even if no line follows
        ready = wait(watched, timeout=timeout)
        if self._wake_read in ready:
            os.read(self._wake_read, 4096)
        with self._lock:
            if self._stopping:
                return
            for index, worker in enumerate(self._workers):
                if not worker.ended:
                    self._drain(worker)
                if worker.ended or not worker.process.is_alive():
                    self._replace(index, worker)

    def _assign(self) -> None:
        if self._store.write_error is not None:
            return  # a store that cannot take a finished plan gets no new search
        for worker in self._workers:
            if worker.job is None and worker.process.is_alive():
                claimed = self._store.claim_next()
                if claimed is None:
                    return
                job, problem, options = claimed
                worker.start_job(job)
                # A worker that just died is handled as a death after the wait.
                with contextlib.suppress(OSError):
                    worker.conn.send(("run", job, problem, options))

    def _drain(self, worker: _Worker) -> None:
        self._report_progress(worker)
        try:
            while worker.conn.poll():
                self._handle(worker, worker.conn.recv())
        except (EOFError, OSError):
            pass

    def _report_progress(self, worker: _Worker, last: bool = False) -> None:
        # A fast search reports thousands of generations a second: the store gets the latest
        # at most every _PROGRESS_EVERY seconds, and the last one when the search ends.
        if worker.read_progress():
            worker.unstored = True
        self._store_progress(worker, last)

    def _store_progress(self, worker: _Worker, last: bool) -> None:
        now = time.monotonic()
        due = last or now - worker.stored_at >= _PROGRESS_EVERY
        if worker.unstored and due and worker.job is not None and worker.progress is not None:
            self._set_progress(worker.job, worker.progress)
            worker.unstored, worker.stored_at = False, now

    def _set_progress(self, job: str, progress: dict[str, Any]) -> None:
        # Progress is a courtesy: a store that cannot take it loses nothing that matters.
        try:
            self._store.set_progress(job, progress)
        except sqlite3.Error as error:
            self._quiet.error("progress", "cannot store a plan's progress: %s", error)

    def _handle(self, worker: _Worker, message: tuple[Any, ...]) -> None:
        kind, job = message[0], message[1]
        if job != worker.job:
            return
        if kind == "progress":  # optimize's step, as its callable got it
            worker.progress, worker.unstored = message[2], True
            self._store_progress(worker, last=False)
            return
        # The worker wrote its last lines before it answered: they are in the pipe by now.
        self._report_progress(worker, last=True)
        worker.job = None
        if kind == "done":
            result = message[2]
            if worker.progress is not None and worker.progress["cost"] != result.get("cost"):
                # The best plan so far is now the plan: no line may have named its cost (none
                # improved on the first), and a search may improve its plan after its last line.
                self._set_progress(job, {**worker.progress, "cost": result.get("cost")})
        self._save(job, _Unsaved(kind, message[2]))

    def _save(self, job: str, ended: _Unsaved) -> None:
        """Store how a job ended; kept to be tried again while the store cannot be written."""
        try:
            if ended.kind == "failed":
                self._store.fail(job, ended.payload)
            else:
                try:
                    outcome = self._outcome(job, ended.payload)
                except sqlite3.Error:
                    raise
                except Exception as error:  # a report that cannot be built fails its job only
                    self._store.fail(job, f"the plan was found but could not be stored: {error}")
                else:
                    self._store.finish(job, outcome)
        except sqlite3.Error as error:
            ended.error = str(error)
            self._unsaved[job] = ended
            self._quiet.error("store", "cannot store how plan %s ended: %s", job, error)
            return
        self._unsaved.pop(job, None)

    def _save_unsaved(self) -> None:
        for job, ended in list(self._unsaved.items()):
            if ended.kind == "done" and time.monotonic() - ended.since > STORE_RETRY_SECONDS:
                # Given up: failing the job needs far less room than its plan.
                ended = _Unsaved(
                    "failed", f"the plan was found but could not be stored: {ended.error}"
                )
            self._save(job, ended)

    def _replace(self, index: int, worker: _Worker) -> None:
        worker.end()
        if worker.job is not None:
            job, worker.job = worker.job, None
            message = f"the search stopped unexpectedly: its worker process was {worker.death()}"
            self._save(job, _Unsaved("failed", message))
        self._workers[index] = self._spawn(index)
