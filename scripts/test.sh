#!/usr/bin/env bash
# Installs the build dependencies, builds Quoril with its tests and benchmarks, and runs every test.
# Tests run under a virtual X display, so no screen is needed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build_dir=${QUORIL_TEST_BUILD_DIR:-build-tests}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DQUORIL_BUILD_TESTS=ON -DQUORIL_BUILD_BENCHMARKS=ON
cmake --build "$build_dir"

cd "$build_dir"
xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure --timeout 600
