# Sourced by tools/demo.sh: narrated steps, checks and bounded waits, and
# the closing line. A wait polls its condition; when the bound runs out, or
# a check or a command fails, the demo stops saying in which step, what it
# waited for and what it saw instead.
#
#   step "title"                     starts a numbered step
#   check "what" COMMAND...          COMMAND must succeed now
#   wait_for "what" SECONDS COMMAND...
#                                    polls COMMAND every 0.1 s until it succeeds
#   demo_passed                      the closing line
#
# A script may define demo_diagnose: when the demo fails it is called once
# to print whatever else may explain the failure.
#
# COMMAND is a predicate: it prints what it sees (one short line is best)
# and succeeds when the condition holds. After a wait, $waited holds the
# seconds it took (one decimal), $seen the predicate's last output.

demo_ms() { echo $(($(date +%s%N) / 1000000)); }
demo_start_ms=$(demo_ms)
demo_steps=0
demo_checks=0
demo_title="getting ready"
waited=0
seen=""

say() { printf '\n=== %s\n' "$*"; }
note() { printf '    (%s)\n' "$*"; }

step() {
  demo_steps=$((demo_steps + 1))
  demo_title=$*
  say "$demo_steps. $*"
}

demo_report() {
  [ "$BASH_SUBSHELL" -eq 0 ] && declare -F demo_diagnose >/dev/null || return 0
  trap - ERR
  set +e
  demo_diagnose 2>&1 | sed 's/^/    /' >&2
}

die() {
  printf '!!! demo failed in step %d (%s): %s\n' "$demo_steps" "$demo_title" "$*" >&2
  demo_report
  exit 1
}

# A command that fails outside a check or wait stops the demo too, and says
# so (the sourcing script runs with set -eE).
demo_on_error() {
  local rc=$1 command=$2 line=$3
  [ "$BASH_SUBSHELL" -eq 0 ] || exit "$rc"
  printf '!!! demo failed in step %d (%s): "%s" ended with exit code %d (%s line %d)\n' \
    "$demo_steps" "$demo_title" "$command" "$rc" "${BASH_SOURCE[1]:-demo}" "$line" >&2
  demo_report
  exit "$rc"
}
trap 'demo_on_error $? "$BASH_COMMAND" $LINENO' ERR

demo_seconds() {  # milliseconds as seconds with one decimal
  printf '%d.%d' $(($1 / 1000)) $(($1 % 1000 / 100))
}

check() {
  local what=$1 rc=0
  shift
  seen=$("$@" 2>&1) || rc=$?
  [ "$rc" -eq 0 ] || die "expected $what; saw instead: ${seen:-nothing}"
  demo_checks=$((demo_checks + 1))
}

wait_for() {
  local what=$1 bound=$2 rc
  shift 2
  local t0 now
  t0=$(demo_ms)
  while :; do
    rc=0
    seen=$("$@" 2>&1) || rc=$?
    now=$(demo_ms)
    if [ "$rc" -eq 0 ]; then
      waited=$(demo_seconds $((now - t0)))
      demo_checks=$((demo_checks + 1))
      return 0
    fi
    [ $((now - t0)) -lt $((bound * 1000)) ] ||
      die "waited $bound s for $what; saw instead: ${seen:-nothing}"
    sleep 0.1
  done
}

demo_passed() {
  local ms=$(($(demo_ms) - demo_start_ms))
  printf '\ndemo passed: %d steps checked (%d conditions) in %s s\n' "$demo_steps" "$demo_checks" \
    "$(demo_seconds "$ms")"
}
