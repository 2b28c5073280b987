#!/bin/bash
# bench-kelmcfg.sh [BIN] [SECONDS]: what the tray program KelmCfg costs while
# it sits idle, connected to the mount service with a user's disks mounted,
# beside bareloop.exe (a hidden window and an empty message loop), both
# under Wine in a fresh prefix of their own (build/bench-kelmcfg). Over
# SECONDS (default 60) it prints, for each program, the CPU time used (user
# and system, from /proc of its Wine process), the resident set at the end
# and its peak, and for KelmCfg the requests it sent (the service's log).
# BIN is the x86_64 bin folder (default build/win64/bin); nothing is built.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/win64/bin}
seconds=${2:-60}
for f in KelmCfg.exe kelmhkey.dll bareloop.exe kelmsvc.exe kelmsim.exe kelmstore.exe kelmimg.exe KelmCfg.lg; do
  [ -f "$bin/$f" ] || { echo "missing $bin/$f (build the win64 target first)"; exit 1; }
done
bin=$(cd "$bin" && pwd)
export KELM_BENCH_DIR=$root/build/bench-kelmcfg
bench=$root/tests/bench
cleanup() { bash "$bench/wine-teardown.sh" "$KELM_BENCH_DIR" >/dev/null 2>&1; }
trap cleanup EXIT
bash "$bench/wine-setup.sh" "$KELM_BENCH_DIR" "$bin" >/dev/null || { echo "no Wine bench"; exit 1; }
. "$bench/wine-env.sh"
cd "$KELM_BENCH_DIR" || exit 1
win() { timeout 120 "$WINE" "$@" 2>/dev/null | tr -d '\r'; }
B='C:\kelmtest\bin'
log="$WINEPREFIX/drive_c/kelmlog.txt"
# Bounded wait for a condition; stops the benchmark with what it waited for.
wait_for() {
  local what=$1 limit=$2; shift 2
  local t0=$SECONDS
  until "$@"; do
    [ $((SECONDS - t0)) -ge "$limit" ] && { echo "bench-kelmcfg: waited ${limit}s for $what" >&2; exit 1; }
    sleep 0.2
  done
}

win "$B\\kelmsim.exe" install >/dev/null
mkdir -p "$WINEPREFIX/drive_c/kelmdisks" "$WINEPREFIX/drive_c/kelmcfg"
win "$B\\kelmimg.exe" create --size 34 --password alpha1 --no-sync 'C:\kelmdisks\u1234-0.img' >/dev/null
win "$B\\kelmstore.exe" user 1234 15 >/dev/null
win "$B\\kelmstore.exe" slot 1234 0 'C:\kelmdisks\u1234-0.img' 34 alpha1 auto >/dev/null
cp "$bin/KelmCfg.exe" "$bin/kelmhkey.dll" "$bin/KelmCfg.lg" "$WINEPREFIX/drive_c/kelmcfg/"
win "$B\\kelmsvc.exe" -install >/dev/null
win sc start KelmSvr >/dev/null
win "$B\\kelmsim.exe" key 1234
wait_for "the user's disk to mount" 15 bash -c "$WINE '$B\\kelmsim.exe' status 2>/dev/null | grep -q '^attached'"

"$WINE" 'C:\kelmcfg\KelmCfg.exe' >/dev/null 2>&1 &
"$WINE" "$B\\bareloop.exe" >/dev/null 2>&1 &
linux_pid() { pgrep -f "$1" | head -n 1; }
wait_for "KelmCfg to learn the letters" 15 grep -qa 'CMD:32776' "$log"
wait_for "bareloop to start" 15 bash -c "[ -n \"\$(pgrep -f bareloop.exe)\" ]"
cfg=$(linux_pid 'kelmcfg\\KelmCfg.exe')
bare=$(linux_pid 'bareloop.exe')
[ -n "$cfg" ] && [ -n "$bare" ] || { echo "bench-kelmcfg: processes not found"; exit 1; }
tick=$(getconf CLK_TCK)
cpu_ms() { awk -v t="$tick" '{print int(($14 + $15) * 1000 / t)}' "/proc/$1/stat"; }
kb() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }
requests() { grep -ac 'CMD:' "$log"; }

c0=$(cpu_ms "$cfg"); b0=$(cpu_ms "$bare"); r0=$(requests)
sleep "$seconds"   # the measured interval itself, not a wait for an outcome
c1=$(cpu_ms "$cfg"); b1=$(cpu_ms "$bare"); r1=$(requests)

printf 'KelmCfg idle and connected for %s s, beside an empty message loop (Wine %s, x86_64)\n' "$seconds" \
  "$("$WINE" --version 2>/dev/null)"
printf '%-22s %12s %14s %14s\n' program "CPU ms" "resident KiB" "peak KiB"
printf '%-22s %12s %14s %14s\n' KelmCfg.exe $((c1 - c0)) "$(kb "$cfg" VmRSS)" "$(kb "$cfg" VmHWM)"
printf '%-22s %12s %14s %14s\n' "bareloop.exe (baseline)" $((b1 - b0)) "$(kb "$bare" VmRSS)" "$(kb "$bare" VmHWM)"
printf 'requests KelmCfg sent: %s (GETSTATE every 3 s, then GETKEY and CHECKMOUNT while mounted)\n' $((r1 - r0))
win "$B\\kelmsvc.exe" -remove >/dev/null
win "$B\\kelmsim.exe" uninstall >/dev/null
