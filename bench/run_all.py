"""Builds what the benchmarks need, runs every benchmark of the repository and writes
bench/RESULTS.md: the machine on top, then each benchmark's own section.

Run from any virtual environment with Python 3.11 (the package is installed into it):

    python bench/run_all.py [--baseline ad2bcdc | --no-baseline] [--quick] [--out FILE]

The baseline commit is exported to build/bench-baseline/ with its own virtual environment and
C++ build (reused on later runs); nothing else on the machine is touched. Every bench/*.py
except this one and the helper modules (names starting with "_") runs as a subprocess with
`--out` (and `--quick`; the baseline, or that there is none, goes through the environment);
a benchmark that fails gets a section saying so, and the exit status is then 1.
"""

from __future__ import annotations

import argparse
import os
import shlex
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from _bench import (
    DEFAULT_BASELINE,
    ENV_BASELINE_BUILD,
    ENV_BASELINE_COMMIT,
    ENV_BASELINE_PYTHON,
    ENV_BUILD,
    ENV_NO_BASELINE,
    ROOT,
    build_cpp,
    load_average,
    machine,
    prepare_baseline,
    run,
)

BENCH = Path(__file__).resolve().parent


def benchmark_scripts() -> list[Path]:
    return sorted(
        path
        for path in BENCH.glob("*.py")
        if path.name != Path(__file__).name and not path.name.startswith("_")
    )


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--baseline", default=DEFAULT_BASELINE, help="commit to compare with")
    parser.add_argument("--no-baseline", action="store_true", help="no before-and-after figures")
    parser.add_argument("--quick", action="store_true", help="a short smoke run of everything")
    parser.add_argument("--out", type=Path, default=BENCH / "RESULTS.md")
    options = parser.parse_args()
    started = time.monotonic()

    # The test extra holds everything the scripts use: cmake and ninja, dask, the service.
    print("Installing this tree and building its C++ benchmarks...", flush=True)
    run(
        [
            sys.executable,
            "-m",
            "pip",
            "install",
            "--quiet",
            "--disable-pip-version-check",
            f"{ROOT}[test]",
        ]
    )
    env = dict(os.environ, **{ENV_BUILD: str(build_cpp(ROOT, ROOT / "build" / "bench"))})
    compared = "none"
    if options.no_baseline:
        env[ENV_NO_BASELINE] = "1"
    else:
        print(f"Building the baseline {options.baseline}...", flush=True)
        baseline = prepare_baseline(options.baseline)
        compared = baseline.commit
        env.update(
            {
                ENV_BASELINE_PYTHON: str(baseline.python),
                ENV_BASELINE_BUILD: str(baseline.build),
                ENV_BASELINE_COMMIT: baseline.commit,
            }
        )
    head = run(["git", "-C", str(ROOT), "rev-parse", "HEAD"]).strip()
    dirty = run(["git", "-C", str(ROOT), "status", "--porcelain", "--untracked-files=no"]).strip()

    sections = []
    failed = []
    for script in benchmark_scripts():
        print(f"Running {script.name}...", flush=True)
        with tempfile.TemporaryDirectory() as scratch:
            section = Path(scratch) / "section.md"
            command = [sys.executable, str(script), "--out", str(section)]
            if options.quick:
                command.append("--quick")
            done = subprocess.run(command, cwd=ROOT, env=env, capture_output=True, text=True)
            if done.returncode == 0 and section.exists():
                sections.append(section.read_text())
            else:
                failed.append(script.name)
                sections.append(
                    f"## {script.name}: FAILED (exit status {done.returncode})\n\n"
                    f"```\n{(done.stdout + done.stderr)[-4000:]}\n```\n"
                )

    this_command = shlex.join(["python", "bench/run_all.py", *sys.argv[1:]])
    header = [
        "# Benchmark results",
        "",
        f"Machine: {machine()}",
        "",
        f"Tree: {head[:12]}{' with uncommitted changes' if dirty else ''}; "
        f"baseline: {compared[:12]}. Written {time.strftime('%Y-%m-%d %H:%M %Z')} by "
        f"`{this_command}` in {(time.monotonic() - started) / 60:.1f} minutes; "
        f"load average at the end {load_average()}.",
        "",
        "Timings on a shared machine are noisy: each figure is the median of several runs, "
        "with the fastest and slowest in brackets, and before/after runs alternate.",
        "",
    ]
    options.out.write_text("\n".join(header) + "\n" + "\n".join(sections))
    print(f"Wrote {options.out}")
    if failed:
        print("Failed: " + ", ".join(failed), file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
