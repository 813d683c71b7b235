#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running Velmora
# need. Packages already present are left alone; apt is not touched at all when
# nothing is missing.
set -euo pipefail

packages=(
    build-essential cmake g++
    libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libcsv-dev
    libeigen3-dev libboost-dev
    qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libgl-dev
    xvfb xauth fonts-dejavu-core
    clang-format locales
    openmpi-bin libopenmpi-dev
    time  # the benchmark scripts measure with /usr/bin/time
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
