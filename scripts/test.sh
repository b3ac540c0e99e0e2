#!/usr/bin/env bash
# Installs what the tests need, then runs every test: style checks, the C++ unit tests of the
# core (plain and under AddressSanitizer + UndefinedBehaviorSanitizer) and the Python tests of
# the installed package (plain, then again against an extension built with the sanitizers).
# Arguments are handed to both pytest runs.
set -euo pipefail
cd "$(dirname "$0")/.."

# System packages: doctest for the C++ tests, Debian's chromium for the browser tests (driven
# by Playwright, which is pointed at it instead of downloading a browser of its own).
missing=()
[ -f /usr/include/doctest/doctest.h ] || missing+=(doctest-dev)
[ -x /usr/bin/chromium ] || missing+=(chromium)
if [ "${#missing[@]}" -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The package is built in the folder of the C++ tests, with them and the benchmarks, so the
# core is compiled once for both (and once more, below, with the sanitizers).
python3 -m pip install --quiet --disable-pip-version-check -C build-dir=build/test-release \
  -C cmake.define.STOWRA_BUILD_TESTS=ON -C cmake.define.STOWRA_BUILD_BENCHMARKS=ON \
  -C cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON ".[test]"

python3 scripts/check_layers.py
python3 -m ruff check .
python3 -m ruff format --check .
git ls-files -co --exclude-standard 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'bench/*.cpp' \
  | xargs -r clang-format --dry-run --Werror

ctest --test-dir build/test-release --output-on-failure

# The package and the C++ tests once more with the sanitizers, from one build as above, the
# package into a folder of its own. A finding aborts the test binary, so ctest fails.
asan_site="$PWD/build/asan-site"
python3 -m pip install --quiet --disable-pip-version-check --no-deps --upgrade \
  --target "$asan_site" -C build-dir=build/test-asan -C cmake.build-type=RelWithDebInfo \
  -C cmake.define.STOWRA_SANITIZE=ON -C cmake.define.STOWRA_BUILD_TESTS=ON \
  -C cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON .
ctest --test-dir build/test-asan --output-on-failure

python3 -m pytest "$@"

# The Python tests once more, against the package built with the sanitizers, its folder put
# first on the path (child processes inherit it and the preloaded runtime). The
# interpreter is not instrumented, so the ASan runtime must be loaded before anything else;
# its leak report is off because the interpreter keeps memory to the end by design. Reports
# go to files, so a finding in a child process whose failure a test expects (an interrupted
# command, a killed worker) still fails the run, and a crash under pytest's capture is shown.
# Skipped here: tests marked `browser` (a browser must not start with the ASan runtime in it)
# and `python_only` (they run no C++ code that the others do not).
asan_logs="$PWD/build/asan-logs"
rm -rf "$asan_logs" && mkdir -p "$asan_logs"
export PYTHONPATH="$asan_site${PYTHONPATH:+:$PYTHONPATH}"
export LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)"
export ASAN_OPTIONS="detect_leaks=0:log_path=$asan_logs/asan"
export UBSAN_OPTIONS="print_stacktrace=1:log_path=$asan_logs/ubsan"
python3 -c "import stowra._core as c, sys; sys.exit(not c.__file__.startswith('$asan_site'))" \
  || { echo "the sanitizer pass did not load the sanitized extension" >&2; exit 1; }
status=0
python3 -m pytest -m "not browser and not python_only" "$@" || status=$?
if compgen -G "$asan_logs/*" >/dev/null; then
  cat "$asan_logs"/* >&2
  echo "the sanitizers reported the findings above" >&2
  exit 1
fi
exit "$status"
