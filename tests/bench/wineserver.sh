# Sourced by the bench scripts: start_wineserver LOG PIDFILE starts the
# persistent wineserver of $WINEPREFIX (the folder must exist) and returns
# once it listens. A Wine program started before that would start a server
# of its own, which ends the session, services and drivers with it, soon
# after its last program; the persistent one would see it and exit.
: "${WINEPREFIX:?}" "${WINESERVER:?}"

wineserver_listening() {
  local name dir
  [ -d "$WINEPREFIX" ] || return 1
  name=server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")
  # Debian's Wine keeps the name of its folder under /tmp in the prefix;
  # upstream's is /tmp/.wine-UID.
  for dir in "/tmp/$(cat "$WINEPREFIX/wineserver" 2>/dev/null)" "/tmp/.wine-$(id -u)"; do
    [ -S "$dir/$name/socket" ] && return 0
  done
  return 1
}

start_wineserver() {
  local log=$1 pidfile=$2 pid
  nohup timeout 7200 "$WINESERVER" -f -p </dev/null >>"$log" 2>&1 &
  pid=$!
  echo "$pid" >"$pidfile"
  for _ in $(seq 100); do
    wineserver_listening && kill -0 "$pid" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the persistent wineserver does not listen; its log ends: $(tail -n 3 "$log" | tr '\n' ' ')" >&2
  return 1
}
