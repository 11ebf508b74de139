# Sourced by the with-*.sh scripts: starts a server in the background with its output in a
# temporary log, stops it (and removes the log) when the calling script exits, and waits until
# the server has printed the port it listens on.
# Usage: start_background_server NAME SED_PORT_EXPRESSION COMMAND [ARG...]
# Sets server_pid and port; exits with the server's log when it does not start.
start_background_server() {
  local name="$1" port_expression="$2"
  shift 2
  server_log="$(mktemp)"
  "$@" >"$server_log" 2>&1 &
  server_pid=$!
  trap stop_background_server EXIT
  port=""
  for _ in $(seq 1 150); do
    port="$(sed -n "$port_expression" "$server_log")"
    [[ -n "$port" ]] && return 0
    kill -0 "$server_pid" 2>/dev/null || { cat "$server_log" >&2; echo "$name did not start" >&2; exit 1; }
    sleep 0.1
  done
  echo "$name did not report its port" >&2
  exit 1
}

stop_background_server() {
  if kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -f "$server_log"
}
