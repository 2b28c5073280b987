#!/bin/bash
# KelmCfg with KelmCtl in a Windows 98 prefix and wineserver of its own (the Windows 98
# form of the disk stand-in cannot share a session with the 2000/XP form,
# and it must not share one with standins98_test either).
set -u
: "${KELM_BENCH_DIR:?}" "${KELM_WIN64_BIN:?}" "${KELM_SOURCE_DIR:?}"
bench="${KELM_BENCH_DIR}98cfg"
bash "$KELM_SOURCE_DIR/tests/bench/wine-setup.sh" "$bench" "$KELM_WIN64_BIN" >/dev/null || exit 1
trap 'bash "$KELM_SOURCE_DIR/tests/bench/wine-teardown.sh" "$bench"' EXIT
export KELM_BENCH_DIR="$bench"
. "$KELM_SOURCE_DIR/tests/bench/wine-env.sh"
cd "$bench"
# The test program sets both programs' Windows version to win98.
timeout 540 "$WINE" "$KELM_WINBIN\\kelmcfg98_test.exe" "$@"
