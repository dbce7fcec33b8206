# Shared set-up of the filter benchmarks, sourced after the script has set
# `here`, `filter` and `size_mb`:
#
#   vt_bench_document NAME [CREATOR]
#
# checks the filter and CUPS's pstops, converts the Debian documentation PDF
# with pdftops into a temporary folder `work` (removed on exit, with root/ and
# spool/ for the filter's test locations), repeats its pages to about size_mb
# megabytes in $work/big.ps (naming CREATOR on its "%%Creator:" line when
# given), and sets `pstops`, `ppd`, `pdf`, `pages` and `bytes`.
pstops=/usr/lib/cups/filter/pstops
ppd=$here/../examples/sample.ppd
pdf=${VT_BENCH_PDF:-/usr/share/doc/libtasn1-doc/libtasn1.pdf}

calc() { awk "BEGIN { print $1 }"; }

vt_bench_document() {
  local name=$1 creator=${2:-}
  for f in "$filter" "$pstops"; do
    [ -x "$f" ] || { echo "$name bench: $f is missing" >&2; exit 1; }
  done
  [ -r "$pdf" ] || { echo "$name bench: $pdf is missing (install libtasn1-doc or set VT_BENCH_PDF)" >&2; exit 1; }
  work=$(mktemp -d "/tmp/vt-bench-$name-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/root" "$work/spool"
  pdftops "$pdf" "$work/base.ps"
  pages=$(python3 "$here/make_big_document.py" "$work/base.ps" "$work/big.ps" "$size_mb" $creator)
  bytes=$(stat -c %s "$work/big.ps")
  echo "document: $((bytes / 1048576)) MB, $pages pages, from $pdf"
}

# vt_bench_run PROGRAM OPTIONS: one run of a filter on $work/big.ps with its
# output going to /dev/null; prints "wall cpu peak" (seconds, seconds, KiB).
# cpu is the user + system time from the kernel's accounting of the finished
# process (wait4), which a machine busy with other work disturbs less than
# the wall clock; it includes the /usr/bin/time wrapper's own fraction of a
# millisecond. peak is the filter's largest resident set as /usr/bin/time
# reports it (measured in a process of its own, so it is the filter's alone).
vt_bench_run() {
  PPD=$ppd VT_TEST_ROOT=$work/root VT_TEST_SPOOL_DIR=$work/spool python3 -c '
import os, subprocess, sys, time
peak_file = sys.argv[4] + "/peak"
start = time.perf_counter()
child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file, sys.argv[1],
                          "1", "bench", "bench", "1", sys.argv[2], sys.argv[3]],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
wall = time.perf_counter() - start
if status != 0:
    sys.exit("%s failed with status %d" % (sys.argv[1], status))
peak = int(open(peak_file).read().split()[-1])
print("%.4f %.4f %d" % (wall, usage.ru_utime + usage.ru_stime, peak))
' "$1" "$2" "$work/big.ps" "$work"
}

# vt_bench_rounds ROUNDS NAME PROGRAM OPTIONS [NAME PROGRAM OPTIONS ...]: runs
# the jobs in turn, ROUNDS times, so all see the same machine state, printing
# each round; leaves job J's best wall and cpu seconds and largest peak in
# wall[J], cpu[J] and peak[J], and the document's size in `mb`.
vt_bench_rounds() {
  local rounds=$1 i j w c m line
  shift
  local -a names=() programs=() options=()
  while [ $# -gt 0 ]; do names+=("$1"); programs+=("$2"); options+=("$3"); shift 3; done
  wall=(); cpu=(); peak=()
  for ((i = 1; i <= rounds; i++)); do
    line="round $i:"
    for j in "${!names[@]}"; do
      read -r w c m < <(vt_bench_run "${programs[j]}" "${options[j]}")
      line+=$(printf ' %s %.3f s wall %.3f s cpu;' "${names[j]}" "$w" "$c")
      wall[j]=$(min "${wall[j]:-}" "$w"); cpu[j]=$(min "${cpu[j]:-}" "$c")
      peak[j]=$(max "${peak[j]:-}" "$m")
    done
    echo "${line%;}"
  done
  mb=$(calc "$bytes / 1048576")
}

# vt_bench_line LABEL J [NOTE]: job J's best throughput and its peak memory.
vt_bench_line() {
  printf '%s %.1f MB/s wall, %.1f MB/s cpu, peak memory %.1f MiB%s\n' "$1" \
    "$(calc "$mb / ${wall[$2]}")" "$(calc "$mb / ${cpu[$2]}")" "$(calc "${peak[$2]} / 1024")" \
    "${3:+ ($3)}"
}

# vt_bench_ratio LABEL J PEER: how many times faster job J ran than job PEER.
vt_bench_ratio() {
  printf 'ratio %s: %.2f (wall), %.2f (cpu)\n' "$1" "$(calc "${wall[$3]} / ${wall[$2]}")" \
    "$(calc "${cpu[$3]} / ${cpu[$2]}")"
}

# vt_bench_sides OPTIONS: the sheet sides the filter prints for OPTIONS, from
# one more, untimed run.
vt_bench_sides() {
  PPD=$ppd VT_TEST_ROOT=$work/root VT_TEST_SPOOL_DIR=$work/spool \
    "$filter" 1 bench bench 1 "$1" "$work/big.ps" 2> /dev/null | grep -c '^ESPshowpage' || true
}

# min A B: the smaller number (B when A is empty); max likewise.
min() { if [ -z "$1" ] || [ "$(calc "$2 < $1")" = 1 ]; then echo "$2"; else echo "$1"; fi; }
max() { if [ -z "$1" ] || [ "$(calc "($2 > $1)")" = 1 ]; then echo "$2"; else echo "$1"; fi; }
