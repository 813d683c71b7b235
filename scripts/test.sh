#!/usr/bin/env bash
# The test job: installs what is missing, checks the formatting, builds
# everything in Release mode (the desktop program and its tests too) and runs
# the whole test suite, then builds the core, the command line and the unit
# tests once more with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# those tests again. Any failure fails the job.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${VELMORA_JOBS:-$(nproc)}
export VELMORA_JOBS=$jobs
# The desktop program's tests need no display.
export QT_QPA_PLATFORM=offscreen

bash scripts/install-deps.sh

echo "== Formatting"
# Every C++ file the repository tracks must be as clang-format leaves it.
git ls-files -z '*.cpp' '*.hpp' '*.h' | xargs -0 clang-format --dry-run --Werror

echo "== Release build and tests"
bash scripts/build.sh
ctest --test-dir build-release --output-on-failure -j "$jobs"

echo "== Sanitizer build and tests"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Release -DVELMORA_SANITIZE=ON \
    -DVELMORA_BUILD_GUI=OFF -DVELMORA_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs" --target velmora velmora_tests
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
