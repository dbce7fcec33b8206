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
wall_ours=""; wall_pstops=""; cpu_ours=""; cpu_pstops=""; peak_ours=""; peak_pstops=""
for ((i = 1; i <= rounds; i++)); do
  read -r w1 c1 m1 < <(vt_bench_run "$filter" "$ours_options")
  read -r w2 c2 m2 < <(vt_bench_run "$pstops" "number-up=4")
  printf 'round %d: psToVTOrbPS %.3f s wall %.3f s cpu; pstops %.3f s wall %.3f s cpu\n' \
    "$i" "$w1" "$c1" "$w2" "$c2"
  wall_ours=$(min "$wall_ours" "$w1"); cpu_ours=$(min "$cpu_ours" "$c1")
  wall_pstops=$(min "$wall_pstops" "$w2"); cpu_pstops=$(min "$cpu_pstops" "$c2")
  peak_ours=$(max "$peak_ours" "$m1"); peak_pstops=$(max "$peak_pstops" "$m2")
done
sides=$(PPD=$ppd VT_TEST_ROOT=$work/root VT_TEST_SPOOL_DIR=$work/spool \
  "$filter" 1 bench bench 1 "$ours_options" "$work/big.ps" 2> /dev/null | grep -c '^ESPshowpage' || true)
mb=$(calc "$bytes / 1048576")
printf 'psToVTOrbPS 4-up from spool: %.1f MB/s wall, %.1f MB/s cpu, peak memory %.1f MiB (%d sides)\n' \
  "$(calc "$mb / $wall_ours")" "$(calc "$mb / $cpu_ours")" "$(calc "$peak_ours / 1024")" "$sides"
printf 'pstops number-up=4:          %.1f MB/s wall, %.1f MB/s cpu, peak memory %.1f MiB\n' \
  "$(calc "$mb / $wall_pstops")" "$(calc "$mb / $cpu_pstops")" "$(calc "$peak_pstops / 1024")"
printf 'ratio psToVTOrbPS / pstops: %.2f (wall), %.2f (cpu)\n' \
  "$(calc "$wall_pstops / $wall_ours")" "$(calc "$cpu_pstops / $cpu_ours")"
