#!/usr/bin/env bash
# Configures and builds Velmora in Release mode in build-release/.
# Arguments are build targets (all of them when none are given).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${VELMORA_JOBS:-$(nproc)}
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release
if (($# == 0)); then
    cmake --build build-release -j "$jobs"
else
    cmake --build build-release -j "$jobs" --target "$@"
fi
