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
wall_ours=""; wall_pstops=""; cpu_ours=""; cpu_pstops=""; peak_ours=""; peak_pstops=""
for ((i = 1; i <= rounds; i++)); do
  read -r w1 c1 m1 < <(vt_bench_run "$filter" "")
  read -r w2 c2 m2 < <(vt_bench_run "$pstops" "")
  printf 'round %d: psToVTOrbPS %.3f s wall %.3f s cpu; pstops %.3f s wall %.3f s cpu\n' \
    "$i" "$w1" "$c1" "$w2" "$c2"
  wall_ours=$(min "$wall_ours" "$w1"); cpu_ours=$(min "$cpu_ours" "$c1")
  wall_pstops=$(min "$wall_pstops" "$w2"); cpu_pstops=$(min "$cpu_pstops" "$c2")
  peak_ours=$(max "$peak_ours" "$m1"); peak_pstops=$(max "$peak_pstops" "$m2")
done
mb=$(calc "$bytes / 1048576")
printf 'psToVTOrbPS: %.1f MB/s wall, %.1f MB/s cpu, peak memory %.1f MiB\n' \
  "$(calc "$mb / $wall_ours")" "$(calc "$mb / $cpu_ours")" "$(calc "$peak_ours / 1024")"
printf 'pstops:      %.1f MB/s wall, %.1f MB/s cpu, peak memory %.1f MiB\n' \
  "$(calc "$mb / $wall_pstops")" "$(calc "$mb / $cpu_pstops")" "$(calc "$peak_pstops / 1024")"
printf 'ratio psToVTOrbPS / pstops: %.2f (wall), %.2f (cpu)\n' \
  "$(calc "$wall_pstops / $wall_ours")" "$(calc "$cpu_pstops / $cpu_ours")"
