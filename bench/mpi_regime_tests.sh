#!/usr/bin/env bash
# The tests of the number of regimes shared out over the ranks of mpirun,
# --test-regimes 199 on the sample's first 1000 rows (its 4 components),
# --threads 1 per rank, in two commands:
#   run  the README's main job with the tests added: the default search (not
#        shared out, about 0.15 s), then the tests of the model it reports
#        (3 regimes on two threshold variables): 1 against 2, 2 against 3,
#        3 against 4 regimes and the two-variable comparison;
#   fit  a small fit, one threshold at 0 of the first component at lag 1:
#        the tests of 1 against 2 and 2 against 3 regimes (--test-level 0.06
#        lets the second run: the first p-value is 0.055, the second 0.1).
#        About 0.7 s in all, so mpirun's own start and end weigh a tenth.
# REPLICATES sets the replicates (default 199); CASES the commands (default
# "run fit").
# Runs each command without mpirun, under `mpirun -n 1` and under `-n 2`,
# alternately ROUNDS times (default 3), and prints each run's wall and CPU
# seconds (mpirun's with every rank's, and the busiest rank's alone) with the
# load average before it, then the medians and the speed-up, and whether the
# JSON of every run is byte-identical. The run without mpirun against `-n 1`
# shows what starting and ending MPI costs. On a machine loaded by others the
# wall time follows the share of the cores the scheduler gives this session,
# whatever the rank count.
#
#   bash bench/mpi_regime_tests.sh [path/to/velmora]   (default: build/velmora)
default_velmora=build/velmora
source "$(dirname "$0")/mpi_common.sh"
rounds=${ROUNDS:-3}
replicates=${REPLICATES:-199}
run_args=(run --course-file ../../series.csv --n-oss 1000 --seed 5 --test-regimes "$replicates"
          --threads 1)
fit_args=(fit --course-file ../../series.csv --n-oss 1000 --component 1 --lag 1 --regimes 2
          --thresholds 0 --test-regimes "$replicates" --test-level 0.06 --seed 3 --threads 1)

column() { cut -d' ' -f"$1" "times$2.txt" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

measure() {
    local name=$1
    shift
    mkdir -p "$work/$name"
    cd "$work/$name"
    echo "== $name: $*"
    printf "%-6s %-5s %8s %8s %10s  %s\n" ranks round wall cpu "rank cpu" "load (1 min)"
    for round in $(seq 1 "$rounds"); do
        for n in none 1 2; do
            before=$(load)
            mkdir -p "n$n-$round"
            launcher=()
            if [ "$n" != none ]; then
                launcher=("${mpi[@]}" -n "$n")
            fi
            # Each rank's own CPU seconds too: the largest is what the wall
            # time would be on cores of its own.
            start=$(date +%s.%N)
            (cd "n$n-$round" && /usr/bin/time -f "%U %S" -o ../time.txt "${launcher[@]}" \
                sh -c '/usr/bin/time -f "%U %S" -o "rank.${OMPI_COMM_WORLD_RANK:-0}" "$@"' \
                sh "$velmora" "$@" --json out.json >out.txt 2>&1)
            end=$(date +%s.%N)
            wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
            read -r user sys <time.txt
            cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
            rank=$(cat "n$n-$round"/rank.* |
                awk '{ t = $1 + $2; if (t > m) m = t } END { printf "%.2f", m }')
            printf "%-6s %-5s %8.3f %8s %10s  %s\n" "$n" "$round" "$wall" "$cpu" "$rank" "$before"
            echo "$wall $cpu $rank" >>"times$n.txt"
        done
    done
    grep -h " vs " n1-1/out.txt | sed 's/^ */  /'
    echo "median wall: without mpirun $(column 1 none) s, -n 1 $(column 1 1) s," \
        "-n 2 $(column 1 2) s, speed-up of -n 2 over -n 1 $(ratio "$(column 1 1)" "$(column 1 2)")x"
    echo "median CPU:  without mpirun $(column 2 none) s, -n 1 $(column 2 1) s," \
        "-n 2 $(column 2 2) s (mpirun and all ranks)"
    echo "median CPU of the busiest rank: -n 1 $(column 3 1) s, -n 2 $(column 3 2) s," \
        "ratio $(ratio "$(column 3 1)" "$(column 3 2)")x"
    same=yes
    for f in n*/out.json; do
        cmp -s "$f" n1-1/out.json || same=no
    done
    echo "JSON byte-identical across runs and rank counts: $same"
}

for case in ${CASES:-run fit}; do
    case $case in
        run) measure run "${run_args[@]}" ;;
        fit) measure fit "${fit_args[@]}" ;;
        *) echo "unknown case $case (run or fit)" >&2; exit 2 ;;
    esac
done
