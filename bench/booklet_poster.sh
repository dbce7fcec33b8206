#!/usr/bin/env bash
# Throughput of a booklet job (line pass into spool file A, booklet order
# into spool file B, two pages per sheet side from B) and of a "2x2" poster
# job against CUPS's own pstops filter doing 2-up ("number-up=2") on the
# same large real document: a PDF from a Debian documentation package,
# converted with pdftops, its pages repeated to about SIZE_MB megabytes.
# pstops places the same two pages per side but has no booklet reordering;
# the poster writes every page four times. Runs alternate so all see the
# same machine state; the best run of each is reported, with the ratios.
#
#   bench/booklet_poster.sh psToVTOrbPS_testpaths [SIZE_MB] [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
filter=${1:?path of psToVTOrbPS_testpaths}
size_mb=${2:-100}
rounds=${3:-3}
. "$here/common.sh"
# A creator the filter recognises, so the poster job is imposed rather than
# passed through.
vt_bench_document booklet pstops

booklet_options="VTDuplex=BookletL com.apple.print.PrintSettings.PMTotalBeginPages..n.=$pages"
poster_options="Combination=2x2 com.apple.print.PrintSettings.PMTotalBeginPages..n.=$pages"
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
wall_b=""; cpu_b=""; wall_p=""; cpu_p=""; wall_s=""; cpu_s=""
for ((i = 1; i <= rounds; i++)); do
  read -r w1 c1 < <(run "$booklet_options" "$filter")
  sides_b=$(grep -c '^ESPshowpage' "$work/out" || true)
  read -r w2 c2 < <(run "$poster_options" "$filter")
  sides_p=$(grep -c '^ESPshowpage' "$work/out" || true)
  read -r w3 c3 < <(run "number-up=2" "$pstops")
  printf 'round %d: booklet %.3f s wall %.3f s cpu (%d sides); poster %.3f s wall %.3f s cpu (%d tiles); pstops 2-up %.3f s wall %.3f s cpu\n' \
    "$i" "$w1" "$c1" "$sides_b" "$w2" "$c2" "$sides_p" "$w3" "$c3"
  wall_b=$(min "$wall_b" "$w1"); cpu_b=$(min "$cpu_b" "$c1")
  wall_p=$(min "$wall_p" "$w2"); cpu_p=$(min "$cpu_p" "$c2")
  wall_s=$(min "$wall_s" "$w3"); cpu_s=$(min "$cpu_s" "$c3")
done
mb=$(calc "$bytes / 1048576")
printf 'psToVTOrbPS booklet:  %.1f MB/s wall, %.1f MB/s cpu\n' "$(calc "$mb / $wall_b")" "$(calc "$mb / $cpu_b")"
printf 'psToVTOrbPS 2x2 poster: %.1f MB/s wall, %.1f MB/s cpu (input MB)\n' "$(calc "$mb / $wall_p")" "$(calc "$mb / $cpu_p")"
printf 'pstops number-up=2:   %.1f MB/s wall, %.1f MB/s cpu\n' "$(calc "$mb / $wall_s")" "$(calc "$mb / $cpu_s")"
printf 'ratio booklet / pstops 2-up: %.2f (wall), %.2f (cpu)\n' \
  "$(calc "$wall_s / $wall_b")" "$(calc "$cpu_s / $cpu_b")"
printf 'ratio poster / pstops 2-up:  %.2f (wall), %.2f (cpu)\n' \
  "$(calc "$wall_s / $wall_p")" "$(calc "$cpu_s / $cpu_p")"
