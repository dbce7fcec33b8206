#!/usr/bin/env bash
# Prints a booklet through a private cupsd with the Debian packages in place,
# as an administrator would after `apt install`: in a mount namespace of its
# own, the unpacked packages (deb_package.sh's OUT_DIR/root) are laid over
# /usr and /etc, so CUPS finds the packaged filter in /usr/lib/cups/filter,
# lists the packaged PPD among its models (lpinfo -m) and the filter reads
# the packaged customisation file from /etc. The queue is made with
# `lpadmin -m` and the PPD's model name; the job's stream is rendered with the
# packaged vt-preview and each sheet side is checked for the booklet pages it
# must carry. Nothing outside the namespace sees the overlays.
#
# usage: deb_e2e.sh OUT_DIR
#
# Exits 77 (skipped) when not root, when the packages were not built and
# checked, when CUPS, Ghostscript or ImageMagick are missing, or when the
# namespace and its overlays cannot be made here.
set -uo pipefail

skip() { echo "SKIPPED: $*"; exit 77; }
export PATH=$PATH:/usr/sbin:/sbin

if [ "${1:-}" != --inside ]; then
  out=$(realpath "$1")
  [ -f "$out/ok" ] || skip "no checked packages in $out (run packaging_deb first)"
  [ "$(id -u)" -eq 0 ] || skip "laying the packages over /usr needs root"
  for tool in unshare mount cupsd lp lpadmin lpinfo lpstat gs convert identify; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
  done
  [ -d /var/spool/cups/tmp ] || skip "no /var/spool/cups/tmp to stand in for"
  exec unshare --mount --propagation private bash "$0" --inside "$out"
fi
out=$2 root=$out/root

# shellcheck source=private_cupsd.sh
. "$(dirname "$0")/private_cupsd.sh"
private_workdir vt-deb-e2e

# ---- the packages in place, seen only from here -----------------------------
mount -t overlay vt-usr -o "lowerdir=$root/usr:/usr" /usr 2>"$tmp/mount.log" &&
  mount -t overlay vt-etc -o "lowerdir=$root/etc:/etc" /etc 2>>"$tmp/mount.log" ||
  { cat "$tmp/mount.log"; skip "cannot lay the packages over /usr and /etc here"; }
# The filter writes its spool files to CUPS's temporary folder, as lp.
mkdir -p "$tmp/cupstmp" && chmod 1777 "$tmp/cupstmp"
mount --bind "$tmp/cupstmp" /var/spool/cups/tmp || skip "cannot stand in for /var/spool/cups/tmp"
[ -x /usr/lib/cups/filter/psToVTOrbPS ] && [ -f /etc/vantora/Q610/FilterCustomize.plist ] ||
  { echo "FAIL: the overlays do not show the packaged files"; exit 1; }

# ---- a private cupsd with the system's (now the package's) folders ----------
outdir=$tmp/out
mkdir -p "$outdir" && chmod 0755 "$outdir"
start_private_cupsd "$tmp" $'User lp\nGroup lp' ||
  skip "a private cupsd could not be started here"

# ---- the queue, from the model CUPS lists for the package's PPD -------------
model=$(lpinfo -m 2>/dev/null | awk '/ VANTORA Q610$/ { print $1 }')
case $model in
  */vantora/Q610.ppd) pass "lpinfo -m lists the packaged PPD as $model" ;;
  *) echo "FAIL: lpinfo -m does not list the packaged PPD (got '$model')"; exit 1 ;;
esac
device=$outdir/device.prn
lpadmin -p Q610 -E -v "file://$device" -m "$model" >"$tmp/lpadmin.log" 2>&1 ||
  { cat "$tmp/lpadmin.log"; echo "FAIL: lpadmin -m $model"; exit 1; }
pass "queue made with lpadmin -m $model"

# ---- a 6-page PDF, a large grey panel on every page, printed as a booklet ---
cat > "$tmp/sample.ps" <<'EOF'
%!PS-Adobe-3.0
%%Pages: 6
%%EndComments
1 1 6 {
  /i exch def
  << /PageSize [612 792] >> setpagedevice
  0.6 setgray 36 36 540 720 rectfill 0 setgray
  /Helvetica-Bold 200 selectfont 240 320 moveto i 2 string cvs show
  showpage
} for
EOF
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$tmp/sample.pdf" "$tmp/sample.ps" ||
  { echo "FAIL: Ghostscript could not make the sample PDF"; exit 1; }
chmod 0644 "$tmp/sample.pdf"
reply=$(lp -d Q610 -o VTDuplex=BookletL -o Binding=LongEdge -o VTCollate=False "$tmp/sample.pdf" 2>&1)
job=$(sed -n 's/^request id is Q610-\([0-9]*\).*/\1/p' <<<"$reply")
[ -n "$job" ] || { echo "FAIL: lp refused the job: $reply"; exit 1; }
if ! wait_private_job Q610 "$job"; then
  grep "\[Job $job\]" "$logs/error_log" | grep -E 'ERROR|stopped|aborted|crashed|exited' | tail -10
  echo "FAIL: the booklet job did not complete"; exit 1
fi
pass "booklet job $job completed"

# The header line comes from the packaged customisation file in /etc.
grep -aqx '@PJL SET COLLATE = OFF' "$device" &&
  pass "PJL header from /etc/vantora/Q610/FilterCustomize.plist" ||
  fail "no COLLATE line: the filter did not read the packaged customisation file"
[ -z "$(ls -A /var/spool/cups/tmp)" ] && pass "no spool files left" ||
  fail "spool files left: $(ls /var/spool/cups/tmp)"

# ---- rendered with the packaged vt-preview: which halves carry a page -------
# Six pages fill eight booklet positions; the two blank ones (7 and 8) sit on
# the outer sheet, which is printed first: its front carries 8 and 1, its
# back 2 and 7, the inner sheet 6 and 3, then 4 and 5.
if ! VT_PREVIEW_DPI=20 vt-preview "$device" "$outdir/preview" >"$tmp/preview.log" 2>&1; then
  cat "$tmp/preview.log"; echo "FAIL: vt-preview could not render the stream"; exit 1
fi
halves() {  # image -> "P B" (P printed, B blank) for its two halves along the long side
  local w h crop
  read -r w h < <(identify -format '%w %h\n' "$1")
  if [ "$w" -ge "$h" ]; then crop=50%x100%; else crop=100%x50%; fi
  convert "$1" -colorspace gray -crop "$crop" +repage -format '%[fx:mean]\n' info: |
    awk '{ printf "%s%s", (NR > 1 ? " " : ""), ($1 < 0.9 ? "P" : "B") } END { print "" }'
}
got=$(for side in "$outdir"/preview/sheet-*.png; do halves "$side" | tr ' ' '\n' | sort | tr -d '\n'; echo; done)
expected=$'BP\nBP\nPP\nPP'
if [ "$got" = "$expected" ]; then
  pass "4 rendered sheet sides carry the 6 pages in booklet positions"
else
  fail "rendered sides (blank/printed halves) differ: expected $(tr '\n' ' ' <<<"$expected"), got $(tr '\n' ' ' <<<"$got")"
fi

echo "$failures failed"
exit $((failures > 0))
