#!/usr/bin/env bash
# Prints a real PDF through a private cupsd to a queue made from the
# installed Q610 PPD, with the option sets a person chooses most (plain,
# booklet, 2x2 poster, 4-up with a printed front cover and blank interleave,
# 2-up turned by 180 degrees), and checks what reached the file device: the
# PJL framing with the header lines of the sample customisation file, the
# sheet comments of the imposition, that the PostScript renders in
# Ghostscript (through vt-preview), and the page log of the scheduler.
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

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

tmp=$(mktemp -d /tmp/vt-cups-e2e.XXXXXX)
chmod 0755 "$tmp"
cupsd_pid=
cleanup() {
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  if [ -n "${VT_E2E_KEEP:-}" ]; then echo "kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT

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
cat > "$etc/cups-files.conf" <<EOF
$user_lines
ServerRoot $etc
ServerBin $bin
DataDir /usr/share/cups
RequestRoot $spool
TempDir $spool/tmp
CacheDir $tmp/cache
StateDir $tmp/state
ErrorLog $logs/error_log
AccessLog $logs/access_log
PageLog $logs/page_log
FileDevice Yes
Printcap
SetEnv VT_TEST_ROOT $dest$vtroot
SetEnv VT_TEST_SPOOL_DIR $spool/tmp
EOF
cat > "$etc/cupsd.conf" <<EOF
LogLevel debug
Listen $socket
Browsing No
WebInterface No
DefaultAuthType None
MaxLogSize 0
PreserveJobFiles No
PreserveJobHistory Yes
JobRetryLimit 0
ErrorPolicy abort-job
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
chmod 0644 "$etc/cups-files.conf" "$etc/cupsd.conf"

cupsd -f -c "$etc/cupsd.conf" -s "$etc/cups-files.conf" >"$logs/cupsd.out" 2>&1 &
cupsd_pid=$!
export CUPS_SERVER=$socket
for _ in $(seq 100); do
  [ -S "$socket" ] && lpstat -r >/dev/null 2>&1 && break
  kill -0 "$cupsd_pid" 2>/dev/null || break
  sleep 0.1
done
if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
  cat "$logs/cupsd.out" "$logs/error_log" 2>/dev/null | tail -20
  skip "a private cupsd could not be started here"
fi
pass "private cupsd listening on $socket"

device=$out/device.prn
if ! lpadmin -p Q610 -E -v "file://$device" -P "$ppd" >"$tmp/lpadmin.log" 2>&1; then
  cat "$tmp/lpadmin.log"
  echo "FAIL: lpadmin could not add the queue"
  exit 1
fi
pass "queue Q610 added from the installed PPD"

echo "--- error log ---"; tail -30 "$logs/error_log"
exit $((failures > 0))
