#!/usr/bin/env bash
# Sets everything up, builds the library with its tests, and runs every test.
#   scripts/test.sh                 release build in build/
#   scripts/test.sh --sanitize      AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --threads       clang ThreadSanitizer build in build-tsan/ with the baseline pixel
#                                   loops: builds everything, runs the tests of images on concurrent threads
#   scripts/test.sh --werror        any of them with warnings as errors (CI passes it)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build
extra=(-DCMAKE_BUILD_TYPE=Release -DKESTRO_WERROR=OFF)
tests=()
for arg in "$@"; do
  case "$arg" in
    --sanitize)
      build=build-asan
      extra+=(-DKESTRO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DKESTRO_BUILD_BENCH=OFF)
      # FreeImage asks malloc for absurd sizes on some broken headers and checks for the null the C
      # library gives; the sanitizer's allocator must answer the same way.
      export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:allocator_may_return_null=1
      export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
      ;;
    --threads)
      build=build-tsan
      extra+=(-DKESTRO_TSAN=ON -DKESTRO_PORTABLE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRO_BUILD_BENCH=OFF
              -DCMAKE_CXX_COMPILER=clang++)
      # The tests that run work on concurrent threads: those named Threads.*, and those that check
      # a result against its truth at every thread count.
      tests+=(-R '^Threads\.|^(MovingMinimum|MovingAverage)\.MatchesLiteralLoops|^ImageOperations\.(ToneTables|MedianIsOpenCVs)|AtEveryThreadCount$|^RasterImageGS16\.(ReadsAnImage|Subtract|Convert)')
      export TSAN_OPTIONS=halt_on_error=1
      ;;
    --werror) extra+=(-DKESTRO_WERROR=ON) ;;
    *) echo "scripts/test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

cmake -S . -B "$build" "${extra[@]}"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "${tests[@]}"
