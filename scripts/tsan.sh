#!/usr/bin/env bash
# Builds the plug-in and the host tests with ThreadSanitizer (clang 14) in a build folder of its
# own and runs the host tests under a virtual X display: the host's threads, the plug-in's own
# message loop (no window open) and the audio thread, as a DAW drives them. Exits non-zero on any
# test failure or ThreadSanitizer report. JUCE's own races are left out at compile time
# (tests/sanitizers/tsan-ignorelist.txt); Quoril's never are.
#
#   QUORIL_TSAN_DIR      build folder (default build-tsan)
#   QUORIL_BUILD_JOBS    parallel compile jobs (default: ninja's own choice)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh clang-14 libclang-rt-14-dev llvm-14

build=$(realpath -m "${QUORIL_TSAN_DIR:-build-tsan}")
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" \
      -DQUORIL_SANITIZE=OFF -DQUORIL_SANITIZE_THREAD=ON -DQUORIL_BUILD_TESTS=ON \
      -DQUORIL_BUILD_BENCHMARKS=OFF -DQUORIL_BUILD_FUZZERS=OFF "${launcher[@]}"

export TSAN_OPTIONS="second_deadlock_stack=1 history_size=4 external_symbolizer_path=/usr/lib/llvm-14/bin/llvm-symbolizer"
cmake --build "$build" --target quoril_host_tests ${QUORIL_BUILD_JOBS:+-j "$QUORIL_BUILD_JOBS"}

failed=0
if ! (cd "$build" && xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure --timeout 600 -L host); then
  failed=1
fi
if grep -q "WARNING: ThreadSanitizer" "$build/Testing/Temporary/LastTest.log" 2>/dev/null; then
  echo "tsan: reports in $build/Testing/Temporary/LastTest.log, by the pair of places that race:"
  grep -A1 -E "^  (Write|Read|Previous write|Previous read|Atomic)" "$build/Testing/Temporary/LastTest.log" \
    | grep -E "#0 " | sed -E 's/^ *#0 //; s/ \([^ ]*\+0x[0-9a-f]+\).*//' | sort | uniq -c | sort -rn | head -30
  failed=1
fi

# Like the sanitizer build's, this bundle loads only into an instrumented process.
find "$build/Quoril_artefacts" -maxdepth 3 -name 'Quoril.vst3' -type d -prune -exec rm -rf {} + 2>/dev/null || true

if [ "$failed" -ne 0 ]; then
  echo "tsan: FAILED"
  exit 1
fi
echo "tsan: clean"
