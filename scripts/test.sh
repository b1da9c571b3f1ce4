#!/usr/bin/env bash
# Sets everything up, builds the library with its tests, and runs every test.
#   scripts/test.sh                 release build in build/
#   scripts/test.sh --sanitize      AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --threads       clang ThreadSanitizer build in build-tsan/: builds everything,
#                                   runs the tests of images on concurrent threads
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build
extra=()
tests=()
if [ "${1:-}" = "--threads" ]; then
  build=build-tsan
  extra+=(-DKESTRO_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRO_BUILD_BENCH=OFF
          -DCMAKE_CXX_COMPILER=clang++)
  tests+=(-R 'Threads')
  export TSAN_OPTIONS=halt_on_error=1
elif [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  extra+=(-DKESTRO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DKESTRO_BUILD_BENCH=OFF)
  export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
else
  extra+=(-DCMAKE_BUILD_TYPE=Release)
fi
if [ "${CI:-}" = "true" ]; then extra+=(-DKESTRO_WERROR=ON); fi

cmake -S . -B "$build" "${extra[@]}"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "${tests[@]}"
