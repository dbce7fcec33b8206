#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")"
bash packaging/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${VT_FUZZ_SECONDS:-60}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DVT_SANITIZE=address,undefined
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-sanitize -j"$jobs" --output-on-failure -LE nosanitize

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DVT_BUILD_TESTS=ON -DVT_BUILD_FUZZERS=ON -DVT_SANITIZE=address,undefined \
      -DVT_FUZZ_SECONDS="$fuzz_seconds"
cmake --build build-fuzz -j"$jobs" --target vt_fuzzers
ctest --test-dir build-fuzz -L fuzz --output-on-failure
echo "all tests passed"
