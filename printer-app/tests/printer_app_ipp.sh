#!/usr/bin/env bash
# Starts vantora-printer-app on a loopback port with a file: device in a
# folder of its own, runs ipptool's IPP/2.0 and IPP Everywhere suites against
# it, prints jobs carrying the standard attributes (booklet, covers and
# interleave from their trays, secure print, hold) and the vendor ones
# (poster with cut lines, stamp), checks what reached the device (PJL header,
# sheet comments, rendering through vt-preview), sends hostile requests (to
# the loopback port, where they are checked in front of PAPPL, and straight
# to PAPPL's socket) and checks the server keeps serving, and TLS: none while
# requests are checked, PAPPL's own on a second server without the check. Stops its servers itself.
#
# usage: printer_app_ipp.sh APP FILTER SOURCE_DIR
#   APP         vantora-printer-app
#   FILTER      psToVTOrbPS built to take its locations from VT_TEST_ROOT and
#               VT_TEST_SPOOL_DIR
#   SOURCE_DIR  the source tree (sample customisation file, PPD, ipptool runs)
#
# Exits 77 (skipped) when ipptool or Ghostscript is missing.
set -uo pipefail

app=$1
filter=$2
src=$3
bindir=$(dirname "$app")

skip() { echo "SKIPPED: $*"; exit 77; }
command -v ipptool >/dev/null 2>&1 || skip "ipptool (cups-ipp-utils) is not installed"
command -v gs >/dev/null 2>&1 || skip "Ghostscript is not installed"
suites=/usr/share/cups/ipptool
[ -f "$suites/ipp-everywhere.test" ] || skip "no ipptool test suites in $suites"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

tmp=$(mktemp -d /tmp/vt-papp.XXXXXX)
server_pid=
tls_pid=
cleanup() {
  [ -n "$tls_pid" ] && kill "$tls_pid" 2>/dev/null && wait "$tls_pid" 2>/dev/null
  [ -n "${tls_dir:-}" ] && rm -rf "$tls_dir"
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  if [ -n "${VT_PAPP_KEEP:-}" ]; then echo "kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT

out=$tmp/out
mkdir -p "$tmp/root/Library/Printers/VANTORA/Q610/Plist" "$tmp/vtspool" "$tmp/spool" "$out" "$tmp/work"
cp "$src/examples/FilterCustomize.plist" "$tmp/root/Library/Printers/VANTORA/Q610/Plist/"
export VT_TEST_ROOT=$tmp/root VT_TEST_SPOOL_DIR=$tmp/vtspool
export VANTORA_PRINTER_APP_FILTER=$filter VANTORA_PRINTER_APP_PPD=$src/packaging/ppd/Q610.ppd
# The mainloop's sub-commands look for the server's socket in TMPDIR, root's
# in SNAP_COMMON.
export TMPDIR=$tmp SNAP_COMMON=$tmp
source "$src/printer-app/tests/start_server.sh"
# The SNMP agent of network printers: a loopback port of this test's own.
snmp_port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export VANTORA_PRINTER_APP_SNMP_PORT=$snmp_port

# ---- the server, on a free loopback port -----------------------------------
start_printer_app "$app" "$tmp" || { cat "$tmp/server.out"; echo "FAIL: the server did not start"; exit 1; }
pass "server listening on localhost:$port"

if ! "$app" add -u "ipp://localhost:$port/ipp/system" -d Q610 -m vantora_q610 -v "file://$out" >"$tmp/add.log" 2>&1; then
  cat "$tmp/add.log"; echo "FAIL: the printer could not be added"; exit 1
fi
uri=ipp://localhost:$port/ipp/print/Q610
# PAPPL itself, behind the check of requests of a loopback server.
direct_uri=ipp://$(printf %s "$tmp/spool/vantora-printer-app.sock" | sed 's|/|%2F|g')/ipp/print/Q610
pass "printer Q610 added with a file: device"

# A second server for the same user is refused: it would take over the
# sub-commands' socket. The sub-commands still reach the first one.
mkdir -p "$tmp/second"
timeout 20 "$app" server -o server-port=$((port + 1)) -o listen-hostname=localhost \
  -o spool-directory="$tmp/second" -o log-file="$tmp/second/log" >"$tmp/second.out" 2>&1
rc=$?
if [ $rc -ne 0 ] && [ $rc -ne 124 ] && grep -q 'a server is already running' "$tmp/second.out" &&
   "$app" printers 2>&1 | grep -qx Q610; then
  pass "a second server is refused, the first keeps its socket"
else
  fail "second server: exit $rc, $(head -c 300 "$tmp/second.out"); printers: $("$app" printers 2>&1 | head -3)"
fi

# ---- documents ---------------------------------------------------------------
pages=6
cat > "$tmp/sample.ps" <<EOF
%!PS-Adobe-3.0
%%Pages: $pages
%%EndComments
1 1 $pages {
  /i exch def
  << /PageSize [612 792] >> setpagedevice
  0.85 setgray 36 36 540 720 rectfill 0 setgray
  /Helvetica-Bold 200 selectfont 240 320 moveto i 2 string cvs show
  showpage
} for
EOF
pdf=$tmp/sample.pdf
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$pdf" "$tmp/sample.ps" ||
  { echo "FAIL: Ghostscript could not make the sample PDF"; exit 1; }
# What the ipptool suites print, which Debian does not ship with them.
cp "$suites"/*.test "$tmp/work/"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA -dPDFFitPage \
  -sOutputFile="$tmp/work/document-a4.pdf" "$tmp/sample.ps"
cp "$pdf" "$tmp/work/document-letter.pdf"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ps2write -sPAPERSIZE=a4 -dFIXEDMEDIA \
  -sOutputFile="$tmp/work/document-a4.ps" "$tmp/sample.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r30 -dFirstPage=1 -dLastPage=1 \
  -sOutputFile="$tmp/work/color.jpg" "$pdf"

# Let printer-up-time pass its first second: the suites expect it above 0.
sleep 1

# ---- ipptool's suites --------------------------------------------------------
# run_suite FILE ALLOWED-FAILURE...: every test passes or is skipped, except
# the named ones, which may fail only for the reasons given in the README.
run_suite() {
  local suite=$1; shift
  (cd "$tmp/work" && timeout 120 ipptool -V 2.0 -c -t -f document-letter.pdf "$uri" "$suite") \
    >"$tmp/$suite.log" 2>&1
  local passed failed
  passed=$(grep -c '\[PASS\]' "$tmp/$suite.log")
  failed=$(grep '\[FAIL\]' "$tmp/$suite.log" | sed 's/ *\[FAIL\]//; s/^ *//')
  local unexpected=
  while IFS= read -r t; do
    [ -z "$t" ] && continue
    local allowed=
    for a in "$@"; do [[ "$t" == "$a"* ]] && allowed=1; done
    [ -n "$allowed" ] || unexpected+="$t; "
  done <<<"$failed"
  if [ -z "$unexpected" ] && [ "$passed" -gt 0 ]; then
    pass "$suite: $passed tests passed, $(grep -c '\[SKIP\]' "$tmp/$suite.log") skipped"
  else
    fail "$suite: unexpected failures: $unexpected"; grep -A8 '\[FAIL\]' "$tmp/$suite.log" | head -40
  fi
}
run_suite ipp-2.0.test
run_suite ipp-everywhere.test "PWG 5100.14 section 5.1/5.2"
# The one allowed failure is overrides-supported, which PAPPL 1.3 does not
# offer; anything else missing from that test is a fault.
if grep -A40 'PWG 5100.14 section 5.1/5.2.*\[FAIL\]' "$tmp/ipp-everywhere.test.log" |
     grep 'EXPECTED:' | grep -qv 'overrides-supported'; then
  fail "ipp-everywhere.test: required attributes missing besides overrides-supported"
  grep -A40 'PWG 5100.14 section 5.1/5.2' "$tmp/ipp-everywhere.test.log" | grep 'EXPECTED:'
fi

# ---- jobs with the printer's features ---------------------------------------
common_ops='ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri'
wait_job='{
  NAME "wait for the job"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  '"$common_ops"'
  ATTR integer job-id $job-id
  STATUS successful-ok
  EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 600
  DISPLAY job-state
  DISPLAY job-impressions-completed
}'

# submit NAME FORMAT FILE JOB-ATTRIBUTES [EXTRA-TESTS]: Print-Job as alice
# with the job name NAME, then waits until the job ended; ipptool's output in
# $tmp/NAME.log. $op_attrs: more operation attributes; $submit_uri: where to.
submit() {
  local name=$1 format=$2 file=$3 attrs=$4 extra=${5:-$wait_job}
  cat > "$tmp/$name.test" <<EOF
{
  NAME "$name"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  $common_ops
  ATTR name requesting-user-name alice
  ATTR name job-name $name
  ATTR mimeMediaType document-format $format
  ${op_attrs:-}
  GROUP job-attributes-tag
  $attrs
  FILE \$filename
  STATUS successful-ok
  EXPECT job-id
}
$extra
EOF
  timeout 120 ipptool -tv -f "$file" "${submit_uri:-$uri}" "$tmp/$name.test" >"$tmp/$name.log" 2>&1
}

# The stream the device got for job NAME (PAPPL names the file after the job).
stream_of() { grep -l -a "@PJL SET JOBNAME = \"$1\"" "$out"/*.prn 2>/dev/null | head -1; }
job_state() { sed -n 's/^ *job-state (enum) = //p' "$tmp/$1.log" | tail -1; }
impressions() { sed -n 's/^ *job-impressions-completed (integer) = //p' "$tmp/$1.log" | tail -1; }
has_lines() {  # name stream line...
  local name=$1 s=$2; shift 2
  local l
  for l in "$@"; do
    grep -aqxF "$l" "$s" || { fail "$name: no line '$l' in the stream"; return; }
  done
  pass "$name: $# expected lines in the stream"
}
page_comments() { grep -a '^%%Page:' "$1" | tr -d '\r' | tr '\n' ' '; }
render() {  # name stream -> number of rendered sheet sides
  if ! VT_PREVIEW_DPI=20 "$bindir/vt-preview" "$2" "$tmp/$1.preview" >"$tmp/$1.preview.log" 2>&1; then
    echo 0; return
  fi
  ls "$tmp/$1.preview"/sheet-*.png | wc -l
}

# 1. Secure print of a booklet with a stamp: the PIN, the user and the job
# name reach the PJL; 6 pages make 4 booklet sides.
submit Quarterly application/pdf "$pdf" '
  ATTR keyword imposition-template booklet
  ATTR octetString job-password 4711
  ATTR keyword job-password-encryption none
  ATTR text vantora-stamp-text "DRAFT"'
s=$(stream_of Quarterly)
if [ "$(job_state Quarterly)" != completed ] || [ -z "$s" ]; then
  fail "Quarterly: the job did not complete with output"; tail -20 "$tmp/Quarterly.log"
else
  has_lines Quarterly "$s" '@PJL SET USERNAME = "alice"' '@PJL SET JOBNAME = "Quarterly"' \
    '@PJL SET HOLD = ON' '@PJL SET HOLDKEY = "34373131"' '@PJL SET STAMPTEXT = "DRAFT"'
  [ "$(page_comments "$s")" = '%%Page: (0,1) 1 %%Page: (2,3) 2 %%Page: (4,5) 3 %%Page: (6,7) 4 ' ] &&
    pass "Quarterly: booklet sheet comments" || fail "Quarterly: sheet comments are: $(page_comments "$s")"
  n=$(render Quarterly "$s"); [ "$n" -eq 4 ] && pass "Quarterly: 4 sides render" || fail "Quarterly: $n sides render"
  [ "$(impressions Quarterly)" = 4 ] && pass "Quarterly: job-impressions-completed 4" ||
    fail "Quarterly: job-impressions-completed is '$(impressions Quarterly)'"
fi

# 1b. Secure print as print dialogs send it: job-password as an operation
# attribute, which the printer offers.
op_attrs='ATTR octetString job-password 8642
  ATTR keyword job-password-encryption none' submit PinOp application/postscript "$tmp/sample.ps" ''
s=$(stream_of PinOp)
if [ "$(job_state PinOp)" != completed ] || [ -z "$s" ]; then
  fail "PinOp: the job did not complete with output"; tail -20 "$tmp/PinOp.log"
else
  has_lines PinOp "$s" '@PJL SET USERNAME = "alice"' '@PJL SET HOLD = ON' '@PJL SET HOLDKEY = "38363432"'
fi
cat > "$tmp/pwsup.test" <<EOF
{
  NAME "job-password offered"
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  $common_ops
  STATUS successful-ok
  EXPECT job-password-supported OF-TYPE integer WITH-VALUE 8
  EXPECT job-password-encryption-supported OF-TYPE keyword WITH-VALUE none
}
EOF
timeout 60 ipptool -t "$uri" "$tmp/pwsup.test" >"$tmp/pwsup.log" 2>&1 &&
  pass "job-password-supported 8, job-password-encryption-supported none" ||
  { fail "job-password not offered"; grep -E 'EXPECTED|GOT' "$tmp/pwsup.log" | head -3; }

# 2. A 2x2 poster with cut lines from the PDF (converted by poppler, whose
# documents the filter tiles): every page over 4 sheets.
submit Poster application/pdf "$pdf" '
  ATTR keyword vantora-poster 2x2
  ATTR boolean vantora-cut-lines true'
s=$(stream_of Poster)
if [ "$(job_state Poster)" != completed ] || [ -z "$s" ]; then
  fail "Poster: the job did not complete with output"; tail -20 "$tmp/Poster.log"
else
  n=$(render Poster "$s")
  if command -v pdftops >/dev/null 2>&1; then
    [ "$n" -eq $((pages * 4)) ] && pass "Poster: $n tiles render" || fail "Poster: $n sides render, expected $((pages * 4))"
  else
    echo "note: Poster: no pdftops, Ghostscript's document is passed through ($n sides)"
  fi
fi

# 3. Covers and interleave from their trays, body from tray 3 on recycled
# paper, two-sided: the PPD's tray and media codes are in the stream.
submit Covers application/postscript "$tmp/sample.ps" '
  ATTR keyword sides two-sided-long-edge
  ATTR collection media-col {
    MEMBER keyword media-source tray-3
    MEMBER keyword media-type stationery-recycled
    MEMBER keyword media-size-name na_letter_8.5x11in
  }
  ATTR collection cover-front {
    MEMBER keyword cover-type print-front
    MEMBER collection media-col { MEMBER keyword media-source tray-4 }
  }
  ATTR collection cover-back {
    MEMBER keyword cover-type print-none
    MEMBER collection media-col { MEMBER keyword media-source manual }
  }
  ATTR collection insert-sheet {
    MEMBER integer insert-count 1
    MEMBER collection media-col { MEMBER keyword media-source tray-5 }
  }'
s=$(stream_of Covers)
if [ "$(job_state Covers)" != completed ] || [ -z "$s" ]; then
  fail "Covers: the job did not complete with output"; tail -20 "$tmp/Covers.log"
else
  for code in '/MediaPosition 1' '/MediaPosition 2' '/MediaPosition 38' '/ManualFeed true' '(recycled)'; do
    grep -aqF "$code" "$s" || fail "Covers: '$code' is not in the stream"
  done
  n=$(render Covers "$s"); [ "$n" -gt "$pages" ] && pass "Covers: $n sides render (covers and interleaves added)" ||
    fail "Covers: $n sides render"
fi

# 4. Hold: the job waits until it is released, then prints as a normal job,
# in two copies.
submit Held application/postscript "$tmp/sample.ps" '
  ATTR keyword job-hold-until indefinite
  ATTR integer copies 2' '{
  NAME "held"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  '"$common_ops"'
  ATTR integer job-id $job-id
  STATUS successful-ok
  EXPECT job-state WITH-VALUE 4
}
{
  NAME "release"
  OPERATION Release-Job
  GROUP operation-attributes-tag
  '"$common_ops"'
  ATTR integer job-id $job-id
  ATTR name requesting-user-name alice
  STATUS successful-ok
}
'"$wait_job"
grep -q '^ *held .*\[PASS\]' "$tmp/Held.log" && pass "Held: held until released" || fail "Held: not held"
s=$(stream_of Held)
if [ "$(job_state Held)" != completed ] || [ -z "$s" ]; then
  fail "Held: the released job did not complete"; tail -20 "$tmp/Held.log"
else
  has_lines Held "$s" '@PJL SET USERNAME = "alice"' '@PJL SET HOLD = OFF'
  # Two copies: the filter's job twice.
  n=$(grep -ac '@PJL JOB$' "$s"); [ "$n" -eq 2 ] && pass "Held: 2 copies" || fail "Held: $n copies"
fi

# 5. A JPEG: PAPPL hands its lines to the driver, which sends one image per
# page; two copies are two pages that render.
submit Photo image/jpeg "$tmp/work/color.jpg" '
  ATTR integer copies 2'
s=$(stream_of Photo)
if [ "$(job_state Photo)" != completed ] || [ -z "$s" ]; then
  fail "Photo: the job did not complete with output"; tail -20 "$tmp/Photo.log"
else
  n=$(render Photo "$s"); [ "$n" -eq 2 ] && pass "Photo: 2 pages render" || fail "Photo: $n pages render"
fi

# 6. Jobs arriving together: PAPPL 1.3.1 then starts several of them at once
# (and a job twice); each must print exactly once, whole, and the server live.
burst_pids=
for i in 1 2 3 4 5 6; do
  submit "Burst$i" application/postscript "$tmp/sample.ps" '' &
  burst_pids+=" $!"
done
wait $burst_pids
burst_bad=0
for i in 1 2 3 4 5 6; do
  s=$(stream_of "Burst$i")
  if [ "$(job_state "Burst$i")" != completed ] || [ -z "$s" ]; then
    fail "Burst$i: the job did not complete with output"; burst_bad=1
  elif [ "$(grep -ac '@PJL JOB$' "$s")" -ne 1 ] || [ "$(grep -ac '^%%Page:' "$s")" -ne $pages ]; then
    fail "Burst$i: $(grep -ac '@PJL JOB$' "$s") jobs and $(grep -ac '^%%Page:' "$s") pages in its stream"
    burst_bad=1
  fi
done
[ $burst_bad -eq 0 ] && pass "6 jobs sent together printed once each"

# 7. Wake-on-LAN: the printer's wake settings, set with
# Set-Printer-Attributes, send the magic packet (six 0xff bytes, the MAC
# sixteen times) to a loopback listener when a job arrives.
python3 - "$tmp/wol.port" "$tmp/wol.hex" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
s.settimeout(60)
try:
    open(sys.argv[2], "w").write(s.recv(1000).hex())
except socket.timeout:
    pass
PY
wol_pid=$!
for _ in $(seq 50); do [ -s "$tmp/wol.port" ] && break; sleep 0.1; done
cat > "$tmp/wol.test" <<EOF
{
  NAME "set the wake settings"
  OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  $common_ops
  GROUP printer-attributes-tag
  ATTR text vantora-wake-mac-default "00:1B:2c:3d:4e:5f"
  ATTR text vantora-wake-address-default "127.0.0.1"
  ATTR integer vantora-wake-port-default $(cat "$tmp/wol.port")
  STATUS successful-ok
}
EOF
timeout 60 ipptool -t "$uri" "$tmp/wol.test" >"$tmp/wol.log" 2>&1 || { fail "wake settings not taken"; tail -5 "$tmp/wol.log"; }
submit Woken application/postscript "$tmp/sample.ps" ''
wait $wol_pid
expected=ffffffffffff$(for i in $(seq 16); do printf '001b2c3d4e5f'; done)000000000000
if [ "$(cat "$tmp/wol.hex" 2>/dev/null)" = "$expected" ] && [ "$(job_state Woken)" = completed ]; then
  pass "Woken: magic packet for 00:1b:2c:3d:4e:5f on the set address and port, job printed"
else
  fail "Woken: got '$(cat "$tmp/wol.hex" 2>/dev/null)', job state '$(job_state Woken)'"
fi

# 8. A network printer's state and supplies come from its Printer MIB: snmpd
# on loopback answers for it with fixed values (lowToner and doorOpen set in
# hrPrinterDetectedErrorState: 0x28, the text "("; PAPPL 1.3 cannot report
# door-open, so a door open is cover-open).
snmpd_exe=$(command -v snmpd || echo /usr/sbin/snmpd)
if [ -x "$snmpd_exe" ]; then
  mkdir -p "$tmp/snmpd"
  cat > "$tmp/snmpd/snmpd.conf" <<EOF
agentaddress udp:127.0.0.1:$snmp_port
rocommunity public 127.0.0.1
override .1.3.6.1.2.1.25.3.2.1.5.1 integer 3
override .1.3.6.1.2.1.25.3.5.1.2.1 octet_str "("
override .1.3.6.1.2.1.43.11.1.1.6.1.1 octet_str "Cyan Toner"
override .1.3.6.1.2.1.43.11.1.1.4.1.1 integer 3
override .1.3.6.1.2.1.43.11.1.1.5.1.1 integer 3
override .1.3.6.1.2.1.43.11.1.1.8.1.1 integer 100
override .1.3.6.1.2.1.43.11.1.1.9.1.1 integer 40
override .1.3.6.1.2.1.43.11.1.1.6.1.2 octet_str "Black Toner"
override .1.3.6.1.2.1.43.11.1.1.4.1.2 integer 3
override .1.3.6.1.2.1.43.11.1.1.5.1.2 integer 3
override .1.3.6.1.2.1.43.11.1.1.8.1.2 integer 200
override .1.3.6.1.2.1.43.11.1.1.9.1.2 integer 50
EOF
  SNMP_PERSISTENT_DIR=$tmp/snmpd SNMPCONFPATH=$tmp/snmpd MIBS= \
    "$snmpd_exe" -f -Lf "$tmp/snmpd/log" -C -c "$tmp/snmpd/snmpd.conf" -p "$tmp/snmpd/pid" &
  snmpd_pid=$!
  sleep 1
  "$app" add -u "ipp://localhost:$port/ipp/system" -d Q610net -m vantora_q610 \
    -v "socket://127.0.0.1:9" >"$tmp/addnet.log" 2>&1 || { fail "Q610net not added"; cat "$tmp/addnet.log"; }
  cat > "$tmp/mib.test" <<EOF
{
  NAME "state and supplies of a network printer"
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri ipp://localhost:$port/ipp/print/Q610net
  STATUS successful-ok
  DISPLAY marker-names
  DISPLAY marker-levels
  DISPLAY printer-state-reasons
}
EOF
  timeout 60 ipptool -tv "ipp://localhost:$port/ipp/print/Q610net" "$tmp/mib.test" >"$tmp/mib.log" 2>&1
  kill "$snmpd_pid" 2>/dev/null; wait "$snmpd_pid" 2>/dev/null
  names=$(sed -n 's/^ *marker-names ([^)]*) = //p' "$tmp/mib.log")
  levels=$(sed -n 's/^ *marker-levels ([^)]*) = //p' "$tmp/mib.log")
  reasons=$(sed -n 's/^ *printer-state-reasons ([^)]*) = //p' "$tmp/mib.log")
  if [ "$names" = "Cyan Toner,Black Toner" ] && [ "$levels" = "40,25" ] &&
     [[ ",$reasons," == *,toner-low,* ]] && [[ ",$reasons," == *,cover-open,* ]]; then
    pass "Q610net: supplies $names at $levels, reasons $reasons from the Printer MIB"
  else
    fail "Q610net: marker-names '$names', marker-levels '$levels', printer-state-reasons '$reasons'"
  fi
else
  echo "note: snmpd is not installed; the Printer MIB is checked by printer_app_tests only"
fi

# ---- hostile requests --------------------------------------------------------
huge=$(for i in $(seq 600); do printf 'MEMBER keyword media-source tray-%d\n' "$i"; done)
long=$(printf 'x%.0s' $(seq 100))
# Wrong types, out-of-range and unknown values get an IPP error and no job.
# PAPPL 1.3 answers two of them with
# successful-ok-ignored-or-substituted-attributes even when the client asks
# for fidelity: the value is dropped, never used. The driver's own attributes
# are checked in front of PAPPL (see FrontEnd.h).
bad=0
while IFS='|' read -r op what attr statuses; do
  {
    cat <<EOF
{
  NAME "$what"
  OPERATION $op
  GROUP operation-attributes-tag
  $common_ops
  ATTR name requesting-user-name mallory
  ATTR boolean ipp-attribute-fidelity true
EOF
    [ "$op" = Create-Job ] || echo "  ATTR mimeMediaType document-format application/postscript"
    echo "  GROUP job-attributes-tag"
    echo "  $attr"
    [ "$op" = Print-Job ] && echo "  FILE \$filename"
    for st in $statuses; do echo "  STATUS $st"; done
    [[ "$statuses" == client-error* ]] && echo "  EXPECT !job-id"
    echo "}"
  } > "$tmp/bad.test"
  if timeout 60 ipptool -t -f "$tmp/sample.ps" "$uri" "$tmp/bad.test" >"$tmp/bad.log" 2>&1; then :; else
    fail "hostile '$what' was not answered with $statuses"; grep -E 'status-code|GOT' "$tmp/bad.log" | head -3; bad=1
  fi
done <<EOF
Print-Job|sides as integer|ATTR integer sides 2|client-error-bad-request client-error-attributes-or-values-not-supported
Print-Job|copies zero|ATTR integer copies 0|client-error-bad-request client-error-attributes-or-values-not-supported
Print-Job|copies huge|ATTR integer copies 2147483647|client-error-bad-request client-error-attributes-or-values-not-supported
Print-Job|print-scaling unknown|ATTR keyword print-scaling shrink-to-nothing|client-error-bad-request client-error-attributes-or-values-not-supported
Print-Job|media-col as keyword|ATTR keyword media-col tray-1|client-error-bad-request client-error-attributes-or-values-not-supported
Print-Job|orientation out of range|ATTR enum orientation-requested 9|successful-ok-ignored-or-substituted-attributes
Print-Job|unknown media|ATTR keyword media iso_z9_1x1mm|successful-ok-ignored-or-substituted-attributes
Print-Job|short PIN|ATTR octetString job-password 12|client-error-attributes-or-values-not-supported
Create-Job|PIN of letters|ATTR octetString job-password abcd|client-error-attributes-or-values-not-supported
Validate-Job|PIN as text|ATTR text job-password 1234|client-error-attributes-or-values-not-supported
Print-Job|poster 5x5|ATTR keyword vantora-poster 5x5|client-error-attributes-or-values-not-supported
Create-Job|cut lines as integer|ATTR integer vantora-cut-lines 1|client-error-attributes-or-values-not-supported
Print-Job|stamp of 100 octets|ATTR text vantora-stamp-text "$long"|client-error-attributes-or-values-not-supported
Validate-Job|unknown cover-type|ATTR collection cover-back { MEMBER keyword cover-type print-back }|client-error-attributes-or-values-not-supported
Create-Job|insert at a page|ATTR collection insert-sheet { MEMBER integer insert-after-page-number 3 }|client-error-attributes-or-values-not-supported
Print-Job|unknown imposition|ATTR keyword imposition-template saddle|client-error-attributes-or-values-not-supported
Print-Job|media-col of 600 members|ATTR collection media-col { $(echo $huge) }|client-error-attributes-or-values-not-supported
EOF
[ $bad -eq 0 ] && pass "hostile requests answered with IPP errors"

# Requests that reach PAPPL without the check (a server on the network):
# what PAPPL 1.3 accepts without looking is checked when the job starts: the
# job is aborted with the reason and nothing reaches the device.
for what in ShortPin:'ATTR octetString job-password 12' \
            BadPoster:'ATTR keyword vantora-poster 5x5' \
            LongStamp:"ATTR text vantora-stamp-text \"$long\"" \
            CoverBack:'ATTR collection cover-back { MEMBER keyword cover-type print-back }' \
            HugeMediaCol:"ATTR collection media-col { $(echo $huge) }"; do
  name=${what%%:*}
  submit_uri=$direct_uri submit "$name" application/postscript "$tmp/sample.ps" "${what#*:}"
  st=$(job_state "$name")
  if [ "$st" = aborted ] && [ -z "$(grep -l -a "JOBNAME = \"$name\"" "$out"/*.prn 2>/dev/null)" ]; then
    pass "$name: job aborted, nothing printed"
  else
    fail "$name: job state '$st'"; tail -5 "$tmp/$name.log"
  fi
done

# A printer default the printer does not have: refused by the check in
# front of PAPPL; PAPPL itself stores any value a client sets as a vendor
# attribute's default, and the driver then ignores it (jobs print as if it
# were not set) rather than failing every job.
set_default() {  # NAME VALUE URI STATUS
  cat > "$tmp/setdef.test" <<EOF
{
  NAME "$1-default $2"
  OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  $common_ops
  GROUP printer-attributes-tag
  ATTR keyword $1-default $2
  STATUS $4
}
EOF
  timeout 60 ipptool -t "$3" "$tmp/setdef.test" >"$tmp/setdef.log" 2>&1 ||
    fail "Set-Printer-Attributes $1-default $2 not answered with $4"
}
set_default vantora-poster 5x5 "$uri" client-error-attributes-or-values-not-supported
set_default vantora-poster 5x5 "$direct_uri" successful-ok
submit BadDefault application/postscript "$tmp/sample.ps" ''
s=$(stream_of BadDefault)
if [ "$(job_state BadDefault)" = completed ] && [ -n "$s" ] && [ "$(render BadDefault "$s")" -eq $pages ]; then
  pass "BadDefault: an unusable poster default is ignored, the job prints untiled"
else
  fail "BadDefault: job state '$(job_state BadDefault)'"; tail -5 "$tmp/BadDefault.log"
fi
set_default vantora-poster none "$uri" successful-ok
# The layout chosen on the printing-defaults page makes booklets of jobs
# that name none.
set_default imposition-template booklet "$uri" successful-ok
submit DefaultBooklet application/postscript "$tmp/sample.ps" ''
s=$(stream_of DefaultBooklet)
[ -n "$s" ] && [ "$(page_comments "$s")" = '%%Page: (0,1) 1 %%Page: (2,3) 2 %%Page: (4,5) 3 %%Page: (6,7) 4 ' ] &&
  pass "DefaultBooklet: the printer's imposition-template default makes a booklet" ||
  fail "DefaultBooklet: sheet comments are: $([ -n "$s" ] && page_comments "$s")"
set_default imposition-template none "$uri" successful-ok

# Malformed HTTP and IPP: an HTTP error, and the server goes on.
# (an attribute name of 65535 octets in a message of 14)
code=$(printf '\002\000\000\002\000\000\000\001\001\107\377\377ab' |
  curl -s -o /dev/null -w '%{http_code}' --max-time 30 -H 'Content-Type: application/ipp' \
    --data-binary @- "http://localhost:$port/ipp/print/Q610")
[ "$code" = 400 ] || fail "a malformed IPP message got HTTP $code"
code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 30 -H "X-Big: $(printf 'x%.0s' $(seq 70000))" \
  "http://localhost:$port/")
[ "$code" = 200 ] && fail "a 70 kB header field was served"

# An IPP request that arrives a few bytes at a time, in small chunks.
if python3 - "$port" <<'PY' >"$tmp/trickle.log" 2>&1; then
import socket, struct, sys, time
port = int(sys.argv[1])
def attr(tag, name, value):
    return bytes([tag]) + struct.pack(">H", len(name)) + name + struct.pack(">H", len(value)) + value
ipp = (b"\x02\x00\x00\x0b\x00\x00\x00\x01\x01"
       + attr(0x47, b"attributes-charset", b"utf-8")
       + attr(0x48, b"attributes-natural-language", b"en")
       + attr(0x45, b"printer-uri", b"ipp://localhost:%d/ipp/print/Q610" % port)
       + attr(0x44, b"requested-attributes", b"printer-state") + b"\x03")
s = socket.create_connection(("localhost", port), timeout=30)
s.sendall(b"POST /ipp/print/Q610 HTTP/1.1\r\nHost: localhost:%d\r\nContent-Type: application/ipp\r\n"
          b"Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n" % port)
for i in range(0, len(ipp), 5):
    piece = ipp[i:i + 5]
    s.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
    time.sleep(0.005)
s.sendall(b"0\r\n\r\n")
answer = b""
while True:
    data = s.recv(65536)
    if not data:
        break
    answer += data
print(answer[:200])
sys.exit(0 if answer.startswith(b"HTTP/1.1 200") and b"printer-state" in answer else 1)
PY
  pass "an IPP request in 5-byte pieces is read whole"
else
  fail "an IPP request in 5-byte pieces: $(cat "$tmp/trickle.log")"
fi

# The web pages pass the check unchanged.
for page in / /Q610 /Q610/printing; do
  code=$(curl -s -o "$tmp/page.html" -w '%{http_code}' --max-time 30 "http://localhost:$port$page")
  [ "$code" = 200 ] && grep -q Q610 "$tmp/page.html" || fail "web page $page: HTTP $code"
done
[ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 30 --http1.0 "http://localhost:$port/")" = 200 ] &&
  pass "web pages served through the check" || fail "HTTP/1.0 request not served"
# The driver's attributes have labels on the printing-defaults page.
grep -q '<th>Poster:</th>' "$tmp/page.html" && grep -q '>Booklet</option>' "$tmp/page.html" &&
  pass "labels on the printing-defaults page" ||
  fail "the printing-defaults page has no labels for the driver's attributes"

# The server still serves, and prints.
submit After application/postscript "$tmp/sample.ps" ''
[ "$(job_state After)" = completed ] && [ -n "$(stream_of After)" ] &&
  pass "the server still prints after the hostile requests" || fail "the server stopped printing"
kill -0 "$server_pid" 2>/dev/null || fail "the server died"

# TLS: the check cannot read it, so a checking server offers none (a PIN
# sent over TLS would be lost) and refuses tls=yes; without the check PAPPL
# serves ipps, an HTTP upgrade (ipptool -E) and https. PAPPL makes its
# certificate in HOME, or in CUPS's own folder for root: a root test runs
# that server as nobody, in a folder of its own.
[ "$(curl -sk -o /dev/null -w '%{http_code}' --max-time 30 "https://localhost:$port/")" = 000 ] ||
  fail "the checking server answered over TLS"
TMPDIR=$tmp/second SNAP_COMMON=$tmp/second timeout 20 "$app" server -o server-port=$((port + 2)) \
  -o listen-hostname=localhost -o tls=yes \
  -o spool-directory="$tmp/second" -o log-file="$tmp/second/log" >"$tmp/tlsyes.out" 2>&1
rc=$?
[ $rc -ne 0 ] && [ $rc -ne 124 ] && grep -q 'tls=yes needs check-requests=no' "$tmp/tlsyes.out" &&
  pass "no TLS while requests are checked" || fail "tls=yes with the check: exit $rc, $(head -c 200 "$tmp/tlsyes.out")"
tls_dir=$(mktemp -d /tmp/vt-papp-tls.XXXXXX) tls_port=
run_as=(env HOME="$tls_dir" TMPDIR="$tls_dir")
if [ "$(id -u)" = 0 ]; then
  chown 65534:65534 "$tls_dir"
  run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups "${run_as[@]}")
fi
main_port=$port main_pid=$server_pid
start_printer_app "$app" "$tls_dir" -o check-requests=no && tls_port=$port tls_pid=$server_pid
port=$main_port server_pid=$main_pid run_as=()
if [ -n "$tls_port" ]; then
  cat > "$tmp/system.test" <<'EOF'
{
  NAME "system attributes"
  OPERATION Get-System-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri system-uri $uri
  STATUS successful-ok
}
EOF
  timeout 60 ipptool -t "ipps://localhost:$tls_port/ipp/system" "$tmp/system.test" >"$tmp/ipps.log" 2>&1 &&
    timeout 60 ipptool -E -t "ipp://localhost:$tls_port/ipp/system" "$tmp/system.test" >"$tmp/upgrade.log" 2>&1 &&
    [ "$(curl -sk -o /dev/null -w '%{http_code}' --max-time 30 "https://localhost:$tls_port/")" = 200 ] &&
    pass "ipps, an upgrade to TLS and https without the check" ||
    { fail "TLS without the check"; tail -3 "$tmp/ipps.log" "$tmp/upgrade.log"; }
  kill "$tls_pid" 2>/dev/null; wait "$tls_pid" 2>/dev/null; tls_pid=
else
  fail "no second server with TLS"; cat "$tls_dir/server.out"
fi

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed; server log:"; grep -E '^[EW] ' "$tmp/log" | tail -20
  exit 1
fi
echo "all printer application checks passed"
