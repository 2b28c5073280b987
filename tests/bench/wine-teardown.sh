#!/bin/bash
# wine-teardown.sh BENCH_DIR: end the run's wineserver and Xvfb.
set -u
export KELM_BENCH_DIR=$1
here=$(cd "$(dirname "$0")" && pwd)
[ -d "$KELM_BENCH_DIR" ] || exit 0
. "$here/wine-env.sh"
[ -d "$WINEPREFIX" ] && "$WINESERVER" -k 2>/dev/null
for f in wineserver.pid xvfb.pid; do
  [ -f "$KELM_BENCH_DIR/$f" ] && kill "$(cat "$KELM_BENCH_DIR/$f")" 2>/dev/null
  rm -f "$KELM_BENCH_DIR/$f"
done
rm -f "$KELM_BENCH_DIR/display"
exit 0
