#!/bin/bash
# bench-hotkey.sh [BIN] [ROUNDS] [KEY]: the hot-key hook's cost per keystroke
# under Wine, in a fresh prefix of its own (build/bench-hotkey) with its own
# Xvfb. hotkeybench.exe sends 1000 keys (a press and a release each) to
# keylog.exe, another process holding the focus, and times them until keylog
# has received them all:
#   - with no hook installed,
#   - with kelmhkey.dll's hook (its window is searched for on F12 only),
#   - with kelmhkey_everykey.dll, the same hook searching on every key;
# each fed by SendInput (Wine's input path alone) and by xdotool (real X
# events through the X server), ROUNDS rounds (default 11) that take turns.
# KEY is F11 (default, no character) or a (a typed letter: keylog's edit box
# then adds its own work to every run).
# BIN is the x86_64 bin folder (default build/win64/bin); nothing is built.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/win64/bin}
rounds=${2:-11}
key=${3:-F11}
[ -d "$bin" ] || { echo "no bin folder: $bin (build first)"; exit 1; }
bin=$(cd "$bin" && pwd)
for f in hotkeybench.exe keylog.exe kelmhkey.dll kelmhkey_everykey.dll; do
  [ -f "$bin/$f" ] || { echo "missing $bin/$f (build the win64 target first)"; exit 1; }
done
[ -x /usr/lib/wine/wine64 ] || { echo "wine64 missing (apt-get install wine64)"; exit 1; }
for p in Xvfb xdotool; do
  command -v $p >/dev/null || { echo "$p missing (apt-get install xvfb xdotool)"; exit 1; }
done

dir=$root/build/bench-hotkey
export WINEPREFIX=$dir/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
B='C:\kelmbench\bin'

[ -d "$WINEPREFIX" ] && "$WINESERVER" -k 2>/dev/null
[ -f "$dir/xvfb.pid" ] && kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir" || exit 1
cleanup() {
  [ -d "$WINEPREFIX" ] && "$WINESERVER" -k 2>/dev/null
  for f in wineserver.pid xvfb.pid; do
    [ -f "$dir/$f" ] && kill "$(cat "$dir/$f")" 2>/dev/null
    rm -f "$dir/$f"
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb first: Wine's desktop takes the DISPLAY of the first program.
exec 3>"$dir/display"
nohup timeout 3600 Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
echo $! >"$dir/xvfb.pid"
exec 3>&-
for _ in $(seq 100); do
  [ -s "$dir/display" ] && break
  sleep 0.1
done
[ -s "$dir/display" ] || { echo "Xvfb did not start"; cat "$dir/xvfb.log"; exit 1; }
export DISPLAY=":$(tr -d '\n' <"$dir/display")"

nohup timeout 3600 "$WINESERVER" -f -p </dev/null >"$dir/wineserver.log" 2>&1 &
echo $! >"$dir/wineserver.pid"
"$WINE" wineboot -i >"$dir/wineboot.log" 2>&1 || { echo "wineboot failed (see $dir/wineboot.log)"; exit 1; }
# No window manager: unmanaged windows, as in the test bench.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/kelmbench"
ln -sfn "$bin" "$WINEPREFIX/drive_c/kelmbench/bin"

echo "kelmhkey under Wine $("$WINE" --version 2>/dev/null) (x86_64 build, $bin), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Xvfb $DISPLAY, xdotool $(xdotool version 2>/dev/null | awk '{ print $3 }'), $(nproc) cores"
echo
out=$(timeout 1200 "$WINE" "$B\\hotkeybench.exe" --rounds "$rounds" --key "$key" 2>&1 | tr -d '\r')
rc=$?
grep -v '^wine: could not open working directory' <<<"$out"
echo
echo "A figure in ms per 1000 keys is also the cost in microseconds per key (press and release)."
echo "median-base and min-base: the time a hook adds, from the medians and from the minimums of the runs."
exit $rc
