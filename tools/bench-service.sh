#!/bin/bash
# bench-service.sh [BIN] [ARRIVALS] [ROUNDTRIPS]: the mount service kelmsvc
# under Wine with the stand-in drivers, in a fresh prefix of its own
# (build/bench-service). Measures, in one run:
#  (a) the time from a key arrival (`kelmsim key 1234` returned) to both of
#      user 1234's auto-mount slots attached, CHECKMOUNT polled every 20 ms,
#      over ARRIVALS arrivals (default 20); the key watch reads the receiver
#      once a second and the key arrives at a random point of that second,
#      so 0 to 1 s (median about 0.5 s) plus the attach time is expected;
#  (b) the GETSTATE round trip through the service pipe against the same
#      round trip through echopipe (same pipe parameters, a plain echo),
#      ROUNDTRIPS each (default 1000), in 5 rounds that take turns, each
#      round on one connection.
# BIN is the x86_64 bin folder (default build/win64/bin); nothing is built.
# A service that does not mount within 10 s of an arrival is reported and
# part (a) is left out; part (b) still runs. Exit code 0 when both parts were
# measured, 1 otherwise.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/win64/bin}
arrivals=${2:-20}
roundtrips=${3:-1000}
[ -d "$bin" ] || { echo "no bin folder: $bin (build first)"; exit 1; }
bin=$(cd "$bin" && pwd)
for f in kelmsvc.exe kelmsim.exe kelmstore.exe kelmimg.exe kelmpipe.exe pipetime.exe echopipe.exe kelm.sys \
  kelmfmon.sys kelmrecv.sys rxkey2k.inf; do
  [ -f "$bin/$f" ] || { echo "missing $bin/$f (build the win64 target first)"; exit 1; }
done
[ -x /usr/lib/wine/wine64 ] || { echo "wine64 missing (apt-get install wine64)"; exit 1; }

dir=$root/build/bench-service
export WINEPREFIX=$dir/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
unset DISPLAY   # nothing here opens a window
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
arrival_limit_ms=10000
user=1234

say() { printf '%s\n' "$*" >&2; }
die() { say "bench-service: $*"; exit 1; }
# A Windows program of the bin folder (or a Wine tool), CRs removed.
win() { timeout 120 "$WINE" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
B='C:\kelmbench\bin'

# --- A fresh prefix with one persistent wineserver.
[ -d "$WINEPREFIX" ] && "$WINESERVER" -k 2>/dev/null
rm -rf "$dir"
mkdir -p "$WINEPREFIX"
cd "$dir" || exit 1   # a folder Wine can see as a working directory
. "$root/tests/bench/wineserver.sh"
start_bench_wineserver() { start_wineserver "$dir/wineserver.log" "$dir/wineserver.pid" || die "no wineserver"; }
echo_pid=
cleanup() {
  [ -n "$echo_pid" ] && kill "$echo_pid" 2>/dev/null
  if [ -d "$WINEPREFIX" ]; then
    win sc stop KelmSvr >/dev/null
    win "$B\\kelmsim.exe" uninstall >/dev/null
    "$WINESERVER" -k 2>/dev/null
  fi
  [ -f "$dir/wineserver.pid" ] && kill "$(cat "$dir/wineserver.pid")" 2>/dev/null
  rm -f "$dir/wineserver.pid" "$dir/go"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "prefix: $WINEPREFIX"
start_bench_wineserver
"$WINE" wineboot -i >"$dir/wineboot.log" 2>&1 || die "wineboot failed (see $dir/wineboot.log)"
win reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null || die "cannot set the Windows version"
# Z: would count as a drive letter in use and leave no letter to mount on;
# the mount manager has published it already, so start a new session.
"$WINESERVER" -k 2>/dev/null
"$WINESERVER" -w 2>/dev/null   # until it has gone
rm -f "$WINEPREFIX/dosdevices/z:"
mkdir -p "$WINEPREFIX/drive_c/kelmbench"
ln -sfn "$bin" "$WINEPREFIX/drive_c/kelmbench/bin"
start_bench_wineserver
win cmd /c exit >/dev/null

# --- Stand-ins, service, user 1234 with two auto-mount slots.
say "installing the stand-ins and the service"
win "$B\\kelmsim.exe" install >/dev/null || die "kelmsim install failed"
mkdir -p "$WINEPREFIX/drive_c/windows/system32/kelm"
cp "$bin/kelmsvc.exe" "$WINEPREFIX/drive_c/windows/system32/kelm/"
svc='C:\windows\system32\kelm\kelmsvc.exe'
win "$svc" -install >/dev/null || die "kelmsvc -install failed"
win reg add 'HKLM\SOFTWARE\kelm' /v INSTALLTYPE /d RFKEY /f >/dev/null || die "cannot write INSTALLTYPE"
for n in 0 1; do
  win "$B\\kelmimg.exe" create --size 40 --password "bench$n" --no-sync "C:\\kelmbench\\disk$n.img" >/dev/null ||
    die "kelmimg create disk$n failed"
done
# Delay 1: should a key loss ever be left to the service, it dismounts soon.
win "$B\\kelmstore.exe" user $user 1 >/dev/null || die "kelmstore user failed"
for n in 0 1; do
  win "$B\\kelmstore.exe" slot $user $n "C:\\kelmbench\\disk$n.img" 40 "bench$n" auto >/dev/null ||
    die "kelmstore slot $n failed"
done
win sc start KelmSvr >/dev/null
running=
for _ in $(seq 100); do
  win sc query KelmSvr | grep -q RUNNING && { running=1; break; }
  sleep 0.1
done
[ -n "$running" ] || die "KelmSvr did not start"
state=$(win "$B\\kelmpipe.exe" --wait 5000 CMD:32774 | grep '^<')
[ "$state" == "< CMD:3:7" ] || die "the service pipe does not answer GETSTATE as expected: '$state'"

median() { sort -n | awk '{ a[NR] = $1 } END { if (NR) print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) }'; }
attached_count() { win "$B\\kelmsim.exe" status | grep -c '^attached'; }

# Back to no key and nothing mounted: the key goes, then UNMOUNTALL and
# RELOAD (watching on again, current key 0).
reset_arrival() {
  win "$B\\kelmsim.exe" key none >/dev/null || return 1
  win "$B\\kelmpipe.exe" --wait 5000 CMD:32770 CMD:32769 >/dev/null || return 1
  for _ in $(seq 50); do
    [ "$(attached_count)" -eq 0 ] && return 0
    sleep 0.1
  done
  return 1
}

# One arrival: the poller connects and checks nothing is mounted, the key
# arrives, the poller's clock starts when kelmsim has returned.
# Prints the milliseconds, or "timeout".
one_arrival() {
  local out=$dir/arrival.out
  rm -f "$dir/go" "$out"
  mkfifo "$dir/go"
  # Straight to the file (no filter buffering the "ready" line).
  timeout 120 "$WINE" "$B\\pipetime.exe" --wait 5000 --until-mounted 01 --limit $arrival_limit_ms --interval 20 \
    --go-on-stdin <"$dir/go" >"$out" 2>/dev/null &
  local poller=$!
  exec 4>"$dir/go"
  local ready=
  for _ in $(seq 300); do
    grep -q '^ready' "$out" 2>/dev/null && { ready=1; break; }
    kill -0 "$poller" 2>/dev/null || break
    sleep 0.05
  done
  if [ -z "$ready" ]; then
    exec 4>&-
    wait "$poller"
    say "poller not ready: $(cat "$out")"
    return 1
  fi
  # The key watch runs once a second: arrive at a random point of its cycle.
  sleep "$(printf '0.%03d' $((RANDOM % 1000)))"
  win "$B\\kelmsim.exe" key $user >/dev/null
  echo go >&4
  exec 4>&-
  wait "$poller"
  local rc=$?
  if [ "$rc" -eq 5 ]; then
    echo timeout
    return 0
  fi
  [ "$rc" -eq 0 ] || { say "poller failed ($rc): $(cat "$out")"; return 1; }
  tr -d '\r' <"$out" | sed -n 's/^mounted after \([0-9.]*\) ms.*/\1/p'
}

# --- (a) key arrival to mounted.
say "(a) $arrivals key arrivals"
times=()
a_note=
for ((i = 1; i <= arrivals; i++)); do
  t=$(one_arrival) || { a_note="arrival $i: the poller failed"; break; }
  if [ "$t" == timeout ]; then
    heard=$(win "$B\\kelmpipe.exe" --wait 5000 CMD:32775 CMD:32774 | sed -n 's/^< //p' | tr '\n' ' ')
    a_note="arrival $i: not mounted within $((arrival_limit_ms / 1000)) s of the key (does this service mount on a key arrival?); GETKEY, GETSTATE then: $heard"
    reset_arrival || true
    break
  fi
  times+=("$t")
  if [ "$i" -eq 1 ]; then
    c=$(attached_count)
    [ "$c" -eq 2 ] || { a_note="the pipe reports both slots mounted, the disk stand-in has $c attached"; break; }
  fi
  reset_arrival || { a_note="arrival $i: the disks were not dismounted by UNMOUNTALL"; break; }
  say "  arrival $i: $t ms"
done

# --- (b) GETSTATE through the service and through echopipe, in rounds that
# take turns, so that both sides see the same load of the machine.
rounds=5
per=$(((roundtrips + rounds - 1) / rounds))
say "(b) $((per * rounds)) GETSTATE round trips each, in $rounds rounds"
echo_name='\\.\PIPE\kelmecho'
win "$B\\echopipe.exe" "$echo_name" $rounds >"$dir/echopipe.out" &
echo_pid=$!
: >"$dir/svc.us"
: >"$dir/echo.us"
for ((r = 1; r <= rounds; r++)); do
  out=$(win "$B\\pipetime.exe" --wait 5000 --each --repeat $per CMD:32774) || die "pipetime on the service: $out"
  grep -qx 'last answer CMD:3:7' <<<"$out" || die "service answers: $out"
  sed -n 's/^us //p' <<<"$out" >>"$dir/svc.us"
  out=$(win "$B\\pipetime.exe" --pipe "$echo_name" --wait 10000 --each --repeat $per CMD:32774) ||
    die "pipetime on echopipe: $out"
  grep -qx 'last answer CMD:32774' <<<"$out" || die "echo answers: $out"
  sed -n 's/^us //p' <<<"$out" >>"$dir/echo.us"
done
wait "$echo_pid"
echo_pid=
# min median max mean of a file of samples
stats() {
  sort -n "$1" | awk '{ a[NR] = $1; s += $1 }
    END { print a[1], (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2), a[NR], s / NR }'
}
read -r s_min s_med s_max s_mean <<<"$(stats "$dir/svc.us")"
read -r e_min e_med e_max e_mean <<<"$(stats "$dir/echo.us")"

# --- Table.
echo
echo "kelmsvc under Wine $("$WINE" --version 2>/dev/null) (x86_64 build, $bin), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "(a) key arrival -> both auto-mount slots attached, ms"
echo "    (clock from \`kelmsim key $user\` returning; CHECKMOUNT polled every 20 ms; 2 slots of 40 MB)"
printf '    %-34s %8s %8s %8s %8s\n' "" arrivals min median max
if [ "${#times[@]}" -gt 0 ]; then
  a_min=$(printf '%s\n' "${times[@]}" | sort -n | head -1)
  a_max=$(printf '%s\n' "${times[@]}" | sort -n | tail -1)
  a_med=$(printf '%s\n' "${times[@]}" | median)
  printf '    %-34s %8d %8.1f %8.1f %8.1f\n' "kelmsvc" "${#times[@]}" "$a_min" "$a_med" "$a_max"
else
  printf '    %-34s %8s %8s %8s %8s\n' "kelmsvc" 0 - - -
fi
printf '    %-34s %8s %8s %8s %8s\n' "baseline: wait for the 1 s step" "" 0 500 1000
[ -n "$a_note" ] && echo "    NOTE: $a_note"
echo
echo "(b) GETSTATE round trip (CMD:32774 -> answer), microseconds"
echo "    ($((per * rounds)) each: $rounds rounds of $per on one connection, taking turns)"
printf '    %-34s %10s %10s %10s %10s\n' "" min median max mean
printf '    %-34s %10.1f %10.1f %10.1f %10.1f\n' 'kelmsvc \\.\PIPE\kelmpip' "$s_min" "$s_med" "$s_max" "$s_mean"
printf '    %-34s %10.1f %10.1f %10.1f %10.1f\n' "echopipe $echo_name" "$e_min" "$e_med" "$e_max" "$e_mean"
printf '    %-34s %10.2f %10.2f %10s %10.2f\n' "ratio kelmsvc / echopipe" \
  "$(awk -v a="$s_min" -v b="$e_min" 'BEGIN { print a / b }')" \
  "$(awk -v a="$s_med" -v b="$e_med" 'BEGIN { print a / b }')" "" \
  "$(awk -v a="$s_mean" -v b="$e_mean" 'BEGIN { print a / b }')"
[ -z "$a_note" ]
