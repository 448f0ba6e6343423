#!/usr/bin/env bash
# Sets up, builds and runs the tests: once with warnings as errors, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the encoder's tests under
# ThreadSanitizer.
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
    # The package is built and checked once, from the first pass's tree.
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure -j"$jobs" -E '^test_package$'
fi

if [ "${SKIP_TSAN:-0}" != 1 ]; then
    # The encoder runs worker threads: its tests again under ThreadSanitizer, in a build of
    # their own. QProcess forks a test's child processes from a threaded parent.
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBATCHMP3_WERROR=ON -DBATCHMP3_TSAN=ON
    cmake --build build-tsan -j"$jobs" --target Mp3Enc \
        $(sed -n 's/^ *batchmp3_add_test(\(test_mp3enc_[a-z_]*\).*/\1/p' tests/mp3enc/CMakeLists.txt)
    TSAN_OPTIONS="die_after_fork=0:halt_on_error=1:suppressions=$PWD/tests/tsan.supp" \
        ctest --test-dir build-tsan -R '^test_mp3enc_' --output-on-failure -j"$jobs"
fi
