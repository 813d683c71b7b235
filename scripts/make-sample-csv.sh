#!/usr/bin/env bash
# Builds data/eustockmarkets_levels.csv and data/eustockmarkets_returns.csv
# from the blank-separated sample series (levels: 1860 rows, returns: 1859
# rows, columns DAX SMI CAC FTSE). The first column, "time", is the series'
# own time index as R's datasets package gives it: the year plus a fraction,
# 260 business days a year, the levels starting at 1991 + 129/260 and the
# returns one step later. The numbers are copied as they are written, so a
# CSV and its blank-separated file hold the same series to the last digit.
#
# Usage: bash scripts/make-sample-csv.sh [SOURCE_DIR]
# SOURCE_DIR holds eustockmarkets_levels.txt and eustockmarkets_returns.txt
# (default: ../shared/data beside the repository).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=${1:-../shared/data}

to_csv() {
    local input=$1 output=$2 first_step=$3
    awk -v first="$first_step" 'BEGIN { print "time,DAX,SMI,CAC,FTSE" }
        NF > 0 {
            if (NF != 4) { printf "line %d holds %d numbers, not 4\n", NR, NF > "/dev/stderr"; exit 1 }
            printf "%.15g,%s,%s,%s,%s\n", 1991 + (first + n) / 260, $1, $2, $3, $4
            n++
        }' "$input" >"$output.tmp"
    mv "$output.tmp" "$output"
}

to_csv "$source_dir/eustockmarkets_levels.txt" data/eustockmarkets_levels.csv 129
to_csv "$source_dir/eustockmarkets_returns.txt" data/eustockmarkets_returns.csv 130
echo "Written: data/eustockmarkets_levels.csv data/eustockmarkets_returns.csv"
