#!/usr/bin/env bash
# Runs every fuzz target under libFuzzer with AddressSanitizer and UBSan for SECONDS each
# (default 30), starting from the seeds its plain build writes and its corpus/ folder. Needs clang.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"

bash scripts/setup.sh

# The plain programs write the seeds; the instrumented ones fuzz.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRO_BUILD_FUZZ=ON -DKESTRO_BUILD_TESTS=OFF -DKESTRO_BUILD_TOOLS=OFF -DKESTRO_BUILD_BENCH=OFF \
  -DKESTRO_SANITIZE=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
targets=$(cd tests/fuzz && sed -n 's/^kestro_fuzz_target(\([a-z]*\).*/\1/p' CMakeLists.txt)
# FreeImage asks malloc for absurd sizes on some broken headers and checks for the null the C
# library gives; the sanitizer's allocator must answer the same way.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for t in $targets; do
  cmake --build build -j "$(nproc)" --target "kestro_fuzz_$t" >/dev/null
  cmake --build build-fuzz -j "$(nproc)" --target "kestro_fuzz_$t" >/dev/null
  corpus="build-fuzz/corpus/$t"
  mkdir -p "$corpus"
  "build/tests/fuzz/kestro_fuzz_$t" --write-seeds "$corpus" >/dev/null
  if [ -d "tests/fuzz/corpus/$t" ]; then cp "tests/fuzz/corpus/$t"/* "$corpus"/; fi
  echo "fuzz: $t for ${seconds} s"
  log="build-fuzz/fuzz-$t.log"
  if ! "build-fuzz/tests/fuzz/kestro_fuzz_$t" "$corpus" -max_total_time="$seconds" -rss_limit_mb=4096 \
      -print_final_stats=1 >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $t found a fault (inputs in build-fuzz/)" >&2
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
done
echo "fuzz: every target ran ${seconds} s with no finding"
