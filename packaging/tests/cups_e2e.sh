#!/usr/bin/env bash
# Prints through a private cupsd, to a queue made from the installed Q610
# PPD, a table of cases: Letter, A4 (on the Letter queue), landscape and
# mixed-size PDFs through cups-filters' pdftops with either renderer
# (Ghostscript's ps2write, or poppler with pdftops-renderer=pdftops), and
# PostScript through CUPS's pstops; plain, booklets in all four bindings,
# posters 1x2 to 4x4 (upright, landscape, reversed, with cut lines), N-up
# 2 and 4 (the filter's own and CUPS's number-up) with blank, one-sided and
# two-sided covers and interleaves, a document without page comments.
# Checks what reached the device: the PJL framing (with the header lines of
# the sample customisation file), and each rendered sheet side (Ghostscript
# through vt-preview, nothing resident but the printer's own procedure set):
# which pages it shows, by their own grey, and that each shows whole (its
# page's shape, filled, scaled like the others); each poster page over its
# tiles; and the page log of the scheduler. All jobs are queued at once
# and checked as they finish. VT_E2E_CASES (a regular expression of case
# names) runs some cases only.
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
mkdir -p "$etc/ppd" "$bin/filter" "$bin/backend" "$spool/tmp" "$logs" "$out" "$tmp/cache" "$tmp/state"
chmod 0755 "$etc" "$bin" "$bin/filter" "$bin/backend" "$logs" "$out"
for d in /usr/lib/cups/*; do
  case $(basename "$d") in filter|backend) ;; *) ln -s "$d" "$bin/$(basename "$d")" ;; esac
done
for f in /usr/lib/cups/filter/*; do ln -s "$f" "$bin/filter/$(basename "$f")"; done
for f in /usr/lib/cups/backend/*; do ln -s "$f" "$bin/backend/$(basename "$f")"; done
install -m 0755 "$filter" "$bin/filter/psToVTOrbPS"
# The device: every job into a file of its own, named by the job's number,
# so the jobs of the queue run back to back while earlier ones are checked.
# Mode 0700: the scheduler runs it as its own user, who owns $out.
cat > "$bin/backend/vtcapture" <<'EOF'
#!/bin/sh
[ $# -eq 0 ] && { echo 'direct vtcapture "Unknown" "Job capture"'; exit 0; }
dir=${DEVICE_URI#vtcapture:}
if [ $# -ge 6 ]; then cat "$6"; else cat; fi > "$dir/job-$1.part" || exit 1
mv "$dir/job-$1.part" "$dir/job-$1.prn"
EOF
chmod 0700 "$bin/backend/vtcapture"

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

if ! lpadmin -p Q610 -E -v "vtcapture:$out" -P "$ppd" >"$tmp/lpadmin.log" 2>&1; then
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

# ---- the documents: every page fills its own grey -------------------------
# Page i (1 to 6) fills its page less a 36-point margin with grey
# 0.30 + 0.08 i, so a rendered side tells which pages it shows, and the grey's
# outline how much of each. Each document is a list of page sizes.
declare -A doc_sizes=(
  [letter]="612x792 612x792 612x792 612x792 612x792 612x792"
  [a4]="595x842 595x842 595x842 595x842 595x842 595x842"
  [land]="792x612 792x612 792x612 792x612 792x612 792x612"
  [mixed]="612x792 792x612 595x842 842x595 612x792 792x612"
)
pages=6
grey() { awk -v i="$1" 'BEGIN { printf "%.2f", 0.30 + 0.08 * i }'; }
# write_doc NAME dsc|plain: the pages as PostScript, with or without DSC
# page comments.
write_doc() {
  local name=$1 kind=$2 i=0 size
  {
    printf '%%!PS-Adobe-3.0\n'
    if [ "$kind" = dsc ]; then
      printf '%%%%Pages: %d\n%%%%EndComments\n%%%%BeginProlog\n%%%%EndProlog\n' "$pages"
    else
      printf '%%%%EndComments\n'
    fi
    for size in ${doc_sizes[$name]}; do
      i=$((i + 1))
      [ "$kind" = dsc ] && printf '%%%%Page: %d %d\n%%%%BeginPageSetup\n' "$i" "$i"
      printf '<< /PageSize [%s %s] >> setpagedevice\n' "${size%x*}" "${size#*x}"
      [ "$kind" = dsc ] && printf '%%%%EndPageSetup\n'
      printf '%s setgray 36 36 %d %d rectfill showpage\n' "$(grey "$i")" \
        $((${size%x*} - 72)) $((${size#*x} - 72))
    done
    [ "$kind" = dsc ] && printf '%%%%Trailer\n%%%%EOF\n'
  } > "$tmp/$name.ps"
}
for d in letter a4 land mixed; do
  write_doc "$d" plain
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dAutoRotatePages=/None \
     -sOutputFile="$tmp/$d.pdf" "$tmp/$d.ps" ||
    { echo "FAIL: Ghostscript could not make $d.pdf"; exit 1; }
  write_doc "$d" dsc
  mv "$tmp/$d.ps" "$tmp/$d-dsc.ps"
done
# Landscape PostScript as applications write it: drawn across the page,
# which pstops turns onto the sheet when the job asks for landscape
# (orientation-requested=4 or 5); without a page size of its own. The pages
# of land-dsc.ps and mixed-dsc.ps set theirs in their code, which pstops
# passes on: the filter's imposition scales each from its own size.
sed '/setpagedevice/d' "$tmp/land-dsc.ps" > "$tmp/wide-dsc.ps"
doc_sizes[wide]=${doc_sizes[land]}
# Plain PostScript without page comments: CUPS's pstops wraps it into one
# page.
printf '%%!PS\n%s setgray 36 36 540 720 rectfill showpage\n%s setgray 36 36 540 720 rectfill showpage\n' \
  "$(grey 1)" "$(grey 2)" > "$tmp/nocomments.ps"
doc_sizes[nocomments]="612x792 612x792"
chmod 0644 "$tmp"/*.pdf "$tmp"/*.ps

# ---- jobs: all submitted at once, then checked in turn ---------------------
# submit NAME DOCUMENT OPTION...: queues DOCUMENT (a file in $tmp) with the
# options; the job's number is kept by its name.
declare -A job_of doc_of
submit() {
  local name=$1 file=$2; shift 2
  local args=() o reply
  for o in "$@"; do args+=(-o "$o"); done
  if ! reply=$(lp -d Q610 -t "$name" "${args[@]}" "$tmp/$file" 2>&1); then
    fail "$name: lp refused the job: $reply"; return 1
  fi
  job_of[$name]=$(sed -n 's/^request id is Q610-\([0-9]*\).*/\1/p' <<<"$reply")
  [ -n "${job_of[$name]}" ] || { fail "$name: no job number in lp's reply: $reply"; return 1; }
  doc_of[$name]=${file%%[.-]*}
}

# wait_job NAME: waits until the job has left the queue and completed, and
# puts what reached the device in $out/NAME.prn. Sets $job.
job=
wait_job() {
  local name=$1 waited=0
  job=${job_of[$name]:-}
  [ -n "$job" ] || return 1
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
  mv "$out/job-$job.prn" "$out/$name.prn" 2>/dev/null || : > "$out/$name.prn"
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
}
# The filter opened the job, so it closes it, after the last sheet: UEL
# @PJL EOJ, then a lone UEL; and nothing but PJL before the PostScript.
check_eoj() {  # name
  local name=$1 tail_expected
  tail_expected=$(printf '%s@PJL EOJ\n%s\n' "$uel" "$uel" | od -An -c)
  if [ "$(tail -c $(( ${#uel} * 2 + 10 )) "$out/$name.prn" | od -An -c)" != "$tail_expected" ]; then
    fail "$name: the stream does not end with the PJL end of job"
  elif [ "$(grep -a -c '@PJL EOJ' "$out/$name.prn")" -ne 1 ]; then
    fail "$name: more than one PJL end of job"
  elif sed -n '/@PJL JOB/,/@PJL ENTER LANGUAGE/p' "$out/$name.prn" | tr -d '\r' |
         sed 's/^\x1b%-12345X//' | grep -av '^@PJL' | grep -q .; then
    fail "$name: more than PJL between @PJL JOB and @PJL ENTER LANGUAGE"
  else
    pass "$name: PJL framing whole"
  fi
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

# Renders the PostScript part with Ghostscript through vt-preview, at a low
# resolution, and measures every side: $out/NAME.cells gets one line per
# page grey found on a side, "side page pixels x0 y0 x1 y1" (the grey's
# outline in pixels, y down), $out/NAME.sides one line per side,
# "side width height dark-pixels". Returns 1 when it failed.
dpi=24
render() {  # name
  local name=$1 dir=$out/$1.preview
  if ! VT_PREVIEW_DPI=$dpi "$build/bin/vt-preview" "$out/$name.prn" "$dir" >"$out/$name.preview.log" 2>&1; then
    fail "$name: Ghostscript could not render the stream"; cat "$out/$name.preview.log" >&2; return 1
  fi
  convert "$dir"/sheet-*.png -colorspace Gray -depth 8 +adjoin "$dir/grey-%04d.pgm" ||
    { fail "$name: the rendered sides could not be read"; return 1; }
  local levels=()
  for i in $(seq "$pages"); do levels+=("$(awk -v g="$(grey "$i")" 'BEGIN { printf "%d", 255 * g + 0.5 }')"); done
  perl -e '
    my @levels = split / /, shift;
    my ($cells, $sides) = (shift, shift);
    open my $c, ">", $cells or die; open my $s, ">", $sides or die;
    my $side = 0;
    for my $f (@ARGV) {
      $side++;
      open my $in, "<:raw", $f or die "$f: $!";
      local $/; my $data = <$in>;
      $data =~ s/\AP5\s+(\d+)\s+(\d+)\s+(\d+)\s//s or die "$f: not a PGM";
      my ($w, $h) = ($1, $2);
      my @page = (0) x 256;
      for my $v (0 .. 255) { for my $i (0 .. $#levels) { $page[$v] = $i + 1 if abs($v - $levels[$i]) <= 3 } }
      my (%n, %x0, %y0, %x1, %y1); my $dark = 0;
      for my $y (0 .. $h - 1) {
        my @row = unpack "C*", substr($data, $y * $w, $w);
        for my $x (0 .. $w - 1) {
          my $v = $row[$x];
          if ($v < 48) { $dark++; next }
          my $p = $page[$v] or next;
          if (!$n{$p}++) { ($x0{$p}, $y0{$p}, $x1{$p}, $y1{$p}) = ($x, $y, $x, $y); next }
          $x0{$p} = $x if $x < $x0{$p}; $x1{$p} = $x if $x > $x1{$p};
          $y1{$p} = $y;
        }
      }
      print $s "$side $w $h $dark\n";
      # Stray pixels of a grey (edges of other shades) are not a page.
      for my $p (sort { $a <=> $b } keys %n) {
        print $c "$side $p $n{$p} $x0{$p} $y0{$p} $x1{$p} $y1{$p}\n" if $n{$p} > 0.002 * $w * $h;
      }
    }' "${levels[*]}" "$out/$name.cells" "$out/$name.sides" "$dir"/grey-*.pgm ||
    { fail "$name: the rendered sides could not be measured"; return 1; }
  return 0
}

# The filled part of page P of the job's document, "width height" in points.
ink_size() {  # name page
  local sizes
  read -r -a sizes <<<"${doc_sizes[${doc_of[$1]}]}"
  local s=${sizes[$(($2 - 1))]}
  echo "$((${s%x*} - 72)) $((${s#*x} - 72))"
}

# Checks every rendered side of a job against its expected pages: a side is
# "1 2" (pages 1 and 2 in its cells), "-" (blank) or "1:full" (page 1 alone,
# whole). Each page shown must be one filled rectangle of its page's shape
# (turned or not): a cell cut at the sheet's edge, or overlapped by another,
# loses its shape. Pages in cells must be scaled alike: the scale (the
# side of the rectangle over the page's) of pages of one size within 2 %,
# of all within 10 %. A whole page is scaled by 0.9 to 1 (a page larger than
# the sheet is fitted to it).
check_sides() {  # name side...
  local name=$1; shift
  local n=0 side got want bad=0 p c scales=$out/$name.scales
  : > "$scales"
  local count
  count=$(wc -l < "$out/$name.sides")
  if [ "$count" -ne $# ]; then
    fail "$name: $count sheet sides rendered, expected $#"; return
  fi
  for side in "$@"; do
    n=$((n + 1))
    got=$(awk -v s=$n '$1 == s { printf "%s ", $2 }' "$out/$name.cells")
    want=$(tr ' ' '\n' <<<"${side//:full/}" | grep -v '^-$' | sort -n | tr '\n' ' ')
    if [ "$got" != "$want" ]; then
      fail "$name: side $n shows pages '$got', expected '$want'"; bad=1; continue
    fi
    for p in $side; do
      [ "$p" = - ] && continue
      c=$(awk -v s=$n -v p="${p%:full}" '$1 == s && $2 == p' "$out/$name.cells")
      if ! msg=$(awk -v full="$([ "$p" != "${p%:full}" ] && echo 1)" -v dpi=$dpi -v c="$c" \
             -v ink="$(ink_size "$name" "${p%:full}")" -v scales="$scales" '
          BEGIN { split(c, f, " "); split(ink, k, " ")
                  w = f[6] - f[4] + 1; h = f[7] - f[5] + 1; fill = f[3] / (w * h)
                  a = (w < h ? w / h : h / w); e = (k[1] < k[2] ? k[1] / k[2] : k[2] / k[1])
                  slack = 1.5 / (w < h ? w : h)
                  scale = sqrt(f[3] / (k[1] * k[2])) * 72 / dpi
                  if (fill < 0.93) { printf "fills %.2f of its outline", fill; exit 1 }
                  if (a < e * 0.97 - slack || a > e * 1.03 + slack) {
                    printf "is %dx%d pixels, not of its page'"'"'s shape (%.3f, not %.3f)", w, h, a, e; exit 1 }
                  if (full && (scale < 0.88 || scale > 1.03)) { printf "is scaled by %.3f, not whole", scale; exit 1 }
                  if (!full) printf "%d %d %s %.4f\n", f[1], f[2], ink, scale >> scales }'); then
        fail "$name: side $n: page ${p%:full} $msg"; bad=1
      fi
    done
  done
  if [ -s "$scales" ] && ! awk '
      { key = $3 "x" $4; v[NR] = $5; k[NR] = key; if ($5 > m[key]) m[key] = $5; if ($5 > all) all = $5 }
      END { for (i in v) if (v[i] < 0.98 * m[k[i]] || v[i] < 0.90 * all) exit 1 }' "$scales"; then
    fail "$name: pages in cells scaled unalike (side page width height scale):"; cat "$scales"; bad=1
  fi
  [ $bad -eq 0 ] && pass "$name: every side shows its pages whole ($*)"
}

# A poster: every page of the job over COLUMNS x ROWS sheets, one tile per
# side. Each tile shows its page alone, as one filled rectangle; where the
# tile holds an edge of the page, the page's white margin leaves a band on
# that side of the sheet. Over the tiles of a page, the edges shown must be
# those of a grid of COLUMNS x ROWS (or turned, ROWS x COLUMNS): each corner
# once, each edge as often as the grid has cells along it; a tile shown
# twice, or a part of the page never shown, changes them. With cut lines
# each tile carries a dark line, without none.
check_poster() {  # name columns rows cut|nocut page...
  local name=$1 cols=$2 rows=$3 cut=$4; shift 4
  local tiles=$((cols * rows)) n=0 bad=0 p got grid turned sigs
  local count
  count=$(wc -l < "$out/$name.sides")
  if [ "$count" -ne $((tiles * $#)) ]; then
    fail "$name: $count sheet sides rendered, expected $((tiles * $#)) tiles"; return
  fi
  grid() { awk -v c="$1" -v r="$2" 'BEGIN { for (i = 0; i < c; i++) for (j = 0; j < r; j++)
             print (i == 0 ? "L" : "") (i == c - 1 ? "R" : "") (j == 0 ? "B" : "") (j == r - 1 ? "T" : "") "-" }' | sort | tr '\n' ' '; }
  grid=$(grid "$cols" "$rows"); turned=$(grid "$rows" "$cols")
  for p in "$@"; do
    sigs=$(for _ in $(seq "$tiles"); do
      n=$((n + 1))
      got=$(awk -v s=$n '$1 == s { printf "%s ", $2 }' "$out/$name.cells")
      if [ "$got" != "$p " ]; then echo "side $n shows pages '$got', expected '$p'" >&2; echo "?"; continue; fi
      awk -v s=$n -v thr=$((40 * dpi / 72)) -v cut="$cut" '
        FNR == NR { if ($1 == s) { W = $2; H = $3; dark = $4 } next }
        $1 == s { fill = $3 / (($6 - $4 + 1) * ($7 - $5 + 1))
          if (fill < 0.93) { printf "side %d: page %d fills %.2f of its outline\n", s, $2, fill > "/dev/stderr"; print "?"; exit }
          if ((cut == "cut") != (dark > 100)) { printf "side %d: %d dark pixels, cut lines %s\n", s, dark, cut > "/dev/stderr"; print "?"; exit }
          print ($4 > thr ? "L" : "") (W - 1 - $6 > thr ? "R" : "") (H - 1 - $7 > thr ? "B" : "") ($5 > thr ? "T" : "") "-" }' \
        "$out/$name.sides" "$out/$name.cells"
    done 2>"$out/$name.poster.err" | sort | tr '\n' ' ')
    if [ -s "$out/$name.poster.err" ]; then
      fail "$name: page $p:"; sed 's/^/  /' "$out/$name.poster.err"; bad=1
    elif [ "$sigs" != "$grid" ] && [ "$sigs" != "$turned" ]; then
      fail "$name: page $p: the tiles show the page edges '$sigs', not those of ${cols}x${rows} tiles ('$grid')"; bad=1
    fi
    n=$((n + tiles))
  done
  [ $bad -eq 0 ] && pass "$name: $n tiles, each page whole over ${cols}x${rows} ($cut)"
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
poppler=pdftops-renderer=pdftops
fcover=(FrontCoverPage=True FrontCoverTray=Tray1)
bcover=(BackCoverPage=True BackCoverTray=Tray1)

# ---- the cases --------------------------------------------------------------
# One line each: name | document (PDFs through cups-filters' pdftops, with
# Ghostscript unless the options name poppler; PostScript through CUPS's
# pstops) | options | what the sides show: sides separated by "/" (see
# check_sides), or "poster COLUMNS ROWS cut|nocut PAGE..." (check_poster).
# Six pages fill eight booklet places; a booklet bound on the left or at the
# bottom is written from its outer sheet in, one bound on the right or at
# the top from the inner sheet out.
cases=$(cat <<EOF
plain|letter.pdf|jp.vantora.printers.loginName=alice com.apple.print.JobInfo.PMJobName=Quarterly VTCollate=True OutputMethod=Normal JimonTextSet=True JimonCharacter=DRAFT|1:full/2:full/3:full/4:full/5:full/6:full
plain-mixed-ps|mixed-dsc.ps||1:full/2:full/3:full/4:full/5:full/6:full
booklet|letter.pdf|VTDuplex=BookletL Binding=LongEdge VTCollate=False|1/2/6 3/4 5
booklet-poppler|letter.pdf|VTDuplex=BookletL Binding=LongEdge $poppler|1/2/6 3/4 5
booklet-R-a4|a4.pdf|VTDuplex=BookletR|5 4/3 6/2/1
booklet-U-land|land.pdf|VTDuplex=BookletU $poppler|5 4/3 6/2/1
booklet-D-mixed|mixed.pdf|VTDuplex=BookletD|1/2/6 3/4 5
booklet-R-mixed|mixed.pdf|VTDuplex=BookletR $poppler|5 4/3 6/2/1
booklet-U-ps|letter-dsc.ps|VTDuplex=BookletU|5 4/3 6/2/1
booklet-L-ps|letter-dsc.ps|VTDuplex=BookletL|1/2/6 3/4 5
booklet-L-land|land.pdf|VTDuplex=BookletL orientation-requested=4|1/2/6 3/4 5
booklet-D-ps-land|wide-dsc.ps|VTDuplex=BookletD orientation-requested=5|1/2/6 3/4 5
poster|letter.pdf|Combination=2x2 OutputMethod=Hold page-ranges=1-2|poster 2 2 nocut 1 2
poster-1x2|letter.pdf|Combination=1x2 page-ranges=3|poster 1 2 nocut 3
poster-1x2-land|land.pdf|Combination=1x2 page-ranges=1-2 $poppler|poster 1 2 nocut 1 2
poster-1x2-rev|letter-dsc.ps|Combination=1x2 orientation-requested=6 page-ranges=4 VTBorderLine=True|poster 1 2 cut 4
poster-2x2-land|land.pdf|Combination=2x2 page-ranges=2|poster 2 2 nocut 2
poster-2x2-ps-land|wide-dsc.ps|Combination=2x2 orientation-requested=4 page-ranges=5|poster 2 2 nocut 5
poster-2x2-mixed|mixed.pdf|Combination=2x2 page-ranges=1-4 $poppler VTBorderLine=True|poster 2 2 cut 1 2 3 4
poster-3x3|a4.pdf|Combination=3x3 page-ranges=1 VTBorderLine=True|poster 3 3 cut 1
poster-3x3-ps-rev|wide-dsc.ps|Combination=3x3 orientation-requested=5 page-ranges=3|poster 3 3 nocut 3
poster-3x3-rev|land.pdf|Combination=3x3 orientation-requested=5 page-ranges=4 $poppler|poster 3 3 nocut 4
poster-4x4|letter.pdf|Combination=4x4 page-ranges=6 $poppler VTBorderLine=True|poster 4 4 cut 6
poster-4x4-land|land.pdf|Combination=4x4 orientation-requested=4 page-ranges=5|poster 4 4 nocut 5
poster-4x4-rev|letter.pdf|Combination=4x4 orientation-requested=6 page-ranges=2|poster 4 4 nocut 2
cover4up|letter.pdf|$rows=2 $columns=2 ${fcover[*]} FrontCoverOption=PrintedSingle OHPInterleave=True OHPInterOption=BlankPrinter OHPOpTray=Tray2|1:full/2 3 4 5/-/6/-
nup2-single-single|letter.pdf|$rows=1 $columns=2 ${fcover[*]} FrontCoverOption=PrintedSingle ${bcover[*]} BackCoverOption=PrintedSingle|1:full/2 3/4 5/6:full
nup2-blank-double|a4.pdf|$rows=1 $columns=2 ${fcover[*]} FrontCoverOption=BlankPrinter ${bcover[*]} BackCoverOption=PrintedDouble $poppler|-/1 2/3 4/5:full/6:full
nup2-double-blank|land.pdf|$rows=1 $columns=2 ${fcover[*]} FrontCoverOption=PrintedDouble ${bcover[*]} BackCoverOption=BlankPrinter|1:full/2:full/3 4/5 6/-
nup4-double-single|mixed.pdf|$rows=2 $columns=2 ${fcover[*]} FrontCoverOption=PrintedDouble ${bcover[*]} BackCoverOption=PrintedSingle $poppler|1:full/2:full/3 4 5/6:full
nup4-blank-blank|letter-dsc.ps|$rows=2 $columns=2 ${fcover[*]} FrontCoverOption=BlankPrinter ${bcover[*]} BackCoverOption=BlankPrinter|-/1 2 3 4/5 6/-
nup4-single-double|land.pdf|$rows=2 $columns=2 ${fcover[*]} FrontCoverOption=PrintedSingle ${bcover[*]} BackCoverOption=PrintedDouble $poppler|1:full/2 3 4/5:full/6:full
cover-land|land.pdf|${fcover[*]} FrontCoverOption=PrintedSingle ${bcover[*]} BackCoverOption=PrintedSingle orientation-requested=4 $poppler|1:full/2:full/3:full/4:full/5:full/6:full
nup2-interleave|letter.pdf|$rows=1 $columns=2 OHPInterleave=True OHPInterOption=PrintedSingle $poppler|1 2/1 2/3 4/3 4/5 6/5 6
number-up2-blank-single|letter.pdf|number-up=2 ${fcover[*]} FrontCoverOption=BlankPrinter ${bcover[*]} BackCoverOption=PrintedSingle|-/1 2/3 4/5 6
number-up2-double-blank|a4.pdf|number-up=2 ${fcover[*]} FrontCoverOption=PrintedDouble ${bcover[*]} BackCoverOption=BlankPrinter $poppler|1 2/3 4/5 6/-
ps-covers|letter-dsc.ps|number-up=2 ${fcover[*]} FrontCoverOption=PrintedSingle ${bcover[*]} BackCoverOption=BlankPrinter|1 2/3 4/5 6/-
number-up4-double-blank|a4.pdf|number-up=4 ${fcover[*]} FrontCoverOption=PrintedDouble ${bcover[*]} BackCoverOption=BlankPrinter|1 2 3 4/5 6/-
number-up4-interleave|land.pdf|number-up=4 OHPInterleave=True OHPInterOption=BlankPrinter|1 2 3 4/-/5 6/-
rot2up|letter.pdf|Rotate180=True number-up=2 $rows=1 $columns=2|1 2/3 4/5 6
nocomments|nocomments.ps|VTDuplex=BookletL|1/2
nocomments-copies|nocomments.ps|$rows=1 $columns=2 ${bcover[*]} BackCoverOption=BlankPrinter copies=2 Collate=True|1 2/1 2/-
booklet-L-ps-mixed|mixed-dsc.ps|VTDuplex=BookletL|1/2/6 3/4 5
booklet-R-ps-sized|land-dsc.ps|VTDuplex=BookletR|5 4/3 6/2/1
booklet-D-ps-sized-land|land-dsc.ps|VTDuplex=BookletD orientation-requested=5|1/2/6 3/4 5
booklet-U-ps-mixed-land|mixed-dsc.ps|VTDuplex=BookletU orientation-requested=4|5 4/3 6/2/1
nup2-ps-mixed-rev|mixed-dsc.ps|$rows=1 $columns=2 ${bcover[*]} BackCoverOption=PrintedSingle orientation-requested=5|1 2/3 4/5/6:full
nup2-ps-mixed|mixed-dsc.ps|$rows=1 $columns=2 ${fcover[*]} FrontCoverOption=PrintedSingle ${bcover[*]} BackCoverOption=PrintedSingle|1:full/2 3/4 5/6:full
nup4-ps-sized|land-dsc.ps|$rows=2 $columns=2 ${fcover[*]} FrontCoverOption=PrintedDouble ${bcover[*]} BackCoverOption=BlankPrinter|1:full/2:full/3 4 5 6/-
cover-ps-mixed|mixed-dsc.ps|${fcover[*]} FrontCoverOption=PrintedDouble ${bcover[*]} BackCoverOption=PrintedSingle|1:full/2:full/3:full/4:full/5:full/6:full
poster-2x2-ps-mixed|mixed-dsc.ps|Combination=2x2 page-ranges=1-4 VTBorderLine=True|poster 2 2 cut 1 2 3 4
poster-1x2-ps-sized|land-dsc.ps|Combination=1x2 page-ranges=2|poster 1 2 nocut 2
number-up2-mixed|mixed.pdf|number-up=2 ${fcover[*]} FrontCoverOption=BlankPrinter $poppler|-/1 2/3 4/5 6
poster-2x2-ps-mixed-land|mixed-dsc.ps|Combination=2x2 orientation-requested=4 page-ranges=3-4|poster 2 2 nocut 3 4
EOF
)
cases=$(grep -E "^(${VT_E2E_CASES:-.*})\|" <<<"$cases")

while IFS='|' read -r name file options _; do
  # shellcheck disable=SC2086
  submit "$name" "$file" $options
done <<<"$cases"

# Checks of single cases beyond their sides, run after them.
after_plain() {
  check_header plain '@PJL SET USERNAME = "alice"' '@PJL SET JOBNAME = "Quarterly"' \
    '@PJL SET COLLATE = ON' '@PJL SET HOLD = OFF' '@PJL SET STAMP = ON' '@PJL SET STAMPTEXT = "DRAFT"'
  check_pages plain '%%Page: 1 1' '%%Page: 2 2' '%%Page: 3 3' '%%Page: 4 4' '%%Page: 5 5' '%%Page: 6 6'
  grep -aqx '<</PclOrientation 0>> /VTOptions /ProcSet findresource /setVToptions get exec' "$out/plain.prn" &&
    pass "plain: orientation setup for the printer" || fail "plain: no orientation setup line"
}
# The booklet's side comments name the booklet places each side carries; a
# boolean option set false reaches the header.
after_booklet() {
  check_header booklet '@PJL SET COLLATE = OFF'
  check_pages booklet '%%Page: (0,1) 1' '%%Page: (2,3) 2' '%%Page: (4,5) 3' '%%Page: (6,7) 4'
}
# poppler's pages end in a plain showpage and pass through CUPS's pstops.
after_booklet-poppler() {
  grep -aq '^%%Creator: GPL Ghostscript' "$out/booklet-poppler.prn" &&
    fail "booklet-poppler: the document was still converted by Ghostscript"
}
after_poster() { check_header poster '@PJL SET HOLD = STORE'; }
# 4-up with a front cover printed on one side from tray 1 and a blank
# transparency interleave from tray 2 after every sheet; after each, the
# queue's own tray 3 and recycled paper (the PPD's code) are put back. CUPS
# sends no page count with the job (the macOS print dialog does); the
# filter counts them.
after_cover4up() {
  local expected
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
}
# Two pages to a sheet turned by 180 degrees: the printer is told the sheet
# is sideways.
after_rot2up() {
  grep -aqx '<</PclOrientation 1>> /VTOptions /ProcSet findresource /setVToptions get exec' "$out/rot2up.prn" &&
    pass "rot2up: sideways orientation setup" || fail "rot2up: no sideways orientation setup"
}
# A cover printed on both sides is printed two-sided.
after_double() {
  sheet_skeleton "$1" | grep -q '^<</Duplex true>>setpagedevice$' &&
    pass "$1: the cover printed on both sides is two-sided" || fail "$1: no two-sided cover"
}

while IFS='|' read -r name file options expect; do
  wait_job "$name" || continue
  [[ $options == *PrintedDouble* ]] && after_double "$name"
  if [ "$name" = nocomments ]; then
    # pstops wraps plain PostScript into one page. Taken apart at its
    # showpages, it is imposed; else it prints whole, page for page, and the
    # job says why (the scheduler logs a filter's WARNING at its level "W").
    if grep -q "^W .*\[Job $job\] .*page comments" "$logs/error_log"; then
      pass "nocomments: the job says the booklet was not applied"
      render "$name" && check_sides "$name" 1:full 2:full
      check_eoj "$name"
      continue
    fi
  fi
  render "$name" || continue
  case $expect in
    poster*) # shellcheck disable=SC2086
             check_poster "$name" ${expect#poster } ;;
    *)       IFS=/ read -r -a sides <<<"$expect"; check_sides "$name" "${sides[@]}" ;;
  esac
  check_eoj "$name"
  check_page_log "$name" "$job" "$(wc -l < "$out/$name.sides")"
  declare -F "after_$name" >/dev/null && "after_$name"
done <<<"$cases"

# No spool file of the filter is left in the scheduler's temporary folder.
leftover=$(ls "$spool/tmp" 2>/dev/null | grep -c '^pstoMacOrb2Spool')
[ "$leftover" -eq 0 ] && pass "no spool files left behind" || fail "$leftover spool files left in $spool/tmp"

echo "$(( failures == 0 ? 1 : 0 )) passed, $failures failed"
exit $((failures > 0))
