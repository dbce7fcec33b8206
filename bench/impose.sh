#!/usr/bin/env bash
# Throughput of a 4-up job re-imposed from the spool file (line pass into
# spool file A, page index, 4-up sheets with a blank transparency interleave
# after each) against CUPS's own pstops filter doing 4-up ("number-up=4") on
# the same large real document: a PDF from a Debian documentation package,
# converted with pdftops, its pages repeated to about SIZE_MB megabytes.
# Runs alternate so both see the same machine state; the best run of each is
# reported, with the ratio and the peak memory. Both read the file from disk
# and write to /dev/null.
#
#   bench/impose.sh psToVTOrbPS_testpaths [SIZE_MB] [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
filter=${1:?path of psToVTOrbPS_testpaths}
size_mb=${2:-100}
rounds=${3:-5}
. "$here/common.sh"
vt_bench_document impose

ours_options="com.apple.print.PrintSettings.PMLayoutRows..n.=2 com.apple.print.PrintSettings.PMLayoutColumns..n.=2 com.apple.print.PrintSettings.PMTotalBeginPages..n.=$pages OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2"
vt_bench_rounds "$rounds" psToVTOrbPS "$filter" "$ours_options" pstops "$pstops" "number-up=4"
vt_bench_line 'psToVTOrbPS 4-up from spool:' 0 "$(vt_bench_sides "$ours_options") sides"
vt_bench_line 'pstops number-up=4:         ' 1
vt_bench_ratio 'psToVTOrbPS / pstops' 0 1
