#!/usr/bin/env bash
# Sets up, builds and runs the tests: once with warnings as errors, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="$(nproc)"

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBATCHMP3_WERROR=ON
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBATCHMP3_WERROR=ON \
        -DBATCHMP3_SANITIZE=ON
    cmake --build build-asan -j"$jobs"
    # Qt and fontconfig keep caches alive until exit; leaks are not what this pass looks for.
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure -j"$jobs"
fi
