#!/usr/bin/env bash
# Prints job-ticket jobs through a private cupsd to a queue made from the
# installed Q610 PPD, chosen only with the PPD's own options as a Linux print
# dialog or `lp` sends them, and checks the PJL header that reached the file
# device: a secure job with its PIN given through the custom option, a plain
# job with a title, a held job from standard input without one, a stamp with
# a custom text, and a PIN the printer cannot take, which must print nothing.
#
# usage: cups_e2e_ticket.sh BUILD_DIR FILTER_EXE VT_ROOT
#   BUILD_DIR   the build tree (installed from with cmake --install)
#   FILTER_EXE  the filter built to take its locations from VT_TEST_ROOT and
#               VT_TEST_SPOOL_DIR; cupsd hands it those through SetEnv
#   VT_ROOT     the VT_ROOT the tree was configured with
#
# Exits 77 (skipped) when cupsd or lp are missing or a private cupsd cannot
# be started here. Everything lives in one temporary folder, removed at the
# end together with the cupsd.
set -uo pipefail

build=$1
filter=$2
vtroot=${3:-}

skip() { echo "SKIPPED: $*"; exit 77; }
for tool in cupsd lp lpadmin lpstat cancel cmake; do
  command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] || skip "$tool is not installed"
done
export PATH=$PATH:/usr/sbin
[ -x "$filter" ] || { echo "FAIL: no filter program at $filter"; exit 1; }

# shellcheck source=private_cupsd.sh
. "$(dirname "$0")/private_cupsd.sh"
private_workdir vt-cups-ticket

# ---- the installation, into a folder of its own ----------------------------
dest=$tmp/dest
if ! DESTDIR=$dest cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log"; echo "FAIL: cmake --install"; exit 1
fi
ppd=$dest/usr/share/cups/model/vantora/Q610.ppd
customize=$dest$vtroot/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist
[ -f "$ppd" ] || { echo "FAIL: the PPD was not installed"; exit 1; }
[ -f "$customize" ] || skip "no sample customisation file installed: no job ticket to check"

# ---- a private cupsd: own ServerRoot, ServerBin, spool, socket -------------
bin=$tmp/serverbin; out=$tmp/out
mkdir -p "$bin/filter" "$out"
chmod 0755 "$bin" "$bin/filter" "$out"
for d in /usr/lib/cups/*; do
  [ "$(basename "$d")" = filter ] || ln -s "$d" "$bin/$(basename "$d")"
done
for f in /usr/lib/cups/filter/*; do ln -s "$f" "$bin/filter/$(basename "$f")"; done
install -m 0755 "$filter" "$bin/filter/psToVTOrbPS"

socket=$tmp/cups.sock
user_lines=
if [ "$(id -u)" -eq 0 ]; then
  user_lines=$'User lp\nGroup lp'
  chmod -R a+rX "$dest"   # filters run as lp
fi
extra=$user_lines
extra+=$'\n'"ServerBin $bin"$'\n'"DataDir /usr/share/cups"
extra+=$'\n'"SetEnv VT_TEST_ROOT $dest$vtroot"$'\n'"SetEnv VT_TEST_SPOOL_DIR $tmp/spool/tmp"
start_private_cupsd "$tmp" "$extra" || skip "a private cupsd could not be started here"
device=$out/device.prn
if ! lpadmin -p Q610 -E -v "file://$device" -P "$ppd" >"$tmp/lpadmin.log" 2>&1; then
  cat "$tmp/lpadmin.log"; echo "FAIL: lpadmin could not add the queue"; exit 1
fi
pass "queue Q610 added from the installed PPD"

doc=$tmp/doc.ps
printf '%s\n' '%!PS-Adobe-3.0' '%%Pages: 1' '%%EndComments' '%%Page: 1 1' \
  '/Helvetica 24 selectfont 72 700 moveto (Job ticket) show showpage' '%%EOF' > "$doc"
chmod 0644 "$doc"
submitter=$(id -un)

# run_job NAME LP-ARGUMENT...: submits with lp (the document named last or on
# standard input), waits until the job has left the queue, and copies what
# reached the device to $out/NAME.prn. Sets $job and $completed (1 or 0).
job=; completed=0
run_job() {
  local name=$1 reply rc; shift
  rm -f "$device"
  if ! reply=$(lp -d Q610 "$@" < "$doc" 2>&1); then fail "$name: lp refused the job: $reply"; return 1; fi
  job=$(sed -n 's/^request id is Q610-\([0-9]*\).*/\1/p' <<<"$reply")
  [ -n "$job" ] || { fail "$name: no job number in lp's reply: $reply"; return 1; }
  # A job whose filter failed stays in the queue, stopped.
  wait_private_job Q610 "$job" 300; rc=$?
  [ $rc = 2 ] && { cancel "Q610-$job" 2>/dev/null; fail "$name: job $job did not finish"; return 1; }
  completed=$((rc == 0 ? 1 : 0))
  [ "$completed" = 1 ] || cancel "Q610-$job" 2>/dev/null
  cp "$device" "$out/$name.prn" 2>/dev/null || : > "$out/$name.prn"
  return 0
}

uel=$'\033%-12345X'
# check_header NAME LINE...: the job completed and its PJL header, between
# the job the filter opens and the switch to PostScript, is these lines.
check_header() {
  local name=$1; shift
  [ "$completed" = 1 ] || { fail "$name: job $job did not complete"; grep "\[Job $job\]" "$logs/error_log" | grep -E 'ERROR|stopped|aborted' | tail -5; return; }
  local expected got
  expected=$(printf '%s@PJL JOB\n' "$uel"; [ $# -gt 0 ] && printf '%s\n' "$@"; printf '@PJL ENTER LANGUAGE = POSTSCRIPT')
  got=$(head -c ${#expected} "$out/$name.prn")
  if [ "$got" = "$expected" ]; then pass "$name: PJL job header"
  else fail "$name: PJL job header differs"; diff <(cat -v <<<"$expected") <(cat -v <<<"$got") | head -20; fi
}

# 1. A secure job chosen only with the PPD's options, the PIN through the
# custom option: held at the printer under its PIN (as hexadecimal text, the
# form the customisation file takes), named by the submitting user and the
# title. The PIN itself appears nowhere in the stream.
if run_job secure -t Payroll -o OutputMethod=Secure -o VTSecurePIN=Custom.4711; then
  check_header secure "@PJL SET USERNAME = \"$submitter\"" '@PJL SET JOBNAME = "Payroll"' \
    '@PJL SET HOLD = ON' '@PJL SET HOLDKEY = "34373131"'
  grep -aq 4711 "$out/secure.prn" && fail "secure: the PIN is in the stream as typed"
fi

# 2. A plain job with a title, and collation off.
if run_job titled -t 'Quarterly report' -o VTCollate=False; then
  check_header titled "@PJL SET USERNAME = \"$submitter\"" '@PJL SET JOBNAME = "Quarterly report"' \
    '@PJL SET COLLATE = OFF'
fi

# 3. A held job from standard input has no title of its own ("(stdin)"): no
# job name line. The stamp carries a text of the person's own.
if run_job untitled -o OutputMethod=Hold -o JimonTextSet=True -o "JimonCharacter='Custom.For review'"; then
  check_header untitled "@PJL SET USERNAME = \"$submitter\"" '@PJL SET HOLD = STORE' \
    '@PJL SET STAMP = ON' '@PJL SET STAMPTEXT = "For review"'
fi

# 4. A PIN the printer's panel cannot take: the job fails, nothing printed.
if run_job badpin -t Payroll -o OutputMethod=Secure -o VTSecurePIN=Custom.12; then
  [ "$completed" = 0 ] && pass "badpin: the job did not complete" || fail "badpin: the job completed"
  [ -s "$out/badpin.prn" ] && fail "badpin: $(wc -c < "$out/badpin.prn") bytes reached the device"
  grep -q "\[Job $job\] VTSecurePIN: the secure-print PIN must be" "$logs/error_log" &&
    pass "badpin: the scheduler logged the filter's error naming the option" ||
    fail "badpin: no error naming VTSecurePIN in the scheduler's log"
fi

echo "$(( failures == 0 ? 1 : 0 )) passed, $failures failed"
exit $((failures > 0))
