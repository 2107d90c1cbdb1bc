#!/usr/bin/env bash
# Builds the plug-in, every test executable and the libFuzzer targets with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang 14) in a build folder of its own, runs the whole test suite under
# a virtual X display, then each fuzzer of tests/fuzz for a bounded time. Exits non-zero on any
# test failure, sanitizer report or fuzzer finding.
#
#   QUORIL_FUZZ_SECONDS      seconds for each fuzzer (default 60; 0 skips the fuzzers)
#   QUORIL_SANITIZE_DIR      build folder (default build-sanitize)
#   QUORIL_BUILD_JOBS        parallel compile jobs (default: ninja's own choice)
#
# Every executable built in tests/fuzz is run. One named quoril_NAME_fuzzer starts from the seed
# inputs in tests/fuzz/corpus/NAME/ and uses the dictionary tests/fuzz/NAME.dict, where they exist;
# a dictionary may also be named by a leading part of NAME (xml_reader uses xml.dict). New inputs go
# to a temporary folder, never into the checkout; the inputs that fail are kept in
# <build folder>/fuzz-findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

#=== Packages: the project's, then clang with its sanitizer and libFuzzer runtimes ==================
bash scripts/install-deps.sh clang-14 libclang-rt-14-dev llvm-14   # llvm-14: llvm-symbolizer names the frames

#=== Build ===========================================================================================
build=$(realpath -m "${QUORIL_SANITIZE_DIR:-build-sanitize}")
fuzz_seconds=${QUORIL_FUZZ_SECONDS:-60}

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# A folder configured with another compiler would be reset by CMake, losing the options below.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++-14$' "$build/CMakeCache.txt"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi

# -O1 with line tables: quick enough to build and run, and every report names file and line.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
      -DQUORIL_SANITIZE=ON -DQUORIL_BUILD_TESTS=ON -DQUORIL_BUILD_FUZZERS=ON \
      -DQUORIL_BUILD_BENCHMARKS=OFF "${launcher[@]}"

grep -q '^QUORIL_SANITIZE:BOOL=ON$' "$build/CMakeCache.txt" || { echo "sanitize: $build is not a sanitizer build"; exit 1; }

# The build runs each test executable to list its tests, so the sanitizer settings apply already.
export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

cmake --build "$build" ${QUORIL_BUILD_JOBS:+-j "$QUORIL_BUILD_JOBS"}

#=== The test suite ==================================================================================
failed=0
reports='ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer'

echo "sanitize: running the test suite"
if ! (cd "$build" && xvfb-run -a -s "-screen 0 1280x800x24" \
        ctest --output-on-failure --timeout 600 ${QUORIL_BUILD_JOBS:+-j "$QUORIL_BUILD_JOBS"}); then
  failed=1
fi
# A report from a process whose exit status a test did not look at still counts.
if grep -Eq "$reports" "$build/Testing/Temporary/LastTest.log" 2>/dev/null; then
  echo "sanitize: sanitizer reports in $build/Testing/Temporary/LastTest.log:"
  grep -E "$reports" "$build/Testing/Temporary/LastTest.log" | sort | uniq -c | head -20
  failed=1
fi

# The sanitized bundle loads only into a process that already holds the sanitizer runtimes, as the
# test executables do; no host or validator can load it. It is removed once the tests have used it,
# so that nothing takes it for the plug-in (the next run links it again).
find "$build/Quoril_artefacts" -maxdepth 3 -name 'Quoril.vst3' -type d -prune -exec rm -rf {} + 2>/dev/null || true

#=== The fuzzers =====================================================================================
findings="$build/fuzz-findings"
mkdir -p "$findings"
fuzzers=()
if [ -d "$build/tests/fuzz" ]; then
  while IFS= read -r f; do fuzzers+=("$f"); done \
    < <(find "$build/tests/fuzz" -maxdepth 1 -type f -executable | sort)
fi

if [ "$fuzz_seconds" -gt 0 ]; then
  if [ ${#fuzzers[@]} -eq 0 ]; then
    echo "sanitize: no fuzzers were built"
    failed=1
  fi
  for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    short=${name#quoril_}
    short=${short%_fuzzer}
    args=(-max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1
          -artifact_prefix="$findings/$name-")
    stem=$short dict=none
    while :; do
      if [ -f "tests/fuzz/$stem.dict" ]; then dict=tests/fuzz/$stem.dict; args+=(-dict="$root/$dict"); break; fi
      [ "${stem%_*}" != "$stem" ] || break
      stem=${stem%_*}
    done

    work=$(mktemp -d "/tmp/quoril-fuzz-$name-XXXXXX")
    mkdir "$work/corpus"
    corpora=("$work/corpus")   # libFuzzer adds new inputs to the first folder only
    if [ -d "tests/fuzz/corpus/$short" ]; then corpora+=("$root/tests/fuzz/corpus/$short"); fi

    echo "sanitize: $name for ${fuzz_seconds}s (seeds: ${corpora[*]:1}; dictionary: $dict)"
    # The harnesses keep one processor for the whole run, so leaks are not looked for.
    status=0
    (cd "$work" && ASAN_OPTIONS="detect_leaks=0" \
        xvfb-run -a -s "-screen 0 1280x800x24" "$fuzzer" "${args[@]}" "${corpora[@]}") \
        > "$work/log" 2>&1 || status=$?
    grep -Ev '^#[0-9]+|NEW_FUNC' "$work/log" | tail -n 60 || true
    if [ "$status" -ne 0 ] || grep -Eq "$reports" "$work/log"; then
      echo "sanitize: $name failed (exit $status); the input is in $findings/"
      failed=1
    fi
    rm -rf "$work"
  done
fi

if [ "$failed" -ne 0 ]; then
  echo "sanitize: FAILED"
  exit 1
fi
echo "sanitize: clean"
