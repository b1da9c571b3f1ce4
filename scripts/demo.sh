#!/usr/bin/env bash
# Sets everything up, builds the library and runs its main job on a built-in sample.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target kestro
./build/tools/kestro/kestro demo --out build/demo
