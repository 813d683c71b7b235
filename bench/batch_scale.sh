#!/usr/bin/env bash
# Figures for `velmora batch` and the rolling evaluation, on the sample series
# (its first 1000 rows):
#   1. a batch of 16 default searches under `mpirun -n 1` and `mpirun -n 2`,
#      --threads 1 per rank: wall times, the speed-up, and whether the two
#      summaries are byte-identical;
#   2. `--rolling 100 --forecast 12` with `fit` and with `run` (2 threads):
#      wall times;
#   3. a batch of JOBS jobs (default 1000; short searches, --maxgen 10, so the
#      figure comes in minutes): the largest resident set of the batch's
#      process and of any one job, which is what one rank holds.
#
#   bash bench/batch_scale.sh [path/to/velmora]   (default: build-release/velmora)
set -euo pipefail
cd "$(dirname "$0")/.."

velmora=$(realpath "${1:-build-release/velmora}")
jobs=${JOBS:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp data/eustockmarkets_returns.csv "$work/series.csv"
mpi=(mpirun --oversubscribe)
if [ "$(id -u)" -eq 0 ]; then
    mpi+=(--allow-run-as-root)
fi

# Wall seconds of a command; its CPU seconds (its processes and theirs) go
# to $work/cpu, so that a machine shared with other work still shows what
# the command itself cost.
seconds() {
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$work/time" | awk -v out="$work/cpu" \
        '{ printf "%.2f", $1; printf "%.2f", $2 + $3 > out }'
}
cpu() { cat "$work/cpu"; }

echo "== 16 default searches, --threads 1 per rank"
for i in $(seq 1 16); do
    echo "s$i run --course-file series.csv --n-oss 1000"
done >"$work/jobs16.txt"
one=$(seconds "${mpi[@]}" -n 1 "$velmora" batch --jobs "$work/jobs16.txt" --out "$work/out" \
    --threads 1)
one_cpu=$(cpu)
mv "$work/out" "$work/out1"
two=$(seconds "${mpi[@]}" -n 2 "$velmora" batch --jobs "$work/jobs16.txt" --out "$work/out" \
    --threads 1)
two_cpu=$(cpu)
mv "$work/out" "$work/out2"
echo "mpirun -n 1: ${one} s (CPU ${one_cpu} s)"
echo "mpirun -n 2: ${two} s (CPU ${two_cpu} s)"
echo "load average before and after: $(cut -d' ' -f1-3 /proc/loadavg) (the speed-up needs idle cores)"
awk -v a="$one" -v b="$two" 'BEGIN { printf "speed-up: %.2fx\n", a / b }'
if cmp -s "$work/out1/summary.csv" "$work/out2/summary.csv"; then
    echo "summary.csv: identical"
else
    echo "summary.csv: DIFFERENT"
fi

echo "== Rolling evaluation, 100 origins, 12 steps, 2 threads"
fit=$(seconds "$velmora" fit --course-file "$work/series.csv" --n-oss 1000 --component 1 \
    --lag 4 --regimes 2 --thresholds 0.2 --rolling 100 --forecast 12 --threads 2 \
    --workdir "$work/fit")
echo "fit --rolling 100 --forecast 12: ${fit} s (CPU $(cpu) s)"
run=$(seconds "$velmora" run --course-file "$work/series.csv" --n-oss 1000 --seed 5 \
    --rolling 100 --forecast 12 --threads 2 --workdir "$work/run")
echo "run --rolling 100 --forecast 12: ${run} s (CPU $(cpu) s)"

echo "== A batch of $jobs short jobs, one rank"
for i in $(seq 1 "$jobs"); do
    echo "j$i run --course-file series.csv --n-oss 1000 --maxgen 10"
done >"$work/jobs_many.txt"
start=$(date +%s.%N)
/usr/bin/time -f "%M" -o "$work/rss" "$velmora" batch --jobs "$work/jobs_many.txt" \
    --out "$work/many" --threads 1 >/dev/null 2>&1 || true
end=$(date +%s.%N)
awk -v a="$start" -v b="$end" -v n="$jobs" \
    'BEGIN { printf "wall time: %.1f s (%.3f s per job)\n", b - a, (b - a) / n }'
# GNU time puts a line about a non-zero status before the figure.
echo "largest resident set, the batch or one job: $(($(tail -n 1 "$work/rss") / 1024)) MB"
echo "jobs in summary.csv: $(($(wc -l <"$work/many/summary.csv") - 1)), failed: $(grep -c '^[^,]*,run,[1-9]' "$work/many/summary.csv" || true)"
grep '^[^,]*,run,[1-9]' "$work/many/summary.csv" | head -3 || true
