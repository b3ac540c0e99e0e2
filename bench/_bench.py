"""What the benchmark scripts share: options, builds of this tree and of a baseline commit,
timing statistics and the markdown section each script writes.

Every script `bench/<name>.py` runs on its own, accepts `--out FILE.md` (its section goes there)
and `--quick` (a short smoke run). `bench/run_all.py` builds once and hands the builds to the
scripts through the environment variables below, so they do not build again.
"""

from __future__ import annotations

import argparse
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_BASELINE = "ad2bcdc"

# Set by run_all.py for the scripts it starts.
ENV_BASELINE_PYTHON = "STOWRA_BENCH_BASELINE_PYTHON"  # interpreter with the baseline installed
ENV_BASELINE_BUILD = "STOWRA_BENCH_BASELINE_BUILD"  # C++ benchmark build of the baseline
ENV_BASELINE_COMMIT = "STOWRA_BENCH_BASELINE_COMMIT"
ENV_BUILD = "STOWRA_BENCH_BUILD"  # C++ benchmark build of this tree
# Set to 1 by `run_all.py --no-baseline`: an environment variable rather than a flag, since not
# every script compares with a baseline.
ENV_NO_BASELINE = "STOWRA_BENCH_NO_BASELINE"

# cmake and ninja may come from this interpreter's environment (the test extra) without it
# being activated.
os.environ["PATH"] = os.pathsep.join([str(Path(sys.executable).parent), os.environ["PATH"]])


def arguments(description: str, compares: bool = True) -> argparse.ArgumentParser:
    """The options every script takes; those of runs and a baseline when it `compares` timings
    of this tree with a baseline commit."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--out", type=Path, help="write the markdown section to this file")
    parser.add_argument("--quick", action="store_true", help="a short smoke run")
    if not compares:
        return parser
    parser.add_argument("--runs", type=int, help="runs per figure (default 5, quick 1)")
    parser.add_argument(
        "--baseline",
        default=os.environ.get(ENV_BASELINE_COMMIT, DEFAULT_BASELINE),
        help=f"commit to compare with (default {DEFAULT_BASELINE})",
    )
    parser.add_argument(
        "--no-baseline",
        action="store_true",
        default=os.environ.get(ENV_NO_BASELINE) == "1",
        help="measure this tree only, no comparison",
    )
    return parser


def runs_for(options: argparse.Namespace) -> int:
    return options.runs or (1 if options.quick else 5)


def run(command: list[str], cwd: Path | None = None, env: dict | None = None) -> str:
    """Runs a command, fails with its output when it fails, returns its standard output."""
    done = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(
            f"{shlex.join(command)} failed ({done.returncode}):\n{done.stdout[-3000:]}"
            f"\n{done.stderr[-3000:]}"
        )
    return done.stdout


def build_cpp(source: Path, build: Path) -> Path:
    """Configures (once) and builds the C++ benchmarks of the tree at `source` into `build`."""
    if not (build / "build.ninja").exists():
        options = ["-DCMAKE_BUILD_TYPE=Release", "-DSTOWRA_BUILD_BENCHMARKS=ON"]
        run(["cmake", "-S", str(source), "-B", str(build), "-G", "Ninja", *options])
    run(["cmake", "--build", str(build)])
    return build


def current_build() -> Path:
    """The C++ benchmark build of this tree (built here when run_all has not done it)."""
    given = os.environ.get(ENV_BUILD)
    return Path(given) if given else build_cpp(ROOT, ROOT / "build" / "bench")


@dataclass
class Baseline:
    commit: str  # full hash
    python: Path  # interpreter of a virtual environment with that commit's package installed
    build: Path  # its C++ benchmarks


def prepare_baseline(commit: str) -> Baseline:
    """Builds `commit` outside the working tree: its files exported to a fresh directory under
    build/bench-baseline/, its own virtual environment and its own C++ build. Reused when done
    before; the working tree and other checkouts are not touched."""
    full = run(["git", "-C", str(ROOT), "rev-parse", "--verify", f"{commit}^{{commit}}"]).strip()
    home = ROOT / "build" / "bench-baseline" / full[:12]
    ready = home / "ready"
    if ready.exists():
        return Baseline(full, home / "venv" / "bin" / "python", home / "cpp")
    shutil.rmtree(home, ignore_errors=True)
    source = home / "source"
    source.mkdir(parents=True)
    with tempfile.TemporaryFile() as archive:
        subprocess.run(["git", "-C", str(ROOT), "archive", full], stdout=archive, check=True)
        archive.seek(0)
        subprocess.run(["tar", "-x", "-C", str(source)], stdin=archive, check=True)
    run([sys.executable, "-m", "venv", str(home / "venv")])
    python = home / "venv" / "bin" / "python"
    run(
        [str(python), "-m", "pip", "install", "--quiet", "--disable-pip-version-check", str(source)]
    )
    build_cpp(source, home / "cpp")
    ready.write_text(full + "\n")
    return Baseline(full, python, home / "cpp")


def baseline_for(options: argparse.Namespace) -> Baseline | None:
    """The baseline handed over by run_all, or one built now; None with --no-baseline."""
    if options.no_baseline:
        return None
    python = os.environ.get(ENV_BASELINE_PYTHON)
    build = os.environ.get(ENV_BASELINE_BUILD)
    if python and build:
        return Baseline(
            os.environ.get(ENV_BASELINE_COMMIT, options.baseline), Path(python), Path(build)
        )
    return prepare_baseline(options.baseline)


def spread(values: list[float]) -> tuple[float, float, float]:
    """Minimum, median and maximum."""
    return min(values), statistics.median(values), max(values)


def cell(values: list[float], digits: int = 2) -> str:
    """'median (min-max)', or the single value."""
    low, middle, high = spread(values)
    if len(values) == 1:
        return f"{middle:.{digits}f}"
    return f"{middle:.{digits}f} ({low:.{digits}f}-{high:.{digits}f})"


def verdict(value: float, target: float, higher_is_better: bool = True) -> str:
    """'met' or 'missed by N%' for a figure against its target."""
    met = value >= target if higher_is_better else value <= target
    if met:
        return "met"
    shortfall = (target - value) / target if higher_is_better else (value - target) / target
    return f"missed by {shortfall:.0%}"


def load_average() -> str:
    try:
        return " ".join(f"{value:.2f}" for value in os.getloadavg())
    except OSError:
        return "unknown"


def machine() -> str:
    """One markdown paragraph describing the machine and toolchain."""
    cpu = platform.processor() or platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    memory = "unknown"
    try:
        for line in Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemTotal"):
                memory = f"{int(line.split()[1]) / 1024 / 1024:.1f} GiB"
    except OSError:
        pass
    compiler = "unknown"
    if shutil.which("c++"):
        compiler = run(["c++", "--version"]).splitlines()[0]
    return (
        f"{cpu}, {os.cpu_count()} logical CPUs, {memory} memory; "
        f"{platform.system()} {platform.release()}; Python {platform.python_version()}; "
        f"{compiler}."
    )


def write_section(
    options: argparse.Namespace,
    title: str,
    method: str,
    conditions: tuple[str, Baseline | None],
    table: list[list[str]],
    targets: list[str],
) -> str:
    """The script's markdown section (heading, how it measured, command, table, targets),
    printed and written to --out when given. `conditions` is the load average when the script
    started and the baseline compared with."""
    load_before, baseline = conditions
    intro = f"{method} Load average before {load_before}, after {load_average()}."
    if baseline:
        intro += f" Before: {baseline.commit[:12]}; after: this tree."
    shown, arguments_left = [], iter(sys.argv[1:])
    for argument in arguments_left:  # the output file is not part of what was measured
        if argument == "--out":
            next(arguments_left, None)
        elif not argument.startswith("--out="):
            shown.append(argument)
    command = "python " + shlex.join([f"bench/{Path(sys.argv[0]).name}", *shown])
    lines = [f"## {title}", "", intro, "", f"Command: `{command}`", ""]
    lines.append("| " + " | ".join(table[0]) + " |")
    lines.append("|" + "---|" * len(table[0]))
    lines += ["| " + " | ".join(row) + " |" for row in table[1:]]
    if targets:
        lines += ["", "Targets:", ""] + [f"- {target}" for target in targets]
    text = "\n".join(lines) + "\n"
    print(text)
    if options.out:
        options.out.write_text(text)
    return text
