#!/usr/bin/env bash
# Throughput of a booklet job (line pass into spool file A, booklet order
# into spool file B, two pages per sheet side from B) and of a "2x2" poster
# job against CUPS's own pstops filter doing 2-up ("number-up=2") on the
# same large real document: a PDF from a Debian documentation package,
# converted with pdftops, its pages repeated to about SIZE_MB megabytes.
# pstops places the same two pages per side but has no booklet reordering;
# the poster writes every page four times. Runs alternate so all see the
# same machine state; the best run of each is reported, with the ratios and
# the peak memory. All read the file from disk and write to /dev/null.
#
#   bench/booklet_poster.sh psToVTOrbPS_testpaths [SIZE_MB] [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
filter=${1:?path of psToVTOrbPS_testpaths}
size_mb=${2:-100}
rounds=${3:-5}
. "$here/common.sh"
# A creator the filter recognises, so the poster job is imposed rather than
# passed through.
vt_bench_document booklet pstops

booklet_options="VTDuplex=BookletL com.apple.print.PrintSettings.PMTotalBeginPages..n.=$pages"
poster_options="Combination=2x2 com.apple.print.PrintSettings.PMTotalBeginPages..n.=$pages"
vt_bench_rounds "$rounds" booklet "$filter" "$booklet_options" poster "$filter" "$poster_options" \
  "pstops 2-up" "$pstops" "number-up=2"
vt_bench_line 'psToVTOrbPS booklet:   ' 0 "$(vt_bench_sides "$booklet_options") sides"
vt_bench_line 'psToVTOrbPS 2x2 poster:' 1 "$(vt_bench_sides "$poster_options") tiles; input MB"
vt_bench_line 'pstops number-up=2:    ' 2
vt_bench_ratio 'booklet / pstops 2-up' 0 2
vt_bench_ratio 'poster / pstops 2-up' 1 2
