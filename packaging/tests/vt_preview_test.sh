#!/usr/bin/env bash
# vt-preview on streams written here: the PJL framing of a job the filter
# opened is stripped, every sheet side becomes a PNG and a contact sheet is
# written; a stream whose PostScript is broken, or that holds none, fails.
#
# usage: vt_preview_test.sh VT_PREVIEW
set -uo pipefail
preview=$1
tmp=$(mktemp -d /tmp/vt-preview-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
uel=$'\033%-12345X'

# Three sides: the second fills its page black, so a rendering that drops
# or reorders sides shows in the pixel counts. The procedure set the
# printer keeps resident (VTOptions) comes from the prelude; the procedures
# re-imposed sheets call (ESPrc, ESPwl, ESPshowpage) the stream defines, as
# the filter writes them.
imposed_procs='userdict/ESPshowpage known not{userdict/ESPshowpage/showpage load put}if
userdict/ESPrc known not{userdict/ESPrc systemdict/rectclip get put}if
userdict/ESPwl known not{userdict/ESPwl{}put}if
'
{
  printf '%s@PJL JOB\r\n@PJL SET JOBNAME = "preview"\r\n@PJL ENTER LANGUAGE = POSTSCRIPT\r\n' "$uel"
  printf '%%!PS-Adobe-3.0\n%%%%Pages: 3\n%%%%EndComments\n%%%%BeginSetup\n'
  printf '<</PclOrientation 0>> /VTOptions /ProcSet findresource /setVToptions get exec\n'
  printf '%%%%EndSetup\n%s' "$imposed_procs"
  printf '%%%%Page: 1 1\nuserdict/ESPsave save put\n0 0 100 100 ESPrc\n1 0 0 setrgbcolor 0 0 50 50 rectfill\nuserdict /ESPsave get restore\ngsave\nESPwl\ngrestore\nESPshowpage\n'
  printf '%%%%Page: 2 2\n0 0 2000 2000 rectfill showpage\n'
  printf '%%%%Page: 3 3\n<</ManualFeed false /TraySwitch true /MediaPosition null>>setpagedevice\nshowpage\n'
  printf '%%%%EOF\n'
  printf '%s@PJL EOJ\n%s\n' "$uel" "$uel"
} > "$tmp/job.prn"

if out=$(VT_PREVIEW_DPI=20 "$preview" "$tmp/job.prn" "$tmp/sheets" 2>&1); then
  echo "ok: $out"
else
  fail "vt-preview failed on a good stream: $out"
fi
n=$(ls "$tmp/sheets"/sheet-*.png 2>/dev/null | wc -l)
[ "$n" -eq 3 ] || fail "expected 3 sheet images, got $n"
[ -s "$tmp/sheets/contact-sheet.png" ] || fail "no contact sheet"
grep -qa '@PJL' "$tmp/sheets/document.ps" && fail "PJL left in the PostScript part"
grep -qa $'\033' "$tmp/sheets/document.ps" && fail "UEL left in the PostScript part"
head -c 14 "$tmp/sheets/document.ps" | grep -q '^%!PS-Adobe-3.0' || fail "PostScript part does not start with its header"
# Side 2 is black, sides 1 and 3 mostly white.
mean() { convert "$1" -colorspace Gray -format '%[fx:mean]' info: 2>/dev/null; }
if command -v convert >/dev/null; then
  m1=$(mean "$tmp/sheets/sheet-001.png"); m2=$(mean "$tmp/sheets/sheet-002.png"); m3=$(mean "$tmp/sheets/sheet-003.png")
  awk -v a="$m1" -v b="$m2" -v c="$m3" 'BEGIN { exit !(a > 0.9 && b < 0.1 && c > 0.9) }' ||
    fail "sheet brightness $m1 $m2 $m3: sides lost or out of order"
fi

# A second run into the same folder leaves no sheets of the first behind.
printf '%%!PS\nshowpage\n' > "$tmp/one.ps"
VT_PREVIEW_DPI=20 "$preview" "$tmp/one.ps" "$tmp/sheets" >/dev/null 2>&1 || fail "plain PostScript without PJL rejected"
n=$(ls "$tmp/sheets"/sheet-*.png 2>/dev/null | wc -l)
[ "$n" -eq 1 ] || fail "expected 1 sheet after the second run, got $n"

# The sheet starts at the document's media: a page that sets its size only
# when the sheet differs (as pdftops output does) must not start a blank
# sheet of its own on a preview of another paper size.
{
  printf '%%!PS-Adobe-3.0\n%%%%DocumentMedia: Odd 300 500 0 () ()\n%%%%Pages: 1\n%%%%EndComments\n'
  printf '%%%%Page: 1 1\n0 0 150 500 rectfill\n'
  printf 'currentpagedevice /PageSize get aload pop 500 ne exch 300 ne or\n'
  printf '{<</PageSize [300 500]>> setpagedevice} if\nshowpage\n'
} > "$tmp/media.ps"
if VT_PREVIEW_DPI=72 "$preview" "$tmp/media.ps" "$tmp/media" >/dev/null 2>&1; then
  dims=$(identify -format '%w %h' "$tmp/media/sheet-001.png" 2>/dev/null)
  [ "$dims" = "300 500" ] || fail "sheet of ${dims:-nothing} instead of the document's 300 x 500"
  m=$(mean "$tmp/media/sheet-001.png")
  awk -v a="$m" 'BEGIN { exit !(a > 0.4 && a < 0.6) }' ||
    fail "half-black sheet has brightness $m: what was drawn before the size check was lost"
else
  fail "vt-preview failed on a document with its own media size"
fi

# Broken PostScript: an error, not a silent empty preview.
printf '%s@PJL ENTER LANGUAGE = POSTSCRIPT\n%%!PS\nnosuchoperator\nshowpage\n%s\n' "$uel" "$uel" > "$tmp/bad.prn"
if VT_PREVIEW_DPI=20 "$preview" "$tmp/bad.prn" "$tmp/bad" >/dev/null 2>&1; then
  fail "a PostScript error was not reported"
fi
# A stream calling a procedure that only a stand-in would define fails, as
# it would on the printer.
printf '%%!PS\n0 0 10 10 ESPrc\nESPshowpage\n' > "$tmp/undefined.ps"
if VT_PREVIEW_DPI=20 "$preview" "$tmp/undefined.ps" "$tmp/undefined" >/dev/null 2>&1; then
  fail "a stream calling ESPrc and ESPshowpage it never defines was rendered"
fi
# Only PJL, no PostScript.
printf '%s@PJL JOB\n@PJL EOJ\n%s\n' "$uel" "$uel" > "$tmp/empty.prn"
if VT_PREVIEW_DPI=20 "$preview" "$tmp/empty.prn" "$tmp/empty" >/dev/null 2>&1; then
  fail "a stream without PostScript was not reported"
fi
# Wrong usage and unreadable input.
"$preview" >/dev/null 2>&1 && fail "no arguments accepted"
"$preview" "$tmp/missing.prn" "$tmp/x" >/dev/null 2>&1 && fail "missing stream accepted"

echo "$((failures == 0 ? 1 : 0)) passed, $failures failed"
exit $((failures > 0))
