#!/usr/bin/env bash
# Throughput of a 4-up job re-imposed from the spool file (line pass into
# spool file A, page index, 4-up sheets with a blank transparency interleave
# after each) against CUPS's own pstops filter doing 4-up ("number-up=4") on
# the same large real document: a PDF from a Debian documentation package,
# converted with pdftops, its pages repeated to about SIZE_MB megabytes.
# Runs alternate so both see the same machine state; the best run of each is
# reported, with the ratio.
#
#   bench/impose.sh psToVTOrbPS_testpaths [SIZE_MB] [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
filter=${1:?path of psToVTOrbPS_testpaths}
size_mb=${2:-100}
rounds=${3:-3}
. "$here/common.sh"
vt_bench_document impose

ours_options="com.apple.print.PrintSettings.PMLayoutRows..n.=2 com.apple.print.PrintSettings.PMLayoutColumns..n.=2 com.apple.print.PrintSettings.PMTotalBeginPages..n.=$pages OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2"
# One run; prints "wall cpu" in seconds (cpu = user + system time).
run() {
  local options=$1; shift
  local TIMEFORMAT='%R %U %S' t
  t=$( { time PPD=$ppd VT_TEST_ROOT=$work/root VT_TEST_SPOOL_DIR=$work/spool \
         "$@" 1 bench bench 1 "$options" "$work/big.ps" > "$work/out" 2> /dev/null; } 2>&1 )
  set -- $t
  echo "$1 $(calc "$2 + $3")"
}
min() { if [ -z "$1" ] || [ "$(calc "$2 < $1")" = 1 ]; then echo "$2"; else echo "$1"; fi; }
wall_ours=""; wall_pstops=""; cpu_ours=""; cpu_pstops=""
for ((i = 1; i <= rounds; i++)); do
  read -r w1 c1 < <(run "$ours_options" "$filter")
  sheets=$(grep -c '^ESPshowpage' "$work/out" || true)
  read -r w2 c2 < <(run "number-up=4" "$pstops")
  printf 'round %d: psToVTOrbPS %.3f s wall %.3f s cpu (%d sides); pstops %.3f s wall %.3f s cpu\n' \
    "$i" "$w1" "$c1" "$sheets" "$w2" "$c2"
  wall_ours=$(min "$wall_ours" "$w1"); cpu_ours=$(min "$cpu_ours" "$c1")
  wall_pstops=$(min "$wall_pstops" "$w2"); cpu_pstops=$(min "$cpu_pstops" "$c2")
done
mb=$(calc "$bytes / 1048576")
printf 'psToVTOrbPS 4-up from spool: %.1f MB/s wall, %.1f MB/s cpu\n' "$(calc "$mb / $wall_ours")" "$(calc "$mb / $cpu_ours")"
printf 'pstops number-up=4:          %.1f MB/s wall, %.1f MB/s cpu\n' "$(calc "$mb / $wall_pstops")" "$(calc "$mb / $cpu_pstops")"
printf 'ratio psToVTOrbPS / pstops: %.2f (wall), %.2f (cpu)\n' \
  "$(calc "$wall_pstops / $wall_ours")" "$(calc "$cpu_pstops / $cpu_ours")"
