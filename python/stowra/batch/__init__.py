"""Many shipments at once: ``pack_many`` spreads them over the cores of this machine, or over
an existing Dask cluster, and hands back each outcome as it finishes.

Dask is an optional extra (``pip install 'stowra[batch]'``), imported only when a batch runs.
"""

from __future__ import annotations

import contextlib
import logging
import os
from collections.abc import Iterable, Iterator, Mapping
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from stowra.files import Shipment, ShipmentError, load_shipment
from stowra.item_rows import explain
from stowra.plotting import require
from stowra.searches import DEFAULT_SEARCH, check_search, defaults

__all__ = [
    "ALLOWED_FAILURES",
    "CONNECT_SECONDS",
    "ClusterError",
    "Outcome",
    "connect",
    "gather",
    "pack_many",
]

# Tries after a worker process died under a shipment, before the shipment counts as failed.
ALLOWED_FAILURES = 2
# One thread per search: the cluster already runs a search on every core.
BATCH_THREADS = 1
_DEFAULTS = defaults()
# How long to wait for a scheduler given by address to answer, and then for a worker.
CONNECT_SECONDS = 5.0


class ClusterError(Exception):
    """The cluster cannot be used: no scheduler answers, or it has no workers."""


@dataclass(frozen=True)
class Outcome:
    """One shipment's end: its plan (``result``) or why there is none (``error``).

    ``position`` counts the shipments passed to ``pack_many`` from 0; ``name`` is the file
    name for a shipment read from a file, ``shipments[N]`` for a dict.
    """

    position: int
    name: str
    result: dict[str, Any] | None = None
    error: str | None = None

    @property
    def ok(self) -> bool:
        return self.error is None


def _read(position: int, shipment: Any) -> Outcome | Shipment:
    """A shipment as a name and ``pack`` input, or the outcome saying why it cannot be read."""
    if isinstance(shipment, Shipment):
        return shipment
    if isinstance(shipment, Mapping):
        name = f"shipments[{position}]"
        return Shipment(dict(shipment), [], [], name)
    if isinstance(shipment, list | tuple) and all(isinstance(p, str | Path) for p in shipment):
        paths = list(shipment)
    elif isinstance(shipment, str | os.PathLike):
        paths = [shipment]
    else:
        kind = type(shipment).__name__
        return Outcome(
            position, f"shipments[{position}]", error=f"expected a dict or a file, got {kind}"
        )
    try:
        return load_shipment(paths)
    except ShipmentError as error:
        return Outcome(position, str(paths[0]), error=str(error))


def pack_many(
    shipments: Iterable[Any],
    *,
    scheduler: Any = None,
    workers: int | None = None,
    search: str = DEFAULT_SEARCH,
    pop_size: int = _DEFAULTS["pop_size"],
    generations: int = _DEFAULTS["generations"],
    time_limit: float | None = None,
    threads: int = BATCH_THREADS,
    seed: int = _DEFAULTS["seed"],
    effort: int | None = None,
    balance_limit: float = _DEFAULTS["balance_limit"],
    pickup_order: bool = _DEFAULTS["pickup_order"],
) -> Iterator[Outcome]:
    """Pack every shipment, yielding one ``Outcome`` per shipment as it finishes.

    ``shipments`` holds ``pack`` inputs (dicts), shipment file paths, pairs of CSV paths or
    ``stowra.files.Shipment`` objects. Each plan is exactly what
    ``stowra.searches.run_search`` gives for that input with the same ``search`` and options
    (``None`` for ``time_limit`` or ``effort``: the search's own default). A shipment that
    cannot be read or packed yields an outcome with an error; the others go on. Outcomes
    arrive in the order they finish: ``gather`` puts them back in input order.

    With no ``scheduler``, a Dask ``LocalCluster`` of ``workers`` processes (default: one per
    core), one thread each, runs for the length of the batch. ``scheduler="tcp://host:8786"``
    uses a running cluster instead, whose workers need stowra installed; a client from
    ``connect`` is used as it is. The cluster is reached when iteration starts;
    ``ClusterError`` says when it cannot be.
    """
    require("distributed", "pack_many", "batch")
    if workers is not None and workers < 1:
        raise ValueError(f"workers must be at least 1, got {workers}")
    if workers is not None and scheduler is not None:
        raise ValueError("workers sets the size of the local cluster; a scheduler brings its own")
    check_search(search)
    options = {
        "search": search,
        "effort": effort,
        "pop_size": pop_size,
        "generations": generations,
        "time_limit": time_limit,
        "threads": threads,
        "seed": seed,
        "balance_limit": balance_limit,
        "pickup_order": pickup_order,
    }
    read = [_read(position, shipment) for position, shipment in enumerate(shipments)]
    return _outcomes(read, options, scheduler, workers)


def gather(outcomes: Iterable[Outcome]) -> list[Outcome]:
    """All outcomes, in the order their shipments were given."""
    return sorted(outcomes, key=lambda outcome: outcome.position)


def _no_answer(address: str) -> str:
    return f"no Dask scheduler answers at {address} (waited {CONNECT_SECONDS:g} s)"


def _check_scheduler(address: str) -> None:
    """Raise ``ClusterError`` unless a Dask scheduler answers at ``address`` in time.

    Dask's client bounds its connection attempts but not the wait for the first reply, so a
    server that accepts and stays silent would hold it for as long as that server likes, and
    one speaking another protocol makes it fail with whatever its bytes decode to.
    """
    import asyncio

    from distributed.comm import connect as open_connection
    from distributed.comm.addressing import get_address_host_port

    try:
        get_address_host_port(address)
    except (ValueError, TypeError) as error:
        raise ClusterError(f"{address!r} is not a scheduler address: {error}") from None

    async def identity() -> Any:
        connection = await open_connection(address, timeout=CONNECT_SECONDS)
        try:
            await connection.write({"op": "identity", "reply": True})
            return await connection.read()
        finally:
            connection.abort()

    try:
        reply = asyncio.run(asyncio.wait_for(identity(), CONNECT_SECONDS))
    except (OSError, TimeoutError):
        raise ClusterError(_no_answer(address)) from None
    except Exception:
        reply = None  # bytes of another protocol, read as a message
    if not isinstance(reply, dict) or reply.get("type") != "Scheduler":
        raise ClusterError(f"what answers at {address} is not a Dask scheduler")


@contextlib.contextmanager
def connect(scheduler: Any = None, workers: int | None = None) -> Iterator[Any]:
    """A Dask client for the block: on a local cluster started for it (``scheduler`` None),
    on the running cluster at the address ``scheduler``, or ``scheduler`` itself when it is
    already a client (left open). Raises ``ClusterError`` when no cluster can be had.
    """
    import dask
    from distributed import Client, LocalCluster

    if isinstance(scheduler, Client):
        yield scheduler
        return
    if scheduler is not None:
        if isinstance(scheduler, str):
            _check_scheduler(scheduler)
        try:
            client = Client(scheduler, timeout=CONNECT_SECONDS)
        except (OSError, TimeoutError) as error:
            raise ClusterError(_no_answer(scheduler)) from error
        except (ValueError, TypeError) as error:
            raise ClusterError(f"{scheduler!r} is not a scheduler address: {error}") from error
        with client:
            try:
                client.wait_for_workers(1, timeout=CONNECT_SECONDS)
            except (OSError, TimeoutError) as error:
                raise ClusterError(
                    f"the Dask scheduler at {scheduler} has no workers "
                    f"(waited {CONNECT_SECONDS:g} s)"
                ) from error
            yield client
        return
    with dask.config.set({"distributed.scheduler.allowed-failures": ALLOWED_FAILURES}):
        cluster = LocalCluster(
            n_workers=workers or os.cpu_count() or 1,
            threads_per_worker=1,
            processes=True,
            # No dashboard; the scheduler's small HTTP server takes any free local port, so
            # a second batch on the machine never meets a port in use.
            dashboard_address="127.0.0.1:0",
            scheduler_kwargs={"dashboard": False},
            silence_logs=logging.CRITICAL,
            preload=["stowra.batch.worker"],
        )
    try:
        with Client(cluster) as client:
            yield client
    finally:
        _close_local_cluster(cluster)


def _close_local_cluster(cluster: Any) -> None:
    """Closes the batch's own cluster. When a worker died late in the batch, its nanny may
    still be starting the replacement as the cluster closes, and Dask's close then fails (it
    waits on a process not started yet). By then every outcome is delivered (or the batch
    was abandoned with an error of its own), so a failed close must not end a finished batch
    with an error."""
    with contextlib.suppress(Exception):
        cluster.close()


def _in_rows(error: str, shipment: Shipment) -> str:
    """A refusal of the searches by item id and row as submitted, then the file row if any."""
    text, where = explain(error, shipment.input, shipment.item_sources, shipment.bin_sources)
    return f"{text} ({where})" if where else text


def _failure(error: BaseException) -> str:
    from distributed.scheduler import KilledWorker

    if isinstance(error, KilledWorker):
        return "the worker process packing it died on every try (killed, or out of memory)"
    return f"{type(error).__name__}: {error}"


def _outcomes(
    read: list[Outcome | Shipment],
    options: dict[str, Any],
    scheduler: Any,
    workers: int | None,
) -> Iterator[Outcome]:
    from distributed import as_completed

    from stowra.batch.worker import pack_shipment

    if all(isinstance(shipment, Outcome) for shipment in read):
        yield from read  # nothing to pack: no cluster needed
        return
    with connect(scheduler, workers) as client:
        pending: dict[Any, tuple[int, Shipment]] = {}
        for position, shipment in enumerate(read):
            if isinstance(shipment, Shipment):
                future = client.submit(
                    pack_shipment, shipment.input, options, shipment.name, pure=False
                )
                pending[future] = (position, shipment)
        yield from (outcome for outcome in read if isinstance(outcome, Outcome))
        for future in as_completed(pending):
            position, shipment = pending.pop(future)
            try:
                result, error = future.result()
            except Exception as failure:
                result, error = None, _failure(failure)
            else:
                error = error and _in_rows(error, shipment)
            future.release()
            yield Outcome(position, shipment.name, result, error)
