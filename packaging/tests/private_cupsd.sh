# Sourced by the tests that print through a real cupsd: one of the test's
# own, with its configuration, spool, logs and socket under a folder of the
# test, so tests run side by side and leave nothing behind.
#
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# private_workdir NAME
#   Makes the test's folder (sets tmp) under /tmp, removed at exit together
#   with the cupsd, or kept and named when VT_E2E_KEEP is set.
private_workdir() {
  tmp=$(mktemp -d "/tmp/$1.XXXXXX")
  chmod 0755 "$tmp"
  cupsd_pid=
  trap stop_private_cupsd EXIT
}

stop_private_cupsd() {
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  if [ -n "${VT_E2E_KEEP:-}" ]; then echo "kept $tmp"; else rm -rf "$tmp"; fi
}

# start_private_cupsd DIR EXTRA_FILES_LINES
#   Writes DIR/etc/cups-files.conf (with EXTRA_FILES_LINES: User, ServerBin,
#   SetEnv, ...) and DIR/etc/cupsd.conf, starts cupsd on DIR/cups.sock and
#   waits until it answers. Sets cupsd_pid, socket, logs (the log folder) and
#   CUPS_SERVER. Returns 1, after printing the end of its logs, when no cupsd
#   runs.
start_private_cupsd() {
  local dir=$1 extra=$2
  local etc=$dir/etc spool=$dir/spool
  logs=$dir/log
  mkdir -p "$etc/ppd" "$spool/tmp" "$logs" "$dir/cache" "$dir/state"
  chmod 0755 "$etc" "$logs"
  socket=$dir/cups.sock
  {
    [ -n "$extra" ] && printf '%s\n' "$extra"
    cat <<CONF
ServerRoot $etc
RequestRoot $spool
TempDir $spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ErrorLog $logs/error_log
AccessLog $logs/access_log
PageLog $logs/page_log
FileDevice Yes
Printcap $dir/printcap
CONF
  } > "$etc/cups-files.conf"
  cat > "$etc/cupsd.conf" <<CONF
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
CONF
  chmod 0644 "$etc/cups-files.conf" "$etc/cupsd.conf"
  cupsd -f -c "$etc/cupsd.conf" -s "$etc/cups-files.conf" >"$logs/cupsd.out" 2>&1 &
  cupsd_pid=$!
  export CUPS_SERVER=$socket
  for _ in $(seq 100); do
    [ -S "$socket" ] && lpstat -r >/dev/null 2>&1 && break
    kill -0 "$cupsd_pid" 2>/dev/null || break
    sleep 0.1
  done
  lpstat -r 2>/dev/null | grep -q 'is running' && return 0
  tail -20 "$logs/cupsd.out" "$logs/error_log" 2>/dev/null
  return 1
}

# wait_private_job PRINTER JOB [TICKS]
#   Waits until JOB has left PRINTER's queue or stopped there (at most TICKS
#   of 0.2 s, 600 by default), then until the scheduler has logged its end.
#   Returns 0 when it completed, 1 when it did not, 2 when it was still
#   queued after the wait.
wait_private_job() {
  local printer=$1 job=$2 ticks=${3:-600} waited=0
  while lpstat -o "$printer" 2>/dev/null | grep -q "^$printer-$job " &&
        ! grep -q "\[Job $job\] Job stopped" "$logs/error_log"; do
    sleep 0.2; waited=$((waited + 1))
    [ $waited -gt "$ticks" ] && return 2
  done
  for _ in $(seq 50); do
    grep -qE "\[Job $job\] Job (completed|stopped|aborted|canceled)" "$logs/error_log" && break
    sleep 0.1
  done
  grep -q "\[Job $job\] Job completed" "$logs/error_log"
}
