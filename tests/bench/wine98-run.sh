#!/bin/bash
# wine98-run.sh SUFFIX PROGRAM.exe [ARGS...]: run a test program of the
# x86_64 build in a Windows 98 prefix and wineserver of its own, made in
# KELM_BENCH_DIR with SUFFIX added and removed afterwards (the Windows 98
# form of the disk stand-in cannot share a session with the 2000/XP form,
# nor one test of it with another). The program itself sets the Windows
# version of the programs it starts to win98.
set -u
: "${KELM_BENCH_DIR:?}" "${KELM_WIN64_BIN:?}" "${KELM_SOURCE_DIR:?}"
bench="${KELM_BENCH_DIR}$1"
exe=$(basename "$2"); shift 2
bash "$KELM_SOURCE_DIR/tests/bench/wine-setup.sh" "$bench" "$KELM_WIN64_BIN" >/dev/null || exit 1
trap 'bash "$KELM_SOURCE_DIR/tests/bench/wine-teardown.sh" "$bench"' EXIT
export KELM_BENCH_DIR="$bench"
. "$KELM_SOURCE_DIR/tests/bench/wine-env.sh"
cd "$bench"
timeout 540 "$WINE" "$KELM_WINBIN\\$exe" "$@"
