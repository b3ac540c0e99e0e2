"""What a running service is allowed to do: where it keeps plans, how many searches it runs at
once, and the limits on what a client may ask. The command line gives them; the token may come
from the environment instead."""

from __future__ import annotations

import os
from collections.abc import Mapping
from dataclasses import dataclass, field
from pathlib import Path

__all__ = ["Settings", "default_workers"]


def default_workers() -> int:
    """Processors less one (the web process needs one), at least one."""
    return max((os.cpu_count() or 1) - 1, 1)


@dataclass(frozen=True)
class Settings:
    data: Path = Path("stowra-data")
    workers: int = field(default_factory=default_workers)
    token: str | None = None
    max_body: int = 5 * 1024 * 1024
    max_time_limit: float = 300.0
    max_items: int = 20_000
    max_queue: int = 100
    # Seconds a client is told to wait when the queue is full.
    retry_after: int = 10
    # Connections at once, and seconds a client may take to send a request's head and body.
    max_connections: int = 500
    header_timeout: float = 10.0
    body_timeout: float = 60.0
    # Host names, besides localhost and any address, the service may be reached by.
    allowed_hosts: tuple[str, ...] = ()

    def __post_init__(self) -> None:
        object.__setattr__(self, "data", Path(self.data))
        object.__setattr__(self, "allowed_hosts", tuple(self.allowed_hosts))
        for name in ("workers", "max_body", "max_items", "max_queue", "max_connections"):
            if getattr(self, name) < 1:
                raise ValueError(f"{name.replace('_', '-')} must be at least 1")
        for name in ("max_time_limit", "header_timeout", "body_timeout"):
            if not getattr(self, name) > 0:
                raise ValueError(f"{name.replace('_', '-')} must be above 0 seconds")
        if self.token is not None and not self.token.strip():
            raise ValueError("token must not be empty")

    @classmethod
    def from_environment(
        cls, environ: Mapping[str, str] | None = None, **given: object
    ) -> Settings:
        """The settings given (from the command line), the rest from the environment:
        ``STOWRA_TOKEN`` is the token when none is given."""
        environ = os.environ if environ is None else environ
        if given.get("token") is None and environ.get("STOWRA_TOKEN"):
            given["token"] = environ["STOWRA_TOKEN"]
        return cls(**given)  # type: ignore[arg-type]

    def default_threads(self) -> int:
        """Threads per search when a plan does not say: the processors shared among workers."""
        return max((os.cpu_count() or 1) // self.workers, 1)
