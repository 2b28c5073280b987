#!/bin/bash
# wine-setup.sh BENCH_DIR WIN64_BIN: a fresh prefix, one Xvfb and one
# wineserver kept alive for the whole test run (wine-teardown.sh ends them).
set -eu
export KELM_BENCH_DIR=$1
win64bin=$2
here=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/lib/wine/wine64 ] || { echo "wine64 missing (apt-get install wine64)"; exit 1; }
"$here/wine-teardown.sh" "$KELM_BENCH_DIR" >/dev/null 2>&1 || true
rm -rf "$KELM_BENCH_DIR"
mkdir -p "$KELM_BENCH_DIR"

# Xvfb on a free display number.
exec 3> "$KELM_BENCH_DIR/display.tmp"
nohup timeout 7200 Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
  >"$KELM_BENCH_DIR/xvfb.log" 2>&1 &
echo $! > "$KELM_BENCH_DIR/xvfb.pid"
exec 3>&-
for _ in $(seq 100); do
  [ -s "$KELM_BENCH_DIR/display.tmp" ] && break
  sleep 0.1
done
tr -d '\n' < "$KELM_BENCH_DIR/display.tmp" > "$KELM_BENCH_DIR/display"
[ -s "$KELM_BENCH_DIR/display" ] || { echo "Xvfb did not start"; cat "$KELM_BENCH_DIR/xvfb.log"; exit 1; }

. "$here/wine-env.sh"
. "$here/wineserver.sh"
start_bench_wineserver() {
  start_wineserver "$KELM_BENCH_DIR/wineserver.log" "$KELM_BENCH_DIR/wineserver.pid" || exit 1
}
mkdir -p "$WINEPREFIX"
start_bench_wineserver
"$WINE" wineboot -i >"$KELM_BENCH_DIR/wineboot.log" 2>&1 ||
  { echo "wineboot -i failed:"; tail -n 20 "$KELM_BENCH_DIR/wineboot.log"; exit 1; }
# Windows XP unless a test says otherwise.
"$WINE" reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1 ||
  { echo "cannot set the Windows version"; exit 1; }
# No window manager under Xvfb: unmanaged windows spare Wine's 2 s wait per closed dialog.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
  { echo "cannot set the X11 driver to unmanaged windows"; exit 1; }
# Z: (the Unix root) would count as a drive letter in use. The mount manager
# has already published it in this session, so start a new one without it.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true   # until it has gone
rm -f "$WINEPREFIX/dosdevices/z:"
mkdir -p "$WINEPREFIX/drive_c/kelmtest"
ln -sfn "$win64bin" "$WINEPREFIX/drive_c/kelmtest/bin"
start_bench_wineserver
"$WINE" cmd /c exit >/dev/null 2>&1 || true   # services of the new session start now
echo "bench ready: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
