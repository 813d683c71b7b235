#!/usr/bin/env bash
# Times the whole default search (popsize 50, maxgen 100, the sample series)
# as a process, with 1 and 2 evaluation threads, with and without the fitness
# cache. Prints the median wall time of each set-up over REPEATS runs and the
# speed-up against one thread without the cache. The seed is fixed so every
# set-up does the same search (their files are identical).
#
#   bash bench/whole_run.sh [path/to/velmora]   (default: build-release/velmora)
set -euo pipefail
cd "$(dirname "$0")/.."

velmora=${1:-build-release/velmora}
repeats=${REPEATS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median_seconds() {
    local times=()
    for ((i = 0; i < repeats; i++)); do
        local start end
        start=$(date +%s.%N)
        "$velmora" run --course-file data/eustockmarkets_returns.txt --n-oss 1000 --seed 123 \
            --workdir "$work/run" "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
        rm -rf "$work/run"
    done
    printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((repeats + 1) / 2))p"
}

printf '%-22s %12s %10s\n' "set-up" "median (s)" "speed-up"
base=$(median_seconds --threads 1 --no-cache)
printf '%-22s %12.3f %10.2f\n' "1 thread, no cache" "$base" 1
for setup in "2 --no-cache" "1" "2"; do
    read -r threads cache <<<"$setup"
    label="$threads thread$([ "$threads" = 1 ] || echo s), ${cache:+no }cache"
    t=$(median_seconds --threads "$threads" $cache)
    printf '%-22s %12.3f %10.2f\n' "$label" "$t" "$(awk -v a="$base" -v b="$t" 'BEGIN { print a / b }')"
done
