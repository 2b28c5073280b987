# Sourced by the bench scripts: the environment of the run's Wine prefix.
# KELM_BENCH_DIR is the bench folder inside the build folder.
: "${KELM_BENCH_DIR:?KELM_BENCH_DIR not set}"
export WINEPREFIX="$KELM_BENCH_DIR/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
if [ -f "$KELM_BENCH_DIR/display" ]; then
  export DISPLAY=":$(cat "$KELM_BENCH_DIR/display")"
fi
# C:\kelmtest\bin is the x86_64 build's bin folder.
KELM_WINBIN='C:\kelmtest\bin'
