"""On the batch tests' PYTHONPATH: in every process (the command, the cluster's workers), the first
STOWRA_TEST_STALL_TRIES tries (default 1) at shipment STOWRA_TEST_STALL_SHIPMENT (name or stem)
write their pid to STOWRA_TEST_STALL_DIR/try-N.pid and sleep, for a test to kill mid-shipment."""

import os

if os.environ.get("STOWRA_TEST_STALL_SHIPMENT"):
    import time
    from pathlib import Path

    import stowra.batch.worker as worker

    real = worker.pack_shipment

    def stalled_first(name):
        if os.environ["STOWRA_TEST_STALL_SHIPMENT"] not in (name, Path(name).stem):
            return False
        folder = Path(os.environ["STOWRA_TEST_STALL_DIR"])
        # Linked into place whole, so a reader never sees an empty file.
        written = folder / f".{os.getpid()}.pid"
        written.write_text(str(os.getpid()))
        try:
            for attempt in range(1, int(os.environ.get("STOWRA_TEST_STALL_TRIES", "1")) + 1):
                try:
                    os.link(written, folder / f"try-{attempt}.pid")
                    return True
                except FileExistsError:  # an earlier try stalled here already
                    continue
            return False
        finally:
            written.unlink(missing_ok=True)

    def pack_shipment(problem, options, name):
        if stalled_first(name):
            time.sleep(600)  # the GIL is free, so the worker still answers its scheduler
        return real(problem, options, name)

    worker.pack_shipment = pack_shipment
