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
