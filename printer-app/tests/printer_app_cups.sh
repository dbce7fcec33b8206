#!/usr/bin/env bash
# A driverless CUPS queue in front of vantora-printer-app: the application on
# a loopback port with a file: device, a private cupsd (the printing tests'
# own, packaging/tests/private_cupsd.sh) with a queue made by
# `lpadmin -m everywhere`, a PDF printed through it with a set of options.
# Checks that the device got the filter's stream with the job's user and
# name, and measures which options the application received and in which
# attribute group (the README's table of a driverless queue says the same).
#
# usage: printer_app_cups.sh APP FILTER SOURCE_DIR
# Exits 77 (skipped) when cupsd, lpadmin or Ghostscript is missing or no
# private cupsd can run here.
set -uo pipefail

app=$1
filter=$2
src=$3

skip() { echo "SKIPPED: $*"; exit 77; }
for tool in cupsd lp lpadmin lpstat gs; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done

source "$src/packaging/tests/private_cupsd.sh"
private_workdir vt-papp-cups
server_pid=
stop_all() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  stop_private_cupsd
}
trap stop_all EXIT

out=$tmp/out
mkdir -p "$tmp/root/Library/Printers/VANTORA/Q610/Plist" "$tmp/vtspool" "$tmp/spool" "$out"
cp "$src/examples/FilterCustomize.plist" "$tmp/root/Library/Printers/VANTORA/Q610/Plist/"
# cupsd's ipp backend runs as lp when cupsd runs as root.
chmod 0755 "$tmp"
export VT_TEST_ROOT=$tmp/root VT_TEST_SPOOL_DIR=$tmp/vtspool
export VANTORA_PRINTER_APP_FILTER=$filter VANTORA_PRINTER_APP_PPD=$src/packaging/ppd/Q610.ppd

# ---- the application ---------------------------------------------------------
# The mainloop's sub-commands look for the server's socket in TMPDIR, root's
# in SNAP_COMMON.
source "$src/printer-app/tests/start_server.sh"
TMPDIR=$tmp SNAP_COMMON=$tmp start_printer_app "$app" "$tmp" || { cat "$tmp/server.out"; echo "FAIL: the application did not start"; exit 1; }
TMPDIR=$tmp SNAP_COMMON=$tmp "$app" add -u "ipp://localhost:$port/ipp/system" -d Q610 -m vantora_q610 \
  -v "file://$out" >"$tmp/add.log" 2>&1 || { cat "$tmp/add.log"; echo "FAIL: printer not added"; exit 1; }
pass "application on localhost:$port with printer Q610"

# ---- the driverless queue ------------------------------------------------------
user_lines=
[ "$(id -u)" -eq 0 ] && user_lines=$'User lp\nGroup lp'
start_private_cupsd "$tmp/cups" "$user_lines" || skip "a private cupsd could not be started here"
if ! lpadmin -p Q610-ipp -E -v "ipp://localhost:$port/ipp/print/Q610" -m everywhere >"$tmp/lpadmin.log" 2>&1; then
  cat "$tmp/lpadmin.log"; echo "FAIL: lpadmin -m everywhere did not add the queue"; exit 1
fi
ppd=$tmp/cups/etc/ppd/Q610-ipp.ppd
for _ in $(seq 50); do [ -s "$ppd" ] && break; sleep 0.1; done
for entry in '*OpenUI *InputSlot' '*InputSlot Tray2' '*OpenUI *MediaType' '*OpenUI *Duplex' \
             '*APPrinterPreset Booklet' '*APPrinterPreset Poster2x2' '*APPrinterPreset ReportWithCovers'; do
  grep -qF "$entry" "$ppd" || fail "the generated PPD has no '$entry'"
done
pass "queue Q610-ipp made by lpadmin -m everywhere"

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$tmp/doc.pdf" \
  -c '/Helvetica findfont 40 scalefont setfont 1 1 6 { 100 400 moveto 3 string cvs show showpage } for'
chmod 0644 "$tmp/doc.pdf"
lp -d Q610-ipp -U alice -t Driverless -o media=A4 -o InputSlot=Tray2 -o MediaType=Cardstock \
  -o sides=two-sided-long-edge -o print-color-mode=monochrome -o print-quality=5 \
  -o job-password=1234 -o imposition-template=booklet -o 'cover-front={cover-type=print-none}' \
  -o vantora-poster=2x2 -o vantora-cut-lines=true -o vantora-stamp-text=DRAFT \
  -o orientation-requested=4 -o print-scaling=fit "$tmp/doc.pdf" >"$tmp/lp.log" 2>&1 ||
  { cat "$tmp/lp.log"; echo "FAIL: lp"; exit 1; }
for _ in $(seq 120); do lpstat -o Q610-ipp 2>/dev/null | grep -q . || break; sleep 1; done
for _ in $(seq 50); do [ -s "$out/Driverless.prn" ] && grep -q 'Completed, job' "$tmp/log" && break; sleep 0.2; done

# ---- what the device got ---------------------------------------------------------
s=$out/Driverless.prn
if [ -s "$s" ]; then
  for l in '@PJL SET USERNAME = "alice"' '@PJL SET JOBNAME = "Driverless"' '@PJL SET HOLD = ON' \
           '@PJL SET HOLDKEY = "31323334"'; do
    grep -aqxF "$l" "$s" || fail "no line '$l' in the device's stream"
  done
  pass "the device got the filter's stream with the job's user and name, held for its PIN"
else
  fail "nothing reached the device"; tail -20 "$tmp/cups/log/error_log"
fi
options=$(sed -n 's/.* with options: //p' "$tmp/log" | tail -1)
for o in PageSize=A4 VTInputSlot=Tray2 MediaType=Thick VTDuplex=Duplex Binding=LongEdge \
         OutputMethod=Secure VTSecurePIN=31323334; do
  [[ " $options " == *" $o "* ]] || fail "the filter did not get $o (it got: $options)"
done

# ---- what the application received -------------------------------------------
# The job's Create-Job (or Print-Job) request as PAPPL logged it, behind the
# check of requests (which moves an operation-group job-password into the
# job's attributes): "NAME@GROUP" for each attribute.
client=$(grep -m1 'request:   job-name nameWithoutLanguage Driverless' "$tmp/log" |
         sed 's/.*\[Client \([0-9]*\)\].*/\1/')
received=$(grep -E "\[Client $client\] (Create-Job|Print-Job) request:" "$tmp/log" |
  sed 's/.* request: *//' |
  awk '/^operation-attributes-tag/ { g = "operation"; next }
       /^job-attributes-tag/ { g = "job"; next }
       g != "" && NF >= 2 { print $1 "@" g }' | sort -u | tr '\n' ' ')
echo "received: $received"
measured=0
while read -r attr where; do
  case $where in
    job|operation) [[ " $received " == *" $attr@$where "* ]] ||
                     { fail "$attr did not arrive in the $where group"; measured=1; } ;;
    absent) [[ " $received " == *" $attr@"* ]] &&
              { fail "$attr arrived: the README says a driverless queue does not pass it"; measured=1; } ;;
  esac
done <<EOF
media-col job
sides job
print-color-mode job
print-quality job
job-password job
job-password-encryption job
imposition-template absent
cover-front absent
vantora-poster absent
vantora-cut-lines absent
vantora-stamp-text absent
orientation-requested absent
print-scaling absent
EOF
[ $measured -eq 0 ] && pass "the options a driverless queue passes on are the README's"
grep -q 'media-source=tray-2' <(grep -E "\[Client $client\] Create-Job request:|\[Client $client\] Print-Job request:" "$tmp/log") ||
  fail "media-col without the tray (media-source=tray-2)"

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed"; exit 1
fi
echo "all driverless queue checks passed"
