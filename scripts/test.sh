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
python3 -m pip install --quiet --disable-pip-version-check ".[test]"

python3 scripts/check_layers.py
python3 -m ruff check .
python3 -m ruff format --check .
git ls-files -co --exclude-standard 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'bench/*.cpp' \
  | xargs -r clang-format --dry-run --Werror

cmake -S . -B build/cpp-tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSTOWRA_BUILD_TESTS=ON -DSTOWRA_BUILD_BENCHMARKS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build/cpp-tests
ctest --test-dir build/cpp-tests --output-on-failure

# The same C++ tests under the sanitizers: any finding aborts the test binary, so ctest fails.
cmake -S . -B build/cpp-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTOWRA_BUILD_TESTS=ON -DSTOWRA_SANITIZE=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build/cpp-asan
ctest --test-dir build/cpp-asan --output-on-failure

python3 -m pytest "$@"

# The Python tests once more, against the package built with the sanitizers into its own
# folder, put first on the path (child processes inherit it and the preloaded runtime). The
# interpreter is not instrumented, so the ASan runtime must be loaded before anything else;
# its leak report is off because the interpreter keeps memory to the end by design. Reports
# go to files, so a finding in a child process whose failure a test expects (an interrupted
# command, a killed worker) still fails the run, and a crash under pytest's capture is shown.
# Skipped here: tests marked `browser` (a browser must not start with the ASan runtime in it).
asan_site="$PWD/build/asan-site"
asan_logs="$PWD/build/asan-logs"
python3 -m pip install --quiet --disable-pip-version-check --no-deps --upgrade \
  --target "$asan_site" -C cmake.define.STOWRA_SANITIZE=ON -C cmake.build-type=RelWithDebInfo \
  -C build-dir=build/asan-ext .
rm -rf "$asan_logs" && mkdir -p "$asan_logs"
export PYTHONPATH="$asan_site${PYTHONPATH:+:$PYTHONPATH}"
export LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)"
export ASAN_OPTIONS="detect_leaks=0:log_path=$asan_logs/asan"
export UBSAN_OPTIONS="print_stacktrace=1:log_path=$asan_logs/ubsan"
python3 -c "import stowra._core as c, sys; sys.exit(not c.__file__.startswith('$asan_site'))" \
  || { echo "the sanitizer pass did not load the sanitized extension" >&2; exit 1; }
status=0
python3 -m pytest -m "not browser" "$@" || status=$?
if compgen -G "$asan_logs/*" >/dev/null; then
  cat "$asan_logs"/* >&2
  echo "the sanitizers reported the findings above" >&2
  exit 1
fi
exit "$status"
