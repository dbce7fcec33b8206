# Sourced by the printer application's tests.
#
# start_printer_app APP DIR [OPTION...]: starts `APP server` on a free
# loopback port with its spool, state and log in DIR and the extra `-o`
# options given, through the command in the array `run_as` if set (e.g. as
# another user); sets `port` and `server_pid`. Returns 1 when no server
# started (its output is in DIR/server.out).
start_printer_app() {
  local app=$1 dir=$2 p
  shift 2
  port=
  for _try in $(seq 20); do
    p=$((20000 + (RANDOM % 20000)))
    ${run_as[@]+"${run_as[@]}"} "$app" server -o server-port=$p -o listen-hostname=localhost \
      -o spool-directory="$dir/spool" -o state-file="$dir/state" -o log-file="$dir/log" \
      -o log-level=debug "$@" >"$dir/server.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      # A plain connection: the program's own sub-commands start a private
      # server of their own when they find none.
      (exec 3<>"/dev/tcp/localhost/$p") 2>/dev/null && { port=$p; return 0; }
      sleep 0.1
    done
    kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; server_pid=
  done
  return 1
}
