# Sourced by the scripts that run pxrsim beside them (demo.sh,
# check_install.sh). Their exit trap calls stop_pxrsim, so that no pxrsim
# is left running.

sim_pid=

# start_pxrsim LINK LOG [OPTION...]: pxrsim (the one on PATH) serves its
# built-in plant on LINK in the background, its output in LOG. Returns once
# the link is there, or 1, with LOG shown, when pxrsim made none.
start_pxrsim() {
  local link=$1 log=$2
  pxrsim "${@:3}" --link "$link" >"$log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [[ -L "$link" ]] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  cat "$log" >&2
  return 1
}

# stop_pxrsim: stops it; fails when pxrsim did not exit cleanly.
stop_pxrsim() {
  [[ -n "$sim_pid" ]] || return 0
  local pid=$sim_pid
  sim_pid=
  kill "$pid" 2>/dev/null || true
  wait "$pid"
}
