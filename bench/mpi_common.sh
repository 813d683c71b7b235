# The start that the MPI benchmarks share (bench/batch_scale.sh,
# bench/mpi_regime_tests.sh): sourced with the script's arguments after the
# script set default_velmora. Goes to the repository's root and sets
#   velmora  the program: the first argument, else $default_velmora;
#   work     a scratch folder, removed at the end, holding series.csv (the
#            sample series);
#   mpi      mpirun with --oversubscribe (and --allow-run-as-root as root);
# and defines
#   timed FILE CMD...  runs CMD (its output discarded, its failure ignored)
#                      and appends "wall cpu" to FILE: wall seconds to the
#                      millisecond (GNU time's own are in hundredths, too
#                      coarse for a run of 0.4 s), and the
#                      CPU seconds of CMD and its children, which a machine
#                      shared with other work leaves as they are;
#   median             the median of the numbers on standard input;
#   load               the load average over the last minute.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[1]}")/.."

velmora=$(realpath "${1:-$default_velmora}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp data/eustockmarkets_returns.csv "$work/series.csv"
mpi=(mpirun --oversubscribe)
if [ "$(id -u)" -eq 0 ]; then
    mpi+=(--allow-run-as-root)
fi

timed() {
    local out=$1
    shift
    local start end
    start=$(date +%s.%N)
    /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    # GNU time puts a line about a non-zero status before the figures.
    tail -n 1 "$work/time" | awk -v a="$start" -v b="$end" '{ printf "%.3f %.2f\n", b - a, $1 + $2 }' >>"$out"
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

load() {
    cut -d' ' -f1 /proc/loadavg
}
