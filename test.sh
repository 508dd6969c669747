#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with CTest; then builds the picture
# library with AddressSanitizer and UndefinedBehaviorSanitizer and runs its tests again there,
# so that every reader is exercised on hostile files under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLOMAR_CORE_ONLY=ON \
  -DQUILLOMAR_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs" --target tests_util tests_imaging
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" -R '^(util|imaging)/')
