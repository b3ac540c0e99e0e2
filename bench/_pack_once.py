"""One `stowra.pack` in a fresh process, with whichever stowra this interpreter has installed.

Prints one JSON line: wall seconds of the call, the plan's fitness and bin count (to check that
versions agree), and the process's peak resident memory in MiB. The search's progress lines are
sent to /dev/null.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import sys
import time

from _loads import LOADS

import stowra


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--load", choices=sorted(LOADS), required=True)
    parser.add_argument("--items", type=int, required=True)
    parser.add_argument("--pop-size", type=int, default=100)
    parser.add_argument("--generations", type=int, default=50)
    parser.add_argument("--threads", type=int, default=0)
    options = parser.parse_args()
    load = LOADS[options.load](options.items)

    sys.stdout.flush()
    saved = os.dup(1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)  # the progress lines are written straight to file descriptor 1
    try:
        start = time.perf_counter()
        plan = stowra.pack(
            load,
            pop_size=options.pop_size,
            generations=options.generations,
            time_limit=0,
            threads=options.threads,
        )
        wall = time.perf_counter() - start
    finally:
        os.dup2(saved, 1)
        os.close(saved)
        os.close(devnull)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(
        json.dumps(
            {
                "wall": wall,
                "fitness": plan["fitness"],
                "bins": plan["totalBins"],
                "peakMiB": peak,
            }
        )
    )


if __name__ == "__main__":
    main()
