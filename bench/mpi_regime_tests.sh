#!/usr/bin/env bash
# The tests of the number of regimes of one `velmora fit` shared out over the
# ranks of mpirun: --test-regimes 199 on the sample's first 1000 rows (its 4
# components), the tests of 1 against 2 and 2 against 3 regimes (--test-level
# 0.06 lets the second run: the first p-value is 0.055, the second 0.1),
# --threads 1 per rank. REPLICATES=999 gives a run whose bootstraps outweigh
# mpirun's own start (about a CPU second on a small machine).
# Runs `mpirun -n 1` and `-n 2` alternately ROUNDS times (default 3) and
# prints each run's wall and CPU seconds (mpirun's with every rank's, and
# the busiest rank's alone) with the load average before it, then the
# medians and the speed-up, and whether the JSON of every run is
# byte-identical. On a machine loaded by others the wall time follows the
# share of the cores the scheduler gives this session, whatever the rank
# count; the busiest rank's CPU time is the wall time on idle cores.
#
#   bash bench/mpi_regime_tests.sh [path/to/velmora]   (default: build/velmora)
set -euo pipefail
cd "$(dirname "$0")/.."

velmora=$(realpath "${1:-build/velmora}")
rounds=${ROUNDS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp data/eustockmarkets_returns.csv "$work/series.csv"
mpi=(mpirun --oversubscribe)
if [ "$(id -u)" -eq 0 ]; then
    mpi+=(--allow-run-as-root)
fi
args=(fit --course-file ../series.csv --n-oss 1000 --component 1 --lag 1 --regimes 2
      --thresholds 0 --test-regimes "${REPLICATES:-199}" --test-level 0.06 --seed 3 --threads 1)

cd "$work"
printf "%-6s %-5s %8s %8s %10s  %s\n" ranks round wall cpu "rank cpu" "load (1 min)"
for round in $(seq 1 "$rounds"); do
    for n in 1 2; do
        load=$(cut -d' ' -f1 /proc/loadavg)
        mkdir -p "n$n-$round"
        # Each rank's own CPU seconds too: the largest is what the wall
        # time would be on cores of its own.
        (cd "n$n-$round" && /usr/bin/time -f "%e %U %S" -o ../time.txt \
            "${mpi[@]}" -n "$n" sh -c '/usr/bin/time -f "%U %S" -o "rank.$OMPI_COMM_WORLD_RANK" "$@"' \
            sh "$velmora" "${args[@]}" --json out.json >out.txt 2>&1)
        read -r wall user sys <time.txt
        cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
        rank=$(cat "n$n-$round"/rank.* | awk '{ t = $1 + $2; if (t > m) m = t } END { printf "%.2f", m }')
        printf "%-6s %-5s %8.2f %8s %10s  %s\n" "$n" "$round" "$wall" "$cpu" "$rank" "$load"
        echo "$wall $cpu $rank" >>"times$n.txt"
    done
done
grep -h "vs" n1-1/out.txt | sed 's/^ */  /'

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
w1=$(cut -d' ' -f1 times1.txt | median)
w2=$(cut -d' ' -f1 times2.txt | median)
c1=$(cut -d' ' -f2 times1.txt | median)
c2=$(cut -d' ' -f2 times2.txt | median)
echo "median wall: -n 1 ${w1} s, -n 2 ${w2} s, speed-up $(awk -v a="$w1" -v b="$w2" 'BEGIN { printf "%.2f", a / b }')x"
r1=$(cut -d' ' -f3 times1.txt | median)
r2=$(cut -d' ' -f3 times2.txt | median)
echo "median CPU:  -n 1 ${c1} s, -n 2 ${c2} s (mpirun and all ranks)"
echo "median CPU of the busiest rank: -n 1 ${r1} s, -n 2 ${r2} s, ratio $(awk -v a="$r1" -v b="$r2" 'BEGIN { printf "%.2f", a / b }')x"
same=yes
for f in n*/out.json; do
    cmp -s "$f" n1-1/out.json || same=no
done
echo "JSON byte-identical across runs and rank counts: $same"
