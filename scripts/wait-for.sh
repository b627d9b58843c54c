# Sourced by the harness scripts.
# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails after SECONDS.
wait_for() {
  local limit=$(( $1 * 10 )); shift
  local n=0
  until "$@" >/dev/null 2>&1; do
    n=$((n+1)); [ $n -ge $limit ] && return 1
    sleep 0.1
  done
}
