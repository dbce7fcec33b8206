#!/usr/bin/env bash
# A server that listens on the network (no listen-hostname), in a network
# namespace of this test's own: requests from a remote address are checked
# in front of PAPPL like those from loopback, and PAPPL still treats that
# client as remote (no administration). A server that cannot have a network
# of its own (not root) says so and is served by PAPPL alone.
#
# usage: printer_app_network.sh APP FILTER SOURCE_DIR
# Exits 77 (skipped) unless run as root where network namespaces can be made.
set -uo pipefail

app=$1
filter=$2
src=$3

skip() { echo "SKIPPED: $*"; exit 77; }
if [ -z "${VT_IN_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root, for a network namespace of the test's own"
  command -v ipptool >/dev/null 2>&1 || skip "ipptool (cups-ipp-utils) is not installed"
  unshare -n true 2>/dev/null || skip "no network namespace can be made here"
  VT_IN_NETNS=1 exec unshare -n bash "$0" "$@"
fi
# The test's own network: loopback, and an address that is not loopback,
# which a client here connects from when it connects to it.
remote=192.0.2.10
ip link set lo up && ip addr add $remote/32 dev lo || { echo "FAIL: no test network"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

tmp=$(mktemp -d /tmp/vt-papp-net.XXXXXX)
chmod 0755 "$tmp"  # for the server run as nobody
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  if [ -n "${VT_PAPP_KEEP:-}" ]; then echo "kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT

out=$tmp/out
mkdir -p "$tmp/root/Library/Printers/VANTORA/Q610/Plist" "$tmp/vtspool" "$out"
cp "$src/examples/FilterCustomize.plist" "$tmp/root/Library/Printers/VANTORA/Q610/Plist/"
export VT_TEST_ROOT=$tmp/root VT_TEST_SPOOL_DIR=$tmp/vtspool
export VANTORA_PRINTER_APP_FILTER=$filter VANTORA_PRINTER_APP_PPD=$src/packaging/ppd/Q610.ppd
export TMPDIR=$tmp SNAP_COMMON=$tmp
source "$src/printer-app/tests/start_server.sh"

start_printer_app "$app" "$tmp" -o listen-hostname= ||
  { cat "$tmp/server.out"; echo "FAIL: the server did not start"; exit 1; }
"$app" add -u "ipp://localhost:$port/ipp/system" -d Q610 -m vantora_q610 -v "file://$out" \
  >"$tmp/add.log" 2>&1 || { cat "$tmp/add.log"; echo "FAIL: printer not added"; exit 1; }
pass "server on every address, port $port"

printf '%%!PS-Adobe-3.0\n%%%%Pages: 1\n%%%%EndComments\n%%%%Page: 1 1\n/Helvetica findfont 40 scalefont setfont 72 600 moveto (remote) show showpage\n%%%%EOF\n' >"$tmp/doc.ps"

# request NAME HOST OPERATION STATUS [OPERATION-ATTRS] [JOB-ATTRS]: one
# request to the printer on HOST, expecting STATUS.
request() {
  local name=$1 host=$2 op=$3 status=$4 opattrs=${5:-} jobattrs=${6:-} file=
  [ "$op" = Print-Job ] && file='FILE $filename'
  cat >"$tmp/$name.test" <<EOF
{
  NAME "$name"
  OPERATION $op
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name carol
  $([ "$op" = Print-Job ] && echo "ATTR name job-name $name
  ATTR mimeMediaType document-format application/postscript")
  $opattrs
  $([ -n "$jobattrs" ] && echo "GROUP $([ "$op" = Set-Printer-Attributes ] && echo printer || echo job)-attributes-tag
  $jobattrs")
  $file
  STATUS $status
}
EOF
  # (PAPPL refuses administration with HTTP 403, which ipptool reports as
  # a failed request with that status.)
  if timeout 60 ipptool -t -f "$tmp/doc.ps" "ipp://$host:$port/ipp/print/Q610" "$tmp/$name.test" \
       >"$tmp/$name.log" 2>&1 || grep -q "status-code = $status (" "$tmp/$name.log"; then
    pass "$name: $status"
  else
    fail "$name: not $status"; grep -E 'EXPECTED|GOT|status-code' "$tmp/$name.log" | head -3
  fi
}

#       name            host        operation               status
request LocalAdmin      localhost   Set-Printer-Attributes  successful-ok '' \
  'ATTR keyword vantora-poster-default none'
request RemoteAdmin     $remote     Set-Printer-Attributes  client-error-forbidden '' \
  'ATTR keyword vantora-poster-default none'
request RemoteBadPoster $remote     Print-Job  client-error-attributes-or-values-not-supported '' \
  'ATTR keyword vantora-poster 5x5'
request RemoteShortPin  $remote     Print-Job  client-error-attributes-or-values-not-supported \
  'ATTR octetString job-password 12'
request RemotePin       $remote     Print-Job  successful-ok \
  'ATTR octetString job-password 2468'

# Only the good job reached PAPPL, and its PIN holds it at the printer.
for _ in $(seq 100); do ls "$out"/*.prn >/dev/null 2>&1 && break; sleep 0.2; done
sleep 1
streams=$(ls "$out"/*.prn 2>/dev/null | wc -l)
s=$(grep -l -a '@PJL SET JOBNAME = "RemotePin"' "$out"/*.prn 2>/dev/null | head -1)
if [ "$streams" -eq 1 ] && [ -n "$s" ] && grep -aqxF '@PJL SET HOLDKEY = "32343638"' "$s" &&
   grep -aqxF '@PJL SET USERNAME = "carol"' "$s"; then
  pass "the remote secure job printed held for its PIN, the refused ones made no job"
else
  fail "$streams streams at the device; RemotePin's: ${s:-none}"
fi
grep -q "Accepted connection from '10.255.255.1'" "$tmp/log" ||
  fail "PAPPL did not see the remote client as remote"

# Not root: no network of its own, so PAPPL listens itself and says so.
if command -v setpriv >/dev/null 2>&1; then
  mkdir -p "$tmp/user" && chmod 0777 "$tmp/user" && served=
  main_port=$port main_pid=$server_pid
  run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$tmp/user" TMPDIR="$tmp/user")
  start_printer_app "$app" "$tmp/user" -o listen-hostname= &&
    (exec 3<>"/dev/tcp/$remote/$port") 2>/dev/null && served=1
  kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null
  port=$main_port server_pid=$main_pid run_as=()
  [ -n "$served" ] && grep -q 'requests are checked only when jobs start' "$tmp/user/server.out" &&
    pass "a server that is not root is PAPPL's alone, and says so" ||
    fail "server as nobody: served '$served', $(head -c 300 "$tmp/user/server.out")"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; server log:"; grep -E '^[EW] ' "$tmp/log" | tail -20
  exit 1
fi
echo "all network server checks passed"
