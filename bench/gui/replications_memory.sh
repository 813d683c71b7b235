#!/usr/bin/env bash
# Memory of a run of many short replications on the sample series: the
# command line's peak (maximum resident size from /usr/bin/time -v), and the
# desktop program's resident size before the run, at its peak, after the run
# and with the window closed (bench_gui_memory drives the window's OK button
# with the Search page in view).
#
#   bash bench/gui/replications_memory.sh [build-dir] [replications] [generations]
#
# The build folder needs the desktop program and the benchmarks
# (-DVELMORA_BUILD_GUI=ON -DVELMORA_BUILD_BENCH=ON; the target bench_gui_memory
# is enough). Run it with QT_QPA_PLATFORM=offscreen where there is no display.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build}
replications=${2:-1000}
generations=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"/usr/bin/time" -v -o "$work/time.txt" "$build/velmora" run \
    --course-file data/eustockmarkets_returns.txt --workdir "$work/run" \
    --replications "$replications" --maxgen "$generations" --seed 7 >/dev/null 2>&1
peak_kb=$(awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$work/time.txt")
printf 'command line, %s replications of %s generations: peak %.1f MB\n' \
    "$replications" "$generations" "$(awk -v k="$peak_kb" 'BEGIN { print k / 1024 }')"

echo "desktop program:"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/gui/bench_gui_memory" \
    "$replications" "$generations"
