#!/bin/bash
# kelmshot.exe saves what a Wine desktop shows as PNG, for scripts such as
# the demonstration: the whole screen, a rectangle, or a window found by its
# title, of its own desktop or of another one (--desktop), such as a
# desktop with a taskbar where a tray program runs.
set -uo pipefail
. "$KELM_SOURCE_DIR/tests/bench/wine-env.sh"
cd "$KELM_BENCH_DIR" || exit 1
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
W() { timeout 60 "$WINE" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
shots="$WINEPREFIX/drive_c/kelmtest/shots/kelmshot"
rm -rf "$shots"; mkdir -p "$shots"
win='C:\kelmtest\shots\kelmshot'

# Width and height from the IHDR chunk of a PNG file.
png_size() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { echo "not a PNG"; return; }
  local w h
  w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
  h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
  echo "${w}x$h"
}

# The default desktop: the whole X screen.
out=$(W "$KELM_WINBIN\\kelmshot.exe" "$win\\screen.png") || fail "screen: exit $?: $out"
grep -Eqx 'saved C:\\kelmtest\\shots\\kelmshot\\screen.png 1024x768 [0-9]+ colours' <<<"$out" || fail "screen line: $out"
[ "$(png_size "$shots/screen.png")" = 1024x768 ] || fail "screen.png: $(png_size "$shots/screen.png")"

# A desktop with a taskbar and a tray program on it, as the demonstration
# shows the tray program.
desk="kelmshot$$"
W reg add "HKCU\\Software\\Wine\\Explorer\\Desktops\\$desk" /v EnableShell /t REG_DWORD /d 1 /f >/dev/null
log="$shots/sample.log"
# Not through a pipe: what these start keeps its output open while it runs.
timeout 120 "$WINE" explorer "/desktop=$desk,1024x768" "$KELM_WINBIN\\kelmtraysample.exe" "$win\\sample.log" \
  >/dev/null 2>&1 &
desk_pid=$!
cleanup() {
  W taskkill /f /im kelmtraysample.exe >/dev/null
  W taskkill /f /im notepad.exe >/dev/null
  W reg delete "HKCU\\Software\\Wine\\Explorer\\Desktops\\$desk" /f >/dev/null
  # The desktop ends by itself once its programs have gone.
  for _ in $(seq 100); do kill -0 "$desk_pid" 2>/dev/null || break; sleep 0.1; done
}
trap cleanup EXIT
for _ in $(seq 200); do grep -q started "$log" 2>/dev/null && break; sleep 0.1; done
grep -q started "$log" 2>/dev/null || fail "the tray program did not start"
timeout 60 "$WINE" explorer "/desktop=$desk,1024x768" notepad.exe >/dev/null 2>&1

# The taskbar's row, tray icon included: more than the taskbar's colour
# (the Start button and the icon), and painted within a few tries.
for _ in $(seq 50); do
  out=$(W "$KELM_WINBIN\\kelmshot.exe" --desktop "$desk" --rect 0 748 1024 20 "$win\\taskbar.png")
  n=$(sed -n 's/.* \([0-9]*\) colours$/\1/p' <<<"$out")
  [ "${n:-0}" -gt 10 ] && break
  sleep 0.2
done
grep -Eqx 'saved .*taskbar.png 1024x20 [0-9]+ colours' <<<"$out" || fail "taskbar line: $out"
[ "${n:-0}" -gt 10 ] || fail "taskbar picture has ${n:-0} colours"
[ "$(png_size "$shots/taskbar.png")" = 1024x20 ] || fail "taskbar.png: $(png_size "$shots/taskbar.png")"

# A window by its title, waited for.
out=$(W "$KELM_WINBIN\\kelmshot.exe" --desktop "$desk" --window "Untitled - Notepad" --wait 20000 "$win\\notepad.png") ||
  fail "notepad: exit $?: $out"
size=$(sed -n 's/^saved [^ ]* \([0-9]*x[0-9]*\) .*/\1/p' <<<"$out")
[ -n "$size" ] && [ "$(png_size "$shots/notepad.png")" = "$size" ] || fail "notepad.png: $out"

# Failures: a window that is not there, a desktop that is not there, usage.
W "$KELM_WINBIN\\kelmshot.exe" --window "No such window" "$win\\none.png" >/dev/null; rc=$?
[ "$rc" -eq 1 ] || fail "missing window: exit $rc"
[ ! -e "$shots/none.png" ] || fail "a file for a missing window"
W "$KELM_WINBIN\\kelmshot.exe" --desktop "no-such-desktop" "$win\\none.png" >/dev/null; rc=$?
[ "$rc" -eq 1 ] || fail "missing desktop: exit $rc"
for args in "" "--rect 1 2 3" "--rect 0 0 0 5 x.png" "--wait x x.png" "a.png b.png" "--window t --rect 0 0 5 5 x.png"; do
  # shellcheck disable=SC2086
  W "$KELM_WINBIN\\kelmshot.exe" $args >/dev/null; rc=$?
  [ "$rc" -eq 2 ] || fail "usage '$args': exit $rc"
done

if [ "$fails" -ne 0 ]; then echo "$fails failure(s)"; exit 1; fi
echo "kelmshot saves the screen, a rectangle and a window of any desktop as PNG"
