#!/usr/bin/env bash
# Sets up, builds and starts the converter.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build -j"$(nproc)" --target batchmp3
exec build/bin/batchmp3
