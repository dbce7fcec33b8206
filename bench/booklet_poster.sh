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
wall_b=""; cpu_b=""; wall_p=""; cpu_p=""; wall_s=""; cpu_s=""; peak_b=""; peak_p=""; peak_s=""
for ((i = 1; i <= rounds; i++)); do
  read -r w1 c1 m1 < <(vt_bench_run "$filter" "$booklet_options")
  read -r w2 c2 m2 < <(vt_bench_run "$filter" "$poster_options")
  read -r w3 c3 m3 < <(vt_bench_run "$pstops" "number-up=2")
  printf 'round %d: booklet %.3f s wall %.3f s cpu; poster %.3f s wall %.3f s cpu; pstops 2-up %.3f s wall %.3f s cpu\n' \
    "$i" "$w1" "$c1" "$w2" "$c2" "$w3" "$c3"
  wall_b=$(min "$wall_b" "$w1"); cpu_b=$(min "$cpu_b" "$c1"); peak_b=$(max "$peak_b" "$m1")
  wall_p=$(min "$wall_p" "$w2"); cpu_p=$(min "$cpu_p" "$c2"); peak_p=$(max "$peak_p" "$m2")
  wall_s=$(min "$wall_s" "$w3"); cpu_s=$(min "$cpu_s" "$c3"); peak_s=$(max "$peak_s" "$m3")
done
# The sheet sides each job printed, from one more (untimed) run each.
sides() {
  PPD=$ppd VT_TEST_ROOT=$work/root VT_TEST_SPOOL_DIR=$work/spool \
    "$filter" 1 bench bench 1 "$1" "$work/big.ps" 2> /dev/null | grep -c '^ESPshowpage' || true
}
mb=$(calc "$bytes / 1048576")
printf 'psToVTOrbPS booklet:    %.1f MB/s wall, %.1f MB/s cpu, peak memory %.1f MiB (%d sides)\n' \
  "$(calc "$mb / $wall_b")" "$(calc "$mb / $cpu_b")" "$(calc "$peak_b / 1024")" "$(sides "$booklet_options")"
printf 'psToVTOrbPS 2x2 poster: %.1f MB/s wall, %.1f MB/s cpu, peak memory %.1f MiB (%d tiles; input MB)\n' \
  "$(calc "$mb / $wall_p")" "$(calc "$mb / $cpu_p")" "$(calc "$peak_p / 1024")" "$(sides "$poster_options")"
printf 'pstops number-up=2:     %.1f MB/s wall, %.1f MB/s cpu, peak memory %.1f MiB\n' \
  "$(calc "$mb / $wall_s")" "$(calc "$mb / $cpu_s")" "$(calc "$peak_s / 1024")"
printf 'ratio booklet / pstops 2-up: %.2f (wall), %.2f (cpu)\n' \
  "$(calc "$wall_s / $wall_b")" "$(calc "$cpu_s / $cpu_b")"
printf 'ratio poster / pstops 2-up:  %.2f (wall), %.2f (cpu)\n' \
  "$(calc "$wall_s / $wall_p")" "$(calc "$cpu_s / $cpu_p")"
