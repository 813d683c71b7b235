#!/usr/bin/env bash
# Figures for `velmora batch` and the rolling evaluation, on the sample series
# (its first 1000 rows):
#   1. a batch of 16 default searches without mpirun, under `mpirun -n 1` and
#      under `mpirun -n 2`, --threads 1 per rank, ROUNDS times (default 3)
#      alternately: each run's wall and CPU seconds with the load average
#      before it, the medians, the speed-up of 2 ranks over 1, and whether
#      every summary is byte-identical;
#   2. `--rolling 100 --forecast 12` with `fit` and with `run` (2 threads):
#      wall times;
#   3. a batch of JOBS jobs (default 1000; short searches, --maxgen 10, so the
#      figure comes in minutes): the largest resident set of the batch's
#      process and of any one job, which is what one rank holds.
#
#   bash bench/batch_scale.sh [path/to/velmora]   (default: build-release/velmora)
default_velmora=build-release/velmora
source "$(dirname "$0")/mpi_common.sh"
jobs=${JOBS:-1000}
rounds=${ROUNDS:-3}

echo "== 16 default searches, --threads 1 per rank"
for i in $(seq 1 16); do
    echo "s$i run --course-file series.csv --n-oss 1000"
done >"$work/jobs16.txt"
printf "%-8s %-5s %8s %8s  %s\n" ranks round wall cpu "load (1 min)"
for round in $(seq 1 "$rounds"); do
    for n in none 1 2; do
        before=$(load)
        launcher=()
        if [ "$n" != none ]; then
            launcher=("${mpi[@]}" -n "$n")
        fi
        timed "$work/times-$n" "${launcher[@]}" "$velmora" batch --jobs "$work/jobs16.txt" \
            --out "$work/out-$n-$round" --threads 1
        read -r wall cpu < <(tail -n 1 "$work/times-$n")
        printf "%-8s %-5s %8s %8s  %s\n" "$n" "$round" "$wall" "$cpu" "$before"
    done
done
for n in none 1 2; do
    label="mpirun -n $n"
    [ "$n" != none ] || label="without mpirun"
    echo "median, $label: $(cut -d' ' -f1 "$work/times-$n" | median) s" \
        "(CPU $(cut -d' ' -f2 "$work/times-$n" | median) s)"
done
awk -v a="$(cut -d' ' -f1 "$work/times-1" | median)" -v b="$(cut -d' ' -f1 "$work/times-2" | median)" \
    'BEGIN { printf "speed-up of -n 2 over -n 1: %.2fx\n", a / b }'
same=identical
for f in "$work"/out-*/summary.csv; do
    cmp -s "$f" "$work/out-none-1/summary.csv" || same=DIFFERENT
done
echo "summary.csv of every run: $same"

echo "== Rolling evaluation, 100 origins, 12 steps, 2 threads"
timed "$work/fit.time" "$velmora" fit --course-file "$work/series.csv" --n-oss 1000 --component 1 \
    --lag 4 --regimes 2 --thresholds 0.2 --rolling 100 --forecast 12 --threads 2 \
    --workdir "$work/fit"
read -r wall cpu <"$work/fit.time"
echo "fit --rolling 100 --forecast 12: ${wall} s (CPU ${cpu} s)"
timed "$work/run.time" "$velmora" run --course-file "$work/series.csv" --n-oss 1000 --seed 5 \
    --rolling 100 --forecast 12 --threads 2 --workdir "$work/run"
read -r wall cpu <"$work/run.time"
echo "run --rolling 100 --forecast 12: ${wall} s (CPU ${cpu} s)"

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
