#!/usr/bin/env bash
# The main job: installs what is missing, builds Velmora in Release mode and
# runs a search with the default parameters on the bundled sample series
# (EuStockMarkets daily returns as CSV with the names DAX, SMI, CAC, FTSE and
# a time column; the first 1000 of its 1859 rows, 4 components). The run's
# files go to out/sample-run (or the directory in VELMORA_OUT). Further
# arguments are passed to `velmora run`, e.g. --seed 123 or --maxgen 20.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh velmora

out=${VELMORA_OUT:-out/sample-run}
mkdir -p "$out"
status=0
./build-release/velmora run \
    --course-file data/eustockmarkets_returns.csv --n-oss 1000 \
    --workdir "$out" "$@" || status=$?

echo
echo "Files of the run, in $out:"
ls -l "$out"
exit "$status"
