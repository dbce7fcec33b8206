#!/usr/bin/env bash
# Throughput of the filter's one-pass job against CUPS's own pstops filter on
# the same large real document: a PDF from a Debian documentation package,
# converted with pdftops, its pages repeated to about SIZE_MB megabytes. Both
# read the file from disk and write to /dev/null. Runs alternate (ours,
# pstops, ours, ...) so both see the same machine state; the best run of each
# is reported, with the ratio, and the filter's peak memory.
#
#   bench/linepass.sh [psToVTOrbPS] [SIZE_MB] [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
filter=${1:-$here/../build/bin/psToVTOrbPS}
size_mb=${2:-100}
rounds=${3:-5}
. "$here/common.sh"
vt_bench_document linepass
vt_bench_rounds "$rounds" psToVTOrbPS "$filter" "" pstops "$pstops" ""
vt_bench_line 'psToVTOrbPS:' 0
vt_bench_line 'pstops:     ' 1
vt_bench_ratio 'psToVTOrbPS / pstops' 0 1
