#!/usr/bin/env bash
# Prints a real PDF through a private cupsd to a queue made from the
# installed Q610 PPD, with the option sets a person chooses most (plain,
# booklet, also with the PDF converted by poppler instead of Ghostscript,
# 2x2 poster, 4-up with a printed front cover and blank interleave, 2-up
# turned by 180 degrees), and a PostScript file through CUPS's pstops (two
# to a sheet with covers; one without page comments as a booklet). Checks
# what reached the file device: the PJL framing with the header lines of the
# sample customisation file, the sheet comments of the imposition, each
# rendered sheet side (Ghostscript through vt-preview, with nothing resident
# but the printer's own procedure set): which pages it shows, by their own
# grey, and that each shows whole (equal areas, nothing cut or overlapping);
# and the page log of the scheduler.
#
# usage: cups_e2e.sh BUILD_DIR FILTER_EXE VT_ROOT
#   BUILD_DIR   the build tree (installed from with cmake --install)
#   FILTER_EXE  the filter built to take its locations from VT_TEST_ROOT and
#               VT_TEST_SPOOL_DIR; cupsd hands it those through SetEnv
#   VT_ROOT     the VT_ROOT the tree was configured with
#
# Exits 77 (skipped) when cupsd, lp or Ghostscript are missing or a private
# cupsd cannot be started here. Everything lives in one temporary folder,
# removed at the end together with the cupsd.
set -uo pipefail

build=$1
filter=$2
vtroot=${3:-}

skip() { echo "SKIPPED: $*"; exit 77; }
for tool in cupsd lp lpadmin lpstat cancel gs cmake; do
  command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] || skip "$tool is not installed"
done
export PATH=$PATH:/usr/sbin
[ -x "$filter" ] || { echo "FAIL: no filter program at $filter"; exit 1; }
[ -x "$build/bin/vt-preview" ] || { echo "FAIL: no $build/bin/vt-preview"; exit 1; }

# shellcheck source=private_cupsd.sh
. "$(dirname "$0")/private_cupsd.sh"
private_workdir vt-cups-e2e

# ---- the installation, into a folder of its own ----------------------------
dest=$tmp/dest
if ! DESTDIR=$dest cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi
ppd=$dest/usr/share/cups/model/vantora/Q610.ppd
customize=$dest$vtroot/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist
[ -f "$ppd" ] || { echo "FAIL: the PPD was not installed"; exit 1; }
[ -f "$customize" ] || echo "note: no sample customisation file installed; no PJL header expected"

# ---- a private cupsd: own ServerRoot, ServerBin, spool, socket -------------
etc=$tmp/etc; bin=$tmp/serverbin; spool=$tmp/spool; logs=$tmp/log; out=$tmp/out
mkdir -p "$etc/ppd" "$bin/filter" "$spool/tmp" "$logs" "$out" "$tmp/cache" "$tmp/state"
chmod 0755 "$etc" "$bin" "$bin/filter" "$logs" "$out"
for d in /usr/lib/cups/*; do
  [ "$(basename "$d")" = filter ] || ln -s "$d" "$bin/$(basename "$d")"
done
for f in /usr/lib/cups/filter/*; do ln -s "$f" "$bin/filter/$(basename "$f")"; done
install -m 0755 "$filter" "$bin/filter/psToVTOrbPS"

socket=$tmp/cups.sock
if [ "$(id -u)" -eq 0 ]; then
  user_lines=$'User lp\nGroup lp'
  # Filters run as lp and read the customisation file from the install tree.
  chmod -R a+rX "$dest"
else
  user_lines=
fi
extra=$user_lines
extra+=$'\n'"ServerBin $bin"$'\n'"DataDir /usr/share/cups"
extra+=$'\n'"SetEnv VT_TEST_ROOT $dest$vtroot"$'\n'"SetEnv VT_TEST_SPOOL_DIR $spool/tmp"
start_private_cupsd "$tmp" "$extra" || skip "a private cupsd could not be started here"
pass "private cupsd listening on $socket"

device=$out/device.prn
if ! lpadmin -p Q610 -E -v "file://$device" -P "$ppd" >"$tmp/lpadmin.log" 2>&1; then
  cat "$tmp/lpadmin.log"
  echo "FAIL: lpadmin could not add the queue"
  exit 1
fi
pass "queue Q610 added from the installed PPD"
# Queue defaults reach the filter as job options only when set as
# "NAME-default" (plain "-o NAME=VALUE" changes the PPD's default, which the
# filter does not read): the body's tray and media, put back after covers.
if ! lpadmin -p Q610 -o VTInputSlot-default=Tray3 -o MediaType-default=Recycled >"$tmp/lpadmin.log" 2>&1; then
  cat "$tmp/lpadmin.log"; fail "lpadmin could not set the queue's defaults"
fi

# ---- the document: a real PDF whose pages each fill their own grey --------
# Page i fills the rectangle 36 36 540 720 with grey 0.30 + 0.08 i, so a
# rendered side tells which pages it shows and how much of each.
pages=6
cat > "$tmp/sample.ps" <<EOF
%!PS-Adobe-3.0
%%Pages: $pages
%%EndComments
1 1 $pages {
  /i exch def
  << /PageSize [612 792] >> setpagedevice
  0.30 i 0.08 mul add setgray 36 36 540 720 rectfill
  showpage
} for
EOF
pdf=$tmp/sample.pdf
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$pdf" "$tmp/sample.ps" ||
  { echo "FAIL: Ghostscript could not make the sample PDF"; exit 1; }
chmod 0644 "$pdf"

# print_job NAME OPTION...: submits the PDF, waits until the job has left the
# queue, and copies what reached the device to $out/NAME.prn. Sets $job.
# print_job_file NAME FILE OPTION... does the same with another file.
job=
print_job() { local name=$1; shift; print_job_file "$name" "$pdf" "$@"; }
print_job_file() {
  local name=$1 file=$2; shift 2
  local args=() o reply waited=0
  for o in "$@"; do args+=(-o "$o"); done
  rm -f "$device"
  if ! reply=$(lp -d Q610 -t "$name" "${args[@]}" "$file" 2>&1); then
    fail "$name: lp refused the job: $reply"; return 1
  fi
  job=$(sed -n 's/^request id is Q610-\([0-9]*\).*/\1/p' <<<"$reply")
  [ -n "$job" ] || { fail "$name: no job number in lp's reply: $reply"; return 1; }
  while lpstat -o Q610 2>/dev/null | grep -q "^Q610-$job "; do
    sleep 0.2; waited=$((waited + 1))
    if [ $waited -gt 600 ]; then
      cancel "Q610-$job" 2>/dev/null; fail "$name: job $job did not finish in 120 s"; return 1
    fi
  done
  # The scheduler logs the job's end as it leaves the queue; give it a moment.
  for _ in $(seq 50); do
    grep -qE "\[Job $job\] (Job completed|Job stopped|Job aborted|Job canceled)" "$logs/error_log" && break
    sleep 0.1
  done
  if ! grep -q "\[Job $job\] Job completed" "$logs/error_log"; then
    grep "\[Job $job\]" "$logs/error_log" | grep -E 'ERROR|stopped|aborted|crashed|exited' | tail -10
    fail "$name: job $job did not complete"; return 1
  fi
  for _ in $(seq 50); do
    awk -v j="$job" '$3 == j && $6 == "total" { found = 1 } END { exit !found }' "$logs/page_log" 2>/dev/null && break
    sleep 0.1
  done
  cp "$device" "$out/$name.prn" 2>/dev/null || : > "$out/$name.prn"
  return 0
}

# ---- checks on what reached the device --------------------------------------
uel=$'\033%-12345X'

# The PJL in front of the PostScript, byte for byte: the job opened by the
# filter, the header lines the sample customisation file makes of the job's
# options, and the switch to PostScript.
check_header() {  # name expected-lines...
  local name=$1; shift
  local expected got
  # Without a login or job name among the options, the job's user and title
  # (the job's name here) name it.
  [[ ${1:-} == '@PJL SET USERNAME'* ]] ||
    set -- "@PJL SET USERNAME = \"$(id -un)\"" "@PJL SET JOBNAME = \"$name\"" "$@"
  expected=$(printf '%s@PJL JOB\n' "$uel"; [ -f "$customize" ] && [ $# -gt 0 ] && printf '%s\n' "$@"
             printf '@PJL ENTER LANGUAGE = POSTSCRIPT\n%%!PS-Adobe-3.0')
  got=$(head -c ${#expected} "$out/$name.prn" 2>/dev/null)
  if [ "$got" = "$expected" ]; then pass "$name: PJL job header"
  else fail "$name: PJL job header differs"; diff <(cat -v <<<"$expected") <(cat -v <<<"$got") | head -20; fi
  # The filter opened the job, so it closes it: UEL @PJL EOJ, then a lone UEL.
  local tail_expected
  tail_expected=$(printf '%s@PJL EOJ\n%s\n' "$uel" "$uel" | od -An -c)
  if [ "$(tail -c $(( ${#uel} * 2 + 10 )) "$out/$name.prn" | od -An -c)" = "$tail_expected" ]; then
    pass "$name: PJL end of job"
  else fail "$name: the stream does not end with the PJL end of job"; fi
}

# The "%%Page:" comments of the stream, one per line.
page_comments() { grep -a '^%%Page:' "$out/$1.prn" | tr -d '\r'; }
check_pages() {  # name expected-comment...
  local name=$1; shift
  local expected
  expected=$(printf '%s\n' "$@")
  if [ "$(page_comments "$name")" = "$expected" ]; then pass "$name: sheet comments ($# sides)"
  else fail "$name: sheet comments differ (expected | got)"; diff -y <(echo "$expected") <(page_comments "$name") | head -30; fi
}

# Tray, media, duplex and page lines after the setup, in order: what the
# printer is told for each sheet.
sheet_skeleton() {
  sed -n '/^%%EndSetup/,$p' "$out/$1.prn" | tr -d '\r' |
    grep -a -E '^%%Page:|MediaPosition|MediaType|Duplex|Tumble|^showpage$'
}

# Renders the PostScript part with Ghostscript through vt-preview; prints
# the number of sheet sides (0 when it failed: runs in a subshell, so the
# caller counts the failure).
render() {  # name
  local name=$1 n
  if ! VT_PREVIEW_DPI=20 "$build/bin/vt-preview" "$out/$name.prn" "$out/$name.preview" >"$out/$name.preview.log" 2>&1; then
    fail "$name: Ghostscript could not render the stream"; cat "$out/$name.preview.log" >&2; echo 0; return
  fi
  n=$(ls "$out/$name.preview"/sheet-*.png | wc -l)
  pass "$name: renders in Ghostscript ($n sheet sides)" >&2
  echo "$n"
}

# What a rendered side shows: "page fraction" lines, one for each page grey
# found on it, with the fraction of the sheet it covers.
page_areas() {  # png
  convert "$1" -colorspace Gray -depth 8 -format '%c' histogram:info:- 2>/dev/null |
    awk -v total="$(identify -format '%[fx:w*h]' "$1")" '
      { n = $1; sub(":", "", n); v = $2; gsub(/[^0-9,]/, "", v); split(v, c, ",")
        for (i = 1; i <= 6; i++) { g = int(255 * (0.30 + 0.08 * i) + 0.5)
          if (c[1] >= g - 3 && c[1] <= g + 3) area[i] += n } }
      END { for (i = 1; i <= 6; i++) if (area[i] / total > 0.005) printf "%d %.4f\n", i, area[i] / total }'
}

# Checks every rendered side of a job against its expected pages: a side is
# "1 2" (pages 1 and 2 in its cells), "-" (blank) or "1:full" (page 1 alone,
# unscaled). The pages placed in cells must all cover the same area, within
# 4 % of the largest of the job: a cell cut at the sheet's edge, or two
# cells overlapping, shows as a smaller area. A whole page covers 540 x 720
# of 612 x 792 points.
check_sides() {  # name side...
  local name=$1; shift
  local dir=$out/$name.preview n=0 side got want bad=0 areas=$out/$name.areas p a
  : > "$areas"
  local sheets=("$dir"/sheet-*.png)
  if [ ${#sheets[@]} -ne $# ]; then
    fail "$name: ${#sheets[@]} sheet sides rendered, expected $#"; return
  fi
  for side in "$@"; do
    got=$(page_areas "${sheets[$n]}")
    want=$(tr ' ' '\n' <<<"${side//:full/}" | grep -v '^-$' | sort -n | tr '\n' ' ')
    if [ "$(cut -d' ' -f1 <<<"$got" | grep . | sort -n | tr '\n' ' ')" != "$want" ]; then
      fail "$name: side $((n + 1)) shows pages '$(cut -d' ' -f1 <<<"$got" | tr '\n' ' ')', expected '$want'"; bad=1
    fi
    for p in $side; do
      case $p in
        *:full) a=$(awk -v p="${p%:full}" '$1 == p { print $2 }' <<<"$got")
                awk -v a="${a:-0}" 'BEGIN { exit !(a > 0.78 && a < 0.83) }' ||
                  { fail "$name: side $((n + 1)): page ${p%:full} covers ${a:-0} of the sheet, not 0.80"; bad=1; } ;;
        -) ;;
        *) awk -v p="$p" -v s=$((n + 1)) '$1 == p { print s, p, $2 }' <<<"$got" >> "$areas" ;;
      esac
    done
    n=$((n + 1))
  done
  if [ -s "$areas" ] && ! awk '{ a[NR] = $3; if ($3 > m) m = $3 } END { for (i in a) if (a[i] < 0.96 * m) exit 1 }' "$areas"; then
    fail "$name: cells of unequal area (side page fraction):"; cat "$areas"; bad=1
  fi
  [ $bad -eq 0 ] && pass "$name: every side shows its pages whole ($*)"
}

# The scheduler's page log: the job's total of impressions, which comes from
# the filter's "PAGE:" and "ATTR: job-impressions-completed" lines.
check_page_log() {  # name job total
  local got
  got=$(awk -v j="$2" '$3 == j && $6 == "total" { print $7 }' "$logs/page_log" | tail -1)
  if [ "$got" = "$3" ]; then pass "$1: page log total $3"
  else fail "$1: page log total is '${got}', expected $3"; fi
  local reports
  reports=$(grep -c "\[Job $2\] PAGE: [0-9]* 1" "$logs/error_log")
  [ "$reports" -eq "$3" ] || fail "$1: $reports PAGE reports in the error log, expected $3"
}

rows=com.apple.print.PrintSettings.PMLayoutRows..n.
columns=com.apple.print.PrintSettings.PMLayoutColumns..n.

# 1. A plain job with the options of the sample customisation file.
if print_job plain jp.vantora.printers.loginName=alice com.apple.print.JobInfo.PMJobName=Quarterly \
     VTCollate=True OutputMethod=Normal JimonTextSet=True JimonCharacter=DRAFT; then
  check_header plain '@PJL SET USERNAME = "alice"' '@PJL SET JOBNAME = "Quarterly"' \
    '@PJL SET COLLATE = ON' '@PJL SET HOLD = OFF' '@PJL SET STAMP = ON' '@PJL SET STAMPTEXT = "DRAFT"'
  check_pages plain '%%Page: 1 1' '%%Page: 2 2' '%%Page: 3 3' '%%Page: 4 4' '%%Page: 5 5' '%%Page: 6 6'
  grep -aqx '<</PclOrientation 0>> /VTOptions /ProcSet findresource /setVToptions get exec' "$out/plain.prn" &&
    pass "plain: orientation setup for the printer" || fail "plain: no orientation setup line"
  render plain >/dev/null
  check_sides plain 1:full 2:full 3:full 4:full 5:full 6:full
  check_page_log plain "$job" "$pages"
fi

# 2. A booklet bound on the left: 6 pages fill 8 booklet positions, two to a
# sheet side; each side's comment names the positions it carries. Also a
# boolean option set false reaches the header.
if print_job booklet VTDuplex=BookletL Binding=LongEdge VTCollate=False; then
  check_header booklet '@PJL SET COLLATE = OFF'
  check_pages booklet '%%Page: (0,1) 1' '%%Page: (2,3) 2' '%%Page: (4,5) 3' '%%Page: (6,7) 4'
  # The document's showpage (bound into ps2write's page procedure) is
  # deferred to the imposed side ends: one rendered side per imposed side.
  render booklet >/dev/null
  check_sides booklet 1 '2' '6 3' '4 5'
  check_page_log booklet "$job" 4
fi

# 2b. The same booklet with the PDF converted by poppler's pdftops instead of
# Ghostscript (cups-filters' pdftops-renderer option): pages that end in a
# plain showpage, passed through CUPS's pstops.
if print_job booklet-poppler VTDuplex=BookletL Binding=LongEdge pdftops-renderer=pdftops; then
  grep -aq '^%%Creator: GPL Ghostscript' "$out/booklet-poppler.prn" &&
    fail "booklet-poppler: the document was still converted by Ghostscript"
  check_pages booklet-poppler '%%Page: (0,1) 1' '%%Page: (2,3) 2' '%%Page: (4,5) 3' '%%Page: (6,7) 4'
  render booklet-poppler >/dev/null
  check_sides booklet-poppler 1 '2' '6 3' '4 5'
  check_page_log booklet-poppler "$job" 4
fi

# 3. A 2x2 poster. The document reaches the filter from Ghostscript
# ("%%Creator: GPL Ghostscript ... (ps2write)"): every page is tiled over
# four sheets, each tile mostly its page's grey (a quarter of it, enlarged).
if print_job poster Combination=2x2 OutputMethod=Hold; then
  check_header poster '@PJL SET HOLD = STORE'
  [ "$(page_comments poster | wc -l)" -eq $((4 * pages)) ] ||
    fail "poster: $(page_comments poster | wc -l) sheet comments for the $((4 * pages)) tiles"
  render poster >/dev/null
  n=0; bad=0
  for png in "$out/poster.preview"/sheet-*.png; do
    want=$((n / 4 + 1))
    got=$(page_areas "$png")
    if [ "$(cut -d' ' -f1 <<<"$got")" != "$want" ] ||
       ! awk -v a="$(cut -d' ' -f2 <<<"$got")" 'BEGIN { exit !(a > 0.6) }'; then
      fail "poster: tile $((n + 1)) shows '$got', expected most of the sheet in page $want"; bad=1
    fi
    n=$((n + 1))
  done
  [ "$n" -eq $((4 * pages)) ] || { fail "poster: $n tiles rendered, expected $((4 * pages))"; bad=1; }
  [ $bad -eq 0 ] && pass "poster: $n tiles, four of each page"
  check_page_log poster "$job" $((4 * pages))
fi

# 4. 4-up with a front cover printed on one side from tray 1 and a blank
# transparency interleave from tray 2 after every sheet; after each, the
# queue's own tray 3 and recycled paper (the PPD's code) are put back. CUPS sends no page
# count with the job (the macOS print dialog does); the filter counts them.
if print_job cover4up "$rows=2" "$columns=2" FrontCoverPage=True FrontCoverOption=PrintedSingle \
     FrontCoverTray=Tray1 OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2; then
  check_header cover4up
  expected=$(cat <<'EOF'
	/MediaPosition 3>>setpagedevice
<</MediaType (plain)>>setpagedevice
<</Duplex false>>setpagedevice
<</Tumble false>>setpagedevice
%%Page: 1 1
	/MediaPosition 1>>setpagedevice
<</MediaType (recycled)>>setpagedevice
<</Duplex false>>setpagedevice
<</Tumble false>>setpagedevice
%%Page: 2 2
%%Page: 3 3
%%Page: 4 4
%%Page: 5 5
	/MediaPosition 0>>setpagedevice
<</MediaType (plain)>>setpagedevice
showpage
	/MediaPosition 1>>setpagedevice
<</MediaType (recycled)>>setpagedevice
%%Page: 6 6
	/MediaPosition 0>>setpagedevice
<</MediaType (plain)>>setpagedevice
showpage
	/MediaPosition 1>>setpagedevice
<</MediaType (recycled)>>setpagedevice
EOF
)
  if [ "$(sheet_skeleton cover4up)" = "$expected" ]; then
    pass "cover4up: cover, two 4-up sheets and two interleaves with their trays"
  else
    fail "cover4up: sheet sequence differs (expected | got)"
    diff -y <(echo "$expected") <(sheet_skeleton cover4up) | head -40
  fi
  render cover4up >/dev/null
  check_sides cover4up 1:full '2 3 4 5' - '6' -
  check_page_log cover4up "$job" 5
fi

# 5. Two pages to a sheet (CUPS's own number-up), turned by 180 degrees: the
# filter tells the printer the sheet is sideways.
if print_job rot2up Rotate180=True number-up=2 "$rows=1" "$columns=2"; then
  check_header rot2up
  check_pages rot2up '%%Page: 1 1' '%%Page: 2 2' '%%Page: 3 3'
  grep -aqx '<</PclOrientation 1>> /VTOptions /ProcSet findresource /setVToptions get exec' "$out/rot2up.prn" &&
    pass "rot2up: sideways orientation setup" || fail "rot2up: no sideways orientation setup"
  render rot2up >/dev/null
  check_sides rot2up '1 2' '3 4' '5 6'
  check_page_log rot2up "$job" 3
fi

# 6. The same pages as a PostScript file with page comments (CUPS's pstops
# lays it out two to a sheet) with a printed front cover and a blank back
# cover: the sheets pstops ends with its own ESPshowpage get no blank side
# after them.
{
  printf '%%!PS-Adobe-3.0\n%%%%Pages: %d\n%%%%EndComments\n%%%%BeginProlog\n%%%%EndProlog\n' "$pages"
  for i in $(seq "$pages"); do
    printf '%%%%Page: %d %d\n%s setgray 36 36 540 720 rectfill showpage\n' "$i" "$i" \
      "$(awk -v i="$i" 'BEGIN { printf "%.2f", 0.30 + 0.08 * i }')"
  done
  printf '%%%%Trailer\n%%%%EOF\n'
} > "$tmp/sample-dsc.ps"
chmod 0644 "$tmp/sample-dsc.ps"
if print_job_file ps-covers "$tmp/sample-dsc.ps" number-up=2 FrontCoverPage=True \
     FrontCoverOption=PrintedSingle FrontCoverTray=Tray1 BackCoverPage=True \
     BackCoverOption=BlankPrinter BackCoverTray=Tray1; then
  check_header ps-covers
  render ps-covers >/dev/null
  check_sides ps-covers '1 2' '3 4' '5 6' -
  check_page_log ps-covers "$job" 4
fi

# 7. Plain PostScript without page comments, as a booklet: pstops wraps it
# into one page, which no layout can take apart; it prints whole, page for
# page, and the job says why.
printf '%%!PS\n0.38 setgray 36 36 540 720 rectfill showpage\n0.46 setgray 36 36 540 720 rectfill showpage\n' \
  > "$tmp/nocomments.ps"
chmod 0644 "$tmp/nocomments.ps" "$tmp/sample.ps"
if print_job_file nocomments "$tmp/nocomments.ps" VTDuplex=BookletL; then
  render nocomments >/dev/null
  check_sides nocomments 1:full 2:full
  # The scheduler logs a filter's WARNING line at its own level "W".
  grep -q "^W .*\[Job $job\] the document has no page comments" "$logs/error_log" &&
    pass "nocomments: the job says the booklet was not applied" ||
    fail "nocomments: no WARNING line in the job's log"
fi

# No spool file of the filter is left in the scheduler's temporary folder.
leftover=$(ls "$spool/tmp" 2>/dev/null | grep -c '^pstoMacOrb2Spool')
[ "$leftover" -eq 0 ] && pass "no spool files left behind" || fail "$leftover spool files left in $spool/tmp"

echo "$(( failures == 0 ? 1 : 0 )) passed, $failures failed"
exit $((failures > 0))
