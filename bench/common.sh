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

# min A B: the smaller number (B when A is empty); max likewise.
min() { if [ -z "$1" ] || [ "$(calc "$2 < $1")" = 1 ]; then echo "$2"; else echo "$1"; fi; }
max() { if [ -z "$1" ] || [ "$(calc "($2 > $1)")" = 1 ]; then echo "$2"; else echo "$1"; fi; }
