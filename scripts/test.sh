#!/usr/bin/env bash
# Installs what the tests need, then runs every test: style checks, the C++ unit tests of the
# core and the Python tests of the installed package.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f /usr/include/doctest/doctest.h ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq doctest-dev >/dev/null
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

python3 -m pytest "$@"
